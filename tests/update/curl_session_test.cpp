#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "base/unique_fd.h"
#include "platform/curl/curl_url_session.h"
#include "support/fakes.h"
#include "system/command_runner.h"

namespace dorvane {
namespace {

using namespace std::chrono_literals;

const char* const kManifest =
    R"({"version":"9.1","changelog_en":"new","download_url_en":"https://dorvane.app/d"})";

std::string response(int status, const std::string& body, const std::string& headers = "") {
    return "HTTP/1.1 " + std::to_string(status) +
           " X\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n" +
           headers + "\r\n" + body;
}

// An HTTPS server on 127.0.0.1, one connection at a time, in a temporary folder. Its certificate,
// made for the occasion by the openssl tool, is its own authority, which the client is handed.
class HttpsServer {
public:
    explicit HttpsServer(std::function<std::string(const std::string& path)> respond)
        : respond_(std::move(respond)) {
        ::signal(SIGPIPE, SIG_IGN);  // a client that hangs up early must not end the test
        std::string pattern = (std::filesystem::temp_directory_path() / "https-XXXXXX").string();
        folder_ = ::mkdtemp(pattern.data());
        certificate = folder_ + "/server.pem";
        const std::string key = folder_ + "/server.key";
        const TRBCommandResult made = TRBRunCommand(
            "/usr/bin/openssl",
            {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", certificate,
             "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        const auto socketAddress = reinterpret_cast<sockaddr*>(&address);
        if (made.status != 0 || !context_ ||
            SSL_CTX_use_certificate_file(context_.get(), certificate.c_str(), SSL_FILETYPE_PEM) !=
                1 ||
            SSL_CTX_use_PrivateKey_file(context_.get(), key.c_str(), SSL_FILETYPE_PEM) != 1 ||
            ::bind(listener_.get(), socketAddress, length) != 0 ||
            ::listen(listener_.get(), 8) != 0 ||
            ::getsockname(listener_.get(), socketAddress, &length) != 0) {
            ADD_FAILURE() << "no test server: " << made.error;
            return;
        }
        port = ntohs(address.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~HttpsServer() {
        stopping_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        std::filesystem::remove_all(folder_);
    }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port) + path;
    }

    std::string certificate;
    int port = 0;

private:
    void serve() {
        while (!stopping_) {
            pollfd waiting{listener_.get(), POLLIN, 0};
            if (::poll(&waiting, 1, 50) <= 0) {
                continue;
            }
            const UniqueFd connection(::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC));
            const std::unique_ptr<SSL, decltype(&SSL_free)> tls(SSL_new(context_.get()), SSL_free);
            SSL_set_fd(tls.get(), connection.get());
            std::string request;
            char buffer[4096];
            int count = SSL_accept(tls.get());
            while (count > 0 && request.find("\r\n\r\n") == std::string::npos) {
                count = SSL_read(tls.get(), buffer, sizeof buffer);
                request.append(buffer, static_cast<std::size_t>(std::max(count, 0)));
            }
            if (request.empty()) {
                continue;
            }
            const std::size_t start = request.find(' ') + 1;
            const std::string answer =
                respond_(request.substr(start, request.find(' ', start) - start));
            // On a blocking socket one write sends the whole answer, or fails when the client left.
            SSL_write(tls.get(), answer.data(), static_cast<int>(answer.size()));
            SSL_shutdown(tls.get());
        }
    }

    std::function<std::string(const std::string&)> respond_;
    std::string folder_;
    std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> context_{SSL_CTX_new(TLS_server_method()),
                                                               SSL_CTX_free};
    UniqueFd listener_{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

struct ServerFixture {
    HttpsServer server{[this](const std::string& path) {
        const auto redirect = [](const std::string& to) {
            return response(302, "", "Location: " + to + "\r\n");
        };
        if (path == "/api/dorvane-version.json") {
            return response(200, kManifest);
        } else if (path == "/redirect") {
            return redirect(server.url("/api/dorvane-version.json"));
        } else if (path == "/redirect-to-plain-http") {
            return redirect("http://127.0.0.1:" + std::to_string(server.port) + "/api");
        } else if (path == "/redirect-loop") {
            return redirect(server.url("/redirect-loop"));
        } else if (path == "/slow") {
            std::this_thread::sleep_for(1500ms);
            return response(200, kManifest);
        } else if (path == "/huge") {
            return response(200, std::string(3 * 1024 * 1024, 'x'));
        }
        return response(404, "not here");
    }};
    CurlUrlSession::Options options{server.certificate, 1024 * 1024};
};

TEST(CurlSession, FetchesOverHttpsWithTheGivenAuthority) {
    ServerFixture f;
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
        const UrlResult result = fetch(UrlRequest{f.server.url(path), timeout, true}, f.options);
        EXPECT_EQ(result.body, body);
        EXPECT_EQ(result.error.has_value(), !body.has_value()) << result.error.value_or("");
    }
    const UrlResult unverified =
        fetch(UrlRequest{f.server.url("/api/dorvane-version.json"), 10s, true}, {});
    EXPECT_FALSE(unverified.body.has_value()) << "a server the client cannot verify is refused";
    EXPECT_TRUE(unverified.error.has_value());
}

TEST(CurlSession, TheControllerFindsAnUpdateThroughTheRealSession) {
    ServerFixture f;
    testing::TestPlatform test;
    CurlUrlSession session(f.options);
    Platform platform = test.platform();
    auto controller = std::make_shared<TRBController>(Platform{
        platform.application, platform.statusBar, platform.alerts, platform.pasteboard,
        platform.workspace, platform.defaults, platform.mainQueue, platform.powerManagement,
        session, platform.bundle, platform.locale, platform.clock, platform.processInfo,
        platform.commands, platform.propertyLists, platform.toolPaths, f.server.url("/redirect")});
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
