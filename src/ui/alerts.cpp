#include "app/controller.h"

namespace dorvane {

void TRBController::showMessage(const std::string& title, const std::optional<std::string>& text) {
    // A request from outside never opens an alert: the first thing it would have said is its
    // answer.
    if (answeringRequest_) {
        if (!requestRefusal_) {
            requestRefusal_ = text ? title + " " + *text : title;
        }
        return;
    }
    Alert message;
    message.messageText = title;
    message.informativeText = text.value_or("");
    message.buttons = {localized("button.ok")};
    platform_.alerts.runModal(message);
}

void TRBController::installEditMenu() {
    const auto entry = [&](const char* key, ResponderAction action, const char* keyEquivalent) {
        MenuItem item;
        item.title = localized(key);
        item.responderAction = action;
        item.keyEquivalent = keyEquivalent;
        return item;
    };
    auto applicationMenu = std::make_shared<Menu>();
    addActionItem(localized("menu.quit_app"), &TRBController::restoreAndQuit, *applicationMenu,
                  "q");
    // The editing items have no target: they reach the text field being edited in a dialog.
    auto editMenu = std::make_shared<Menu>();
    editMenu->title = localized("menu.edit");
    editMenu->items = {entry("menu.cut", ResponderAction::Cut, "x"),
                       entry("menu.copy", ResponderAction::Copy, "c"),
                       entry("menu.paste", ResponderAction::Paste, "v"),
                       entry("menu.select_all", ResponderAction::SelectAll, "a")};

    auto mainMenu = std::make_shared<Menu>();
    MenuItem applicationItem;
    applicationItem.submenu = std::move(applicationMenu);
    MenuItem editItem;
    editItem.submenu = std::move(editMenu);
    mainMenu->items = {std::move(applicationItem), std::move(editItem)};
    platform_.application.setMainMenu(std::move(mainMenu));
}

}  // namespace dorvane
