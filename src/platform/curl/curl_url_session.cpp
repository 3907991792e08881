#include "platform/curl/curl_url_session.h"

#include <curl/curl.h>

#include <memory>

namespace dorvane {
namespace {

struct Transfer {
    std::string body;
    std::size_t limit = 0;
    bool tooLarge = false;
};

std::size_t collectBody(char* data, std::size_t size, std::size_t count, void* context) {
    auto* transfer = static_cast<Transfer*>(context);
    const std::size_t bytes = size * count;
    if (transfer->body.size() + bytes > transfer->limit) {
        transfer->tooLarge = true;
        return 0;  // ends the transfer with a write error
    }
    transfer->body.append(data, bytes);
    return bytes;
}

struct CurlEasyCleanup {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};

void initializeCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace

UrlResult fetch(const UrlRequest& request, const CurlUrlSession::Options& options) {
    initializeCurlOnce();
    const std::unique_ptr<CURL, CurlEasyCleanup> handle(curl_easy_init());
    if (!handle) {
        return {std::nullopt, "the transfer could not be set up"};
    }
    CURL* curl = handle.get();
    Transfer transfer;
    transfer.limit = options.maxBodyBytes;
    const bool secure = request.url.rfind("https://", 0) == 0;
    curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Redirects stay on https once there, as the system's URL loading keeps them.
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, secure ? "https" : "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, 5L);
    curl_easy_setopt(
        curl, CURLOPT_TIMEOUT_MS,
        static_cast<long>(
            std::chrono::duration_cast<std::chrono::milliseconds>(request.timeout).count()));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, collectBody);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);
    if (!options.caBundlePath.empty()) {
        curl_easy_setopt(curl, CURLOPT_CAINFO, options.caBundlePath.c_str());
    }
    const CURLcode outcome = curl_easy_perform(curl);
    if (transfer.tooLarge) {
        return {std::nullopt, "the answer is larger than expected"};
    }
    if (outcome != CURLE_OK) {
        return {std::nullopt, curl_easy_strerror(outcome)};
    }
    return {std::move(transfer.body), std::nullopt};
}

CurlUrlSession::CurlUrlSession() : CurlUrlSession(Options{}) {}

CurlUrlSession::CurlUrlSession(Options options) : options_(std::move(options)) {
    initializeCurlOnce();
}

CurlUrlSession::~CurlUrlSession() {
    std::lock_guard lock(workersMutex_);
    for (Worker& worker : workers_) {
        worker.thread.join();
    }
}

void CurlUrlSession::dataTask(const UrlRequest& request,
                              std::function<void(UrlResult result)> completion) {
    std::lock_guard lock(workersMutex_);
    // Finished transfers are joined here, so their threads do not pile up.
    std::erase_if(workers_, [](Worker& worker) {
        if (!worker.done->load()) {
            return false;
        }
        worker.thread.join();
        return true;
    });
    auto done = std::make_shared<std::atomic<bool>>(false);
    std::thread thread([request, completion = std::move(completion), options = options_, done] {
        completion(fetch(request, options));
        done->store(true);
    });
    workers_.push_back({std::move(thread), std::move(done)});
}

}  // namespace dorvane
