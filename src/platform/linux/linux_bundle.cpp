#include "platform/linux/linux_bundle.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>

#include "base/atomic_file.h"
#include "base/text_lines.h"

namespace dorvane {

InstallLayout InstallLayout::ofRunningProgram() {
    std::error_code failure;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", failure);
    InstallLayout layout;
    layout.executablePath = executable.string();
    layout.prefix = executable.parent_path().parent_path().string();
    return layout;
}

ToolPaths InstallLayout::standInToolPaths() const {
    const std::string folder = prefix + "/libexec/dorvane/";
    return ToolPaths{folder + "pmset", folder + "ioreg", folder + "sudo"};
}

std::vector<std::string> preferredLanguagesFromEnvironment() {
    const auto tagOf = [](std::string locale) -> std::optional<std::string> {
        locale = locale.substr(0, locale.find_first_of(".@"));
        if (locale.empty() || locale == "C" || locale == "POSIX") {
            return std::nullopt;
        }
        std::replace(locale.begin(), locale.end(), '_', '-');
        return locale;
    };
    const auto variable = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string(value != nullptr ? value : "");
    };
    std::vector<std::string> languages;
    // LC_ALL, else LC_MESSAGES, else LANG names the locale; LANGUAGE lists preferences before it,
    // unless the locale is C.
    std::string locale = variable("LC_ALL");
    if (locale.empty())
        locale = variable("LC_MESSAGES");
    if (locale.empty())
        locale = variable("LANG");
    const auto localeTag = tagOf(locale);
    if (localeTag || locale.empty()) {
        std::string list = variable("LANGUAGE");
        for (std::size_t start = 0; start <= list.size();) {
            const std::size_t colon = std::min(list.find(':', start), list.size());
            if (const auto tag = tagOf(list.substr(start, colon - start))) {
                languages.push_back(*tag);
            }
            start = colon + 1;
        }
    }
    if (localeTag) {
        languages.push_back(*localeTag);
    }
    return languages;
}

std::optional<std::string> tableForLanguage(const std::string& tag) {
    const std::string lower = asciiLower(tag);
    // Chinese readers get the Simplified table whatever their script or region: it is the
    // Chinese the application has.
    if (lower == "zh" || lower.starts_with("zh-")) {
        return "zh-Hans";
    }
    if (lower == "en" || lower.starts_with("en-")) {
        return "en";
    }
    return std::nullopt;
}

LinuxBundle::LinuxBundle(const InstallLayout& layout,
                         const std::vector<std::string>& preferredLanguages,
                         PropertyLists& propertyLists)
    : executablePath_(layout.executablePath) {
    const std::string resources = layout.resourcesFolder();
    const auto loadTable = [&](const std::string& language) -> std::optional<StringsTable> {
        const std::string path = resources + "/" + language + ".lproj/Localizable.strings";
        std::string error;
        const auto bytes = readWholeFile(path, &error);
        auto table = bytes ? parseStringsFile(*bytes, &error) : std::nullopt;
        if (!table) {
            std::cerr << "dorvane: the string table " << path << " could not be read: " << error
                      << "\n";
        }
        return table;
    };
    std::vector<StringsTable> tables;
    for (const std::string& language : preferredLanguages) {
        if (const auto table = tableForLanguage(language)) {
            if (auto loaded = loadTable(*table)) {
                tables.push_back(std::move(*loaded));
            }
            break;
        }
    }
    // English is the development language: every key falls back to it.
    if (auto english = loadTable("en")) {
        tables.push_back(std::move(*english));
    }
    strings_ = LocalizedStrings(std::move(tables));

    std::string error;
    const auto info = readWholeFile(resources + "/Info.plist", &error);
    const auto root = info ? propertyLists.parse(*info, &error) : std::nullopt;
    if (const auto* dictionary = root ? std::get_if<PlistDictionary>(&root->value) : nullptr) {
        const auto text = [&](const char* key) -> std::optional<std::string> {
            const auto found = dictionary->find(key);
            const auto* value = found == dictionary->end()
                                    ? nullptr
                                    : std::get_if<std::string>(&found->second.value);
            return value ? std::optional(*value) : std::nullopt;
        };
        shortVersion_ = text("CFBundleShortVersionString");
        identifier_ = text("CFBundleIdentifier");
    }
}

std::string LinuxBundle::localizedString(const std::string& key) const {
    return strings_.lookup(key);
}

std::optional<std::string> LinuxBundle::executablePath() const {
    return executablePath_.empty() ? std::nullopt : std::optional(executablePath_);
}

unsigned PosixProcessInfo::userId() const {
    return ::getuid();
}

std::string PosixProcessInfo::homeDirectory() const {
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    const passwd* entry = ::getpwuid(::getuid());
    return entry != nullptr && entry->pw_dir != nullptr ? entry->pw_dir : "/";
}

}  // namespace dorvane
