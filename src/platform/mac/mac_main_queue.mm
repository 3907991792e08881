#include "platform/mac/mac_main_queue.h"

#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>

#include <atomic>
#include <deque>

namespace dorvane {

struct DispatchMainQueue::Impl {
    int modalDepth = 0;
    std::deque<std::function<void()>> held;

    void runOrHold(const std::function<void()>& work) {
        if (modalDepth > 0) {
            held.push_back(work);
        } else {
            work();
        }
    }
};

namespace {

// Runs work on the main thread from the main run loop in its common modes, which an open alert
// serves whatever opened it. Safe from any thread.
void performOnMainRunLoop(std::function<void()> work) {
    CFRunLoopRef mainLoop = CFRunLoopGetMain();
    CFRunLoopPerformBlock(mainLoop, kCFRunLoopCommonModes, ^{
      work();
    });
    // A block added to a sleeping run loop waits for its next wake-up without this.
    CFRunLoopWakeUp(mainLoop);
}

// What a timer's handler shares with its source: whether it is cancelled, and whether a firing
// already waits (behind an open alert, or on its way to the main thread).
struct TimerState {
    std::function<void()> handler;
    bool once = false;
    bool cancelled = false;
    std::atomic<bool> waiting{false};

    // Runs on the main thread.
    void fire() {
        waiting = false;
        if (!cancelled) {
            cancelled = once;
            handler();
        }
    }
};

class DispatchTimerSource : public TimerSource {
public:
    DispatchTimerSource(dispatch_source_t source, std::shared_ptr<TimerState> state)
        : source_(source), state_(std::move(state)) {}
    ~DispatchTimerSource() override { cancel(); }
    void cancel() override {
        state_->cancelled = true;
        if (source_ != nil) {
            dispatch_source_cancel(source_);
            source_ = nil;
        }
    }

private:
    dispatch_source_t source_;  // released by ARC
    std::shared_ptr<TimerState> state_;
};

}  // namespace

DispatchMainQueue::DispatchMainQueue() : impl_(std::make_shared<Impl>()) {}

DispatchMainQueue::~DispatchMainQueue() = default;

void DispatchMainQueue::enqueue(std::function<void()> work, WorkKind kind) {
    if (kind == WorkKind::RunsDuringAlerts) {
        performOnMainRunLoop(std::move(work));
        return;
    }
    const std::shared_ptr<Impl> impl = impl_;
    dispatch_async(dispatch_get_main_queue(), ^{
      impl->runOrHold(work);
    });
}

std::unique_ptr<TimerSource> DispatchMainQueue::startTimer(const TimerSpec& spec,
                                                           std::function<void()> handler) {
    auto state = std::make_shared<TimerState>();
    state->handler = std::move(handler);
    state->once = spec.interval.count() <= 0;
    // A timer that runs during alerts counts on a queue of its own and hands each firing to the
    // main run loop; the others fire on the main queue.
    const bool duringAlerts = spec.kind == WorkKind::RunsDuringAlerts;
    dispatch_queue_t target = duringAlerts
                                  ? dispatch_queue_create("Dorvane.timer", DISPATCH_QUEUE_SERIAL)
                                  : dispatch_get_main_queue();
    dispatch_source_t source = dispatch_source_create(DISPATCH_SOURCE_TYPE_TIMER, 0, 0, target);
    // dispatch_time runs on the monotonic clock, as the timer's contract asks.
    dispatch_source_set_timer(
        source, dispatch_time(DISPATCH_TIME_NOW, spec.start.count()),
        state->once ? DISPATCH_TIME_FOREVER : static_cast<std::uint64_t>(spec.interval.count()),
        static_cast<std::uint64_t>(spec.leeway.count()));
    const std::shared_ptr<Impl> impl = impl_;
    dispatch_source_set_event_handler(source, ^{
      // Firings while one waits fold into it.
      if (state->waiting.exchange(true)) {
          return;
      }
      if (duringAlerts) {
          performOnMainRunLoop([state] { state->fire(); });
      } else if (impl->modalDepth > 0) {
          impl->held.push_back([state] { state->fire(); });
      } else {
          state->fire();
      }
    });
    dispatch_resume(source);
    return std::make_unique<DispatchTimerSource>(source, std::move(state));
}

void DispatchMainQueue::beginModal() {
    ++impl_->modalDepth;
}

void DispatchMainQueue::endModal() {
    if (--impl_->modalDepth > 0) {
        return;
    }
    // Posted again rather than run here: the code that opened the alert has not returned yet.
    std::deque<std::function<void()>> held;
    held.swap(impl_->held);
    for (auto& work : held) {
        post(std::move(work));
    }
}

}  // namespace dorvane
