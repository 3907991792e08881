#pragma once

#include <string>
#include <string_view>

namespace dorvane {

// The machine's repeating power events as one text, read from the schedule listing
// ("pmset -g sched"): the lines after the heading that contains "repeating power events" (any
// case), each trimmed of blanks and tabs, joined by "; ". The section ends at an empty line, a line
// that contains "scheduled power events" (any case) or the end. Empty when there is no section.
std::string describeRepeatingEvents(std::string_view listing);

// True when one of the events of a description wakes the machine or powers it on: its first word
// (any case) is "wake", "poweron", "wakeorpoweron" or "wakepoweron", as pmset prints the last.
bool repeatingEventsWakeTheMachine(std::string_view description);

// The separator between the events of a description.
inline constexpr std::string_view kScheduleSeparator = "; ";

}  // namespace dorvane
