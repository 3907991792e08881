#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "base/atomic_file.h"
#include "system/fail_safe.h"

namespace dorvane {
namespace {

// How a value reads as a boolean, as the system's property-list readers take it: a number when
// it is not zero, a text by the defaults' own rule.
bool readsAsTrue(const PlistValue& value) {
    if (const auto* b = std::get_if<bool>(&value.value))
        return *b;
    if (const auto* n = std::get_if<std::int64_t>(&value.value))
        return *n != 0;
    if (const auto* d = std::get_if<double>(&value.value))
        return *d != 0;
    if (const auto* text = std::get_if<std::string>(&value.value))
        return textReadsAsTrue(*text);
    return false;
}

// A copy that is gone by the next login: one on a mounted disk image, or the copy the system runs
// a quarantined application from.
bool isTransientCopy(const std::string& path) {
    return path.starts_with("/Volumes/") || path.find("/AppTranslocation/") != std::string::npos;
}

bool enablesLaunchAtLogin(const PlistDictionary& agent) {
    const auto label = agent.find("Label");
    const auto* labelText =
        label == agent.end() ? nullptr : std::get_if<std::string>(&label->second.value);
    const auto runAtLoad = agent.find("RunAtLoad");
    return labelText != nullptr && *labelText == TRBLaunchAgentLabel && runAtLoad != agent.end() &&
           readsAsTrue(runAtLoad->second);
}

// The program an agent starts, when it names one.
std::optional<std::string> programNamedBy(const PlistDictionary& agent) {
    const auto arguments = agent.find("ProgramArguments");
    const auto* list =
        arguments == agent.end() ? nullptr : std::get_if<PlistArray>(&arguments->second.value);
    const auto* named =
        list == nullptr || list->empty() ? nullptr : std::get_if<std::string>(&list->front().value);
    return named != nullptr ? std::optional(*named) : std::nullopt;
}

bool isExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
           ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string TRBController::launchAgentPath() const {
    return platform_.processInfo.homeDirectory() + "/Library/LaunchAgents/" + TRBLaunchAgentLabel +
           ".plist";
}

std::string TRBController::launchAgentProgramPath() const {
    const std::string candidate =
        platform_.processInfo.homeDirectory() + "/Applications/Dorvane.app/Contents/MacOS/Dorvane";
    if (isExecutableFile(candidate)) {
        return candidate;
    }
    return platform_.bundle.executablePath().value_or(candidate);
}

std::optional<PlistDictionary> TRBController::readLaunchAgent(const std::string& path) const {
    const auto bytes = readWholeFile(path);
    const auto root = bytes ? platform_.propertyLists.parse(*bytes, nullptr) : std::nullopt;
    const auto* agent = root ? std::get_if<PlistDictionary>(&root->value) : nullptr;
    return agent != nullptr ? std::optional(*agent) : std::nullopt;
}

bool TRBController::isLaunchAtLoginEnabled() const {
    const auto agent = readLaunchAgent(launchAgentPath());
    return agent && enablesLaunchAtLogin(*agent);
}

bool TRBController::setLaunchAtLoginEnabled(bool enabled, std::string* error) {
    const std::string path = launchAgentPath();
    std::error_code failure;
    if (enabled) {
        // The output goes to the user's own logs: launchd cannot open a file another user owns,
        // and an agent whose output cannot be opened never starts.
        const std::string logs = platform_.processInfo.homeDirectory() + "/Library/Logs/Dorvane";
        for (const std::filesystem::path& folder :
             {std::filesystem::path(path).parent_path(), std::filesystem::path(logs)}) {
            std::filesystem::create_directories(folder, failure);
            if (failure) {
                if (error != nullptr)
                    *error = failure.message();
                return false;
            }
        }
        // launchd starts the application again after a crash or a kill, so that a sleep switch
        // left set is put back in line; a quit or a logout ends with status 0 and is final.
        const PlistDictionary agent = {
            {"Label", {std::string(TRBLaunchAgentLabel)}},
            {"ProgramArguments", {PlistArray{{launchAgentProgramPath()}}}},
            {"RunAtLoad", {true}},
            {"KeepAlive", {PlistDictionary{{"SuccessfulExit", {false}}}}},
            {"StandardOutPath", {logs + "/dorvane.out"}},
            {"StandardErrorPath", {logs + "/dorvane.err"}},
        };
        const auto xml = platform_.propertyLists.xmlData(PlistValue{agent}, error);
        if (!xml || !writeFileAtomically(path, *xml, error)) {
            return false;
        }
    } else {
        // A file that is gone already is what was asked for.
        std::filesystem::remove(path, failure);
        if (failure) {
            if (error != nullptr)
                *error = failure.message();
            return false;
        }
    }
    platform_.defaults.setObject(defaults_keys::kLaunchAtLoginEnabled, enabled);
    platform_.defaults.synchronize();
    return true;
}

void TRBController::keepLaunchAgentCurrent() {
    const auto agent = readLaunchAgent(launchAgentPath());
    if (!agent || !enablesLaunchAtLogin(*agent)) {
        return;
    }
    const auto named = programNamedBy(*agent);
    const std::string current = launchAgentProgramPath();
    if (named == current) {
        return;
    }
    if (!isTransientCopy(current)) {
        // A failure leaves the agent as it was; the check mark still shows the file.
        std::string ignored;
        setLaunchAtLoginEnabled(true, &ignored);
        return;
    }
    // An agent that still starts a copy that is there is left alone.
    if (named && isExecutableFile(*named)) {
        return;
    }
    platform_.mainQueue.post([self = shared_from_this()] {
        self->platform_.application.activateIgnoringOtherApps();
        self->showMessage(self->localized("dialog.move_to_applications.title"),
                          self->localized("dialog.move_to_applications.body"));
    });
}

std::string TRBController::failSafeLaunchAgentPath() const {
    return platform_.processInfo.homeDirectory() + "/Library/LaunchAgents/" + TRBLaunchAgentLabel +
           ".fail-safe.plist";
}

void TRBController::ensureFailSafeLaunchAgent() {
    // Its check reads the switch record; without one it would have nothing to go by.
    if (platform_.switchRecordPath.empty()) {
        return;
    }
    const std::string path = failSafeLaunchAgentPath();
    const std::string program = launchAgentProgramPath();
    const std::string logs = platform_.processInfo.homeDirectory() + "/Library/Logs/Dorvane";
    // Once at load, no interval and no KeepAlive: it runs one check at login and ends.
    const PlistDictionary agent = {
        {"Label", {std::string(TRBLaunchAgentLabel) + ".fail-safe"}},
        {"ProgramArguments", {PlistArray{{program}, {std::string(kFailSafeFlag)}}}},
        {"RunAtLoad", {true}},
        {"StandardOutPath", {logs + "/fail-safe.log"}},
        {"StandardErrorPath", {logs + "/fail-safe.log"}},
    };
    // An agent left by a copy since moved would start nothing at the next login. One that starts
    // a copy still there is kept while this copy is gone by then.
    const auto existing = readLaunchAgent(path);
    const auto named = existing ? programNamedBy(*existing) : std::nullopt;
    if (existing == agent || (isTransientCopy(program) && named && isExecutableFile(*named))) {
        return;
    }
    std::error_code failure;
    for (const std::filesystem::path& folder :
         {std::filesystem::path(path).parent_path(), std::filesystem::path(logs)}) {
        std::filesystem::create_directories(folder, failure);
    }
    // Failing to write it is no reason to keep the machine from staying awake; the guardian
    // still watches.
    removeStaleTemporaryFiles(path);
    if (const auto xml = platform_.propertyLists.xmlData(PlistValue{agent}, nullptr)) {
        writeFileAtomically(path, *xml);
    }
}

void TRBController::toggleLaunchAtLogin(const MenuItem&) {
    std::string error;
    if (!setLaunchAtLoginEnabled(!isLaunchAtLoginEnabled(), &error)) {
        showMessage(
            localized("dialog.launch_at_login_failed.title"),
            localizedFormat("dialog.launch_at_login_failed.body_format",
                            {error.empty() ? localized("error.command_launch_failed") : error}));
    }
    // The check mark shows what the file says now, whatever happened.
    rebuildMenu();
}

}  // namespace dorvane
