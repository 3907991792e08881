#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/url_session.h"

namespace dorvane {

// HTTP GETs through libcurl, each on a thread of its own. Redirects are followed as the system's
// URL loading does, a few at most and never from https to anything else; a body larger than the
// bound fails the transfer instead of growing without end.
class CurlUrlSession : public UrlSession {
public:
    struct Options {
        std::string caBundlePath;  // empty: the system's certificate authorities
        std::size_t maxBodyBytes = 1024 * 1024;
    };

    CurlUrlSession();
    explicit CurlUrlSession(Options options);
    ~CurlUrlSession() override;  // waits for the transfers under way

    void dataTask(const UrlRequest& request,
                  std::function<void(UrlResult result)> completion) override;

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    Options options_;
    std::mutex workersMutex_;
    std::vector<Worker> workers_;
};

// One transfer, synchronously: what a data task does on its thread.
UrlResult fetch(const UrlRequest& request, const CurlUrlSession::Options& options);

}  // namespace dorvane
