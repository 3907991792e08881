#pragma once

#include <chrono>

namespace dorvane {

// A moment's wall-clock fields in the user's calendar and time zone.
struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual std::chrono::system_clock::time_point now() const = 0;
    virtual LocalTime localTime(std::chrono::system_clock::time_point moment) const = 0;
};

}  // namespace dorvane
