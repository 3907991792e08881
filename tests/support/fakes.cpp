#include "support/fakes.h"

#include <sys/stat.h>
#include <unistd.h>

#include <ostream>

#include "base/run_command.h"

namespace dorvane::testing {

void RefusingFolder::refuse(bool refusing) const {
    ::geteuid() == 0 ? void(TRBRunCommand("/usr/bin/chattr", {refusing ? "+i" : "-i", path}))
                     : void(::chmod(path.c_str(), refusing ? 0500 : 0700));
}

std::ostream& operator<<(std::ostream& out, const Run& run) {
    out << run.program;
    for (const std::string& argument : run.arguments) {
        out << ' ' << argument;
    }
    return out;
}

bool missingTool(const std::string& path) {
    const char* ci = std::getenv("CI");
    const bool missing = !std::filesystem::exists(path);
    if (missing && ci != nullptr && std::string_view(ci) == "true")
        ADD_FAILURE() << path << " is not installed, and CI runs every test";
    return missing;
}

TRBCommandResult FakeCommandRunner::run(const std::string& program,
                                        const std::vector<std::string>& arguments) {
    runs.push_back(Run{program, arguments});
    if (auto answer = handler ? handler(runs.back()) : std::nullopt) {
        return std::move(*answer);
    }
    ADD_FAILURE() << "unscripted run: " << runs.back();
    return {127, {}, "unscripted"};
}

AlertResponse FakeAlerts::runModal(const Alert& alert) {
    shown.push_back(alert);
    if (whileOpen) {
        whileOpen();
    }
    if (script.empty()) {
        ADD_FAILURE() << "unscripted alert: " << alert.messageText;
        return {};
    }
    AlertResponse response = std::move(script.front());
    script.pop_front();
    return response;
}

namespace {

class FakeTimerSource : public TimerSource {
public:
    explicit FakeTimerSource(std::shared_ptr<FakeMainQueue::Timer> timer)
        : timer_(std::move(timer)) {}
    ~FakeTimerSource() override { timer_->cancelled = true; }
    void cancel() override { timer_->cancelled = true; }

private:
    std::shared_ptr<FakeMainQueue::Timer> timer_;
};

}  // namespace

std::unique_ptr<TimerSource> FakeMainQueue::startTimer(const TimerSpec& spec,
                                                       std::function<void()> handler) {
    auto timer = std::make_shared<Timer>(Timer{spec, now + spec.start, std::move(handler)});
    timers.push_back(timer);
    return std::make_unique<FakeTimerSource>(std::move(timer));
}

void FakeMainQueue::drain() {
    for (auto next = pending.begin(); next != pending.end(); next = pending.begin()) {
        while (next != pending.end() && !runsNow(next->second)) {
            ++next;
        }
        if (next == pending.end()) {
            return;
        }
        auto work = std::move(next->first);
        pending.erase(next);
        work();
    }
}

void FakeMainQueue::advance(std::chrono::nanoseconds duration) {
    const auto end = now + duration;
    while (true) {
        std::shared_ptr<Timer> next;
        for (const auto& timer : timers) {
            if (!timer->cancelled && runsNow(timer->spec.kind) && timer->nextDue <= end &&
                (!next || timer->nextDue < next->nextDue)) {
                next = timer;
            }
        }
        if (!next) {
            break;
        }
        now = next->nextDue;
        if (next->spec.interval.count() > 0) {
            next->nextDue += next->spec.interval;
        } else {
            next->cancelled = true;  // a timer without a period fires once
        }
        next->handler();
        drain();
    }
    now = end;
}

LocalTime FakeClock::localTime(std::chrono::system_clock::time_point moment) const {
    const auto day = std::chrono::floor<std::chrono::days>(moment);
    const std::chrono::hh_mm_ss time{std::chrono::floor<std::chrono::seconds>(moment - day)};
    return {static_cast<int>(time.hours().count()), static_cast<int>(time.minutes().count()),
            static_cast<int>(time.seconds().count())};
}

void FakeClock::setLocalTime(int hour, int minute, int second) {
    const auto day = std::chrono::floor<std::chrono::days>(current);
    current = day + std::chrono::hours{hour} + std::chrono::minutes{minute} +
              std::chrono::seconds{second};
}

Platform TestPlatform::platform() {
    return Platform{application,        statusBar,       alerts,        pasteboard,
                    workspace,          defaults,        mainQueue,     powerManagement,
                    urlSession,         bundle,          locale,        clock,
                    processInfo,        commands,        propertyLists, toolPaths,
                    TRBVersionCheckURL, switchRecordPath};
}

}  // namespace dorvane::testing
