#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

namespace dorvane {

// The command line's exit statuses.
inline constexpr int kCommandDone = 0;
inline constexpr int kCommandFailed = 1;  // refused or failed, the reason on standard error
inline constexpr int kCommandNoDorvane = 3;

// The verbs the command line hands to a running Dorvane; diagnose runs on its own.
bool isControlVerb(const std::string& word);
inline constexpr const char* kDiagnoseVerb = "diagnose";

// What a command printed and how it ended.
struct CommandLineOutcome {
    int status = kCommandFailed;
    std::string output;
    std::string error;
};

// Runs the command line's verb (arguments after the program name) against the Dorvane listening
// at socketPath, waiting for its answer at most this long.
CommandLineOutcome runControlCommand(const std::vector<std::string>& arguments,
                                     const std::string& socketPath,
                                     std::chrono::milliseconds patience = std::chrono::seconds(60));

// A status answer as lines for people.
std::string statusForPeople(const std::string& answerLine);

// What a maintainer asks for, gathered without a running Dorvane: each program run by its path
// (never through a shell) with its output, and each file's text.
struct DiagnoseInputs {
    std::vector<std::pair<std::string, std::vector<std::string>>> runs;  // program, arguments
    std::vector<std::pair<std::string, std::string>> files;              // title, path
    std::vector<std::pair<std::string, std::string>> facts;              // title, value
};
CommandLineOutcome runDiagnose(const DiagnoseInputs& inputs);

}  // namespace dorvane
