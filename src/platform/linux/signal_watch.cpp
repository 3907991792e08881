#include "platform/linux/signal_watch.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace dorvane {
SignalWatch::SignalWatch(EventLoop& loop, std::initializer_list<int> signals,
                         std::function<void(int)> onSignal)
    : loop_(loop) {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : signals) {
        sigaddset(&set, signal);
    }
    ::pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // A reader that went away must not kill the app through SIGPIPE; writes report it instead.
    ::signal(SIGPIPE, SIG_IGN);
    signals_.reset(::signalfd(-1, &set, SFD_CLOEXEC | SFD_NONBLOCK));
    watchId_ = loop_.watch(signals_.get(), [this, onSignal = std::move(onSignal)] {
        signalfd_siginfo info{};
        while (::read(signals_.get(), &info, sizeof info) == sizeof info) {
            onSignal(static_cast<int>(info.ssi_signo));
        }
    });
}

SignalWatch::~SignalWatch() {
    loop_.unwatch(watchId_);
}

}  // namespace dorvane
