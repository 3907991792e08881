#include "platform/linux/defaults_file.h"

#include "base/overloaded.h"

#include <fcntl.h>
#include <stdio.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>

#include "base/atomic_file.h"
#include "base/text_lines.h"

namespace dorvane {
namespace {

PlistValue toPlist(const DictionaryValue& value) {
    return std::visit([](const auto& v) { return PlistValue{v}; }, value);
}

PlistValue toPlist(const DefaultsValue& value) {
    return std::visit(Overloaded{[](const DefaultsDictionary& dictionary) {
                                     PlistDictionary converted;
                                     for (const auto& [key, item] : dictionary) {
                                         converted.emplace(key, toPlist(item));
                                     }
                                     return PlistValue{std::move(converted)};
                                 },
                                 [](const auto& v) { return PlistValue{v}; }},
                      value);
}

std::optional<DictionaryValue> toDictionaryValue(const PlistValue& value) {
    return std::visit(
        Overloaded{[](bool b) -> std::optional<DictionaryValue> { return b; },
                   [](std::int64_t n) -> std::optional<DictionaryValue> { return n; },
                   [](const std::string& s) -> std::optional<DictionaryValue> {
                       return isValidUtf8(s) ? std::optional<DictionaryValue>(s) : std::nullopt;
                   },
                   [](const auto&) -> std::optional<DictionaryValue> { return std::nullopt; }},
        value.value);
}

// The value as the application stores it; absent when any part of it is of another kind, so that
// nothing is read half and nothing is lost when it is written back.
std::optional<DefaultsValue> toDefaults(const PlistValue& value) {
    return std::visit(
        Overloaded{[](const PlistDictionary& dictionary) -> std::optional<DefaultsValue> {
                       DefaultsDictionary converted;
                       for (const auto& [key, item] : dictionary) {
                           auto plain = toDictionaryValue(item);
                           if (!plain) {
                               return std::nullopt;
                           }
                           converted.emplace(key, std::move(*plain));
                       }
                       return converted;
                   },
                   [](const Date& d) -> std::optional<DefaultsValue> { return d; },
                   [&value](const auto&) -> std::optional<DefaultsValue> {
                       const auto plain = toDictionaryValue(value);
                       return plain ? std::optional<DefaultsValue>(std::visit(
                                          [](const auto& v) { return DefaultsValue{v}; }, *plain))
                                    : std::nullopt;
                   }},
        value.value);
}

// Moves an unreadable file to a name of its own beside it, never over an earlier one; the new
// name, or absent when it could not be moved.
std::optional<std::string> setAside(const std::string& path) {
    const std::string stem = path + ".unreadable-" + std::to_string(std::time(nullptr));
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string aside = attempt == 0 ? stem : stem + "-" + std::to_string(attempt);
        if (::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, aside.c_str(), RENAME_NOREPLACE) == 0) {
            return aside;
        }
        if (errno != EEXIST) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace

std::string defaultsPathFor(const std::string& bundleIdentifier) {
    std::string base;
    if (const char* configHome = std::getenv("XDG_CONFIG_HOME"); configHome && *configHome == '/') {
        base = configHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.config";
    }
    return base + "/dorvane/" + bundleIdentifier + ".plist";
}

DefaultsFile::DefaultsFile(std::string path, MainQueue& mainQueue, PropertyLists& propertyLists)
    : path_(std::move(path)), mainQueue_(mainQueue), propertyLists_(propertyLists) {
    load();
}

DefaultsFile::~DefaultsFile() {
    flushIfChanged();
}

void DefaultsFile::flushIfChanged() {
    if (dirty_) {
        synchronize();
    }
}

void DefaultsFile::load() {
    removeStaleTemporaryFiles(path_);
    std::error_code missing;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path_, missing))) {
        return;
    }
    std::string error;
    const auto bytes = readWholeFile(path_, &error);
    const auto root = bytes ? propertyLists_.parse(*bytes, &error) : std::nullopt;
    const auto* dictionary = root ? std::get_if<PlistDictionary>(&root->value) : nullptr;
    if (dictionary == nullptr) {
        const auto aside = setAside(path_);
        std::cerr << "dorvane: the settings file " << path_ << " could not be read ("
                  << (error.empty() ? "its top level is not a dictionary" : error) << "); "
                  << (aside ? "it was moved to " + *aside : "it could not be moved aside either")
                  << ", and the settings start empty\n";
        return;
    }
    for (const auto& [key, value] : *dictionary) {
        if (auto converted = toDefaults(value)) {
            values_.emplace(key, std::move(*converted));
        } else {
            foreignValues_.emplace(key, value);
        }
    }
}

std::optional<DefaultsValue> DefaultsFile::objectForKey(const std::string& key) const {
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

void DefaultsFile::setObject(const std::string& key, DefaultsValue value) {
    foreignValues_.erase(key);
    values_[key] = std::move(value);
    changed();
}

void DefaultsFile::removeObject(const std::string& key) {
    if (values_.erase(key) + foreignValues_.erase(key) > 0) {
        changed();
    }
}

void DefaultsFile::changed() {
    dirty_ = true;
    if (!flushTimer_) {
        flushTimer_ = mainQueue_.startTimer(
            TimerSpec{std::chrono::milliseconds(500), {}, std::chrono::milliseconds(400)}, [this] {
                flushTimer_.reset();
                flushIfChanged();
            });
    }
}

bool DefaultsFile::synchronize() {
    PlistDictionary root(foreignValues_.begin(), foreignValues_.end());
    for (const auto& [key, value] : values_) {
        root.emplace(key, toPlist(value));
    }
    std::string error;
    const auto xml = propertyLists_.xmlData(PlistValue{std::move(root)}, &error);
    std::error_code folderFailure;
    std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), folderFailure);
    if (!xml || !writeFileAtomically(path_, *xml, &error, 0600)) {
        std::cerr << "dorvane: the settings could not be saved: " << error << "\n";
        return false;
    }
    dirty_ = false;
    return true;
}

}  // namespace dorvane
