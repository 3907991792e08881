#pragma once

#include <functional>
#include <vector>

#include "platform/application.h"

namespace dorvane {

// The application object on Linux. Activation and the main menu belong to the front end, which
// hands them in; terminating runs the delegate's termination handler and the exit steps (the
// settings flushed, the terminal given back), then ends the process at once, before any other
// queued work.
class LinuxApplication : public Application {
public:
    struct FrontEndHooks {
        std::function<void()> activate;
        std::function<void(std::shared_ptr<const Menu>)> setMainMenu;
    };

    LinuxApplication(FrontEndHooks hooks, std::function<void(int status)> exitProcess);

    void setActivationPolicyAccessory() override {}
    void activateIgnoringOtherApps() override;
    void setMainMenu(std::shared_ptr<const Menu> menu) override;
    void terminate() override;
    void writeDiagnostic(const std::string& line) override;

    void setDelegateWillTerminate(std::function<void()> willTerminate) {
        willTerminate_ = std::move(willTerminate);
    }
    void addExitStep(std::function<void()> step) { exitSteps_.push_back(std::move(step)); }

private:
    FrontEndHooks hooks_;
    std::function<void(int)> exitProcess_;
    std::function<void()> willTerminate_;
    std::vector<std::function<void()>> exitSteps_;
    bool terminating_ = false;
};

}  // namespace dorvane
