#pragma once

#include <optional>
#include <string>
#include <vector>

#include "base/strings_file.h"
#include "platform/bundle.h"
#include "platform/process_info.h"
#include "platform/property_list.h"
#include "platform/tool_paths.h"

namespace dorvane {

// Where the running program's files are: its own path, and share/dorvane and libexec/dorvane in
// the folder above its own, the same in the build tree and the install tree.
struct InstallLayout {
    std::string executablePath;
    std::string prefix;  // the folder above bin/

    static InstallLayout ofRunningProgram();
    std::string resourcesFolder() const { return prefix + "/share/dorvane"; }
    // The simulated notebook's stand-ins: never on PATH, so they never shadow the real tools.
    ToolPaths standInToolPaths() const;
};

// The languages the user prefers, from LANGUAGE, LC_ALL, LC_MESSAGES and LANG, as language tags
// ("zh_CN.UTF-8" becomes "zh-CN"); "C" and "POSIX" name no language.
std::vector<std::string> preferredLanguagesFromEnvironment();

// The string table folder ("en", "zh-Hans") that serves a language tag, if any.
std::optional<std::string> tableForLanguage(const std::string& tag);

class LinuxBundle : public Bundle {
public:
    LinuxBundle(const InstallLayout& layout, const std::vector<std::string>& preferredLanguages,
                PropertyLists& propertyLists);

    std::string localizedString(const std::string& key) const override;
    std::optional<std::string> shortVersion() const override { return shortVersion_; }
    std::optional<std::string> executablePath() const override;
    std::optional<std::string> identifier() const { return identifier_; }

private:
    std::string executablePath_;
    LocalizedStrings strings_;
    std::optional<std::string> shortVersion_;
    std::optional<std::string> identifier_;
};

class EnvironmentLocale : public Locale {
public:
    std::vector<std::string> preferredLanguages() const override {
        return preferredLanguagesFromEnvironment();
    }
};

class PosixProcessInfo : public ProcessInfo {
public:
    unsigned userId() const override;
    std::string homeDirectory() const override;
};

}  // namespace dorvane
