#include "platform/linux/linux_application.h"

#include <cstdio>

namespace dorvane {

LinuxApplication::LinuxApplication(FrontEndHooks hooks, std::function<void(int)> exitProcess)
    : hooks_(std::move(hooks)), exitProcess_(std::move(exitProcess)) {}

void LinuxApplication::activateIgnoringOtherApps() {
    if (hooks_.activate) {
        hooks_.activate();
    }
}

void LinuxApplication::setMainMenu(std::shared_ptr<const Menu> menu) {
    if (hooks_.setMainMenu) {
        hooks_.setMainMenu(std::move(menu));
    }
}

void LinuxApplication::terminate() {
    // A second request while terminating (a signal during the restore, say) changes nothing.
    if (terminating_) {
        return;
    }
    terminating_ = true;
    if (willTerminate_) {
        willTerminate_();
    }
    for (const auto& step : exitSteps_) {
        step();
    }
    exitProcess_(0);
}

void LinuxApplication::writeDiagnostic(const std::string& line) {
    std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace dorvane
