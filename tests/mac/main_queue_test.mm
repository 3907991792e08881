#include "platform/mac/mac_main_queue.h"

#include <CoreFoundation/CoreFoundation.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace dorvane {
namespace {

using namespace std::chrono_literals;

// Serves the main run loop for a while, as an open alert or the application does.
void serveMainRunLoop(std::chrono::milliseconds duration) {
    const auto end = std::chrono::steady_clock::now() + duration;
    while (std::chrono::steady_clock::now() < end) {
        CFRunLoopRunInMode(kCFRunLoopDefaultMode, 0.005, true);
    }
}

TEST(DispatchMainQueue, AnAlertHoldsOrdinaryWorkAndFoldsTimersButRunsPolicyWork) {
    DispatchMainQueue queue;
    std::vector<std::string> order;
    std::unique_ptr<TimerSource> timer;
    {
        const ModalSession alert(queue);
        queue.post([&] { order.push_back("first"); });
        timer = queue.startTimer(TimerSpec{10ms, 60ms, 0ms}, [&] { order.push_back("timer"); });
        auto policyTimer = queue.startTimer(TimerSpec{10ms, 0ms, 0ms, WorkKind::RunsDuringAlerts},
                                            [&] { order.push_back("policy timer"); });
        queue.post([&] { order.push_back("second"); });
        queue.post([&] { order.push_back("policy"); }, WorkKind::RunsDuringAlerts);
        serveMainRunLoop(200ms);  // the ordinary timer comes due four times
        EXPECT_EQ(order, (std::vector<std::string>{"policy", "policy timer"}));
    }
    serveMainRunLoop(20ms);  // well before the next period
    timer->cancel();
    EXPECT_EQ(order,
              (std::vector<std::string>{"policy", "policy timer", "first", "second", "timer"}));

    try {
        const ModalSession alert(queue);
        queue.post([&] { order.push_back("after an alert that threw"); });
        throw std::runtime_error("alert failed");
    } catch (const std::runtime_error&) {
    }
    serveMainRunLoop(20ms);
    EXPECT_EQ(order.back(), "after an alert that threw") << "held work is let go all the same";
}

}  // namespace
}  // namespace dorvane
