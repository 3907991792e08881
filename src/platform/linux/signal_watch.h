#pragma once

#include <functional>

#include "platform/linux/event_loop.h"
#include "system/unique_fd.h"

namespace dorvane {

// Turns SIGTERM, SIGHUP and SIGINT into a call on the main loop, modal alerts included. The
// signals are blocked in every thread, so it must be made before any other thread starts.
class SignalWatch {
public:
    SignalWatch(EventLoop& loop, std::function<void(int signal)> onSignal);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

private:
    EventLoop& loop_;
    UniqueFd signals_;
    EventLoop::WatchId watchId_ = 0;
};

}  // namespace dorvane
