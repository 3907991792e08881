#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace dorvane {

struct UrlRequest {
    std::string url;
    std::chrono::seconds timeout{10};
    bool ignoreLocalCache = true;
};

struct UrlResult {
    std::optional<std::string> body;   // absent when nothing was delivered
    std::optional<std::string> error;  // the transfer error, if any
};

// One-shot HTTP GETs. The transfer runs off the main thread; the completion runs there too and
// must only hand its result to the main queue.
class UrlSession {
public:
    virtual ~UrlSession() = default;
    virtual void dataTask(const UrlRequest& request,
                          std::function<void(UrlResult result)> completion) = 0;
};

}  // namespace dorvane
