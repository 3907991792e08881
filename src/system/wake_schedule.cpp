#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "system/permission_rule.h"
#include "system/schedule_reader.h"

namespace dorvane {

namespace keys = defaults_keys;
namespace record_keys = defaults_keys::wake_record;

// What this run installed is known whatever becomes of the settings file meanwhile (an editor's
// older copy saved over it, the file deleted), so the event is still recognized, and removed at
// quit, while the machine shows exactly it.
bool TRBController::wakeScheduleClaimed() const {
    return installedWakeSchedule_ || boolForKey(platform_.defaults, keys::kWakeScheduleClaimed);
}

std::optional<DefaultsDictionary> TRBController::appOwnedWakeSchedule() const {
    return installedWakeSchedule_
               ? installedWakeSchedule_
               : dictionaryForKey(platform_.defaults, keys::kAppOwnedWakeSchedule);
}

void TRBController::keepWakeClaimOnFile() {
    if (installedWakeSchedule_ &&
        (!boolForKey(platform_.defaults, keys::kWakeScheduleClaimed) ||
         dictionaryForKey(platform_.defaults, keys::kAppOwnedWakeSchedule) !=
             installedWakeSchedule_)) {
        platform_.defaults.setObject(keys::kWakeScheduleClaimed, true);
        platform_.defaults.setObject(keys::kAppOwnedWakeSchedule, *installedWakeSchedule_);
        platform_.defaults.synchronize();
    }
}

void TRBController::dropWakeScheduleClaim() {
    installedWakeSchedule_.reset();
    // The flag and the record always go together, flushed at once.
    platform_.defaults.setObject(keys::kWakeScheduleClaimed, false);
    platform_.defaults.removeObject(keys::kAppOwnedWakeSchedule);
    platform_.defaults.synchronize();
}

void TRBController::failCommand(const std::string& key) {
    setLastError(localized(key));
    setLastMessage(lastError());
}

bool TRBController::readRepeatScheduleDescription(std::optional<std::string>* description) {
    const TRBCommandResult result = runTool(platform_.toolPaths.pmset, tool_args::kSchedule);
    if (result.status != 0) {
        if (description != nullptr) {
            description->reset();
        }
        return false;
    }
    if (description != nullptr) {
        *description = describeRepeatingEvents(result.output);
    }
    return true;
}

bool TRBController::currentScheduleMatchesAppOwned(
    const std::optional<std::string>& description,
    const std::optional<DefaultsDictionary>& record) const {
    if (!description || description->empty() || !record) {
        return false;
    }
    // More than one repeating event is never taken for the application's own.
    if (description->find(kScheduleSeparator) != std::string::npos) {
        return false;
    }
    const auto canonical = record->find(record_keys::kCanonical);
    if (canonical == record->end()) {
        return false;
    }
    const auto* text = std::get_if<std::string>(&canonical->second);
    return text != nullptr && !text->empty() && *text == *description;
}

bool TRBController::cancelRepeatWake() {
    if (!wakeScheduleClaimed()) {
        return true;
    }
    std::optional<std::string> description;
    if (!readRepeatScheduleDescription(&description)) {
        setWakeScheduleError(localized("error.read_wake_schedule_failed"));
        return false;
    }
    if (description->empty()) {
        dropWakeScheduleClaim();
        setWakeScheduleError(std::nullopt);
        return true;
    }
    if (currentScheduleMatchesAppOwned(description, appOwnedWakeSchedule())) {
        const TRBCommandResult result =
            runTool(platform_.toolPaths.sudo,
                    tool_args::throughSudo(platform_.toolPaths.pmset, tool_args::kRepeatCancel));
        if (result.status == 0) {
            dropWakeScheduleClaim();
            return true;
        }
        // The claim stays, so the next attempt still recognizes the event. The reason names the
        // missing privilege when that is the cause, so the user knows what to do about it.
        setWakeScheduleError(localized(failedForWantOfPermission(result)
                                           ? "error.need_pmset_permission_with_wake"
                                           : "error.set_wake_failed"));
        return false;
    }
    setWakeScheduleError(localized("error.cancel_skipped_external_schedule"));
    dropWakeScheduleClaim();
    return false;
}

bool TRBController::applyRepeatWakeAtHour(std::int64_t hour, std::int64_t minute) {
    std::optional<std::string> description;
    // An existing claim is kept only while the machine still shows exactly what was installed.
    if (wakeScheduleClaimed()) {
        if (!readRepeatScheduleDescription(&description)) {
            failCommand("error.read_wake_schedule_failed");
            return false;
        }
        if (!currentScheduleMatchesAppOwned(description, appOwnedWakeSchedule())) {
            dropWakeScheduleClaim();
        }
    }
    // A schedule the application does not own is replaced only when the user says so.
    if (!wakeScheduleClaimed()) {
        if (!readRepeatScheduleDescription(&description)) {
            failCommand("error.read_wake_schedule_failed");
            return false;
        }
        if (!description->empty() && answeringRequest_) {
            requestRefusal_ = localized("dialog.existing_schedule.title") +
                              " Answer it from the menu; the existing schedule was kept.";
            failCommand("status.user_canceled_overwrite");
            return false;
        }
        if (!description->empty()) {
            Alert question;
            question.messageText = localized("dialog.existing_schedule.title");
            question.informativeText =
                localizedFormat("dialog.existing_schedule.body_format", {*description});
            question.buttons = {localized("button.overwrite"), localized("button.cancel")};
            if (platform_.alerts.runModal(question).code != kAlertFirstButtonReturn) {
                failCommand("status.user_canceled_overwrite");
                return false;
            }
        }
    }
    std::vector<std::string> pmsetArguments = {"repeat", tool_args::kRepeatWakeType,
                                               tool_args::kRepeatWakeDays,
                                               formatString("%02ld:%02ld:00", {hour, minute})};
    const TRBCommandResult result =
        runTool(platform_.toolPaths.sudo,
                tool_args::throughSudo(platform_.toolPaths.pmset, pmsetArguments));
    if (result.status != 0) {
        failCommand(failedForWantOfPermission(result) ? "error.need_pmset_permission_with_wake"
                                                      : "error.set_wake_failed");
        return false;
    }
    // The record keeps what pmset itself prints for the new event, never a text composed here.
    if (!readRepeatScheduleDescription(&description)) {
        failCommand("error.read_wake_schedule_failed");
        return false;
    }
    // A machine that shows no event after the change did not take it, whatever sudo said.
    if (description->empty()) {
        failCommand("error.set_wake_failed");
        return false;
    }
    installedWakeSchedule_ =
        DefaultsDictionary{{record_keys::kHour, hour},
                           {record_keys::kMinute, minute},
                           {record_keys::kWeekdays, std::string(tool_args::kRepeatWakeDays)},
                           {record_keys::kCanonical, *description}};
    keepWakeClaimOnFile();
    return true;
}

bool TRBController::ensureWakeEventForQuietHours() {
    std::optional<std::string> description;
    if (!readRepeatScheduleDescription(&description)) {
        setWakeScheduleError(localized("error.read_wake_schedule_failed"));
        return false;
    }
    // Any repeating event that wakes the machine or powers it on counts: one somebody else set is
    // theirs to keep. A schedule that only sleeps, shuts down or restarts ends no sleep, and it is
    // never replaced without a question, which a refresh does not ask.
    if (!description->empty()) {
        if (repeatingEventsWakeTheMachine(*description)) {
            return true;
        }
        setWakeScheduleError(localized("error.schedule_without_wake"));
        return false;
    }
    // The machine has no event, so a claim on one is out of date.
    if (wakeScheduleClaimed()) {
        dropWakeScheduleClaim();
    }
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    if (!parseTimeString(quietHoursEnd().value_or(""), &hour, &minute)) {
        setWakeScheduleError(localized("error.set_wake_failed"));
        return false;
    }
    if (!applyRepeatWakeAtHour(hour, minute)) {
        setWakeScheduleError(lastError().value_or(localized("error.set_wake_failed")));
        return false;
    }
    setWakeScheduleError(std::nullopt);
    return true;
}

bool TRBController::syncRepeatWakeSchedule() {
    return syncRepeatWakeScheduleFor(quietHoursEnabled(), quietHoursEnd());
}

bool TRBController::syncRepeatWakeScheduleFor(bool quietHoursOn,
                                              const std::optional<std::string>& end) {
    std::int64_t hour = 0;
    std::int64_t minute = 0;
    if (runMode() == RunMode::PowerAdapter && quietHoursOn &&
        parseTimeString(end.value_or(""), &hour, &minute)) {
        const bool installed = applyRepeatWakeAtHour(hour, minute);
        setWakeScheduleError(
            installed ? std::nullopt
                      : std::optional(lastError().value_or(localized("error.set_wake_failed"))));
        return installed;
    }
    const bool cancelled = cancelRepeatWake();
    if (cancelled) {
        setWakeScheduleError(std::nullopt);
    }
    return cancelled;
}

}  // namespace dorvane
