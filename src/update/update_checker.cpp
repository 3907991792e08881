#include "app/controller.h"
#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "base/text_lines.h"
#include "update/version_check.h"

namespace dorvane {

namespace {
constexpr auto kCheckInterval = std::chrono::seconds(86'400);
}  // namespace

void TRBController::startVersionCheckTimer() {
    if (versionCheckTimer() != nullptr) {
        versionCheckTimer()->cancel();
        setVersionCheckTimer(nullptr);
    }
    setVersionCheckTimer(platform_.mainQueue.startTimer(
        TimerSpec{kCheckInterval, kCheckInterval, std::chrono::seconds(60)},
        [weak = weak_from_this()] {
            if (const auto self = weak.lock()) {
                self->checkForUpdatesSilently(true);
            }
        }));
}

bool TRBController::preferEnglishContent() const {
    const std::vector<std::string> languages = platform_.locale.preferredLanguages();
    return languages.empty() || !asciiLower(languages.front()).starts_with("zh");
}

void TRBController::checkForUpdatesSilently(bool silent) {
    if (silent) {
        // A check stored in the future (the clock was set back) also counts as recent.
        const auto last = dateForKey(platform_.defaults, defaults_keys::kLastUpdateCheckAt);
        if (last && platform_.clock.now() - *last < kCheckInterval) {
            return;
        }
    }
    UrlRequest request;
    request.url = platform_.versionCheckURL;
    request.timeout = std::chrono::seconds(10);
    request.ignoreLocalCache = true;
    // The completion runs off the main thread: it only hands the outcome to the main queue.
    platform_.urlSession.dataTask(
        request,
        [weak = weak_from_this(), &mainQueue = platform_.mainQueue, silent](UrlResult result) {
            mainQueue.post([weak, silent, result = std::move(result)] {
                if (const auto self = weak.lock()) {
                    self->finishUpdateCheck(result, silent);
                }
            });
        });
}

void TRBController::finishUpdateCheck(const UrlResult& result, bool silent) {
    platform_.defaults.setObject(defaults_keys::kLastUpdateCheckAt, platform_.clock.now());
    const auto manifest = !result.error && result.body
                              ? parseUpdateManifest(*result.body, preferEnglishContent())
                              : std::nullopt;
    if (!manifest) {
        // A failed check changes nothing: an update found earlier stays offered.
        if (!silent) {
            showMessage(localized("update.check_failed.title"),
                        localized("update.check_failed.body"));
        }
        return;
    }
    const std::string local = platform_.bundle.shortVersion().value_or("1.0");
    if (compareVersions(local, manifest->version) < 0) {
        setLatestAvailableVersion(manifest->version);
        setLatestVersionURL(manifest->downloadURL);
        setLatestVersionChangelog(manifest->changelog);
        rebuildMenu();
        if (!silent) {
            showUpdateAlertWithVersion(manifest->version, manifest->changelog,
                                       manifest->downloadURL);
        }
        return;
    }
    setLatestAvailableVersion(std::nullopt);
    setLatestVersionURL(std::nullopt);
    setLatestVersionChangelog(std::nullopt);
    rebuildMenu();
    if (!silent) {
        showMessage(localized("update.no_update.title"),
                    localizedFormat("update.no_update.body_format", {local}));
    }
}

void TRBController::manualCheckForUpdates() {
    checkForUpdatesSilently(false);
}

void TRBController::openUpdatePage() {
    if (latestVersionURL() && !latestVersionURL()->empty()) {
        showUpdateAlertWithVersion(latestAvailableVersion().value_or(""),
                                   latestVersionChangelog().value_or(""), *latestVersionURL());
    }
}

void TRBController::showUpdateAlertWithVersion(const std::string& version,
                                               const std::string& changelog,
                                               const std::string& url) {
    platform_.application.activateIgnoringOtherApps();
    Alert alert;
    alert.messageText = localizedFormat("update.available_alert.title_format", {version});
    alert.informativeText =
        changelog.empty() ? localized("update.available_alert.body_fallback") : changelog;
    alert.buttons = {localized("update.button.download"), localized("update.button.later")};
    if (platform_.alerts.runModal(alert).code == kAlertFirstButtonReturn && !url.empty()) {
        platform_.workspace.openURL(url);
    }
}

}  // namespace dorvane
