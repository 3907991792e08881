#pragma once

#include <signal.h>

#include <functional>
#include <initializer_list>

#include "platform/linux/event_loop.h"
#include "base/unique_fd.h"

namespace dorvane {

// Turns signals into calls on the main loop, modal alerts included: by default SIGTERM, SIGHUP
// and SIGINT. The signals are blocked in every thread, so it must be made before any other thread
// starts.
class SignalWatch {
public:
    SignalWatch(EventLoop& loop, std::function<void(int signal)> onSignal)
        : SignalWatch(loop, {SIGTERM, SIGHUP, SIGINT}, std::move(onSignal)) {}
    SignalWatch(EventLoop& loop, std::initializer_list<int> signals,
                std::function<void(int signal)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    // Readable from the moment a signal arrives until the main loop has served it: a tool run
    // polls it to give way to a termination request even while the main thread waits for it.
    int pendingDescriptor() const { return signals_.get(); }

private:
    EventLoop& loop_;
    UniqueFd signals_;
    EventLoop::WatchId watchId_ = 0;
};

}  // namespace dorvane
