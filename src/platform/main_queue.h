#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace dorvane {

// A repeating timer source delivering on the main queue. Cancelling is final: a cancelled timer
// never fires again. Destroying it cancels it.
class TimerSource {
public:
    virtual ~TimerSource() = default;
    virtual void cancel() = 0;
};

// Whether work may run while an alert is open. The sleep policy never waits for a person: its work
// opens no alert, so it runs inside one. Work that may open an alert of its own waits until every
// open alert has closed, so that alerts never stack.
enum class WorkKind { WaitsForAlerts, RunsDuringAlerts };

// A timer measured on the monotonic clock, unaffected by setting the wall clock. It may fire up to
// its leeway late, which lets the system coalesce wake-ups; an interval of zero fires once.
struct TimerSpec {
    std::chrono::nanoseconds start{};  // first firing, from now
    std::chrono::nanoseconds interval{};
    std::chrono::nanoseconds leeway{};
    WorkKind kind = WorkKind::WaitsForAlerts;
};

// The main queue: work posted here runs on the main thread, one item at a time, in order of its
// kind. Safe from any thread.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    void post(std::function<void()> work, WorkKind kind = WorkKind::WaitsForAlerts) {
        enqueue(std::move(work), kind);
    }
    // Creates and starts a timer whose handler runs on the main queue.
    virtual std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                                    std::function<void()> handler) = 0;

private:
    virtual void enqueue(std::function<void()> work, WorkKind kind) = 0;
};

}  // namespace dorvane
