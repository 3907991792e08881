#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>

#include "base/unique_fd.h"
#include "platform/clock.h"
#include "platform/linux/event_loop.h"
#include "platform/linux/linux_bundle.h"
#include "platform/power_management.h"
#include "platform/workspace.h"
#include "sim_state.h"

namespace dorvane {

// The power manager on the simulated notebook. It watches the notebook's state file and turns its
// changes into what macOS sends: a change of the power source or the battery gives the
// power-source callback; a sleep request gives will-sleep, whose acknowledgement it writes back so
// the notebook falls asleep; waking gives has-powered-on and the workspace's wake notification.
class SimPowerManagement : public PowerManagement {
public:
    SimPowerManagement(EventLoop& loop, std::string statePath);
    ~SimPowerManagement() override;

    RunLoopSource* createPowerSourceNotification(PowerSourceCallback callback,
                                                 void* context) override;
    std::uint32_t registerForSystemPower(void* refCon, NotificationPort** port,
                                         SystemPowerCallback callback,
                                         std::uint32_t* notifier) override;
    RunLoopSource* notificationPortRunLoopSource(NotificationPort* port) override;
    int allowPowerChange(std::uint32_t rootPort, std::intptr_t notificationID) override;
    int deregisterForSystemPower(std::uint32_t* notifier) override;
    int serviceClose(std::uint32_t connection) override;
    void notificationPortDestroy(NotificationPort* port) override;
    void addRunLoopSource(RunLoopSource* source) override;
    void removeRunLoopSource(RunLoopSource* source) override;
    void releaseRunLoopSource(RunLoopSource* source) override;

    // The workspace's wake notification.
    void addWakeObserver(const void* observer, std::function<void()> onWake);
    void removeWakeObserver(const void* observer);
    // Changes of the thermal state or of the attached display.
    void addMachineChangeObserver(const void* observer, std::function<void()> onChange);
    void removeMachineChangeObserver(const void* observer);
    // The notebook as last read; absent before a valid read.
    const std::optional<sim::State>& snapshot() const { return snapshot_; }

    // The notebook's clock offset, as last read.
    std::int64_t clockOffsetSeconds() const;

private:
    void onFolderChanged();
    void reload();

    EventLoop& loop_;
    sim::StateFile file_;
    std::string fileName_;
    std::optional<sim::State> snapshot_;
    bool reportedInvalid_ = false;
    UniqueFd inotify_;
    EventLoop::WatchId watchId_ = 0;

    PowerSourceCallback powerSourceCallback_ = nullptr;
    void* powerSourceContext_ = nullptr;
    bool powerSourceScheduled_ = false;
    SystemPowerCallback systemPowerCallback_ = nullptr;
    void* systemPowerRefCon_ = nullptr;
    bool systemPowerScheduled_ = false;
    std::uint64_t lastSleepRequest_ = 0;
    std::map<const void*, std::function<void()>> wakeObservers_;
    std::map<const void*, std::function<void()>> machineChangeObservers_;
};

// The workspace on the simulated notebook: the wake notification comes from its power manager;
// opening an address is the front end's business.
class SimWorkspace : public Workspace {
public:
    SimWorkspace(SimPowerManagement& power, std::function<void(const std::string&)> openUrl)
        : power_(power), openUrl_(std::move(openUrl)) {}
    void openURL(const std::string& url) override { openUrl_(url); }
    void addWakeObserver(const void* observer, std::function<void()> onWake) override {
        power_.addWakeObserver(observer, std::move(onWake));
    }
    void removeWakeObserver(const void* observer) override { power_.removeWakeObserver(observer); }
    std::optional<bool> externalDisplayAttached() const override;
    void addMachineChangeObserver(const void* observer, std::function<void()> onChange) override {
        power_.addMachineChangeObserver(observer, std::move(onChange));
    }
    void removeMachineChangeObserver(const void* observer) override {
        power_.removeMachineChangeObserver(observer);
    }

private:
    SimPowerManagement& power_;
    std::function<void(const std::string&)> openUrl_;
};

// The user's facts, and the notebook's thermal state.
class SimProcessInfo : public PosixProcessInfo {
public:
    explicit SimProcessInfo(const SimPowerManagement& power) : power_(power) {}
    ThermalState thermalState() const override;

private:
    const SimPowerManagement& power_;
};

// The notebook's own time: the real time shifted by its clock offset, in the local time zone.
class SimClock : public Clock {
public:
    explicit SimClock(const SimPowerManagement& power) : power_(power) {}
    std::chrono::system_clock::time_point now() const override;
    LocalTime localTime(std::chrono::system_clock::time_point moment) const override;

private:
    const SimPowerManagement& power_;
};

}  // namespace dorvane
