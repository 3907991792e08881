#include "platform/curl/curl_url_session.h"

#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <sstream>

#include "base/unique_fd.h"

extern char** environ;

namespace dorvane {
namespace {

using namespace std::chrono_literals;

const std::string kData = DORVANE_PLATFORM_DATA_DIR "/";
const std::string kManifest = R"({"version":"9.1"})";

// An HTTPS server with a certificate of its own and a plain HTTP server beside it, on 127.0.0.1,
// served by a small Python program that ends when its input does.
struct TestServers {
    TestServers() {
        EXPECT_TRUE(makePipe(input) && makePipe(output));
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input.readEnd.get(), 0);
        posix_spawn_file_actions_adddup2(&actions, output.writeEnd.get(), 1);
        std::string script = kData + "https_test_servers.py";
        char* argv[] = {const_cast<char*>("/usr/bin/python3"), script.data(), nullptr};
        EXPECT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        output.writeEnd.reset();
        char ports[64] = {};
        EXPECT_GT(::read(output.readEnd.get(), ports, sizeof ports - 1), 0) << "no test servers";
        std::istringstream(ports) >> httpsPort >> httpPort;
    }
    ~TestServers() {
        input.writeEnd.reset();
        if (pid > 0) {
            ::waitpid(pid, nullptr, 0);
        }
    }

    Pipe input;
    Pipe output;
    pid_t pid = -1;
    int httpsPort = 0;
    int httpPort = 0;
};

TEST(CurlSession, FetchesOnlyWhatTheRulesAllow) {
    const TestServers servers;
    const std::string https = "https://127.0.0.1:" + std::to_string(servers.httpsPort);
    const std::string http = "http://127.0.0.1:" + std::to_string(servers.httpPort);
    const CurlUrlSession::Options trusted{kData + "https-test-certificate.pem", 1000};
    // clang-format off
    const std::tuple<const char*, std::string, CurlUrlSession::Options, std::chrono::seconds, std::optional<std::string>> cases[] = {
        {"the manifest", https + "/manifest", trusted, 10s, kManifest},
        {"plain http asked for directly", http + "/manifest", trusted, 10s, kManifest},
        {"through a redirect", https + "/redirect", trusted, 10s, kManifest},
        {"a redirect from https to plain http is refused", https + "/redirect-to-http", trusted, 10s, std::nullopt},
        {"a body of exactly the bound", https + "/bytes/1000", trusted, 10s, std::string(1000, 'x')},
        {"a byte more, arriving in one piece", https + "/bytes/1001", trusted, 10s, std::nullopt},
        {"an answer slower than the time-out", https + "/slow", trusted, 1s, std::nullopt},
        {"a status that is not OK still delivers its body", https + "/missing", trusted, 10s, "not here"},
        {"a server the client cannot verify", https + "/manifest", {}, 10s, std::nullopt},
    };
    // clang-format on
    for (const auto& [what, url, options, timeout, body] : cases) {
        SCOPED_TRACE(what);
        const UrlResult result = fetch(UrlRequest{url, timeout}, options);
        EXPECT_EQ(result.body, body);
        EXPECT_EQ(result.error.has_value(), !body.has_value()) << result.error.value_or("");
    }
}

}  // namespace
}  // namespace dorvane
