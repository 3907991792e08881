#include <ctime>
#include <filesystem>

#include "app/controller.h"
#include "base/atomic_file.h"

namespace dorvane {

bool TRBController::recordSleepSwitchSet() {
    if (platform_.switchRecordPath.empty()) {
        return true;
    }
    // Written before every change to set, so a switch set by us never lacks its record; it says
    // since when, for a person who finds it.
    const std::time_t now = std::chrono::system_clock::to_time_t(platform_.clock.now());
    std::tm utc{};
    char stamp[32] = "";
    if (::gmtime_r(&now, &utc) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    }
    if (!writeFileAtomically(platform_.switchRecordPath,
                             std::string("sleep disabled by Dorvane at ") + stamp + "\n", nullptr,
                             0600)) {
        return false;
    }
    return true;
}

void TRBController::forgetSleepSwitchSet() {
    if (!platform_.switchRecordPath.empty()) {
        std::error_code ignored;
        std::filesystem::remove(platform_.switchRecordPath, ignored);
    }
}

}  // namespace dorvane
