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

// A timer measured on the monotonic clock, unaffected by setting the wall clock. It may fire up to
// its leeway late, which lets the system coalesce wake-ups; an interval of zero fires once.
struct TimerSpec {
    std::chrono::nanoseconds start{};  // first firing, from now
    std::chrono::nanoseconds interval{};
    std::chrono::nanoseconds leeway{};
};

// The main queue: work posted here runs on the main thread, one item at a time, in order.
class MainQueue {
public:
    virtual ~MainQueue() = default;
    virtual void post(std::function<void()> work) = 0;
    // Creates and starts a timer whose handler runs on the main queue.
    virtual std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                                    std::function<void()> handler) = 0;
};

}  // namespace dorvane
