#include <gtest/gtest.h>

#include "app/defaults_access.h"
#include "app/defaults_keys.h"
#include "support/fakes.h"
#include "update/version_check.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;
namespace keys = defaults_keys;

TEST(VersionCompare, OrdersAsTheNumericSearchDoes) {
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"1.9", "1.10", true},
        {"1.2", "1.2.1", true},
        {"1.2.0", "1.2", false},
        {"1.02", "1.2", false},
        {"1.99999999999999999999999999", "1.100000000000000000000000000", true},
        {"18446744073709551615", "18446744073709551616", true},
        {"1.0", "1.0b", true},
        {"", "0", true},
    };
    for (const auto& [local, remote, remoteNewer] : cases) {
        SCOPED_TRACE(std::string(local) + " vs " + remote);
        EXPECT_EQ(compareVersions(local, remote) < 0, remoteNewer);
        EXPECT_EQ(compareVersions(local, remote), -compareVersions(remote, local));
    }
}

// English unless the first preferred language is some Chinese.
TEST(Manifest, ChoosesTheMembersForTheFirstPreferredLanguageWithFallbacks) {
    const std::string all = R"({"version":"2.0","changelog_en":"en log","changelog_zh":"zh log",)"
                            R"("download_url_en":"https://x/en","download_url":"https://x/zh"})";
    // clang-format off
    const std::tuple<const char*, std::string, std::vector<std::string>, std::string, std::string> cases[] = {
        {"English, everything there", all, {"en-GB", "zh-Hans"}, "en log", "https://x/en"},
        {"no preferred language", all, {}, "en log", "https://x/en"},
        {"another language", all, {"de"}, "en log", "https://x/en"},
        {"Chinese in other capitals", all, {"ZH-hans"}, "zh log", "https://x/zh"},
        {"Chinese in another script, then English", all, {"zh-Hant-TW", "en"}, "zh log", "https://x/zh"},
        {"English without its own address", R"({"version":"2","download_url":"https://x/zh"})", {"en-US"}, "", "https://x/zh"},
        {"Chinese without its log", R"({"version":"2","changelog_en":"en log"})", {"zh-Hans"}, "en log", ""},
        {"members of another type count as missing", R"({"version":"2","changelog_en":5,"download_url_en":["https://x"],"download_url":"https://x/zh"})", {"en"}, "", "https://x/zh"},
        {"an address that is no web address is none", R"({"version":"2","download_url_en":"file:///etc/passwd"})", {"en"}, "", ""},
    };
    // clang-format on
    for (const auto& [what, body, languages, changelog, url] : cases) {
        SCOPED_TRACE(what);
        testing::TestPlatform test;
        test.locale.languages = languages;
        const auto manifest =
            parseUpdateManifest(body, test.makeController()->preferEnglishContent());
        ASSERT_TRUE(manifest.has_value());
        EXPECT_EQ(manifest->changelog, changelog);
        EXPECT_EQ(manifest->downloadURL, url);
    }
}

struct CheckFixture {
    testing::TestPlatform test;
    std::shared_ptr<TRBController> controller = test.makeController();

    CheckFixture() {
        controller->setStatusItem(test.statusBar.createStatusItem());
        test.bundle.version = "1.2";
        test.bundle.texts["update.available_alert.title_format"] = "%@ is out";
    }
    // Answers the latest request as the transfer would, then lets the main queue run.
    void answer(UrlResult result) {
        ASSERT_FALSE(test.urlSession.completions.empty());
        test.urlSession.completions.back()(std::move(result));
        EXPECT_TRUE(test.alerts.shown.empty()) << "nothing happens before the main queue runs";
        test.mainQueue.drain();
    }
    bool menuOffersUpdate() const {
        const Menu& menu = *test.statusBar.lastCreated->menu;
        return !menu.items.empty() && menu.items[0].bold;
    }
};

TEST(UpdateCheck, EveryOutcomeSilentAndManual) {
    const auto body = [](std::string text) { return UrlResult{std::move(text), std::nullopt}; };
    // clang-format off
    const std::tuple<const char*, UrlResult, std::optional<std::string>, const char*> cases[] = {
        {"transfer error", {std::nullopt, "timed out"}, "0.9", "update.check_failed.title"},
        {"error with a body", {std::string(R"({"version":"9"})"), "reset"}, "0.9", "update.check_failed.title"},
        {"not JSON", body("<html>"), "0.9", "update.check_failed.title"},
        {"version with a leading letter", body(R"({"version":"v1.3"})"), "0.9", "update.check_failed.title"},
        {"a body padded to the bound", body(R"({"version":"1.3","pad":")" + std::string(kMaxManifestBytes - 26, 'x') + "\"}"), "1.3", "1.3 is out"},
        {"a body a byte past it", body(R"({"version":"1.3","pad":")" + std::string(kMaxManifestBytes - 25, 'x') + "\"}"), "0.9", "update.check_failed.title"},
        {"the same version", body(R"({"version":"1.2"})"), std::nullopt, "update.no_update.title"},
        {"a newer version with a suffix", body(R"({"version":"1.10-rc1","download_url_en":"https://d"})"), "1.10", "1.10 is out"},
        {"a newer version without an address", body(R"({"version":"2"})"), "2", "2 is out"},
        {"a trailing dot is no part of the version", body(R"({"version":"3."})"), "3", "3 is out"},
        {"nor is what follows the numbers", body(R"({"version":"3.x"})"), "3", "3 is out"},
        {"an empty version", body(R"({"version":""})"), "0.9", "update.check_failed.title"},
    };
    // clang-format on
    for (const auto& [what, result, version, manualAlert] : cases) {
        for (const bool silent : {true, false}) {
            SCOPED_TRACE(std::string(what) + (silent ? ", silent" : ", manual"));
            CheckFixture f;
            f.controller->setLatestAvailableVersion("0.9");  // found by an earlier check
            f.controller->setLatestVersionURL("https://old");
            f.test.alerts.script.resize(silent ? 0 : 1);
            silent ? f.controller->checkForUpdatesSilently(true)
                   : f.controller->manualCheckForUpdates();
            f.answer(result);
            EXPECT_EQ(dateForKey(f.test.defaults, keys::kLastUpdateCheckAt), f.test.clock.now())
                << "every outcome";
            EXPECT_EQ(f.controller->latestAvailableVersion(), version);
            if (!silent) {
                ASSERT_EQ(f.test.alerts.shown.size(), 1u);
                EXPECT_EQ(f.test.alerts.shown[0].messageText, manualAlert);
            }
            const bool newer = version && *version != "0.9";
            const bool failed = version && *version == "0.9";
            EXPECT_EQ(f.test.application.activations, !silent && newer ? 1 : 0)
                << "only the update alert comes to the front";
            EXPECT_TRUE(f.test.workspace.opened.empty() || !f.test.workspace.opened[0].empty())
                << "only a real address";
            if (!failed) {
                EXPECT_EQ(f.menuOffersUpdate(), newer) << "the menu was rebuilt";
            }
        }
    }
}

TEST(UpdateCheck, TheUpdateRowOpensTheAlertOnlyWithAnAddress) {
    // clang-format off
    const std::tuple<const char*, std::string, int, std::vector<std::string>, int> cases[] = {
        {"address, download", R"({"version":"2","download_url_en":"https://d"})", kAlertFirstButtonReturn, {"https://d"}, 1},
        {"address, later", R"({"version":"2","download_url_en":"https://d"})", kAlertSecondButtonReturn, {}, 1},
        {"no address: the row does nothing", R"({"version":"2"})", kAlertFirstButtonReturn, {}, 0},
    };
    // clang-format on
    for (const auto& [what, body, answer, opened, alerts] : cases) {
        SCOPED_TRACE(what);
        CheckFixture f;
        f.controller->checkForUpdatesSilently(true);
        f.answer({body, std::nullopt});
        ASSERT_TRUE(f.menuOffersUpdate()) << "the row is shown either way";
        f.test.alerts.script.push_back({answer, {}});
        const MenuItem& row = f.test.statusBar.lastCreated->menu->items[0];
        row.action(row);
        EXPECT_EQ(static_cast<int>(f.test.alerts.shown.size()), alerts);
        EXPECT_EQ(f.test.workspace.opened, opened);
    }
}

TEST(UpdateCheck, SilentChecksAreThrottledToOneADay) {
    const std::tuple<const char*, std::optional<std::chrono::seconds>, bool> cases[] = {
        {"never checked", std::nullopt, true},
        {"23:59 ago", 23h + 59min, false},
        {"24 hours ago", 24h, true},
        {"the clock was set back", -5min, false},
    };
    for (const auto& [what, since, silentRequests] : cases) {
        SCOPED_TRACE(what);
        CheckFixture f;
        if (since) {
            f.test.defaults.values[keys::kLastUpdateCheckAt] = f.test.clock.now() - *since;
        }
        f.controller->checkForUpdatesSilently(true);
        EXPECT_EQ(f.test.urlSession.requests.size(), silentRequests ? 1u : 0u);
        f.controller->manualCheckForUpdates();
        EXPECT_EQ(f.test.urlSession.requests.size(), silentRequests ? 2u : 1u)
            << "manual checks never wait";
    }
}

TEST(UpdateCheck, TheDailyTimerChecksSilentlyAndHoldsTheControllerWeakly) {
    CheckFixture f;
    f.controller->startVersionCheckTimer();
    f.test.mainQueue.advance(24h);
    ASSERT_EQ(f.test.urlSession.requests.size(), 1u);
    f.answer({std::nullopt, "offline"});
    // An answer that came in late makes the next firing too early for a silent check.
    f.test.clock.current += 24h;
    f.test.defaults.values[keys::kLastUpdateCheckAt] = f.test.clock.now() - 1h;
    f.test.mainQueue.advance(24h);
    EXPECT_EQ(f.test.urlSession.requests.size(), 1u);

    const auto handler = f.test.mainQueue.timers.back()->handler;
    auto completion = f.test.urlSession.completions.back();
    f.controller.reset();
    handler();
    completion({std::string(R"({"version":"9"})"), std::nullopt});
    f.test.mainQueue.drain();  // the controller is gone: nothing happens, no alert, no crash
}

}  // namespace
}  // namespace dorvane
