#include "app/controller.h"

namespace dorvane {

void TRBController::showMessage(const std::string& title, const std::optional<std::string>& text) {
    Alert message;
    message.messageText = title;
    message.informativeText = text.value_or("");
    message.buttons = {localized("button.ok")};
    platform_.alerts.runModal(message);
}

}  // namespace dorvane
