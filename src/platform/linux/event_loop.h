#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <variant>
#include <vector>

#include "base/unique_fd.h"
#include "platform/descriptor_watch.h"
#include "platform/main_queue.h"

namespace dorvane {

// The main loop: posted work and timer firings run one at a time on the main thread, and
// descriptors are watched. Idle, it sleeps in the kernel until a watched descriptor is ready or
// the latest moment a timer may fire. While a modal alert is open, watched descriptors are still
// served and work that runs during alerts runs; other queued work and timer firings wait until the
// last alert closes, in order, a timer that came due several times meanwhile only once.
class EventLoop : public MainQueue, public DescriptorWatch {
public:
    using Clock = std::chrono::steady_clock;

    EventLoop();
    ~EventLoop() override;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    std::unique_ptr<TimerSource> startTimer(const TimerSpec& spec,
                                            std::function<void()> handler) override;

    // Calls onReady on the main thread whenever fd is readable, modal alerts included. A
    // descriptor the kernel cannot watch counts as always readable.
    WatchId watch(int fd, std::function<void()> onReady);
    // The same for a descriptor that can be written without blocking; a descriptor the kernel
    // cannot watch counts as always writable.
    WatchId watchWritable(int fd, std::function<void()> onReady) override;
    void unwatch(WatchId id) override;
    WatchId watchReadable(int fd, std::function<void()> onReady) override {
        return watch(fd, std::move(onReady));
    }

    // Runs until stop(); it may be run again afterwards.
    void run();
    // Safe from any thread.
    void stop();
    // Runs a nested loop until finished() answers true or the loop is stopped.
    void runModal(const std::function<bool()>& finished);
    bool isModal() const { return modalDepth_ > 0; }
    // How often the loop has returned from waiting in the kernel: a measure of idle cost.
    std::uint64_t wakeUps() const { return wakeUps_; }

    struct Timer;

private:
    struct Item {
        std::variant<std::function<void()>, std::weak_ptr<Timer>> work;
        WorkKind kind;
        std::uint64_t sequence;
    };

    void enqueue(std::function<void()> work, WorkKind kind) override;
    void pushLocked(std::variant<std::function<void()>, std::weak_ptr<Timer>> work, WorkKind kind);
    // Takes the first queued item, older than the turn's limit, that may run now.
    std::optional<Item> takeRunnable(std::uint64_t limit);

    void iterate();
    void queueDueTimers(Clock::time_point now);
    std::optional<Clock::time_point> nextWake() const;
    void runQueued();
    void serveWatch(WatchId id);
    // Moves a periodic timer's next firing past now; a one-shot timer has none.
    static void scheduleAfter(Timer& timer, Clock::time_point now);
    void wake();
    WatchId addWatch(int fd, std::uint32_t events, std::function<void()> onReady);

    struct Watch {
        int fd;
        std::function<void()> onReady;
        bool alwaysReady;
    };

    UniqueFd epoll_;
    UniqueFd wakeEvent_;
    std::mutex queueMutex_;
    std::deque<Item> queue_;
    std::uint64_t nextSequence_ = 0;
    std::vector<std::shared_ptr<Timer>> timers_;
    std::map<WatchId, Watch> watches_;
    WatchId nextWatchId_ = 1;
    int modalDepth_ = 0;
    std::uint64_t wakeUps_ = 0;
    std::atomic<bool> stopped_ = false;  // stop() may come from any thread
};

}  // namespace dorvane
