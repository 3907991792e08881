#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace dorvane::sim {

enum class Power { AC, Battery, Unknown };
enum class Lid { Open, Closed, None };
// How hot the notebook runs, in the system's four levels.
enum class Thermal { Nominal, Fair, Serious, Critical };

// The names dorvane-sim takes and the state file keeps.
const char* thermalName(Thermal thermal);
std::optional<Thermal> thermalNamed(const std::string& name);

// A repeating power event as pmset keeps it: a type, the weekday letters (of "MTWRFSU", in that
// order) and a time written HH:MM:SS.
struct RepeatEvent {
    std::string type;
    std::string days;
    std::string time;
    bool operator==(const RepeatEvent&) const = default;
};

// An injected answer: every run of exactly this command line (the tool's name, then its
// arguments) answers so instead of doing its work.
// How a faulted command line misbehaves beyond its status and texts.
enum class Misbehaviour { None, Hang, Flood, Binary };

struct Fault {
    std::vector<std::string> command;
    int status = 1;
    std::string output;
    std::string error;
    Misbehaviour misbehaviour = Misbehaviour::None;
};

// The names of the misbehaviours, as dorvane-sim takes them and the state file keeps them.
const char* misbehaviourName(Misbehaviour misbehaviour);
std::optional<Misbehaviour> misbehaviourNamed(const std::string& name);

struct Event {
    std::uint64_t number = 0;
    // "power", "lid", "thermal", "display", "sleep-request", "display-sleep", "acknowledged",
    // "sleep", "wake"
    std::string kind;
    std::string detail;
};

// A request to sleep, waiting for the power-event stand-in to acknowledge it.
struct SleepRequest {
    std::uint64_t id = 0;
    std::int64_t requestedAtSeconds = 0;  // real time, seconds since the epoch
};

// How long a sleep request waits for its acknowledgement before the notebook sleeps anyway.
inline constexpr std::chrono::seconds kUnacknowledgedSleepDelay{30};
inline constexpr std::size_t kEventsKept = 50;

struct State {
    Power power = Power::AC;
    int batteryPercent = 100;
    Lid lid = Lid::Open;
    Thermal thermal = Thermal::Nominal;
    bool externalDisplay = false;
    bool sleepDisabled = false;
    bool sleepSwitchEverSet = false;
    // pmset keeps one repeating slot for waking or powering on and one for sleeping, shutting
    // down or restarting.
    std::optional<RepeatEvent> wakeSlot;
    std::optional<RepeatEvent> offSlot;
    bool asleep = false;
    std::optional<SleepRequest> sleepRequest;
    bool privilegeInstalled = false;
    std::vector<Fault> faults;
    std::uint64_t eventCounter = 0;
    std::deque<Event> events;
    std::int64_t clockOffsetSeconds = 0;

    void record(std::string kind, std::string detail);
    const Fault* faultFor(const std::vector<std::string>& command) const;
};

std::string toJson(const State& state);
std::optional<State> fromJson(const std::string& text, std::string* error);

// The notebook's own time: the real time shifted by its clock offset.
std::chrono::system_clock::time_point notebookNow(const State& state);

// Puts the notebook to sleep when its sleep request has waited too long for an acknowledgement;
// true when it did.
bool settleUnacknowledgedSleep(State& state, std::chrono::system_clock::time_point realNow);

// Acknowledges the pending sleep request with this id: the notebook falls asleep. False when no
// such request is pending.
bool acknowledgeSleep(State& state, std::uint64_t requestId);

// The state file, found through DORVANE_SIM_STATE, else under XDG_STATE_HOME (or
// ~/.local/state). Every access holds an advisory lock on a companion file, and every write
// replaces the file atomically.
class StateFile {
public:
    explicit StateFile(std::string path) : path_(std::move(path)) {}
    static std::string defaultPath();

    const std::string& path() const { return path_; }
    // Reads the state under the lock, settles an unacknowledged sleep request, and writes the
    // state back when change returns true (or settling changed it). A missing file is a fresh
    // notebook; a file that is not valid is an error, never silently replaced.
    std::optional<State> update(const std::function<bool(State&)>& change, std::string* error);
    std::optional<State> read(std::string* error) {
        return update([](State&) { return false; }, error);
    }
    // Writes a fresh notebook, whatever the file held.
    bool reset(std::string* error);

private:
    std::optional<State> locked(const std::function<bool(State&)>& change, std::string* error,
                                bool discardInvalid);

    std::string path_;
};

// Repeating events from pmset's arguments: one or more triples TYPE DAYS HH:MM:SS. Absent when
// any is malformed.
std::optional<std::vector<RepeatEvent>> parseRepeatEvents(const std::vector<std::string>& args);
void applyRepeatEvent(State& state, const RepeatEvent& event);

// Tool outputs in macOS's layout.
std::string renderPowerSourceListing(const State& state);
std::string renderSettingsListing(const State& state);
std::string renderScheduleListing(const State& state);
std::string renderClamshellListing(const State& state);
// One repeating event as pmset lists it: "wakepoweron at 7:00AM every day".
std::string repeatEventLine(const RepeatEvent& event);

// pmset's answer to a command line whose effect is the notebook's alone: a listing, the sleep
// switch or the repeating events, run as root or not. Empty for any other command line; sleep
// and display requests are the caller's to model.
struct PmsetAnswer {
    int status = 0;
    std::string output;
    std::string error;
    bool changed = false;  // the state is to be saved
};
std::optional<PmsetAnswer> answerPmset(State& state, const std::vector<std::string>& args,
                                       bool root);

// The state for a person to read.
std::string describe(const State& state);

}  // namespace dorvane::sim
