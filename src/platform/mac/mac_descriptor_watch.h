#pragma once

#include <memory>

#include "platform/descriptor_watch.h"

namespace dorvane {

// Descriptors watched with dispatch sources on the main queue.
class MacDescriptorWatch : public DescriptorWatch {
public:
    MacDescriptorWatch();
    ~MacDescriptorWatch() override;
    MacDescriptorWatch(const MacDescriptorWatch&) = delete;
    MacDescriptorWatch& operator=(const MacDescriptorWatch&) = delete;

    WatchId watchReadable(int fd, std::function<void()> onReady) override;
    WatchId watchWritable(int fd, std::function<void()> onReady) override;
    void unwatch(WatchId id) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace dorvane
