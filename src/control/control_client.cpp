#include "control/control_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <nlohmann/json.hpp>
#include <variant>

#include "base/atomic_file.h"
#include "base/run_command.h"
#include "base/unique_fd.h"
#include "control/control_request.h"

namespace dorvane {
namespace {

using json = nlohmann::json;

CommandLineOutcome failed(int status, std::string reason) {
    return {status, "", "dorvane: " + std::move(reason) + "\n"};
}

// Writes the line and reads one answer line back within the patience.
CommandLineOutcome exchange(int fd, const std::string& line,
                            std::chrono::steady_clock::time_point deadline) {
    const std::string request = line + "\n";
    for (std::size_t sent = 0; sent < request.size();) {
        const ssize_t count = ::write(fd, request.data() + sent, request.size() - sent);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return failed(kCommandFailed,
                          std::string("cannot send the request: ") + std::strerror(errno));
        }
        sent += static_cast<std::size_t>(count);
    }
    std::string answer;
    while (answer.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd waiting{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&waiting, 1, static_cast<int>(left.count())) == 0) {
            return failed(kCommandFailed, "Dorvane did not answer in time");
        }
        char chunk[4096];
        const ssize_t count = ::read(fd, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            return failed(kCommandFailed, "Dorvane closed the connection without an answer");
        }
        answer.append(chunk, static_cast<std::size_t>(count));
    }
    answer.erase(answer.find('\n'));
    return {kCommandDone, answer, ""};
}

std::string text(const json& value) {
    return value.is_string() ? value.get<std::string>()
           : value.is_null() ? "unknown"
                             : value.dump();
}

}  // namespace

bool isControlVerb(const std::string& word) {
    for (const char* verb : {"status", "mode", "hold", "quiet", "refresh"}) {
        if (word == verb) {
            return true;
        }
    }
    return false;
}

std::string statusForPeople(const std::string& answerLine) {
    const json status = json::parse(answerLine, nullptr, false);
    if (!status.is_object()) {
        return answerLine + "\n";
    }
    const auto flag = [&](const json& value, const char* yes, const char* no) {
        return value.is_boolean() ? (value.get<bool>() ? yes : no) : "unknown";
    };
    const json& quiet = status.value("quietHours", json::object());
    const json& floor = status.value("floor", json::object());
    const json& hold = status.value("hold", json());
    std::string lines;
    lines += "Run mode: " + text(status.value("runMode", json())) + "\n";
    lines += "Power: " + text(status.value("powerSource", json()));
    if (status.contains("charge") && status["charge"].is_number()) {
        lines += " (" + status["charge"].dump() + "%)";
    }
    lines += "\nLid: " + std::string(flag(status.value("lidClosed", json()), "closed", "open"));
    lines += "\nSleep switch: " +
             std::string(flag(status.value("sleepDisabled", json()), "sleep disabled", "normal"));
    lines += "\nQuiet hours: ";
    lines += quiet.value("enabled", false)
                 ? text(quiet.value("start", json())) + "-" + text(quiet.value("end", json())) +
                       (quiet.value("inForce", false) ? " (now)" : "")
                 : "off";
    lines += "\nBattery floor: " + text(floor.value("percent", json())) + "%" +
             (floor.value("held", false) ? " (reached)" : "");
    const json& thermal = status.value("thermal", json::object());
    lines += "\nThermal state: " + text(thermal.value("state", json())) +
             (thermal.value("guardHeld", false) ? " (sleep allowed to cool down)" : "");
    lines +=
        "\nHold: " + (hold.is_object() ? "until " + text(hold.value("until", json())) : "none");
    lines += "\nVersion: " + text(status.value("version", json()));
    lines += "\nStatus: " + text(status.value("statusRow", json())) + "\n";
    return lines;
}

CommandLineOutcome runControlCommand(const std::vector<std::string>& arguments,
                                     const std::string& socketPath,
                                     std::chrono::milliseconds patience) {
    const ParsedControlRequest parsed = requestForArguments(arguments);
    if (const auto* usage = std::get_if<std::string>(&parsed)) {
        return failed(kCommandFailed, *usage);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
        return failed(kCommandFailed, "the control socket's path is too long: " + socketPath);
    }
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    if (!fd.valid()) {
        return failed(kCommandFailed, std::string("cannot make a socket: ") + std::strerror(errno));
    }
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        // No socket, or one that nobody listens on any more: the instance that made it is gone.
        if (errno == ENOENT || errno == ECONNREFUSED) {
            return failed(kCommandNoDorvane, "Dorvane is not running");
        }
        return failed(kCommandFailed,
                      "cannot reach Dorvane at " + socketPath + ": " + std::strerror(errno));
    }
    CommandLineOutcome outcome = exchange(fd.get(), requestLine(std::get<ControlRequest>(parsed)),
                                          std::chrono::steady_clock::now() + patience);
    if (outcome.status != kCommandDone) {
        return outcome;
    }
    const json answer = json::parse(outcome.output, nullptr, false);
    if (!answer.is_object() || !answer.value("ok", false)) {
        const std::string reason =
            answer.is_object() && answer.contains("error") ? text(answer["error"]) : outcome.output;
        return failed(kCommandFailed, reason);
    }
    if (arguments == std::vector<std::string>{"status", "--json"}) {
        outcome.output += "\n";
    } else if (arguments[0] == "status") {
        outcome.output = statusForPeople(outcome.output);
    } else {
        outcome.output = text(answer.value("statusRow", json())) + "\n";
    }
    return outcome;
}

CommandLineOutcome runDiagnose(const DiagnoseInputs& inputs) {
    CommandLineOutcome outcome{kCommandDone, "", ""};
    for (const auto& [title, value] : inputs.facts) {
        outcome.output += title + ": " + value + "\n";
    }
    for (const auto& [program, arguments] : inputs.runs) {
        std::string commandLine = program;
        for (const auto& argument : arguments) {
            commandLine += " " + argument;
        }
        const TRBCommandResult result = TRBRunCommand(program, arguments);
        outcome.output += "\n== " + commandLine + " (exit status " + std::to_string(result.status) +
                          ")\n" + result.output + result.error;
    }
    for (const auto& [title, path] : inputs.files) {
        std::string error;
        const auto contents = readWholeFile(path, &error);
        outcome.output += "\n== " + title + " (" + path + ")\n" +
                          (contents ? *contents : "(cannot be read: " + error + ")\n");
    }
    return outcome;
}

}  // namespace dorvane
