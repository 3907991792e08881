#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/date_formatter.h"
#include "app/types.h"
#include "base/format.h"
#include "platform/menu.h"
#include "platform/platform.h"
#include "system/tools.h"

namespace dorvane {

// The period of the quiet-hours timer for a stored interval in minutes: 30 below 1, saturated
// where it would overflow.
std::chrono::nanoseconds quietHoursTimerPeriod(std::int64_t intervalMinutes);

class TRBController;
struct ControlRequest;

// Whether the thermal guard holds after a reading of the thermal state, the power source and the
// lid, given whether it held before: it starts at critical, or at serious with the lid closed on
// battery, and ends only at nominal or fair; any other reading (serious elsewhere, unknown, a
// power source or lid that cannot be read) leaves it as it was.
bool thermalGuardHolds(ThermalState thermal, PowerSource power, std::optional<bool> lidClosed,
                       bool held);

// The launch agent's label: the application's bundle identifier.
inline constexpr const char* TRBLaunchAgentLabel = "com.dorvane.Dorvane";
// The power-source change callback: the context is the controller.
void TRBPowerSourceChanged(void* context);
// The system-power callback: the reference is the controller.
void TRBSystemPowerCallback(void* refCon, std::uint32_t service, std::uint32_t messageType,
                            void* messageArgument);

// The application's one controller and delegate: it owns every piece of state and performs every
// operation. Its operations are defined across src/ by subsystem. It runs on the main thread only.
class TRBController : public std::enable_shared_from_this<TRBController> {
public:
    explicit TRBController(Platform platform) : platform_(platform) {}
    TRBController(const TRBController&) = delete;
    TRBController& operator=(const TRBController&) = delete;

    // ---- State, in declared order; the setters only store. ----
    StatusItem* statusItem() const { return statusItem_.get(); }
    void setStatusItem(std::unique_ptr<StatusItem> item) { statusItem_ = std::move(item); }
    const std::optional<DateFormatter>& dateFormatter() const { return dateFormatter_; }
    void setDateFormatter(std::optional<DateFormatter> formatter) {
        dateFormatter_ = std::move(formatter);
    }
    bool isQuitting() const { return isQuitting_; }
    void setIsQuitting(bool quitting) { isQuitting_ = quitting; }
    RunMode runMode() const { return runMode_; }
    void setRunMode(RunMode mode) { runMode_ = mode; }
    PowerSource powerSource() const { return powerSource_; }
    void setPowerSource(PowerSource source) { powerSource_ = source; }
    std::optional<bool> sleepDisabled() const { return sleepDisabled_; }
    void setSleepDisabled(std::optional<bool> disabled) { sleepDisabled_ = disabled; }
    // The internal battery's charge in percent, read with the power source; absent when unknown.
    std::optional<std::int64_t> batteryCharge() const { return batteryCharge_; }
    void setBatteryCharge(std::optional<std::int64_t> charge) { batteryCharge_ = charge; }
    std::optional<bool> clamshellClosed() const { return clamshellClosed_; }
    void setClamshellClosed(std::optional<bool> closed) { clamshellClosed_ = closed; }
    // Whether the battery floor was reached and has not been left since (see batteryFloorReached).
    bool batteryFloorHeld() const { return batteryFloorHeld_; }
    void setBatteryFloorHeld(bool held) { batteryFloorHeld_ = held; }
    ThermalState thermalState() const { return thermalState_; }
    void setThermalState(ThermalState state) { thermalState_ = state; }
    // Whether the thermal guard lets the machine sleep (see thermalGuardHolds).
    bool thermalGuardHeld() const { return thermalGuardHeld_; }
    void setThermalGuardHeld(bool held) { thermalGuardHeld_ = held; }
    const std::optional<std::string>& lastMessage() const { return lastMessage_; }
    void setLastMessage(std::optional<std::string> message) { lastMessage_ = std::move(message); }
    const std::optional<std::string>& lastError() const { return lastError_; }
    void setLastError(std::optional<std::string> error) { lastError_ = std::move(error); }
    const std::optional<std::string>& wakeScheduleError() const { return wakeScheduleError_; }
    void setWakeScheduleError(std::optional<std::string> error) {
        wakeScheduleError_ = std::move(error);
    }
    bool quietHoursEnabled() const { return quietHoursEnabled_; }
    void setQuietHoursEnabled(bool enabled) { quietHoursEnabled_ = enabled; }
    const std::optional<std::string>& quietHoursStart() const { return quietHoursStart_; }
    void setQuietHoursStart(std::optional<std::string> start) {
        quietHoursStart_ = std::move(start);
    }
    const std::optional<std::string>& quietHoursEnd() const { return quietHoursEnd_; }
    void setQuietHoursEnd(std::optional<std::string> end) { quietHoursEnd_ = std::move(end); }
    std::int64_t quietHoursIntervalMinutes() const { return quietHoursIntervalMinutes_; }
    void setQuietHoursIntervalMinutes(std::int64_t minutes) {
        quietHoursIntervalMinutes_ = minutes;
    }
    bool wasEffectiveQuietHours() const { return wasEffectiveQuietHours_; }
    void setWasEffectiveQuietHours(bool effective) { wasEffectiveQuietHours_ = effective; }
    TimerSource* quietHoursTimer() const { return quietHoursTimer_.get(); }
    void setQuietHoursTimer(std::unique_ptr<TimerSource> timer) {
        quietHoursTimer_ = std::move(timer);
    }
    const std::optional<Date>& lastUpdated() const { return lastUpdated_; }
    void setLastUpdated(std::optional<Date> updated) { lastUpdated_ = updated; }
    RunLoopSource* powerSourceRunLoopSource() const { return powerSourceRunLoopSource_; }
    void setPowerSourceRunLoopSource(RunLoopSource* source) { powerSourceRunLoopSource_ = source; }
    const std::optional<std::string>& latestAvailableVersion() const {
        return latestAvailableVersion_;
    }
    void setLatestAvailableVersion(std::optional<std::string> version) {
        latestAvailableVersion_ = std::move(version);
    }
    const std::optional<std::string>& latestVersionURL() const { return latestVersionURL_; }
    void setLatestVersionURL(std::optional<std::string> url) { latestVersionURL_ = std::move(url); }
    const std::optional<std::string>& latestVersionChangelog() const {
        return latestVersionChangelog_;
    }
    void setLatestVersionChangelog(std::optional<std::string> log) {
        latestVersionChangelog_ = std::move(log);
    }
    TimerSource* versionCheckTimer() const { return versionCheckTimer_.get(); }
    void setVersionCheckTimer(std::unique_ptr<TimerSource> timer) {
        versionCheckTimer_ = std::move(timer);
    }
    std::uint32_t powerNotificationRootPort() const { return powerNotificationRootPort_; }
    void setPowerNotificationRootPort(std::uint32_t port) { powerNotificationRootPort_ = port; }
    NotificationPort* powerNotificationPort() const { return powerNotificationPort_; }
    void setPowerNotificationPort(NotificationPort* port) { powerNotificationPort_ = port; }
    std::uint32_t powerNotifier() const { return powerNotifier_; }
    void setPowerNotifier(std::uint32_t notifier) { powerNotifier_ = notifier; }

    // ---- Texts ----
    // The text for a key in the user's language, looked up at the moment of use.
    std::string localized(const std::string& key) const;
    // A format text from the table with its typed arguments substituted.
    std::string localizedFormat(const std::string& key,
                                std::initializer_list<FormatArgument> arguments) const;

    // ---- Power state probes ----
    PowerSource readPowerSource();
    std::optional<bool> readSleepDisabled();
    std::optional<bool> readClamshellClosed();

    // ---- Start-up, power events and shut-down ----
    void applicationDidFinishLaunching();
    void applicationWillTerminate();
    void workspaceDidWake();
    void handleWakeEvent(const std::string& reason);

    // ---- Restore and quit ----
    void restoreAndQuit();

    // ---- Sleep switch and privilege ----
    bool applySleepDisabled(bool disabled);
    // Writes the record that we set the switch; false when it cannot be written.
    bool recordSleepSwitchSet();
    // Removes the record once normal sleep is restored.
    void forgetSleepSwitchSet();
    // True when the sleep request was made.
    bool requestSystemSleep();
    void copyPermissionCommand();

    // ---- Quiet hours settings and window ----
    static constexpr const char* kDefaultQuietStart = "00:00";
    static constexpr const char* kDefaultQuietEnd = "07:00";
    static constexpr std::int64_t kDefaultQuietIntervalMinutes = 30;
    void loadQuietHoursState();
    void saveQuietHoursState();
    // True when text is a valid time of day; the hour and minute go to whichever places are given.
    bool parseTimeString(const std::string& text, std::int64_t* hour, std::int64_t* minute) const;
    bool isInQuietHours() const;

    // ---- Repeat wake schedule ----
    bool readRepeatScheduleDescription(std::optional<std::string>* description);
    bool currentScheduleMatchesAppOwned(const std::optional<std::string>& description,
                                        const std::optional<DefaultsDictionary>& record) const;
    bool cancelRepeatWake();
    bool applyRepeatWakeAtHour(std::int64_t hour, std::int64_t minute);
    bool syncRepeatWakeSchedule();
    // Checks, as quiet hours begin, that something will wake the machine at their end, and sets
    // the application's event again when the machine has no repeating event at all. False, with
    // the reason in wakeScheduleError, when that cannot be made sure of.
    bool ensureWakeEventForQuietHours();

    // ---- Quiet hours timer and commands ----
    void startQuietHoursTimer();
    void setQuietHoursOff();
    void setQuietHoursOn();

    // ---- Quiet hours dialogs ----
    void showQuietHoursDialog();
    void showQuietHoursIntervalDialog();

    // ---- Refresh cycle and sleep policy ----
    void refreshWithApplyChange(bool apply);
    std::optional<bool> desiredSleepDisabled() const;
    std::string runModeLabel() const;
    std::string currentModeMessage() const;
    std::string appliedMessageForDesiredSleepDisabled(bool disabled) const;
    // The charge at or below which run mode 1 lets a machine on battery sleep; 0 turns it off.
    static constexpr std::int64_t kDefaultBatteryFloorPercent = 10;
    static constexpr std::int64_t kMaximumBatteryFloorPercent = 50;
    // How far above the floor the charge must climb on battery before the floor lets go: a gauge
    // wobbles by a point or two around any level, and each wobble across the floor would
    // otherwise set and clear the switch. Three points is more than the wobble and well short of
    // a charge that could not last.
    static constexpr std::int64_t kBatteryFloorReleaseMargin = 3;
    std::int64_t batteryFloorPercent() const;
    // True on battery with a charge read at or below a floor that is on, and, once so, until the
    // charge is read the release margin above the floor or the adapter is read back: a power
    // reading that failed, or that shows no charge, keeps the hold.
    bool batteryFloorReached() const;
    // Off only when the setting is a deliberate false or 0: anything else keeps the guard.
    bool thermalGuardEnabled() const;

    // ---- Status item and labels ----
    void updateStatusItem();
    std::string powerSourceLabel() const;
    std::string clamshellLabel() const;
    std::string sleepLabel() const;

    // ---- Menu and mode commands ----
    void rebuildMenu();
    void addDisabledItem(const std::string& title, Menu& menu);
    void addModeItemWithTitle(const std::string& title, RunMode mode, Menu& menu);
    void selectRunMode(const MenuItem& sender);
    void refreshNow();

    // ---- Launch at login ----
    std::string launchAgentPath() const;
    std::string launchAgentProgramPath() const;
    bool isLaunchAtLoginEnabled() const;
    // On failure answers false with the system's description of the error in error.
    bool setLaunchAtLoginEnabled(bool enabled, std::string* error);
    // The second, tiny launch agent that runs the fail-safe check at login, written when missing
    // or when it names another copy of the application: it clears a switch left set by a power
    // loss while launch at login is off.
    std::string failSafeLaunchAgentPath() const;
    void ensureFailSafeLaunchAgent();
    void toggleLaunchAtLogin(const MenuItem& sender);
    // At start-up: an agent that names another copy of the application is written again for this
    // one, unless this one is gone by the next login (on a disk image, or translocated), which is
    // said instead when the agent would start nothing.
    void keepLaunchAgentCurrent();

    // ---- Update check ----
    void startVersionCheckTimer();
    bool preferEnglishContent() const;
    void checkForUpdatesSilently(bool silent);
    void manualCheckForUpdates();
    void openUpdatePage();
    void showUpdateAlertWithVersion(const std::string& version, const std::string& changelog,
                                    const std::string& url);

    // ---- Control from outside ----
    // Performs a request of the control socket, command line or URL scheme as the menu's command
    // would, without ever opening an alert, and answers with one JSON line (no line end). While
    // an alert is open only status is answered: the person at the screen is asked something.
    std::string answerControlRequest(const ControlRequest& request, bool alertOpen);
    // A timed hold keeps the machine awake as run mode 1 does until a wall-clock deadline, then
    // leaves the run mode as it was. It is policy only and not stored: the switch record and the
    // guardian cover a process that dies while it lasts.
    void startHold(Date deadline);
    void endHold();
    bool holdInForce() const;
    const std::optional<Date>& holdDeadline() const { return holdDeadline_; }
    // Whether the policy keeps the machine awake on battery too: run mode 1, or a hold.
    bool keepsAwakeOnBattery() const;
    // What the menu's status row says.
    std::string statusRowText() const;

    // ---- Alerts ----
    // A modal alert with a title, a body and one confirming button.
    void showMessage(const std::string& title, const std::optional<std::string>& text);
    // The main menu: quit through the restore path, and the text-editing commands.
    void installEditMenu();

private:
    friend void TRBPowerSourceChanged(void* context);
    friend void TRBSystemPowerCallback(void* refCon, std::uint32_t service,
                                       std::uint32_t messageType, void* messageArgument);

    // Brings the application forward and runs a dialog with Save and Cancel around the fields.
    AlertResponse runDialog(const char* titleKey, const char* bodyKey, AccessoryView accessory);
    // Processes the answer of one update check on the main thread.
    void finishUpdateCheck(const UrlResult& result, bool silent);
    // Cancels and drops both timers.
    void cancelTimers();
    // Says that run mode 1 lets the machine sleep because of the battery's charge.
    std::string batteryFloorMessage() const;
    // Changes the switch and reads it back; false when the change failed or did not take.
    bool applySleepDisabledAndReadBack(bool disabled);
    // Turns the switch off ahead of a sleep request; true when it now reads off.
    bool turnSleepSwitchOffBeforeSleeping();
    // Reads the thermal state and carries the guard's hold over to it.
    void readThermalState();
    // Puts the machine to sleep at once when the lid is closed and it must not stay awake: on
    // battery in run mode 0 or at the battery floor, or while the thermal guard holds.
    void sleepWithLidClosedWhenDue();
    // Turns the panel off once per lid closing while the machine is kept awake on battery.
    void turnDisplayOffBehindClosedLid();
    // The reason shown when the wake event for switched-on quiet hours could not be set.
    std::string wakeFailureReason() const;
    // Switches quiet hours on with this window once its wake event is set, or off with the
    // window they had when the event cannot be set.
    void switchQuietHoursOnOrFallBack(const std::string& start, const std::string& end);
    // Switches quiet hours off with the window they had, saves, refreshes and says why: the one
    // way back when the wake event for switched-on quiet hours cannot be set.
    void fallBackFromQuietHours(const std::optional<std::string>& start,
                                const std::optional<std::string>& end);
    // Tells the user that the wake event could not be removed, with the reason.
    void showWakeEventLeftBehind();
    // Sets or removes the wake event for quiet hours switched on or off with this end time,
    // leaving the reason of a failure in wakeScheduleError.
    bool syncRepeatWakeScheduleFor(bool quietHoursOn, const std::optional<std::string>& end);
    // From the moment Quit is chosen until the application ends or the quit is given up.
    bool quitUnderWay() const { return isQuitting() || quitChosen_; }
    // Runs a system tool, noting a run abandoned for a termination that waits.
    TRBCommandResult runTool(const std::string& program, const std::vector<std::string>& arguments);
    MenuAction actionCalling(void (TRBController::*operation)());
    void addActionItem(const std::string& title, void (TRBController::*operation)(), Menu& menu,
                       const std::string& keyEquivalent = {});
    MenuItem quietHoursMenuItem();

    // A launch agent file's dictionary; absent when it cannot be read as one.
    std::optional<PlistDictionary> readLaunchAgent(const std::string& path) const;
    bool wakeScheduleClaimed() const;
    std::optional<DefaultsDictionary> appOwnedWakeSchedule() const;
    void dropWakeScheduleClaim();
    // Writes the claim on the event this run installed back to the settings when they lack it.
    void keepWakeClaimOnFile();
    // Records a failed command's reason in both message properties.
    void failCommand(const std::string& key);

    Platform platform_;

    std::unique_ptr<StatusItem> statusItem_;
    std::optional<DateFormatter> dateFormatter_;
    bool isQuitting_ = false;
    RunMode runMode_ = RunMode::PowerAdapter;
    PowerSource powerSource_ = PowerSource::AC;
    std::optional<bool> sleepDisabled_;
    std::optional<std::int64_t> batteryCharge_;
    std::optional<bool> clamshellClosed_;
    bool batteryFloorHeld_ = false;
    ThermalState thermalState_ = ThermalState::Unknown;
    bool thermalGuardHeld_ = false;
    std::optional<std::string> lastMessage_;
    std::optional<std::string> lastError_;
    std::optional<std::string> wakeScheduleError_;
    bool quietHoursEnabled_ = false;
    std::optional<std::string> quietHoursStart_;
    std::optional<std::string> quietHoursEnd_;
    std::int64_t quietHoursIntervalMinutes_ = 0;
    bool wasEffectiveQuietHours_ = false;
    std::unique_ptr<TimerSource> quietHoursTimer_;
    std::optional<Date> lastUpdated_;
    RunLoopSource* powerSourceRunLoopSource_ = nullptr;
    std::optional<std::string> latestAvailableVersion_;
    std::optional<std::string> latestVersionURL_;
    std::optional<std::string> latestVersionChangelog_;
    std::unique_ptr<TimerSource> versionCheckTimer_;
    std::uint32_t powerNotificationRootPort_ = 0;
    NotificationPort* powerNotificationPort_ = nullptr;
    std::uint32_t powerNotifier_ = 0;
    // A refresh for a power-source change waits on the main queue; further changes fold into it.
    bool powerSourceRefreshQueued_ = false;
    // Quit was chosen and its alerts may still be open: the policy wants normal sleep meanwhile.
    bool quitChosen_ = false;
    // The wake check at the beginning of the current quiet hours failed: nothing would end a
    // sleep, so the switch stays as it would outside quiet hours until the window ends.
    bool quietHoursWithoutWakeEvent_ = false;
    // A tool run was abandoned because a termination waits: what failed then is no failure of the
    // machine's, so no setting is changed and no alert opened for it.
    bool terminationPending_ = false;
    // The switch as this application last set it or read it back at the end of a refresh: a
    // reading that differs was changed by someone else.
    std::optional<bool> sleepSwitchLastKnown_;
    // The panel was turned off since the lid was last read open.
    bool displayOffForThisLidClosing_ = false;
    // The record of the wake event this run installed, until its claim is dropped.
    std::optional<DefaultsDictionary> installedWakeSchedule_;
    // The hold's deadline and the timer that ends it on time; a refresh or wake past the deadline
    // ends it too, since the monotonic timer does not see the wall clock move.
    std::optional<Date> holdDeadline_;
    std::unique_ptr<TimerSource> holdTimer_;
    void armHoldTimer();
    // Says until when the hold keeps the machine awake.
    std::string holdMessage() const;
    // While a request from outside runs, what would have opened an alert is kept here instead.
    bool answeringRequest_ = false;
    std::optional<std::string> requestRefusal_;
    // The status as a JSON text, with this error or none.
    std::string controlAnswer(const std::optional<std::string>& error) const;
};

}  // namespace dorvane
