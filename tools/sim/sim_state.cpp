#include "sim_state.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "base/atomic_file.h"
#include "base/format.h"
#include "base/unique_fd.h"

namespace dorvane::sim {
namespace {

using nlohmann::json;

constexpr int kFormatVersion = 1;
constexpr const char* kAllDays = "MTWRFSU";
// Stored times and offsets lie within ten thousand years of 1970.
constexpr std::int64_t kMaximumSeconds = std::int64_t{10'000} * 366 * 24 * 3600;

const char* powerName(Power power) {
    switch (power) {
        case Power::AC:
            return "ac";
        case Power::Battery:
            return "battery";
        case Power::Unknown:
            return "unknown";
    }
    return "unknown";
}

const char* lidName(Lid lid) {
    switch (lid) {
        case Lid::Open:
            return "open";
        case Lid::Closed:
            return "closed";
        case Lid::None:
            return "none";
    }
    return "none";
}

constexpr const char* kThermalNames[] = {"nominal", "fair", "serious", "critical"};

json eventToJson(const RepeatEvent& event) {
    return {{"type", event.type}, {"days", event.days}, {"time", event.time}};
}

bool isWakeType(const std::string& type);
bool isOffType(const std::string& type);
std::optional<std::string> normalizeDays(const std::string& days);
std::optional<std::string> normalizeTime(const std::string& text);

// A stored event is taken only in the form the notebook writes it, so nothing read from the
// file can reach a conversion or a table lookup unchecked.
RepeatEvent eventFromJson(const json& value) {
    RepeatEvent event{value.at("type").get<std::string>(), value.at("days").get<std::string>(),
                      value.at("time").get<std::string>()};
    if ((!isWakeType(event.type) && !isOffType(event.type)) ||
        normalizeDays(event.days) != event.days || normalizeTime(event.time) != event.time) {
        throw std::runtime_error("invalid repeating event");
    }
    return event;
}

// Reads a stored number of seconds that must lie within the bound either side of zero, so that
// clock arithmetic with it cannot overflow.
std::int64_t boundedSeconds(const json& value, std::int64_t bound, const char* what) {
    const auto seconds = value.get<std::int64_t>();
    if (seconds < -bound || seconds > bound) {
        throw std::runtime_error(std::string(what) + " out of range");
    }
    return seconds;
}

bool isWakeType(const std::string& type) {
    return type == "wake" || type == "poweron" || type == "wakeorpoweron";
}

bool isOffType(const std::string& type) {
    return type == "sleep" || type == "shutdown" || type == "restart";
}

// Normalizes weekday letters to the order MTWRFSU; absent when a letter is unknown or repeated.
std::optional<std::string> normalizeDays(const std::string& days) {
    if (days.empty()) {
        return std::nullopt;
    }
    std::string normalized;
    for (const char day : std::string(kAllDays)) {
        const auto count = std::count(days.begin(), days.end(), day);
        if (count > 1) {
            return std::nullopt;
        }
        if (count == 1) {
            normalized += day;
        }
    }
    return normalized.size() == days.size() ? std::optional(normalized) : std::nullopt;
}

// Normalizes H:MM:SS or HH:MM:SS to HH:MM:SS; absent when it is no time of day.
std::optional<std::string> normalizeTime(const std::string& text) {
    int hour = 0;
    int minute = 0;
    int second = 0;
    char tail = 0;
    if (text.size() < 7 || text.size() > 8 ||
        std::sscanf(text.c_str(), "%2d:%2d:%2d%c", &hour, &minute, &second, &tail) != 3 ||
        text[text.size() - 3] != ':' || text[text.size() - 6] != ':' ||
        !std::all_of(
            text.begin(), text.end(),
            [](char c) { return c == ':' || std::isdigit(static_cast<unsigned char>(c)); }) ||
        hour > 23 || minute > 59 || second > 59) {
        return std::nullopt;
    }
    return formatString("%02ld:%02ld:%02ld",
                        {std::int64_t{hour}, std::int64_t{minute}, std::int64_t{second}});
}

std::string daysPhrase(const std::string& days) {
    static const char* const names[] = {"Monday", "Tuesday",  "Wednesday", "Thursday",
                                        "Friday", "Saturday", "Sunday"};
    if (days == kAllDays)
        return "every day";
    if (days == "MTWRF")
        return "weekdays only";
    if (days == "SU")
        return "weekends only";
    if (days.size() == 1) {
        return names[std::string(kAllDays).find(days[0])];
    }
    return "Some days";
}

std::string lockPathFor(const std::string& path) {
    return path + ".lock";
}

bool ensureFolder(const std::string& path, std::string* error) {
    std::error_code failure;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), failure);
    if (failure && error != nullptr) {
        *error = "cannot create the folder of " + path + ": " + failure.message();
    }
    return !failure;
}

}  // namespace

void State::record(std::string kind, std::string detail) {
    events.push_back({++eventCounter, std::move(kind), std::move(detail)});
    while (events.size() > kEventsKept) {
        events.pop_front();
    }
}

const char* misbehaviourName(Misbehaviour misbehaviour) {
    switch (misbehaviour) {
        case Misbehaviour::Hang:
            return "hang";
        case Misbehaviour::Flood:
            return "flood";
        case Misbehaviour::Binary:
            return "binary";
        default:
            return "none";
    }
}

std::optional<Misbehaviour> misbehaviourNamed(const std::string& name) {
    for (const auto misbehaviour :
         {Misbehaviour::None, Misbehaviour::Hang, Misbehaviour::Flood, Misbehaviour::Binary}) {
        if (name == misbehaviourName(misbehaviour)) {
            return misbehaviour;
        }
    }
    return std::nullopt;
}

const char* thermalName(Thermal thermal) {
    return kThermalNames[static_cast<int>(thermal)];
}

std::optional<Thermal> thermalNamed(const std::string& name) {
    for (int level = 0; level < 4; ++level) {
        if (name == kThermalNames[level]) {
            return static_cast<Thermal>(level);
        }
    }
    return std::nullopt;
}

const Fault* State::faultFor(const std::vector<std::string>& command) const {
    for (const Fault& fault : faults) {
        if (fault.command == command) {
            return &fault;
        }
    }
    return nullptr;
}

std::string toJson(const State& state) {
    json faults = json::array();
    for (const Fault& fault : state.faults) {
        faults.push_back({{"command", fault.command},
                          {"status", fault.status},
                          {"stdout", fault.output},
                          {"stderr", fault.error},
                          {"misbehaviour", misbehaviourName(fault.misbehaviour)}});
    }
    json events = json::array();
    for (const Event& event : state.events) {
        events.push_back(
            {{"number", event.number}, {"kind", event.kind}, {"detail", event.detail}});
    }
    json root = {
        {"version", kFormatVersion},
        {"power", powerName(state.power)},
        {"battery_percent", state.batteryPercent},
        {"lid", lidName(state.lid)},
        {"thermal", thermalName(state.thermal)},
        {"external_display", state.externalDisplay},
        {"sleep_disabled", state.sleepDisabled},
        {"sleep_switch_ever_set", state.sleepSwitchEverSet},
        {"wake_slot", state.wakeSlot ? eventToJson(*state.wakeSlot) : json(nullptr)},
        {"off_slot", state.offSlot ? eventToJson(*state.offSlot) : json(nullptr)},
        {"asleep", state.asleep},
        {"sleep_request", state.sleepRequest
                              ? json{{"id", state.sleepRequest->id},
                                     {"requested_at", state.sleepRequest->requestedAtSeconds}}
                              : json(nullptr)},
        {"privilege_installed", state.privilegeInstalled},
        {"faults", faults},
        {"event_counter", state.eventCounter},
        {"events", events},
        {"clock_offset_seconds", state.clockOffsetSeconds},
    };
    return root.dump(2) + "\n";
}

std::optional<State> fromJson(const std::string& text, std::string* error) {
    // The library reports a malformed document by exception; none leaves this function.
    try {
        const json root = json::parse(text);
        if (root.at("version").get<int>() != kFormatVersion) {
            throw std::runtime_error("unknown format version " + root.at("version").dump());
        }
        State state;
        const auto power = root.at("power").get<std::string>();
        if (power == "ac")
            state.power = Power::AC;
        else if (power == "battery")
            state.power = Power::Battery;
        else if (power == "unknown")
            state.power = Power::Unknown;
        else
            throw std::runtime_error("unknown power source \"" + power + "\"");
        state.batteryPercent = root.at("battery_percent").get<int>();
        if (state.batteryPercent < 0 || state.batteryPercent > 100) {
            throw std::runtime_error("battery percentage out of range");
        }
        const auto lid = root.at("lid").get<std::string>();
        if (lid == "open")
            state.lid = Lid::Open;
        else if (lid == "closed")
            state.lid = Lid::Closed;
        else if (lid == "none")
            state.lid = Lid::None;
        else
            throw std::runtime_error("unknown lid state \"" + lid + "\"");
        // Files written before these readings existed have a cool notebook without a monitor.
        const auto thermal = thermalNamed(root.value("thermal", std::string("nominal")));
        if (!thermal) {
            throw std::runtime_error("unknown thermal state");
        }
        state.thermal = *thermal;
        state.externalDisplay = root.value("external_display", false);
        state.sleepDisabled = root.at("sleep_disabled").get<bool>();
        state.sleepSwitchEverSet = root.at("sleep_switch_ever_set").get<bool>();
        if (!root.at("wake_slot").is_null())
            state.wakeSlot = eventFromJson(root.at("wake_slot"));
        if (!root.at("off_slot").is_null())
            state.offSlot = eventFromJson(root.at("off_slot"));
        state.asleep = root.at("asleep").get<bool>();
        if (const json& request = root.at("sleep_request"); !request.is_null()) {
            state.sleepRequest = SleepRequest{
                request.at("id").get<std::uint64_t>(),
                boundedSeconds(request.at("requested_at"), kMaximumSeconds, "request time")};
        }
        state.privilegeInstalled = root.at("privilege_installed").get<bool>();
        for (const json& fault : root.at("faults")) {
            // Files written before misbehaviours existed have none.
            const auto misbehaviour =
                misbehaviourNamed(fault.value("misbehaviour", std::string("none")));
            if (!misbehaviour) {
                throw std::runtime_error("unknown misbehaviour");
            }
            state.faults.push_back({fault.at("command").get<std::vector<std::string>>(),
                                    fault.at("status").get<int>(),
                                    fault.at("stdout").get<std::string>(),
                                    fault.at("stderr").get<std::string>(), *misbehaviour});
        }
        state.eventCounter = root.at("event_counter").get<std::uint64_t>();
        for (const json& event : root.at("events")) {
            state.events.push_back({event.at("number").get<std::uint64_t>(),
                                    event.at("kind").get<std::string>(),
                                    event.at("detail").get<std::string>()});
        }
        state.clockOffsetSeconds =
            boundedSeconds(root.at("clock_offset_seconds"), kMaximumSeconds, "clock offset");
        return state;
    } catch (const std::exception& failure) {
        if (error != nullptr) {
            *error = failure.what();
        }
        return std::nullopt;
    }
}

std::chrono::system_clock::time_point notebookNow(const State& state) {
    return std::chrono::system_clock::now() + std::chrono::seconds(state.clockOffsetSeconds);
}

bool settleUnacknowledgedSleep(State& state, std::chrono::system_clock::time_point realNow) {
    if (!state.sleepRequest || state.asleep) {
        return false;
    }
    const auto requestedAt = std::chrono::system_clock::time_point(
        std::chrono::seconds(state.sleepRequest->requestedAtSeconds));
    if (realNow - requestedAt < kUnacknowledgedSleepDelay) {
        return false;
    }
    state.sleepRequest.reset();
    state.asleep = true;
    state.record("sleep", "no acknowledgement within 30 seconds");
    return true;
}

bool acknowledgeSleep(State& state, std::uint64_t requestId) {
    if (!state.sleepRequest || state.sleepRequest->id != requestId || state.asleep) {
        return false;
    }
    state.sleepRequest.reset();
    state.record("acknowledged", "request " + std::to_string(requestId));
    state.asleep = true;
    state.record("sleep", "acknowledged");
    return true;
}

std::string StateFile::defaultPath() {
    if (const char* explicitPath = std::getenv("DORVANE_SIM_STATE");
        explicitPath && *explicitPath) {
        return explicitPath;
    }
    std::string base;
    if (const char* stateHome = std::getenv("XDG_STATE_HOME"); stateHome && *stateHome == '/') {
        base = stateHome;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home != nullptr ? home : "") + "/.local/state";
    }
    return base + "/dorvane/notebook.json";
}

std::optional<State> StateFile::update(const std::function<bool(State&)>& change,
                                       std::string* error) {
    return locked(change, error, false);
}

std::optional<State> StateFile::locked(const std::function<bool(State&)>& change,
                                       std::string* error, bool discardInvalid) {
    if (!ensureFolder(path_, error)) {
        return std::nullopt;
    }
    // The lock lives on a file of its own: the state file is replaced on every write, so a lock
    // on it would guard a file that is no longer there.
    UniqueFd lock(::open(lockPathFor(path_).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (!lock.valid() || ::flock(lock.get(), LOCK_EX) != 0) {
        if (error != nullptr) {
            *error = "cannot lock " + lockPathFor(path_) + ": " + std::strerror(errno);
        }
        return std::nullopt;
    }
    State state;
    struct stat info {};
    if (::stat(path_.c_str(), &info) == 0) {
        std::string readError;
        const auto text = readWholeFile(path_, &readError);
        std::string parseError;
        const auto parsed = text ? fromJson(*text, &parseError) : std::nullopt;
        if (!parsed && !discardInvalid) {
            if (error != nullptr) {
                *error = "the state file " + path_ + " is not valid (" +
                         (text ? parseError : readError) +
                         "); run 'dorvane-sim reset' to start afresh";
            }
            return std::nullopt;
        }
        state = parsed.value_or(State{});
    }
    const bool settled = settleUnacknowledgedSleep(state, std::chrono::system_clock::now());
    const bool changed = change(state);
    if ((settled || changed) && !writeFileAtomically(path_, toJson(state), error)) {
        return std::nullopt;
    }
    return state;
}

bool StateFile::reset(std::string* error) {
    const auto fresh = [](State& state) {
        state = State{};
        return true;
    };
    return locked(fresh, error, true).has_value();
}

std::optional<std::vector<RepeatEvent>> parseRepeatEvents(const std::vector<std::string>& args) {
    if (args.empty() || args.size() % 3 != 0) {
        return std::nullopt;
    }
    std::vector<RepeatEvent> events;
    for (std::size_t i = 0; i < args.size(); i += 3) {
        const auto days = normalizeDays(args[i + 1]);
        const auto time = normalizeTime(args[i + 2]);
        if ((!isWakeType(args[i]) && !isOffType(args[i])) || !days || !time) {
            return std::nullopt;
        }
        events.push_back({args[i], *days, *time});
    }
    return events;
}

void applyRepeatEvent(State& state, const RepeatEvent& event) {
    (isWakeType(event.type) ? state.wakeSlot : state.offSlot) = event;
}

std::optional<PmsetAnswer> answerPmset(State& state, const std::vector<std::string>& args,
                                       bool root) {
    using Args = std::vector<std::string>;
    if (args == Args{"-g"}) {
        return PmsetAnswer{0, renderSettingsListing(state), "", false};
    }
    if (args == Args{"-g", "ps"} || args == Args{"-g", "batt"}) {
        return PmsetAnswer{0, renderPowerSourceListing(state), "", false};
    }
    if (args == Args{"-g", "sched"}) {
        return PmsetAnswer{0, renderScheduleListing(state), "", false};
    }
    const bool setting = (args.size() == 3 && args[0] == "-a" && args[1] == "disablesleep") ||
                         (args.size() == 2 && args[0] == "disablesleep");
    if (setting) {
        if (!root) {
            return PmsetAnswer{1, "'pmset' must be run as root...\n", "", false};
        }
        const std::string& value = args.back();
        if (value != "0" && value != "1") {
            return PmsetAnswer{1, "", "pmset: bad value for disablesleep: " + value + "\n", false};
        }
        state.sleepDisabled = value == "1";
        state.sleepSwitchEverSet = true;
        return PmsetAnswer{0, "", "", true};
    }
    if (args.empty() || args[0] != "repeat") {
        return std::nullopt;
    }
    if (!root) {
        return PmsetAnswer{1, "", "pmset: Must be run as root to modify settings\n", false};
    }
    if (args == Args{"repeat", "cancel"}) {
        state.wakeSlot.reset();
        state.offSlot.reset();
        return PmsetAnswer{0, "", "", true};
    }
    const auto events = parseRepeatEvents(Args(args.begin() + 1, args.end()));
    if (!events) {
        return PmsetAnswer{1, "", "Error: badly formatted repeating power event\n", false};
    }
    for (const RepeatEvent& event : *events) {
        applyRepeatEvent(state, event);
    }
    return PmsetAnswer{0, "", "", true};
}

std::string repeatEventLine(const RepeatEvent& event) {
    const int hour = std::stoi(event.time.substr(0, 2));
    const std::string minutes = event.time.substr(3, 2);
    // The hour of midnight prints as 0, noon as 12, as pmset prints them.
    const int shownHour = hour == 12 ? 12 : hour % 12;
    const std::string type = event.type == "wakeorpoweron" ? "wakepoweron" : event.type;
    return type + " at " + std::to_string(shownHour) + ":" + minutes + (hour < 12 ? "AM" : "PM") +
           " " + daysPhrase(event.days);
}

std::string renderPowerSourceListing(const State& state) {
    const char* source = state.power == Power::AC        ? "AC Power"
                         : state.power == Power::Battery ? "Battery Power"
                                                         : "UPS Power";
    const int percent = state.batteryPercent;
    std::string condition;
    int minutesLeft = 0;
    if (state.power == Power::Battery) {
        condition = "discharging";
        minutesLeft = percent * 6;
    } else if (state.power == Power::Unknown) {
        condition = "AC attached; not charging";
    } else if (percent >= 100) {
        condition = "charged";
    } else {
        condition = "charging";
        minutesLeft = (100 - percent) * 2;
    }
    const std::string remaining =
        formatString("%ld:%02ld", {std::int64_t{minutesLeft / 60}, std::int64_t{minutesLeft % 60}});
    return std::string("Now drawing from '") + source + "'\n -InternalBattery-0 (id=4653155)\t" +
           std::to_string(percent) + "%; " + condition + "; " + remaining +
           " remaining present: true\n";
}

std::string renderSettingsListing(const State& state) {
    std::string listing = "System-wide power settings:\n";
    if (state.sleepSwitchEverSet) {
        listing += std::string(" SleepDisabled\t\t") + (state.sleepDisabled ? "1" : "0") + "\n";
    }
    listing += "Currently in use:\n";
    const std::pair<const char*, std::string> settings[] = {
        {"standby", "1"},
        {"Sleep On Power Button", "1"},
        {"hibernatefile", "/var/vm/sleepimage"},
        {"powernap", "1"},
        {"networkoversleep", "0"},
        {"disksleep", "10"},
        {"sleep", state.sleepDisabled ? "1 (sleep prevented by SleepDisabled)" : "1"},
        {"hibernatemode", "3"},
        {"ttyskeepawake", "1"},
        {"displaysleep", "10"},
        {"tcpkeepalive", "1"},
        {"lowpowermode", "0"},
        {"womp", "0"},
    };
    for (const auto& [name, value] : settings) {
        std::string column = std::string(" ") + name;
        column.resize(std::max<std::size_t>(column.size(), 20), ' ');
        listing += column + " " + value + "\n";
    }
    return listing;
}

std::string renderScheduleListing(const State& state) {
    if (!state.wakeSlot && !state.offSlot) {
        return "No scheduled events.\n";
    }
    std::string listing = "Repeating power events:\n";
    for (const auto& slot : {state.wakeSlot, state.offSlot}) {
        if (slot) {
            listing += "  " + repeatEventLine(*slot) + "\n";
        }
    }
    return listing;
}

std::string renderClamshellListing(const State& state) {
    if (state.lid == Lid::None) {
        return "";  // no node carries the key on a machine without a lid
    }
    return std::string(
               "+-o IOPMrootDomain  <class IOPMrootDomain, id 0x100000229, registered, matched, "
               "active, busy 0 (0 ms), retain 262>\n"
               "    {\n"
               "      \"AppleClamshellCausesSleep\" = Yes\n"
               "      \"AppleClamshellState\" = ") +
           (state.lid == Lid::Closed ? "Yes" : "No") +
           "\n"
           "      \"IOPMrootDomain\" = Yes\n"
           "      \"SystemPowerCapabilities\" = 15\n"
           "    }\n"
           "    \n";
}

std::string describe(const State& state) {
    std::ostringstream out;
    out << "power:      " << powerName(state.power) << " (battery " << state.batteryPercent
        << "%)\n";
    out << "lid:        " << lidName(state.lid) << "\n";
    out << "thermal:    " << thermalName(state.thermal) << "\n";
    out << "display:    " << (state.externalDisplay ? "external" : "none") << "\n";
    out << "switch:     "
        << (!state.sleepSwitchEverSet ? "never set"
            : state.sleepDisabled     ? "sleep disabled (1)"
                                      : "normal sleep (0)")
        << "\n";
    out << "repeating:  ";
    if (!state.wakeSlot && !state.offSlot) {
        out << "none";
    }
    for (const auto& slot : {state.wakeSlot, state.offSlot}) {
        if (slot) {
            out << slot->type << " " << slot->days << " " << slot->time << "   ";
        }
    }
    out << "\n";
    out << "asleep:     " << (state.asleep ? "yes" : "no");
    if (state.sleepRequest) {
        out << " (sleep requested, waiting for acknowledgement)";
    }
    out << "\n";
    out << "privilege:  " << (state.privilegeInstalled ? "installed" : "not installed") << "\n";
    const auto now = std::chrono::system_clock::to_time_t(notebookNow(state));
    std::tm local{};
    ::localtime_r(&now, &local);
    out << "clock:      "
        << formatString("%02ld:%02ld (%@)",
                        {std::int64_t{local.tm_hour}, std::int64_t{local.tm_min},
                         std::string(state.clockOffsetSeconds == 0 ? "real time" : "set")})
        << "\n";
    for (const Fault& fault : state.faults) {
        out << "fault:     ";
        for (const std::string& word : fault.command) {
            out << " " << word;
        }
        out << " -> status " << fault.status << "\n";
    }
    out << "events:     " << state.eventCounter << "\n";
    return out.str();
}

}  // namespace dorvane::sim
