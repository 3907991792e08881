#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "platform/curl/curl_url_session.h"
#include "support/fakes.h"
#include "support/https_server.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;

const char* const kManifest =
    R"({"version":"9.1","changelog_en":"new","download_url_en":"https://dorvane.app/d"})";

struct ServerFixture {
    std::string folder;
    std::unique_ptr<testing::HttpsServer> server;
    std::unique_ptr<testing::HttpsServer> other;  // a second origin, for redirects

    ServerFixture() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "dorvane-https-XXXXXX").string();
        folder = ::mkdtemp(pattern.data());
        server = std::make_unique<testing::HttpsServer>(folder, [this](const std::string& path) {
            testing::HttpAnswer answer;
            if (path == "/api/dorvane-version.json") {
                answer.body = kManifest;
            } else if (path == "/redirect") {
                answer = {302, "Location: " + server->url("/api/dorvane-version.json") + "\r\n", "",
                          0ms};
            } else if (path == "/redirect-to-plain-http") {
                answer = {
                    302,
                    "Location: http://127.0.0.1:" + std::to_string(server->port()) + "/api\r\n", "",
                    0ms};
            } else if (path == "/redirect-loop") {
                answer = {302, "Location: " + server->url("/redirect-loop") + "\r\n", "", 0ms};
            } else if (path == "/slow") {
                answer = {200, "", kManifest, 3s};
            } else if (path == "/huge") {
                answer.body = std::string(3 * 1024 * 1024, 'x');
            } else {
                answer = {404, "", "not here", 0ms};
            }
            return answer;
        });
    }
    ~ServerFixture() {
        server.reset();
        std::filesystem::remove_all(folder);
    }
    UrlResult get(const std::string& path, std::chrono::seconds timeout = 10s) {
        return fetch(UrlRequest{server->url(path), timeout, true},
                     CurlUrlSession::Options{server->certificatePath(), 1024 * 1024});
    }
};

TEST(CurlSession, FetchesOverHttpsWithTheGivenAuthority) {
    ServerFixture f;
    ASSERT_TRUE(f.server->ready());
    // clang-format off
    const std::tuple<const char*, std::string, std::chrono::seconds, std::optional<std::string>> cases[] = {
        {"the manifest", "/api/dorvane-version.json", 10s, kManifest},
        {"through a redirect", "/redirect", 10s, kManifest},
        {"a redirect from https to plain http is refused", "/redirect-to-plain-http", 10s, std::nullopt},
        {"endless redirects stop", "/redirect-loop", 10s, std::nullopt},
        {"an answer slower than the time-out", "/slow", 1s, std::nullopt},
        {"an answer past the size bound", "/huge", 10s, std::nullopt},
        {"a status that is not OK still delivers its body", "/missing", 10s, "not here"},
    };
    // clang-format on
    for (const auto& [what, path, timeout, body] : cases) {
        SCOPED_TRACE(what);
        const UrlResult result = f.get(path, timeout);
        EXPECT_EQ(result.body, body);
        EXPECT_EQ(result.error.has_value(), !body.has_value()) << result.error.value_or("");
    }
}

TEST(CurlSession, RefusesAServerItCannotVerify) {
    ServerFixture f;
    const UrlResult result =
        fetch(UrlRequest{f.server->url("/api/dorvane-version.json"), 10s, true}, {});
    EXPECT_FALSE(result.body.has_value());
    EXPECT_TRUE(result.error.has_value());
}

TEST(CurlSession, TheControllerFindsAnUpdateThroughTheRealSession) {
    ServerFixture f;
    testing::TestPlatform test;
    CurlUrlSession session(CurlUrlSession::Options{f.server->certificatePath(), 1024 * 1024});
    Platform platform = test.platform();
    auto controller = std::make_shared<TRBController>(Platform{
        platform.application, platform.statusBar, platform.alerts, platform.pasteboard,
        platform.workspace, platform.defaults, platform.mainQueue, platform.powerManagement,
        session, platform.bundle, platform.locale, platform.clock, platform.processInfo,
        platform.commands, platform.propertyLists, platform.toolPaths, f.server->url("/redirect")});
    controller->checkForUpdatesSilently(true);
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (test.mainQueue.pending.empty() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    test.mainQueue.drain();
    EXPECT_EQ(controller->latestAvailableVersion(), "9.1");
    EXPECT_EQ(controller->latestVersionURL(), "https://dorvane.app/d");
}

}  // namespace
}  // namespace dorvane
