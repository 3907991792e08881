#pragma once

#include <functional>

namespace dorvane {

// Descriptors watched by the main loop: the callbacks run on the main thread, while an alert is
// open too, for as long as the watch lasts.
class DescriptorWatch {
public:
    using WatchId = int;
    virtual ~DescriptorWatch() = default;
    // Calls onReady whenever fd can be read without blocking (or is at its end).
    virtual WatchId watchReadable(int fd, std::function<void()> onReady) = 0;
    // Calls onReady whenever fd can be written without blocking.
    virtual WatchId watchWritable(int fd, std::function<void()> onReady) = 0;
    virtual void unwatch(WatchId id) = 0;
};

}  // namespace dorvane
