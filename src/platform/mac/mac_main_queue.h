#pragma once

#include <memory>

#include "platform/main_queue.h"

namespace dorvane {

// The main dispatch queue and dispatch timer sources. The system serves the main queue inside a
// modal alert too, so this queue keeps the rule itself: while an alert is open (between
// beginModal and endModal) ordinary posted work and timer firings are held, and when the last
// alert closes they are posted again in order, a timer that came due several times only once.
// Work that runs during alerts goes to the main run loop in its common modes instead: inside an
// alert opened by work the main queue runs, the main queue is not served at all, the run loop is.
class DispatchMainQueue : public MainQueue {
public:
    DispatchMainQueue();
    ~DispatchMainQueue() override;
    DispatchMainQueue(const DispatchMainQueue&) = delete;
    DispatchMainQueue& operator=(const DispatchMainQueue&) = delete;

    std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                            std::function<void()> handler) override;

    void beginModal();
    void endModal();

    struct Impl;

private:
    void enqueue(std::function<void()> work, WorkKind kind) override;

    std::shared_ptr<Impl> impl_;
};

// An open alert for as long as it lives: however the alert ends, held work is let go.
class ModalSession {
public:
    explicit ModalSession(DispatchMainQueue& queue) : queue_(queue) { queue_.beginModal(); }
    ~ModalSession() { queue_.endModal(); }
    ModalSession(const ModalSession&) = delete;
    ModalSession& operator=(const ModalSession&) = delete;

private:
    DispatchMainQueue& queue_;
};

}  // namespace dorvane
