#pragma once

#include <string>
#include <vector>

#include "platform/tool_paths.h"

namespace dorvane {

// The arguments of every tool run the application makes, in one place.
namespace tool_args {

inline const std::vector<std::string> kPowerSource = {"-g", "ps"};
inline const std::vector<std::string> kSettings = {"-g"};
inline const std::vector<std::string> kClamshell = {"-r", "-k", "AppleClamshellState", "-d", "4"};
inline const std::vector<std::string> kSleepNow = {"sleepnow"};
inline const std::vector<std::string> kDisplaySleepNow = {"displaysleepnow"};
inline const std::vector<std::string> kSchedule = {"-g", "sched"};
inline const std::vector<std::string> kDisableSleepOn = {"-a", "disablesleep", "1"};
inline const std::vector<std::string> kDisableSleepOff = {"-a", "disablesleep", "0"};
inline const std::vector<std::string> kRepeatCancel = {"repeat", "cancel"};
inline const char* const kRepeatWakeType = "wakeorpoweron";
inline const char* const kRepeatWakeDays = "MTWRFSU";

// sudo in non-interactive mode, so it fails at once instead of asking for a password.
inline std::vector<std::string> throughSudo(const std::string& pmsetPath,
                                            const std::vector<std::string>& pmsetArguments) {
    std::vector<std::string> arguments = {"-n", pmsetPath};
    arguments.insert(arguments.end(), pmsetArguments.begin(), pmsetArguments.end());
    return arguments;
}

}  // namespace tool_args
}  // namespace dorvane
