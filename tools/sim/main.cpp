// The simulated notebook. One program, acting by the name it was started under: "pmset", "ioreg"
// and "sudo" answer as macOS's tools do; any other name is the person's control, dorvane-sim.
#include <fnmatch.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "base/text_lines.h"
#include "sim_state.h"

namespace dorvane::sim {
namespace {

using Args = std::vector<std::string>;

// Set by the sudo stand-in for the pmset it runs: the simulated notebook's notion of root.
constexpr const char* kAsRootVariable = "DORVANE_SIM_AS_ROOT";

// What one run of a stand-in answers.
struct Answer {
    int status = 0;
    std::string output;
    std::string error;
    Misbehaviour misbehaviour = Misbehaviour::None;
};

// A flood is more than any listing: 5 MB of lines.
constexpr std::size_t kFloodBytes = 5 << 20;

int deliver(const Answer& answer) {
    switch (answer.misbehaviour) {
        case Misbehaviour::Hang:
            // Until the caller gives up and kills it; the state lock is no longer held.
            while (true) {
                ::pause();
            }
        case Misbehaviour::Flood:
            for (std::size_t written = 0; written < kFloodBytes; written += 64) {
                std::cout << std::string(63, 'x') << '\n';
            }
            break;
        case Misbehaviour::Binary:
            std::cout << "\xff\xfe\x80 not text\n";
            std::cerr << "\xc3\x28 password?\n";
            break;
        case Misbehaviour::None:
            break;
    }
    std::cout << answer.output << std::flush;
    std::cerr << answer.error << std::flush;
    return answer.status;
}

std::string baseName(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A fault for a sudo command line names the program it runs by its bare name, so the person
// need not spell out the stand-in's folder.
Args faultKey(Args command) {
    if (!command.empty() && command[0] == "sudo") {
        for (std::size_t i = 1; i < command.size(); ++i) {
            if (command[i].empty() || command[i][0] != '-') {
                command[i] = baseName(command[i]);
                break;
            }
        }
    }
    return command;
}

Args withTool(const char* tool, const Args& args) {
    Args command = {tool};
    command.insert(command.end(), args.begin(), args.end());
    return faultKey(command);
}

// Runs a stand-in's work under the state lock: a fault set for exactly this command line
// answers instead.
int answerUnderLock(StateFile& file, const char* tool, const Args& args,
                    const std::function<bool(State&, Answer&)>& work) {
    Answer answer;
    std::string error;
    const auto state = file.update(
        [&](State& state) {
            if (const Fault* fault = state.faultFor(withTool(tool, args))) {
                answer = {fault->status, fault->output, fault->error, fault->misbehaviour};
                return false;
            }
            return work(state, answer);
        },
        &error);
    if (!state) {
        std::cerr << tool << ": " << error << "\n";
        return 1;
    }
    return deliver(answer);
}

bool runningAsRoot() {
    const char* marker = std::getenv(kAsRootVariable);
    return marker != nullptr && std::string(marker) == "1";
}

int runPmset(StateFile& file, const Args& args) {
    const bool root = runningAsRoot();
    return answerUnderLock(file, "pmset", args, [&](State& state, Answer& answer) {
        if (args == Args{"sleepnow"}) {
            // pmset returns at once; a machine with sleep disabled simply does not sleep.
            answer.output = "Sleeping now...\n";
            if (state.sleepDisabled) {
                state.record("sleep-request", "refused: sleep is disabled");
            } else if (!state.asleep && !state.sleepRequest) {
                state.sleepRequest = SleepRequest{
                    state.eventCounter + 1, std::chrono::duration_cast<std::chrono::seconds>(
                                                std::chrono::system_clock::now().time_since_epoch())
                                                .count()};
                state.record("sleep-request", "request " + std::to_string(state.sleepRequest->id));
            }
            return true;
        }
        if (args == Args{"displaysleepnow"}) {
            state.record("display-sleep", "");
            return true;
        }
        if (const auto settled = answerPmset(state, args, root)) {
            answer = {settled->status, settled->output, settled->error};
            return settled->changed;
        }
        answer = {1, "", "pmset: these arguments are not simulated\n"};
        return false;
    });
}

int runIoreg(StateFile& file, const Args& args) {
    return answerUnderLock(file, "ioreg", args, [&](State& state, Answer& answer) {
        if (args != Args{"-r", "-k", "AppleClamshellState", "-d", "4"}) {
            answer = {1, "", "ioreg: only -r -k AppleClamshellState -d 4 is simulated\n"};
            return false;
        }
        answer.output = renderClamshellListing(state);
        return false;
    });
}

// The commands the privilege set-up lets the user run without a password, as sudoers patterns
// on pmset's arguments.
const char* const kAllowedPmsetCommands[] = {
    "-a disablesleep 0",  "-a disablesleep 1",  "repeat cancel",      "repeat wakeorpoweron * *",
    "repeat wake * *",    "repeat poweron * *", "schedule wake *",    "schedule wakeorpoweron *",
    "schedule poweron *", "schedule cancel *",  "schedule cancelall",
};

bool allowedWithoutPassword(const Args& pmsetArgs) {
    std::string joined;
    for (const std::string& arg : pmsetArgs) {
        joined += (joined.empty() ? "" : " ") + arg;
    }
    for (const char* pattern : kAllowedPmsetCommands) {
        if (::fnmatch(pattern, joined.c_str(), 0) == 0) {
            return true;
        }
    }
    return false;
}

bool isOwnPmset(const std::string& program) {
    char self[PATH_MAX];
    char target[PATH_MAX];
    return baseName(program) == "pmset" && ::realpath("/proc/self/exe", self) != nullptr &&
           ::realpath(program.c_str(), target) != nullptr && std::strcmp(self, target) == 0;
}

int runSudo(StateFile& file, const Args& args) {
    bool nonInteractive = false;
    std::size_t first = 0;
    while (first < args.size() && args[first] == "-n") {
        nonInteractive = true;
        ++first;
    }
    if (first >= args.size()) {
        return deliver({1, "", "usage: sudo -n command [arg ...]\n"});
    }
    const std::string program = args[first];
    const Args programArgs(args.begin() + static_cast<long>(first) + 1, args.end());
    bool permitted = false;
    const int status = answerUnderLock(file, "sudo", args, [&](State& state, Answer& answer) {
        if (!isOwnPmset(program)) {
            answer = {1, "", "sudo: the simulated notebook runs only its own pmset\n"};
        } else if (!state.privilegeInstalled || !allowedWithoutPassword(programArgs)) {
            answer.status = 1;
            answer.error = nonInteractive ? "sudo: a password is required\n"
                                          : "sudo: a terminal is required to read the password; "
                                            "either use the -S option to read from standard "
                                            "input or configure an askpass helper\n"
                                            "sudo: a password is required\n";
        } else {
            permitted = true;
        }
        return false;
    });
    if (!permitted) {
        return status;
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& arg : programArgs) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    ::setenv(kAsRootVariable, "1", 1);
    ::execv(program.c_str(), argv.data());
    return deliver({1, "", std::string("sudo: ") + program + ": " + std::strerror(errno) + "\n"});
}

// ---- The control ----

const char* const kUsage =
    "usage: dorvane-sim VERB [ARGS]   (each verb takes --help)\n"
    "  status                          show the notebook\n"
    "  reset                           a fresh notebook: adapter, lid open, nothing set\n"
    "  power ac|battery|unknown [PERCENT]\n"
    "  lid open|closed|none\n"
    "  thermal nominal|fair|serious|critical\n"
    "  display external|none           whether a monitor is attached\n"
    "  privilege grant|revoke          stands for pasting the privilege set-up command\n"
    "  repeat set TYPE DAYS HH:MM:SS   somebody else's repeating event\n"
    "  repeat clear\n"
    "  fail TOOL ARGS... [--status N] [--stdout TEXT] [--stderr TEXT]\n"
    "       [--misbehave hang|flood|binary]   hang, print 5 MB, or print bytes that are no text\n"
    "  garble TOOL ARGS... TEXT        that command line prints TEXT instead\n"
    "  unfail TOOL ARGS...\n"
    "  wake [--scheduled]              wake now, or as the repeating event would\n"
    "  clock set HH:MM | clock real    the notebook's own time\n"
    "  events                          the event counter and the last events\n";

struct VerbHelp {
    const char* verb;
    const char* usage;
};
const VerbHelp kVerbHelp[] = {
    {"status", "usage: dorvane-sim status\n"},
    {"reset", "usage: dorvane-sim reset\n"},
    {"power", "usage: dorvane-sim power ac|battery|unknown [PERCENT]\n"},
    {"lid", "usage: dorvane-sim lid open|closed|none\n"},
    {"thermal", "usage: dorvane-sim thermal nominal|fair|serious|critical\n"},
    {"display", "usage: dorvane-sim display external|none\n"},
    {"privilege", "usage: dorvane-sim privilege grant|revoke\n"},
    {"repeat", "usage: dorvane-sim repeat set TYPE DAYS HH:MM:SS | dorvane-sim repeat clear\n"},
    {"fail",
     "usage: dorvane-sim fail pmset|ioreg|sudo ARGS... [--status N] [--stdout TEXT] "
     "[--stderr TEXT] [--misbehave hang|flood|binary]\n"},
    {"garble", "usage: dorvane-sim garble pmset|ioreg|sudo ARGS... TEXT\n"},
    {"unfail", "usage: dorvane-sim unfail pmset|ioreg|sudo ARGS...\n"},
    {"wake", "usage: dorvane-sim wake [--scheduled]\n"},
    {"clock", "usage: dorvane-sim clock set HH:MM | dorvane-sim clock real\n"},
    {"events", "usage: dorvane-sim events\n"},
};

const char* usageOf(const std::string& verb) {
    for (const VerbHelp& help : kVerbHelp) {
        if (verb == help.verb) {
            return help.usage;
        }
    }
    return kUsage;
}

std::optional<int> parseNumber(const std::string& text, int low, int high) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(text);
    return value >= low && value <= high ? std::optional(value) : std::nullopt;
}

bool isTool(const std::string& name) {
    return name == "pmset" || name == "ioreg" || name == "sudo";
}

// The clock offset that makes the notebook's time of day read hour:minute:second; when
// forwardOnly, the next such moment, so a scheduled wake never moves the clock backwards.
std::int64_t offsetForTimeOfDay(const State& state, int hour, int minute, int second,
                                bool forwardOnly) {
    const auto realNow = std::chrono::system_clock::now();
    const std::time_t notebook = std::chrono::system_clock::to_time_t(notebookNow(state));
    std::tm local{};
    ::localtime_r(&notebook, &local);
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    std::time_t target = ::mktime(&local);
    if (forwardOnly && target <= notebook) {
        ++local.tm_mday;
        local.tm_isdst = -1;
        target = ::mktime(&local);
    }
    return static_cast<std::int64_t>(target) - std::chrono::system_clock::to_time_t(realNow);
}

// A control verb's change to the state; false from the change means nothing to write, and a
// text in refusal means the verb failed with that message.
using Change = std::function<bool(State&, std::string& refusal)>;

std::optional<Change> parseControl(const Args& args) {
    const std::string verb = args[0];
    const Args rest(args.begin() + 1, args.end());
    if (verb == "status" && rest.empty()) {
        return [](State&, std::string&) { return false; };
    }
    if (verb == "power" && (rest.size() == 1 || rest.size() == 2)) {
        std::optional<Power> power;
        if (rest[0] == "ac")
            power = Power::AC;
        if (rest[0] == "battery")
            power = Power::Battery;
        if (rest[0] == "unknown")
            power = Power::Unknown;
        const auto percent = rest.size() == 2 ? parseNumber(rest[1], 0, 100) : std::optional<int>();
        if (!power || (rest.size() == 2 && !percent)) {
            return std::nullopt;
        }
        return [=](State& state, std::string&) {
            const int newPercent = percent.value_or(state.batteryPercent);
            if (state.power == *power && state.batteryPercent == newPercent) {
                return false;
            }
            state.power = *power;
            state.batteryPercent = newPercent;
            state.record("power", rest[0] + " " + std::to_string(newPercent) + "%");
            return true;
        };
    }
    if (verb == "lid" && rest.size() == 1) {
        std::optional<Lid> lid;
        if (rest[0] == "open")
            lid = Lid::Open;
        if (rest[0] == "closed")
            lid = Lid::Closed;
        if (rest[0] == "none")
            lid = Lid::None;
        if (!lid) {
            return std::nullopt;
        }
        return [=](State& state, std::string&) {
            if (state.lid == *lid) {
                return false;
            }
            state.lid = *lid;
            state.record("lid", rest[0]);
            return true;
        };
    }
    if (verb == "thermal" && rest.size() == 1) {
        const auto thermal = thermalNamed(rest[0]);
        if (!thermal) {
            return std::nullopt;
        }
        return [=](State& state, std::string&) {
            if (state.thermal == *thermal) {
                return false;
            }
            state.thermal = *thermal;
            state.record("thermal", rest[0]);
            return true;
        };
    }
    if (verb == "display" && rest.size() == 1 && (rest[0] == "external" || rest[0] == "none")) {
        return [external = rest[0] == "external"](State& state, std::string&) {
            if (state.externalDisplay == external) {
                return false;
            }
            state.externalDisplay = external;
            state.record("display", external ? "external" : "none");
            return true;
        };
    }
    if (verb == "privilege" && rest.size() == 1 && (rest[0] == "grant" || rest[0] == "revoke")) {
        return [granted = rest[0] == "grant"](State& state, std::string&) {
            state.privilegeInstalled = granted;
            return true;
        };
    }
    if (verb == "repeat" && rest == Args{"clear"}) {
        return [](State& state, std::string&) {
            state.wakeSlot.reset();
            state.offSlot.reset();
            return true;
        };
    }
    if (verb == "repeat" && rest.size() == 4 && rest[0] == "set") {
        const auto events = parseRepeatEvents(Args(rest.begin() + 1, rest.end()));
        if (!events) {
            return std::nullopt;
        }
        return [event = events->front()](State& state, std::string&) {
            applyRepeatEvent(state, event);
            return true;
        };
    }
    if (verb == "fail" && !rest.empty() && isTool(rest[0])) {
        Fault fault;
        std::size_t i = 0;
        while (i < rest.size() && !rest[i].starts_with("--")) {
            fault.command.push_back(rest[i++]);
        }
        for (; i < rest.size(); i += 2) {
            if (i + 1 >= rest.size()) {
                return std::nullopt;
            }
            if (rest[i] == "--status") {
                const auto status = parseNumber(rest[i + 1], 0, 255);
                if (!status) {
                    return std::nullopt;
                }
                fault.status = *status;
            } else if (rest[i] == "--stdout") {
                fault.output = rest[i + 1];
            } else if (rest[i] == "--stderr") {
                fault.error = rest[i + 1];
            } else if (const auto misbehaviour = misbehaviourNamed(rest[i + 1]);
                       rest[i] == "--misbehave" && misbehaviour) {
                fault.misbehaviour = *misbehaviour;
            } else {
                return std::nullopt;
            }
        }
        fault.command = faultKey(fault.command);
        return [fault](State& state, std::string&) {
            std::erase_if(state.faults, [&](const Fault& f) { return f.command == fault.command; });
            state.faults.push_back(fault);
            return true;
        };
    }
    if (verb == "garble" && rest.size() >= 2 && isTool(rest[0])) {
        const Fault fault{faultKey(Args(rest.begin(), rest.end() - 1)), 0, rest.back(), ""};
        return [fault](State& state, std::string&) {
            std::erase_if(state.faults, [&](const Fault& f) { return f.command == fault.command; });
            state.faults.push_back(fault);
            return true;
        };
    }
    if (verb == "unfail" && !rest.empty() && isTool(rest[0])) {
        return [command = faultKey(rest)](State& state, std::string& refusal) {
            if (std::erase_if(state.faults, [&](const Fault& f) { return f.command == command; }) ==
                0) {
                refusal = "no fault is set for that command line";
                return false;
            }
            return true;
        };
    }
    if (verb == "wake" && (rest.empty() || rest == Args{"--scheduled"})) {
        return [scheduled = !rest.empty()](State& state, std::string& refusal) {
            if (scheduled) {
                if (!state.wakeSlot) {
                    refusal = "no repeating wake event is set";
                    return false;
                }
                const std::string& time = state.wakeSlot->time;
                state.clockOffsetSeconds = offsetForTimeOfDay(state, std::stoi(time.substr(0, 2)),
                                                              std::stoi(time.substr(3, 2)),
                                                              std::stoi(time.substr(6, 2)), true);
            }
            state.sleepRequest.reset();
            if (state.asleep) {
                state.asleep = false;
                state.record("wake", scheduled ? "repeating event" : "now");
            }
            return true;
        };
    }
    if (verb == "clock" && rest == Args{"real"}) {
        return [](State& state, std::string&) {
            state.clockOffsetSeconds = 0;
            return true;
        };
    }
    if (verb == "clock" && rest.size() == 2 && rest[0] == "set") {
        const std::string& text = rest[1];
        const std::size_t colon = text.find(':');
        const auto hour =
            colon == std::string::npos ? std::nullopt : parseNumber(text.substr(0, colon), 0, 23);
        const auto minute = colon == std::string::npos || text.size() - colon != 3
                                ? std::nullopt
                                : parseNumber(text.substr(colon + 1), 0, 59);
        if (!hour || !minute) {
            return std::nullopt;
        }
        return [=](State& state, std::string&) {
            state.clockOffsetSeconds = offsetForTimeOfDay(state, *hour, *minute, 0, false);
            return true;
        };
    }
    return std::nullopt;
}

std::string describeEvents(const State& state) {
    std::string text = "events: " + std::to_string(state.eventCounter) + "\n";
    for (const Event& event : state.events) {
        text +=
            "  #" + std::to_string(event.number) + " " + event.kind + ": " + event.detail + "\n";
    }
    return text;
}

int runControl(StateFile& file, const Args& args) {
    if (args.empty() || args[0] == "--help" || args[0] == "help") {
        std::cout << kUsage;
        return args.empty() ? 2 : 0;
    }
    // fail and garble may carry "--help" as a text of their own; alone it asks for help.
    const bool asksForHelp = std::find(args.begin() + 1, args.end(), "--help") != args.end() &&
                             (args.size() == 2 || (args[0] != "fail" && args[0] != "garble"));
    if (asksForHelp) {
        std::cout << usageOf(args[0]);
        return 0;
    }
    // Texts given here are stored and printed as the tools' output, which is UTF-8 on the Mac.
    if (!std::all_of(args.begin(), args.end(),
                     [](const std::string& a) { return isValidUtf8(a); })) {
        std::cerr << usageOf(args[0]);
        return 2;
    }
    std::string error;
    if (args == Args{"reset"}) {
        if (!file.reset(&error)) {
            std::cerr << "dorvane-sim: " << error << "\n";
            return 1;
        }
        const auto state = file.read(&error);
        std::cout << (state ? describe(*state) : "");
        return state ? 0 : 1;
    }
    if (args == Args{"events"}) {
        const auto state = file.read(&error);
        if (!state) {
            std::cerr << "dorvane-sim: " << error << "\n";
            return 1;
        }
        std::cout << describeEvents(*state);
        return 0;
    }
    const auto change = parseControl(args);
    if (!change) {
        std::cerr << usageOf(args[0]);
        return 2;
    }
    std::string refusal;
    const auto state = file.update([&](State& state) { return (*change)(state, refusal); }, &error);
    if (!state) {
        std::cerr << "dorvane-sim: " << error << "\n";
        return 1;
    }
    if (!refusal.empty()) {
        std::cerr << "dorvane-sim: " << refusal << "\n";
        return 1;
    }
    std::cout << describe(*state);
    return 0;
}

}  // namespace
}  // namespace dorvane::sim

int main(int argc, char** argv) {
    using namespace dorvane::sim;
    const std::string name = baseName(argc > 0 ? argv[0] : "dorvane-sim");
    const Args args(argv + 1, argv + argc);
    StateFile file(StateFile::defaultPath());
    if (name == "pmset") {
        return runPmset(file, args);
    }
    if (name == "ioreg") {
        return runIoreg(file, args);
    }
    if (name == "sudo") {
        return runSudo(file, args);
    }
    return runControl(file, args);
}
