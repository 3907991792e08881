#include "app/controller.h"
#include "quiet/time_of_day.h"
#include "base/text_lines.h"

namespace dorvane {
namespace {

TextField label(Frame frame, std::string text) {
    TextField field;
    field.frame = frame;
    field.text = std::move(text);
    field.editable = false;
    field.bordered = false;
    field.drawsBackground = false;  // a clear background
    return field;
}

TextField entry(Frame frame, std::string text, std::string placeholder) {
    TextField field;
    field.frame = frame;
    field.text = std::move(text);
    field.placeholder = std::move(placeholder);
    return field;
}

std::string fieldText(const AlertResponse& response, std::size_t index) {
    const std::string text = index < response.fieldTexts.size() ? response.fieldTexts[index] : "";
    return std::string(trimBlanksAndNewlines(text));
}

}  // namespace

AlertResponse TRBController::runDialog(const char* titleKey, const char* bodyKey,
                                       AccessoryView accessory) {
    platform_.application.activateIgnoringOtherApps();
    Alert dialog;
    dialog.messageText = localized(titleKey);
    dialog.informativeText = localized(bodyKey);
    dialog.buttons = {localized("button.save"), localized("button.cancel")};
    dialog.accessory = std::move(accessory);
    return platform_.alerts.runModal(dialog);
}

void TRBController::showQuietHoursDialog() {
    constexpr std::size_t kStartField = 1;
    constexpr std::size_t kEndField = 3;
    AccessoryView view;
    view.width = 300;
    view.height = 60;
    view.fields = {
        label({0, 32, 60, 22}, localized("dialog.quiet_hours.start_label")),
        entry({60, 30, 100, 24}, quietHoursStart().value_or(kDefaultQuietStart),
              kDefaultQuietStart),
        label({0, 2, 60, 22}, localized("dialog.quiet_hours.end_label")),
        entry({60, 0, 100, 24}, quietHoursEnd().value_or(kDefaultQuietEnd), kDefaultQuietEnd),
    };
    view.initialFirstResponder = kStartField;
    const AlertResponse response =
        runDialog("dialog.quiet_hours.title", "dialog.quiet_hours.body", std::move(view));
    if (response.code != kAlertFirstButtonReturn) {
        return;
    }
    const auto start = parseTimeOfDay(fieldText(response, kStartField));
    if (!start) {
        showMessage(localized("dialog.invalid_format.title"),
                    localized("dialog.invalid_start_time.body"));
        return;
    }
    const auto end = parseTimeOfDay(fieldText(response, kEndField));
    if (!end) {
        showMessage(localized("dialog.invalid_format.title"),
                    localized("dialog.invalid_end_time.body"));
        return;
    }
    if (*start == *end) {
        showMessage(localized("dialog.invalid_range.title"),
                    localized("dialog.invalid_range.body"));
        return;
    }
    // Saving a window switches quiet hours on.
    switchQuietHoursOnOrFallBack(formatString("%02ld:%02ld", {start->hour, start->minute}),
                                 formatString("%02ld:%02ld", {end->hour, end->minute}));
}

void TRBController::showQuietHoursIntervalDialog() {
    AccessoryView view;
    view.width = 220;
    view.height = 24;
    view.fields = {
        entry({0, 0, 220, 24}, formatString("%ld", {quietHoursIntervalMinutes()}), "30")};
    view.initialFirstResponder = 0;
    const AlertResponse response =
        runDialog("dialog.interval.title", "dialog.interval.body", std::move(view));
    if (response.code != kAlertFirstButtonReturn) {
        return;
    }
    const std::string text = fieldText(response, 0);
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) {
        showMessage(localized("dialog.invalid_format.title"),
                    localized("dialog.interval.invalid_format"));
        return;
    }
    const auto minutes = parseDecimalDigits(text);
    if (!minutes || *minutes < 1 || *minutes > 1440) {
        showMessage(localized("dialog.interval.out_of_range.title"),
                    localized("dialog.interval.out_of_range.body"));
        return;
    }
    setQuietHoursIntervalMinutes(*minutes);
    saveQuietHoursState();
    startQuietHoursTimer();
    refreshWithApplyChange(true);
}

}  // namespace dorvane
