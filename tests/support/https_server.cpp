#include "support/https_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include "system/command_runner.h"

namespace dorvane::testing {

HttpsServer::HttpsServer(std::string folder, std::function<HttpAnswer(const std::string&)> route)
    : certificate_(folder + "/server.pem"), key_(folder + "/server.key"), route_(std::move(route)) {
    // A client that hangs up early (past the size bound, say) must not kill the test process.
    ::signal(SIGPIPE, SIG_IGN);
    const TRBCommandResult made = TRBRunCommand(
        "/usr/bin/openssl",
        {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key_, "-out", certificate_,
         "-days", "1", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"});
    if (made.status != 0) {
        return;
    }
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr ||
        SSL_CTX_use_certificate_file(context, certificate_.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, key_.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(context);
        return;
    }
    context_ = context;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 8) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return;
    }
    port_ = ntohs(address.sin_port);
    ready_ = true;
    thread_ = std::thread([this] { serve(); });
}

HttpsServer::~HttpsServer() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
    if (listener_ >= 0) {
        ::close(listener_);
    }
    SSL_CTX_free(static_cast<SSL_CTX*>(context_));
}

void HttpsServer::serve() {
    while (!stopping_) {
        pollfd waiting{listener_, POLLIN, 0};
        if (::poll(&waiting, 1, 50) <= 0) {
            continue;
        }
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        SSL* tls = SSL_new(static_cast<SSL_CTX*>(context_));
        SSL_set_fd(tls, connection);
        std::string request;
        if (SSL_accept(tls) == 1) {
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int count = SSL_read(tls, buffer, sizeof buffer);
                if (count <= 0) {
                    break;
                }
                request.append(buffer, static_cast<std::size_t>(count));
            }
        }
        const std::size_t pathStart = request.find(' ') + 1;
        const std::string path =
            request.substr(pathStart, request.find(' ', pathStart) - pathStart);
        if (!request.empty()) {
            const HttpAnswer answer = route_(path);
            const auto until = std::chrono::steady_clock::now() + answer.delay;
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            const std::string response =
                "HTTP/1.1 " + std::to_string(answer.status) +
                " X\r\nContent-Length: " + std::to_string(answer.body.size()) +
                "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body;
            std::size_t sent = 0;
            while (sent < response.size()) {
                const int count = SSL_write(
                    tls, response.data() + sent,
                    static_cast<int>(std::min<std::size_t>(response.size() - sent, 65536)));
                if (count <= 0) {
                    break;
                }
                sent += static_cast<std::size_t>(count);
            }
            SSL_shutdown(tls);
        }
        SSL_free(tls);
        ::close(connection);
    }
}

}  // namespace dorvane::testing
