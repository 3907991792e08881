#include "platform/linux/sim_power.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <string_view>

namespace dorvane {

// The two run-loop sources this power manager hands out.
struct RunLoopSource {
    enum class Kind { PowerSource, SystemPower } kind;
};
struct NotificationPort {};

namespace {

RunLoopSource gPowerSourceSource{RunLoopSource::Kind::PowerSource};
RunLoopSource gSystemPowerSource{RunLoopSource::Kind::SystemPower};
NotificationPort gNotificationPort;
constexpr std::uint32_t kRootPort = 1;
constexpr std::uint32_t kNotifier = 1;

// True when the notebook recorded an event of this kind after the one numbered `since`. Values
// alone are not enough: the adapter pulled and plugged back between two reads (while a refresh
// keeps the main thread busy) leaves the same power source, yet the refresh may have seen the
// other one. Events that fell out of the kept log count as happened.
bool happenedSince(const sim::State& state, std::uint64_t since, std::string_view kind) {
    if (state.eventCounter <= since) {
        return false;
    }
    if (state.events.empty() || state.events.front().number > since + 1) {
        return true;
    }
    return std::any_of(state.events.begin(), state.events.end(), [&](const sim::Event& event) {
        return event.number > since && event.kind == kind;
    });
}

}  // namespace

SimPowerManagement::SimPowerManagement(EventLoop& loop, std::string statePath)
    : loop_(loop),
      file_(statePath),
      fileName_(std::filesystem::path(statePath).filename().string()),
      inotify_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    reload();  // also creates the folder, so it can be watched
    // Every write replaces the file, so the folder is watched, not the file.
    const std::string folder = std::filesystem::path(statePath).parent_path().string();
    if (inotify_.valid() &&
        ::inotify_add_watch(inotify_.get(), folder.c_str(), IN_CLOSE_WRITE | IN_MOVED_TO) >= 0) {
        watchId_ = loop_.watch(inotify_.get(), [this] { onFolderChanged(); });
    } else {
        std::cerr << "dorvane: cannot watch " << folder << "; power events will not arrive\n";
    }
    if (snapshot_ && snapshot_->sleepRequest) {
        lastSleepRequest_ = snapshot_->sleepRequest->id;
    }
}

SimPowerManagement::~SimPowerManagement() {
    if (watchId_ != 0) {
        loop_.unwatch(watchId_);
    }
}

void SimPowerManagement::onFolderChanged() {
    alignas(inotify_event) std::array<char, 4096> buffer;
    bool stateChanged = false;
    ssize_t length = 0;
    while ((length = ::read(inotify_.get(), buffer.data(), buffer.size())) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer.data() + offset);
            stateChanged = stateChanged || (event->len > 0 && fileName_ == event->name);
            offset += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (stateChanged) {
        reload();
    }
}

void SimPowerManagement::reload() {
    std::string error;
    const std::optional<sim::State> fresh = file_.read(&error);
    if (!fresh) {
        if (!reportedInvalid_) {
            std::cerr << "dorvane: " << error << "\n";
            reportedInvalid_ = true;
        }
        return;
    }
    reportedInvalid_ = false;
    const std::optional<sim::State> previous = std::move(snapshot_);
    snapshot_ = fresh;
    if (!previous) {
        return;
    }
    if ((fresh->power != previous->power || fresh->batteryPercent != previous->batteryPercent ||
         happenedSince(*fresh, previous->eventCounter, "power")) &&
        powerSourceScheduled_) {
        powerSourceCallback_(powerSourceContext_);
    }
    if (fresh->sleepRequest && fresh->sleepRequest->id != lastSleepRequest_) {
        lastSleepRequest_ = fresh->sleepRequest->id;
        if (systemPowerScheduled_) {
            systemPowerCallback_(
                systemPowerRefCon_, 0, kIOMessageSystemWillSleep,
                reinterpret_cast<void*>(static_cast<std::intptr_t>(fresh->sleepRequest->id)));
        }
    }
    if (happenedSince(*fresh, previous->eventCounter, "thermal") ||
        happenedSince(*fresh, previous->eventCounter, "display")) {
        // Observers may remove themselves while being told.
        const auto observers = machineChangeObservers_;
        for (const auto& [observer, onChange] : observers) {
            onChange();
        }
    }
    if ((previous->asleep && !fresh->asleep) ||
        happenedSince(*fresh, previous->eventCounter, "wake")) {
        if (systemPowerScheduled_) {
            systemPowerCallback_(systemPowerRefCon_, 0, kIOMessageSystemHasPoweredOn, nullptr);
        }
        // Observers may remove themselves while being told.
        const auto observers = wakeObservers_;
        for (const auto& [observer, onWake] : observers) {
            onWake();
        }
    }
}

RunLoopSource* SimPowerManagement::createPowerSourceNotification(PowerSourceCallback callback,
                                                                 void* context) {
    powerSourceCallback_ = callback;
    powerSourceContext_ = context;
    return &gPowerSourceSource;
}

std::uint32_t SimPowerManagement::registerForSystemPower(void* refCon, NotificationPort** port,
                                                         SystemPowerCallback callback,
                                                         std::uint32_t* notifier) {
    systemPowerCallback_ = callback;
    systemPowerRefCon_ = refCon;
    *port = &gNotificationPort;
    *notifier = kNotifier;
    return kRootPort;
}

RunLoopSource* SimPowerManagement::notificationPortRunLoopSource(NotificationPort*) {
    return &gSystemPowerSource;
}

int SimPowerManagement::allowPowerChange(std::uint32_t, std::intptr_t notificationID) {
    std::string error;
    const bool written =
        file_
            .update(
                [&](sim::State& state) {
                    return sim::acknowledgeSleep(state, static_cast<std::uint64_t>(notificationID));
                },
                &error)
            .has_value();
    if (!written) {
        std::cerr << "dorvane: cannot acknowledge sleep: " << error << "\n";
    }
    return written ? 0 : -1;
}

int SimPowerManagement::deregisterForSystemPower(std::uint32_t* notifier) {
    *notifier = 0;
    systemPowerCallback_ = nullptr;
    return 0;
}

int SimPowerManagement::serviceClose(std::uint32_t) {
    return 0;
}

void SimPowerManagement::notificationPortDestroy(NotificationPort*) {}

void SimPowerManagement::addRunLoopSource(RunLoopSource* source) {
    (source->kind == RunLoopSource::Kind::PowerSource ? powerSourceScheduled_
                                                      : systemPowerScheduled_) = true;
}

void SimPowerManagement::removeRunLoopSource(RunLoopSource* source) {
    (source->kind == RunLoopSource::Kind::PowerSource ? powerSourceScheduled_
                                                      : systemPowerScheduled_) = false;
}

void SimPowerManagement::releaseRunLoopSource(RunLoopSource* source) {
    if (source->kind == RunLoopSource::Kind::PowerSource) {
        powerSourceCallback_ = nullptr;
        powerSourceScheduled_ = false;
    }
}

void SimPowerManagement::addWakeObserver(const void* observer, std::function<void()> onWake) {
    wakeObservers_[observer] = std::move(onWake);
}

void SimPowerManagement::removeWakeObserver(const void* observer) {
    wakeObservers_.erase(observer);
}

void SimPowerManagement::addMachineChangeObserver(const void* observer,
                                                  std::function<void()> onChange) {
    machineChangeObservers_[observer] = std::move(onChange);
}

void SimPowerManagement::removeMachineChangeObserver(const void* observer) {
    machineChangeObservers_.erase(observer);
}

std::optional<bool> SimWorkspace::externalDisplayAttached() const {
    if (!power_.snapshot()) {
        return std::nullopt;
    }
    return power_.snapshot()->externalDisplay;
}

ThermalState SimProcessInfo::thermalState() const {
    if (!power_.snapshot()) {
        return ThermalState::Unknown;
    }
    switch (power_.snapshot()->thermal) {
        case sim::Thermal::Nominal:
            return ThermalState::Nominal;
        case sim::Thermal::Fair:
            return ThermalState::Fair;
        case sim::Thermal::Serious:
            return ThermalState::Serious;
        case sim::Thermal::Critical:
            return ThermalState::Critical;
    }
    return ThermalState::Unknown;
}

std::int64_t SimPowerManagement::clockOffsetSeconds() const {
    return snapshot_ ? snapshot_->clockOffsetSeconds : 0;
}

std::chrono::system_clock::time_point SimClock::now() const {
    return std::chrono::system_clock::now() + std::chrono::seconds(power_.clockOffsetSeconds());
}

LocalTime SimClock::localTime(std::chrono::system_clock::time_point moment) const {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(moment);
    std::tm local{};
    ::localtime_r(&seconds, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec};
}

}  // namespace dorvane
