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
    struct Case {
        const char* local;
        const char* remote;
        bool remoteNewer;
    };
    const Case cases[] = {
        {"1.9", "1.10", true},
        {"1.2", "1.2.1", true},
        {"1.2.0", "1.2", false},
        {"1.02", "1.2", false},
        {"1.99999999999999999999999999", "1.100000000000000000000000000", true},
        {"18446744073709551615", "18446744073709551616", true},
        {"1.0b", "1.0", false},
        {"1.0", "1.0b", true},
        {"", "0", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.local) + " vs " + c.remote);
        EXPECT_EQ(compareVersions(c.local, c.remote) < 0, c.remoteNewer);
        EXPECT_EQ(compareVersions(c.local, c.remote), -compareVersions(c.remote, c.local));
    }
}

TEST(VersionCompare, UsesOnlyTheLeadingVersion) {
    struct Case {
        const char* text;
        std::optional<std::string> want;
    };
    const Case cases[] = {
        {"1.2.3", "1.2.3"},     {"2.0-beta.1", "2.0"}, {"3.", "3"},
        {"v1.2", std::nullopt}, {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(leadingVersion(c.text), c.want);
    }
}

TEST(Manifest, ChoosesTheMembersForTheLanguageWithFallbacks) {
    struct Case {
        const char* what;
        std::string body;
        bool english;
        std::string changelog;
        std::string url;
    };
    const std::string all = R"({"version":"2.0","changelog_en":"en log","changelog_zh":"zh log",)"
                            R"("download_url_en":"https://x/en","download_url":"https://x/zh"})";
    // clang-format off
    const Case cases[] = {
        {"English, everything there", all, true, "en log", "https://x/en"},
        {"English without its own address", R"({"version":"2","download_url":"https://x/zh"})", true, "", "https://x/zh"},
        {"Chinese without its log", R"({"version":"2","changelog_en":"en log"})", false, "en log", ""},
        {"members of another type count as missing", R"({"version":"2","changelog_en":5,"download_url_en":["https://x"],"download_url":"https://x/zh"})", true, "", "https://x/zh"},
        {"an address that is no web address is none", R"({"version":"2","download_url_en":"file:///etc/passwd"})", true, "", ""},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto manifest = parseUpdateManifest(c.body, c.english);
        ASSERT_TRUE(manifest.has_value());
        EXPECT_EQ(manifest->changelog, c.changelog);
        EXPECT_EQ(manifest->downloadURL, c.url);
    }
}

struct CheckFixture {
    testing::TestPlatform test;
    std::shared_ptr<TRBController> controller = test.makeController();

    CheckFixture() {
        controller->setStatusItem(test.statusBar.createStatusItem());
        test.bundle.version = "1.2";
        test.bundle.texts["update.no_update.body_format"] = "you have %@";
        test.bundle.texts["update.available_alert.title_format"] = "%@ is out";
        test.bundle.texts["menu.update_available_format"] = "update %@";
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
    struct Case {
        const char* what;
        UrlResult result;
        std::optional<std::string> version;  // latestAvailableVersion afterwards
        const char* manualAlert;
    };
    const auto body = [](std::string text) { return UrlResult{std::move(text), std::nullopt}; };
    // clang-format off
    const Case cases[] = {
        {"transfer error", {std::nullopt, "timed out"}, "0.9", "update.check_failed.title"},
        {"error with a body", {std::string(R"({"version":"9"})"), "reset"}, "0.9", "update.check_failed.title"},
        {"not JSON", body("<html>"), "0.9", "update.check_failed.title"},
        {"version with a leading letter", body(R"({"version":"v1.3"})"), "0.9", "update.check_failed.title"},
        {"a body past the bound", body(R"({"version":"1.3","pad":")" + std::string(1024 * 1024, 'x') + "\"}"), "0.9", "update.check_failed.title"},
        {"the same version", body(R"({"version":"1.2"})"), std::nullopt, "update.no_update.title"},
        {"a newer version with a suffix", body(R"({"version":"1.10-rc1","download_url_en":"https://d"})"), "1.10", "1.10 is out"},
    };
    // clang-format on
    for (const auto& c : cases) {
        for (const bool silent : {true, false}) {
            SCOPED_TRACE(std::string(c.what) + (silent ? ", silent" : ", manual"));
            CheckFixture f;
            f.controller->setLatestAvailableVersion("0.9");  // found by an earlier check
            f.controller->setLatestVersionURL("https://old");
            silent ? f.controller->checkForUpdatesSilently(true)
                   : f.controller->manualCheckForUpdates();
            f.answer(c.result);
            EXPECT_EQ(dateForKey(f.test.defaults, keys::kLastUpdateCheckAt), f.test.clock.now())
                << "every outcome";
            EXPECT_EQ(f.controller->latestAvailableVersion(), c.version);
            if (silent) {
                EXPECT_TRUE(f.test.alerts.shown.empty());
            } else {
                ASSERT_EQ(f.test.alerts.shown.size(), 1u);
                EXPECT_EQ(f.test.alerts.shown[0].messageText, c.manualAlert);
            }
            const bool newer = c.version && *c.version != "0.9";
            const bool failed = c.version && *c.version == "0.9";
            EXPECT_EQ(std::count(f.test.application.calls.begin(), f.test.application.calls.end(),
                                 "activate"),
                      !silent && newer ? 1 : 0)
                << "only the update alert comes to the front";
            if (!failed) {
                EXPECT_EQ(f.menuOffersUpdate(), newer) << "the menu was rebuilt";
            }
        }
    }
}

TEST(UpdateCheck, TheAlertsSayWhatWasFound) {
    CheckFixture f;
    f.test.alerts.script.push_back({kAlertFirstButtonReturn, {}});
    f.controller->manualCheckForUpdates();
    f.answer(
        {std::string(
             R"({"version":"2.0","changelog_en":"faster","download_url_en":"https://dorvane.app/d"})"),
         std::nullopt});
    const Alert& alert = f.test.alerts.shown.at(0);
    EXPECT_EQ(alert.informativeText, "faster");
    EXPECT_EQ(f.test.workspace.opened, std::vector<std::string>{"https://dorvane.app/d"});
    EXPECT_EQ(f.test.statusBar.lastCreated->menu->items[0].title, "update 2.0");

    CheckFixture noChange;
    noChange.controller->manualCheckForUpdates();
    noChange.answer({std::string(R"({"version":"1.2"})"), std::nullopt});
    EXPECT_EQ(noChange.test.alerts.shown.at(0).informativeText, "you have 1.2");

    CheckFixture noVersion;
    noVersion.test.bundle.version.reset();
    noVersion.controller->manualCheckForUpdates();
    noVersion.answer({std::string(R"({"version":"1.0"})"), std::nullopt});
    EXPECT_EQ(noVersion.test.alerts.shown.at(0).informativeText, "you have 1.0")
        << "a bundle without a version is 1.0";
}

TEST(UpdateCheck, TheUpdateRowOpensTheAlertOnlyWithAnAddress) {
    struct Case {
        const char* what;
        std::string body;
        int answer;
        std::vector<std::string> opened;
        int alerts;
    };
    // clang-format off
    const Case cases[] = {
        {"address, download", R"({"version":"2","download_url_en":"https://d"})", kAlertFirstButtonReturn, {"https://d"}, 1},
        {"address, later", R"({"version":"2","download_url_en":"https://d"})", kAlertSecondButtonReturn, {}, 1},
        {"no address: the row does nothing", R"({"version":"2"})", kAlertFirstButtonReturn, {}, 0},
    };
    // clang-format on
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CheckFixture f;
        f.controller->checkForUpdatesSilently(true);
        f.answer({c.body, std::nullopt});
        ASSERT_TRUE(f.menuOffersUpdate()) << "the row is shown either way";
        f.test.alerts.script.push_back({c.answer, {}});
        const MenuItem& row = f.test.statusBar.lastCreated->menu->items[0];
        row.action(row);
        EXPECT_EQ(static_cast<int>(f.test.alerts.shown.size()), c.alerts);
        EXPECT_EQ(f.test.workspace.opened, c.opened);
    }
}

TEST(UpdateCheck, SilentChecksAreThrottledToOneADay) {
    struct Case {
        const char* what;
        std::optional<std::chrono::seconds> since;
        bool silentRequests;
    };
    const Case cases[] = {
        {"never checked", std::nullopt, true},
        {"23:59 ago", 23h + 59min, false},
        {"24 hours ago", 24h, true},
        {"the clock was set back", -5min, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CheckFixture f;
        if (c.since) {
            f.test.defaults.values[keys::kLastUpdateCheckAt] = f.test.clock.now() - *c.since;
        }
        f.controller->checkForUpdatesSilently(true);
        EXPECT_EQ(f.test.urlSession.requests.size(), c.silentRequests ? 1u : 0u);
        f.controller->manualCheckForUpdates();
        EXPECT_EQ(f.test.urlSession.requests.size(), c.silentRequests ? 2u : 1u)
            << "manual checks never wait";
        f.answer({std::nullopt, "offline"});
        EXPECT_EQ(dateForKey(f.test.defaults, keys::kLastUpdateCheckAt), f.test.clock.now())
            << "and restart the throttle";
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
    f.test.mainQueue.drain();  // the controller is gone: nothing happens, nothing crashes
    EXPECT_TRUE(f.test.alerts.shown.empty());
}

TEST(UpdateCheck, LanguageComesFromTheFirstPreferredLanguage) {
    struct Case {
        std::vector<std::string> languages;
        bool english;
    };
    const Case cases[] = {{{"zh-Hant-TW", "en"}, false},
                          {{"ZH-hans"}, false},
                          {{"en-GB", "zh-Hans"}, true},
                          {{}, true},
                          {{"de"}, true}};
    for (const auto& c : cases) {
        CheckFixture f;
        f.test.locale.languages = c.languages;
        EXPECT_EQ(f.controller->preferEnglishContent(), c.english);
    }
}

}  // namespace
}  // namespace dorvane
