#include "app/controller.h"
#include "app/defaults_keys.h"

namespace dorvane {

MenuAction TRBController::actionCalling(void (TRBController::*operation)()) {
    // A front end may keep the menu after the controller is gone; the action then does nothing.
    return [weak = weak_from_this(), operation](const MenuItem&) {
        if (const auto self = weak.lock()) {
            (self.get()->*operation)();
        }
    };
}

void TRBController::addDisabledItem(const std::string& title, Menu& menu) {
    MenuItem item;
    item.title = title;
    item.enabled = false;
    menu.items.push_back(std::move(item));
}

void TRBController::addModeItemWithTitle(const std::string& title, RunMode mode, Menu& menu) {
    MenuItem item;
    item.title = title;
    item.action = [weak = weak_from_this()](const MenuItem& sender) {
        if (const auto self = weak.lock()) {
            self->selectRunMode(sender);
        }
    };
    item.representedObject = static_cast<std::int64_t>(mode);
    item.checked = runMode() == mode;
    menu.items.push_back(std::move(item));
}

void TRBController::addActionItem(const std::string& title, void (TRBController::*operation)(),
                                  Menu& menu, const std::string& keyEquivalent) {
    MenuItem item;
    item.title = title;
    item.action = actionCalling(operation);
    item.keyEquivalent = keyEquivalent;
    menu.items.push_back(std::move(item));
}

std::string TRBController::statusRowText() const {
    // Presence decides, not emptiness: an empty error still wins over a wake-schedule error. A
    // change that cannot reach the disk is lost at the next crash, so that is said until it can.
    return lastError()                      ? *lastError()
           : platform_.defaults.savesFail() ? localized("error.settings_not_saved")
           : wakeScheduleError()            ? *wakeScheduleError()
                                            : lastMessage().value_or("");
}

void TRBController::rebuildMenu() {
    auto menu = std::make_shared<Menu>();
    // Every row carries its own enabled flag; automatic enabling would enable the quiet-hours row
    // in every run mode, since a row with a submenu always has something to do.
    menu->autoenablesItems = false;
    if (latestAvailableVersion() && !latestAvailableVersion()->empty()) {
        addActionItem(localizedFormat("menu.update_available_format", {*latestAvailableVersion()}),
                      &TRBController::openUpdatePage, *menu);
        menu->items.back().bold = true;
        menu->items.push_back(MenuItem::separatorItem());
    }
    const auto information = [&](const char* labelKey, const std::string& value) {
        addDisabledItem(localizedFormat("menu.label_format", {localized(labelKey), value}), *menu);
    };

    addDisabledItem(localized("app.name"), *menu);
    information("label.mode", runModeLabel());
    information("label.power", powerSourceLabel());
    information("label.lid", clamshellLabel());
    information("label.system_switch", sleepLabel());
    information("label.status", statusRowText());
    information("label.updated", dateFormatter() && lastUpdated()
                                     ? dateFormatter()->stringFromDate(*lastUpdated())
                                     : std::string());
    menu->items.push_back(MenuItem::separatorItem());

    addModeItemWithTitle(localized("mode.power_adapter"), RunMode::PowerAdapter, *menu);
    addModeItemWithTitle(localized("mode.always_awake"), RunMode::AlwaysAwake, *menu);
    menu->items.push_back(quietHoursMenuItem());
    menu->items.push_back(MenuItem::separatorItem());

    addActionItem(localized("menu.refresh_now"), &TRBController::refreshNow, *menu, "r");
    menu->items.push_back(MenuItem::separatorItem());

    addActionItem(localized("menu.copy_permission"), &TRBController::copyPermissionCommand, *menu);
    MenuItem launchAtLogin;
    launchAtLogin.title = localized("menu.launch_at_login");
    launchAtLogin.checked = isLaunchAtLoginEnabled();
    launchAtLogin.action = [weak = weak_from_this()](const MenuItem& sender) {
        if (const auto self = weak.lock()) {
            self->toggleLaunchAtLogin(sender);
        }
    };
    menu->items.push_back(std::move(launchAtLogin));
    addActionItem(localized("menu.check_for_updates"), &TRBController::manualCheckForUpdates,
                  *menu);
    addActionItem(localized("menu.quit_restore"), &TRBController::restoreAndQuit, *menu, "q");

    if (statusItem() != nullptr) {
        statusItem()->setMenu(std::move(menu));
    }
}

MenuItem TRBController::quietHoursMenuItem() {
    auto submenu = std::make_shared<Menu>();
    submenu->title = localized("mode.quiet_hours");
    // Without automatic enabling the interval row stays disabled.
    submenu->autoenablesItems = false;
    addActionItem(localized("menu.quiet_hours.off"), &TRBController::setQuietHoursOff, *submenu);
    submenu->items.back().checked = !quietHoursEnabled();
    addActionItem(formatString("%@ \u2013 %@",
                               {quietHoursStart().value_or(""), quietHoursEnd().value_or("")}),
                  &TRBController::setQuietHoursOn, *submenu);
    submenu->items.back().checked = quietHoursEnabled();
    submenu->items.push_back(MenuItem::separatorItem());
    addActionItem(localized("menu.quiet_hours.set_time"), &TRBController::showQuietHoursDialog,
                  *submenu);
    addDisabledItem(
        localizedFormat("menu.quiet_hours.interval_format", {quietHoursIntervalMinutes()}),
        *submenu);
    addActionItem(localized("menu.quiet_hours.set_interval"),
                  &TRBController::showQuietHoursIntervalDialog, *submenu);

    MenuItem item;
    const bool available = runMode() == RunMode::PowerAdapter;
    item.title = localized(available ? "mode.quiet_hours" : "mode.quiet_hours_disabled_note");
    item.enabled = available;
    item.submenu = std::move(submenu);
    return item;
}

void TRBController::selectRunMode(const MenuItem& sender) {
    if (!sender.representedObject) {
        return;
    }
    setRunMode(*sender.representedObject == static_cast<std::int64_t>(RunMode::AlwaysAwake)
                   ? RunMode::AlwaysAwake
                   : RunMode::PowerAdapter);
    // The mode is stored before the wake schedule is touched, so a failure there never rolls it
    // back.
    platform_.defaults.setObject(defaults_keys::kRunMode, static_cast<std::int64_t>(runMode()));

    if (syncRepeatWakeSchedule()) {
        refreshWithApplyChange(true);
        return;
    }
    if (quietHoursEnabled() && runMode() == RunMode::PowerAdapter) {
        fallBackFromQuietHours(quietHoursStart(), quietHoursEnd());
        return;
    }
    refreshWithApplyChange(true);
    showWakeEventLeftBehind();
}

void TRBController::refreshNow() {
    refreshWithApplyChange(true);
}

std::string TRBController::wakeFailureReason() const {
    if (wakeScheduleError()) {
        return *wakeScheduleError();
    }
    return lastError().value_or(localized("error.need_pmset_permission_with_wake"));
}

}  // namespace dorvane
