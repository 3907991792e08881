#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace dorvane::testing {

// What the test server answers for one path.
struct HttpAnswer {
    int status = 200;
    std::string headers;  // extra header lines, each ending in \r\n
    std::string body;
    std::chrono::milliseconds delay{0};  // before answering
};

// An HTTPS server on 127.0.0.1 for the tests, with a certificate made for the occasion by the
// openssl tool: the certificate is its own authority, which the client is handed.
class HttpsServer {
public:
    HttpsServer(std::string folder, std::function<HttpAnswer(const std::string& path)> route);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path) const {
        return "https://127.0.0.1:" + std::to_string(port_) + path;
    }
    const std::string& certificatePath() const { return certificate_; }
    bool ready() const { return ready_; }

private:
    void serve();

    std::string certificate_;
    std::string key_;
    std::function<HttpAnswer(const std::string&)> route_;
    int listener_ = -1;
    int port_ = 0;
    bool ready_ = false;
    std::atomic<bool> stopping_{false};
    void* context_ = nullptr;
    std::thread thread_;
};

}  // namespace dorvane::testing
