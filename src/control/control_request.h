#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "quiet/time_of_day.h"

namespace dorvane {

// One request from outside, as the control socket, the command line and the URL scheme all ask
// it. Requests are JSON objects on one line: {"verb":"status"}, {"verb":"mode","value":1},
// {"verb":"refresh"}, {"verb":"quiet","value":"off"}, {"verb":"quiet","start":"23:00",
// "end":"07:00"}, {"verb":"hold","for":"90m"}, {"verb":"hold","until":"07:30"},
// {"verb":"hold","value":"off"}.
struct ControlRequest {
    enum class Verb { Status, Mode, Refresh, QuietOff, QuietOn, HoldFor, HoldUntil, HoldOff };
    Verb verb = Verb::Status;
    std::int64_t mode = 0;             // Mode: 0 or 1
    std::string start;                 // QuietOn: the window as typed, checked as the dialog does
    std::string end;                   // QuietOn
    std::chrono::minutes duration{0};  // HoldFor
    TimeOfDay until;                   // HoldUntil
    bool operator==(const ControlRequest&) const = default;
};

// The longest request line read; anything longer is refused unread.
inline constexpr std::size_t kMaximumControlLineLength = 4096;
// The longest timed hold: a day, so a typo cannot keep a notebook awake for weeks.
inline constexpr std::chrono::minutes kMaximumHoldDuration{24 * 60};

// A request, or the reason the line is not one (one sentence, for the error answer).
using ParsedControlRequest = std::variant<ControlRequest, std::string>;
ParsedControlRequest parseControlRequest(std::string_view line);

// A hold's duration as "2h", "90m" or "1h30m": from one minute to the longest hold.
std::optional<std::chrono::minutes> parseHoldDuration(std::string_view text);

// The request line for the command line's arguments after the program name (the verb first),
// or the usage error. "status --json" asks for status; the caller decides how to print it.
ParsedControlRequest requestForArguments(const std::vector<std::string>& arguments);
// The JSON line that asks for a request, without the line end.
std::string requestLine(const ControlRequest& request);

// The request a dorvane:// address asks for: only what a harmless menu row does (mode, hold,
// refresh); absent for anything else or anything malformed.
std::optional<ControlRequest> parseControlUrl(std::string_view url);
// Whether an address may make this request now: with quiet hours on, a change of run mode sets or
// removes their wake event, which no web page may cause.
bool addressMayAsk(const ControlRequest& request, bool quietHoursEnabled);

}  // namespace dorvane
