#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/controller.h"
#include "platform/platform.h"
#include "support/native_property_lists.h"

namespace dorvane::testing {

// Polls until the predicate holds or the time is up; true when it held.
inline bool waitUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// A fresh folder of the test's own under the system's temporary folder, removed with its contents.
struct TempFolder {
    std::string path = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "dorvane-XXXXXX").string();
        return std::string(::mkdtemp(pattern.data()));
    }();
    TempFolder() = default;
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
};

// True when the program is not installed, and then, under CI (CI=true), a failure naming it: CI
// runs every test, so a missing tool must not pass there as a skip.
bool missingTool(const std::string& path);
// Makes a folder refuse new files until it goes, root included: immutable as root, read-only
// otherwise. Undone however the test ends, so the folder can be removed.
struct RefusingFolder {
    explicit RefusingFolder(std::string folder) : path(std::move(folder)) { refuse(true); }
    ~RefusingFolder() { refuse(false); }
    void refuse(bool refusing) const;
    std::string path;
};

// One tool run as the controller made it: the program and its arguments.
struct Run {
    std::string program;
    std::vector<std::string> arguments;
    bool operator==(const Run&) const = default;
    bool operator<(const Run& other) const {
        return std::tie(program, arguments) < std::tie(other.program, other.arguments);
    }
};
std::ostream& operator<<(std::ostream& out, const Run& run);

// Records every run and answers through the handler, a machine model (fake_notebook.h). A run the
// handler does not answer is a test failure.
class FakeCommandRunner : public CommandRunner {
public:
    TRBCommandResult run(const std::string& program,
                         const std::vector<std::string>& arguments) override;

    std::vector<Run> runs;
    std::function<std::optional<TRBCommandResult>(const Run&)> handler;
};

inline TRBCommandResult succeeded(std::string output = {}) {
    return {0, std::move(output), {}};
}
inline TRBCommandResult failed(int status, std::string error = {}, std::string output = {}) {
    return {status, std::move(output), std::move(error)};
}

// A string table that answers every key with the key itself, so tests read as the keys; the
// fall-back from quiet hours shows its reason.
class FakeBundle : public Bundle {
public:
    std::string localizedString(const std::string& key) const override {
        const auto found = texts.find(key);
        return found == texts.end() ? key : found->second;
    }
    std::optional<std::string> shortVersion() const override { return version; }
    std::optional<std::string> executablePath() const override { return executable; }

    std::map<std::string, std::string> texts = {
        {"dialog.quiet_hours_auto_disabled.body_format", "off: %@"}};
    std::optional<std::string> version = "1.0";
    std::optional<std::string> executable = "/Applications/Dorvane.app/Contents/MacOS/Dorvane";
};

class FakeLocale : public Locale {
public:
    std::vector<std::string> preferredLanguages() const override { return languages; }
    std::vector<std::string> languages = {"en-US"};
};

class FakeStatusItem : public StatusItem {
public:
    void setTitle(const std::string& text) override { title = text; }
    void setToolTip(const std::string&) override {}
    void setMenu(std::shared_ptr<const Menu> newMenu) override { menu = std::move(newMenu); }

    std::string title;
    std::shared_ptr<const Menu> menu;
};

class FakeStatusBar : public StatusBar {
public:
    std::unique_ptr<StatusItem> createStatusItem() override {
        auto item = std::make_unique<FakeStatusItem>();
        lastCreated = item.get();
        return item;
    }
    FakeStatusItem* lastCreated = nullptr;
};

// The first row of the menu with this title, or null.
inline const MenuItem* itemTitled(const Menu& menu, const std::string& title) {
    const auto found = std::find_if(menu.items.begin(), menu.items.end(),
                                    [&](const MenuItem& item) { return item.title == title; });
    return found == menu.items.end() ? nullptr : &*found;
}

// Shows nothing: records each alert and answers it from a script. An alert the script does not
// answer is a test failure, as an unscripted run is.
class FakeAlerts : public Alerts {
public:
    AlertResponse runModal(const Alert& alert) override;

    std::vector<Alert> shown;
    std::deque<AlertResponse> script;
    std::function<void()> whileOpen;  // runs inside each modal alert, as events arriving then would
};

class FakePasteboard : public Pasteboard {
public:
    void setString(const std::string& text) override { contents.push_back(text); }
    std::vector<std::string> contents;
};

class FakeApplication : public Application {
public:
    void setActivationPolicyAccessory() override {}
    void activateIgnoringOtherApps() override { ++activations; }
    void setMainMenu(std::shared_ptr<const Menu>) override {}
    void terminate() override {
        if (onTerminate) {
            onTerminate();
        }
    }

    void writeDiagnostic(const std::string& line) override { diagnostics.push_back(line); }

    int activations = 0;
    std::vector<std::string> diagnostics;
    std::function<void()> onTerminate;
};

class FakeWorkspace : public Workspace {
public:
    void openURL(const std::string& url) override { opened.push_back(url); }
    void addWakeObserver(const void* observer, std::function<void()> onWake) override {
        observers[observer] = std::move(onWake);
    }
    void removeWakeObserver(const void* observer) override { observers.erase(observer); }
    std::optional<bool> externalDisplayAttached() const override { return externalDisplay; }
    void addMachineChangeObserver(const void*, std::function<void()>) override {}
    void removeMachineChangeObserver(const void*) override {}

    std::vector<std::string> opened;
    std::map<const void*, std::function<void()>> observers;
    std::optional<bool> externalDisplay;
};

class FakeDefaults : public UserDefaults {
public:
    std::optional<DefaultsValue> objectForKey(const std::string& key) const override {
        const auto found = values.find(key);
        return found == values.end() ? std::nullopt : std::optional(found->second);
    }
    void setObject(const std::string& key, DefaultsValue value) override {
        values[key] = std::move(value);
    }
    void removeObject(const std::string& key) override { values.erase(key); }
    bool synchronize() override {
        ++synchronizeCount;
        return true;
    }
    bool savesFail() const override { return failing; }

    std::map<std::string, DefaultsValue> values;
    bool failing = false;
    int synchronizeCount = 0;
};

// The main queue on virtual time: posted work waits until the test drains it, and timers fire
// as the test moves the clock on. While alertOpen is set, only work that runs during alerts does.
class FakeMainQueue : public MainQueue {
public:
    std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                            std::function<void()> handler) override;

    // Runs posted work, including work posted while draining.
    void drain();
    // Moves virtual time on, firing every timer that comes due, in order of due time.
    void advance(std::chrono::nanoseconds duration);

    struct Timer {
        TimerSpec spec;
        std::chrono::nanoseconds nextDue;
        std::function<void()> handler;
        bool cancelled = false;
    };
    std::vector<std::shared_ptr<Timer>> timers;
    std::deque<std::pair<std::function<void()>, WorkKind>> pending;
    std::chrono::nanoseconds now{};
    bool alertOpen = false;

private:
    void enqueue(std::function<void()> work, WorkKind kind) override {
        pending.emplace_back(std::move(work), kind);
    }
    bool runsNow(WorkKind kind) const { return !alertOpen || kind == WorkKind::RunsDuringAlerts; }
};

// Hands out small integers dressed as handles, which nothing dereferences, and counts the calls
// that make or release them.
class FakePowerManagement : public PowerManagement {
public:
    RunLoopSource* createPowerSourceNotification(PowerSourceCallback, void*) override {
        ++calls;
        return failEventSources ? nullptr : reinterpret_cast<RunLoopSource*>(0x10);
    }
    std::uint32_t registerForSystemPower(void* refCon, NotificationPort** port,
                                         SystemPowerCallback callback,
                                         std::uint32_t* notifier) override {
        ++calls;
        if (failEventSources) {
            return 0;
        }
        systemPowerCallback = callback;
        systemPowerRefCon = refCon;
        *port = reinterpret_cast<NotificationPort*>(0x20);
        *notifier = 7;
        return 42;
    }
    RunLoopSource* notificationPortRunLoopSource(NotificationPort*) override {
        ++calls;
        return reinterpret_cast<RunLoopSource*>(0x30);
    }
    int allowPowerChange(std::uint32_t rootPort, std::intptr_t notificationID) override {
        allowed.emplace_back(rootPort, notificationID);
        return 0;
    }
    int deregisterForSystemPower(std::uint32_t*) override { return counted(); }
    int serviceClose(std::uint32_t) override { return counted(); }
    void notificationPortDestroy(NotificationPort*) override { counted(); }
    void addRunLoopSource(RunLoopSource*) override { counted(); }
    void removeRunLoopSource(RunLoopSource*) override { counted(); }
    void releaseRunLoopSource(RunLoopSource*) override { counted(); }
    int counted() {
        ++calls;
        return 0;
    }

    int calls = 0;
    std::vector<std::pair<std::uint32_t, std::intptr_t>> allowed;
    bool failEventSources = false;
    SystemPowerCallback systemPowerCallback = nullptr;
    void* systemPowerRefCon = nullptr;
};

class FakeUrlSession : public UrlSession {
public:
    void dataTask(const UrlRequest& request,
                  std::function<void(UrlResult result)> completion) override {
        requests.push_back(request);
        completions.push_back(std::move(completion));
    }
    std::vector<UrlRequest> requests;
    std::vector<std::function<void(UrlResult)>> completions;
};

class FakeClock : public Clock {
public:
    std::chrono::system_clock::time_point now() const override { return current; }
    // Local time is UTC here, so tests set the wall clock directly.
    LocalTime localTime(std::chrono::system_clock::time_point moment) const override;
    void setLocalTime(int hour, int minute, int second = 0);

    std::chrono::system_clock::time_point current =
        std::chrono::sys_days{std::chrono::year{2026} / 12 / 6} + std::chrono::hours{12};
};

// The home is a fresh temporary folder: whatever a test makes the controller write there, no
// user's files are touched.
class FakeProcessInfo : public ProcessInfo {
public:
    unsigned userId() const override { return 501; }
    std::string homeDirectory() const override { return home; }
    ThermalState thermalState() const override { return thermal; }
    TempFolder folder;
    ThermalState thermal = ThermalState::Nominal;
    std::string home = folder.path;
};

// Every fake the controller needs, and the controller built on them.
struct TestPlatform {
    FakeApplication application;
    FakeStatusBar statusBar;
    FakeAlerts alerts;
    FakePasteboard pasteboard;
    FakeWorkspace workspace;
    FakeDefaults defaults;
    FakeMainQueue mainQueue;
    FakePowerManagement powerManagement;
    FakeUrlSession urlSession;
    FakeBundle bundle;
    FakeLocale locale;
    FakeClock clock;
    FakeProcessInfo processInfo;
    FakeCommandRunner commands;
    NativePropertyLists propertyLists;
    ToolPaths toolPaths;
    std::string switchRecordPath;

    Platform platform();
    std::shared_ptr<TRBController> makeController() {
        return std::make_shared<TRBController>(platform());
    }
};

}  // namespace dorvane::testing
