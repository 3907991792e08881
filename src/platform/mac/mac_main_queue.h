#pragma once

#include <memory>

#include "platform/main_queue.h"

namespace dorvane {

// The main dispatch queue and dispatch timer sources. The system serves the main queue inside a
// modal alert too, so this queue keeps the rule itself: while an alert is open (between
// beginModal and endModal) posted work and timer firings are held, and when the last alert
// closes they are posted again in order, a timer that came due several times only once.
class DispatchMainQueue : public MainQueue {
public:
    DispatchMainQueue();
    ~DispatchMainQueue() override;
    DispatchMainQueue(const DispatchMainQueue&) = delete;
    DispatchMainQueue& operator=(const DispatchMainQueue&) = delete;

    void post(std::function<void()> work) override;
    std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                            std::function<void()> handler) override;

    void beginModal();
    void endModal();

    struct Impl;

private:
    std::shared_ptr<Impl> impl_;
};

}  // namespace dorvane
