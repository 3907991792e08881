#include "platform/mac/mac_descriptor_watch.h"

#include <dispatch/dispatch.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>

namespace dorvane {

struct MacDescriptorWatch::Impl {
    std::map<WatchId, dispatch_source_t> sources;
    WatchId next = 1;

    WatchId add(int fd, dispatch_source_type_t type, std::function<void()> onReady) {
        // A dispatch source's descriptor may not be closed before its cancellation handler has
        // run, while the owner closes its own as soon as it stops watching: the source gets a
        // duplicate of its own, closed by that handler.
        const int watched = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
        if (watched < 0) {
            return 0;
        }
        dispatch_source_t source = dispatch_source_create(type, static_cast<uintptr_t>(watched), 0,
                                                          dispatch_get_main_queue());
        auto handler = std::make_shared<std::function<void()>>(std::move(onReady));
        // The handler may stop its own watch, so it runs from a copy.
        dispatch_source_set_event_handler(source, ^{
          const std::function<void()> copy = *handler;
          copy();
        });
        dispatch_source_set_cancel_handler(source, ^{
          ::close(watched);
        });
        dispatch_resume(source);
        const WatchId id = next++;
        sources[id] = source;
        return id;
    }
};

MacDescriptorWatch::MacDescriptorWatch() : impl_(std::make_unique<Impl>()) {}

MacDescriptorWatch::~MacDescriptorWatch() {
    for (const auto& [id, source] : impl_->sources) {
        dispatch_source_cancel(source);
    }
}

DescriptorWatch::WatchId MacDescriptorWatch::watchReadable(int fd, std::function<void()> onReady) {
    return impl_->add(fd, DISPATCH_SOURCE_TYPE_READ, std::move(onReady));
}

DescriptorWatch::WatchId MacDescriptorWatch::watchWritable(int fd, std::function<void()> onReady) {
    return impl_->add(fd, DISPATCH_SOURCE_TYPE_WRITE, std::move(onReady));
}

void MacDescriptorWatch::unwatch(WatchId id) {
    const auto found = impl_->sources.find(id);
    if (found != impl_->sources.end()) {
        dispatch_source_cancel(found->second);
        impl_->sources.erase(found);
    }
}

}  // namespace dorvane
