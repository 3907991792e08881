#pragma once

#include <cstddef>

#include "platform/url_session.h"

namespace dorvane {

// NSURLSession with a delegate, under the same rules as the Linux session: http and https only,
// at most five redirects and never from https to anything else, the body capped. The completion
// runs on the session's queue, off the main thread, as the seam says.
class MacUrlSession : public UrlSession {
public:
    static constexpr std::size_t kMaxBodyBytes = 1024 * 1024;
    void dataTask(const UrlRequest& request,
                  std::function<void(UrlResult result)> completion) override;
};

}  // namespace dorvane
