#include "platform/linux/event_loop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <stdexcept>

namespace dorvane {

struct EventLoop::Timer {
    TimerSpec spec;
    Clock::time_point due;
    std::function<void()> handler;
    bool cancelled = false;
    bool queued = false;  // a firing waits in the queue; further ones coalesce into it
};

namespace {

constexpr std::uint64_t kWakeTag = 0;

// now + duration, held at the clock's end instead of overflowing.
EventLoop::Clock::time_point saturatingAdd(EventLoop::Clock::time_point now,
                                           std::chrono::nanoseconds duration) {
    const auto room = EventLoop::Clock::time_point::max() - now;
    return duration >= room ? EventLoop::Clock::time_point::max() : now + duration;
}

class LoopTimerSource : public TimerSource {
public:
    explicit LoopTimerSource(std::shared_ptr<EventLoop::Timer> timer) : timer_(std::move(timer)) {}
    ~LoopTimerSource() override { cancel(); }
    void cancel() override;

private:
    std::shared_ptr<EventLoop::Timer> timer_;
};

}  // namespace

void LoopTimerSource::cancel() {
    timer_->cancelled = true;
}

EventLoop::EventLoop()
    : epoll_(::epoll_create1(EPOLL_CLOEXEC)), wakeEvent_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!epoll_.valid() || !wakeEvent_.valid()) {
        throw std::runtime_error("cannot create the main loop's descriptors");
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = kWakeTag;
    ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, wakeEvent_.get(), &event);
}

EventLoop::~EventLoop() = default;

void EventLoop::enqueue(std::function<void()> work, WorkKind kind) {
    {
        std::lock_guard lock(queueMutex_);
        pushLocked(std::move(work), kind);
    }
    wake();
}

void EventLoop::pushLocked(std::variant<std::function<void()>, std::weak_ptr<Timer>> work,
                           WorkKind kind) {
    queue_.push_back(Item{std::move(work), kind, nextSequence_++});
}

std::unique_ptr<TimerSource> EventLoop::startTimer(const TimerSpec& spec,
                                                   std::function<void()> handler) {
    auto timer = std::make_shared<Timer>();
    timer->spec = spec;
    timer->due = saturatingAdd(Clock::now(), spec.start);
    timer->handler = std::move(handler);
    timers_.push_back(timer);
    return std::make_unique<LoopTimerSource>(std::move(timer));
}

EventLoop::WatchId EventLoop::watch(int fd, std::function<void()> onReady) {
    return addWatch(fd, EPOLLIN, std::move(onReady));
}

EventLoop::WatchId EventLoop::watchWritable(int fd, std::function<void()> onReady) {
    return addWatch(fd, EPOLLOUT, std::move(onReady));
}

EventLoop::WatchId EventLoop::addWatch(int fd, std::uint32_t events,
                                       std::function<void()> onReady) {
    const WatchId id = nextWatchId_++;
    epoll_event event{};
    event.events = events;
    event.data.u64 = static_cast<std::uint64_t>(id);
    // epoll refuses descriptors that are always readable, such as a regular file or /dev/null
    // given as standard input; those are served whenever no work waits instead, so their reader
    // sees the data and then the end as it would from a pipe.
    const bool alwaysReady = ::epoll_ctl(epoll_.get(), EPOLL_CTL_ADD, fd, &event) != 0;
    watches_[id] = Watch{fd, std::move(onReady), alwaysReady};
    return id;
}

void EventLoop::unwatch(WatchId id) {
    const auto found = watches_.find(id);
    if (found == watches_.end()) {
        return;
    }
    if (!found->second.alwaysReady) {
        ::epoll_ctl(epoll_.get(), EPOLL_CTL_DEL, found->second.fd, nullptr);
    }
    watches_.erase(found);
}

void EventLoop::run() {
    stopped_ = false;
    while (!stopped_) {
        iterate();
    }
}

void EventLoop::stop() {
    stopped_ = true;
    wake();
}

void EventLoop::runModal(const std::function<bool()>& finished) {
    // The depth comes down however the alert ends, or held work would wait forever.
    struct ModalScope {
        int& depth;
        explicit ModalScope(int& modalDepth) : depth(++modalDepth) {}
        ~ModalScope() { --depth; }
        ModalScope(const ModalScope&) = delete;
        ModalScope& operator=(const ModalScope&) = delete;
    } scope(modalDepth_);
    while (!stopped_ && !finished()) {
        iterate();
    }
}

void EventLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeEvent_.get(), &one, sizeof one);
}

std::optional<EventLoop::Clock::time_point> EventLoop::nextWake() const {
    // Each timer may fire as late as its leeway allows: sleeping until the earliest such moment
    // lets timers that come due close together share one wake-up.
    std::optional<Clock::time_point> earliest;
    for (const auto& timer : timers_) {
        if (timer->cancelled || timer->queued) {
            continue;
        }
        const auto latest = saturatingAdd(timer->due, timer->spec.leeway);
        if (!earliest || latest < *earliest) {
            earliest = latest;
        }
    }
    return earliest;
}

void EventLoop::queueDueTimers(Clock::time_point now) {
    std::erase_if(timers_, [](const auto& timer) { return timer->cancelled && !timer->queued; });
    std::vector<std::shared_ptr<Timer>> due;
    for (const auto& timer : timers_) {
        if (!timer->cancelled && !timer->queued && timer->due <= now) {
            due.push_back(timer);
        }
    }
    std::sort(due.begin(), due.end(), [](const auto& a, const auto& b) { return a->due < b->due; });
    for (const auto& timer : due) {
        timer->queued = true;
        scheduleAfter(*timer, now);
        std::lock_guard lock(queueMutex_);
        pushLocked(std::weak_ptr<Timer>(timer), timer->spec.kind);
    }
}

void EventLoop::iterate() {
    bool workWaiting = false;
    {
        std::lock_guard lock(queueMutex_);
        workWaiting = std::any_of(queue_.begin(), queue_.end(), [this](const Item& item) {
            return !isModal() || item.kind == WorkKind::RunsDuringAlerts;
        });
    }
    // An always-readable descriptor is served only when no work waits, so that what is read
    // from it is handled before more is read: a file of commands is taken at the pace of a pipe.
    const bool serveAlwaysReady =
        !workWaiting && std::any_of(watches_.begin(), watches_.end(),
                                    [](const auto& entry) { return entry.second.alwaysReady; });
    int timeout = -1;
    if (workWaiting || serveAlwaysReady) {
        timeout = 0;
    } else if (const auto wakeAt = nextWake()) {
        const auto remaining =
            std::chrono::ceil<std::chrono::milliseconds>(*wakeAt - Clock::now()).count();
        timeout = static_cast<int>(std::clamp<std::int64_t>(remaining, 0, INT_MAX));
    }
    std::array<epoll_event, 16> events;
    const int ready = ::epoll_wait(epoll_.get(), events.data(), events.size(), timeout);
    ++wakeUps_;
    for (int i = 0; i < ready; ++i) {
        if (events[i].data.u64 == kWakeTag) {
            std::uint64_t count = 0;
            [[maybe_unused]] const ssize_t read = ::read(wakeEvent_.get(), &count, sizeof count);
            continue;
        }
        serveWatch(static_cast<WatchId>(events[i].data.u64));
    }
    std::vector<WatchId> alwaysReady;
    for (const auto& [id, watch] : watches_) {
        if (watch.alwaysReady && serveAlwaysReady) {
            alwaysReady.push_back(id);
        }
    }
    for (const WatchId id : alwaysReady) {
        serveWatch(id);
    }
    queueDueTimers(Clock::now());
    runQueued();
}

void EventLoop::serveWatch(WatchId id) {
    // The callback may unwatch itself or others, so it is looked up afresh and copied.
    const auto found = watches_.find(id);
    if (found != watches_.end()) {
        const auto onReady = found->second.onReady;
        onReady();
    }
}

void EventLoop::scheduleAfter(Timer& timer, Clock::time_point now) {
    if (timer.spec.interval.count() <= 0) {
        timer.due = Clock::time_point::max();
    } else if (timer.due <= now) {
        // Firings missed while the loop could not run collapse into the one that is queued.
        const auto behind = (now - timer.due) / timer.spec.interval;
        timer.due = saturatingAdd(timer.due, timer.spec.interval * (behind + 1));
    }
}

std::optional<EventLoop::Item> EventLoop::takeRunnable(std::uint64_t limit) {
    std::lock_guard lock(queueMutex_);
    const auto found = std::find_if(queue_.begin(), queue_.end(), [&](const Item& item) {
        return item.sequence < limit && (!isModal() || item.kind == WorkKind::RunsDuringAlerts);
    });
    if (found == queue_.end()) {
        return std::nullopt;
    }
    Item item = std::move(*found);
    queue_.erase(found);
    return item;
}

void EventLoop::runQueued() {
    // Only what is queued now runs in this turn, so watched descriptors are served in between.
    // Items are taken one at a time: one of them may open an alert whose own loop runs the rest.
    std::uint64_t limit = 0;
    {
        std::lock_guard lock(queueMutex_);
        limit = nextSequence_;
    }
    while (!stopped_) {
        std::optional<Item> item = takeRunnable(limit);
        if (!item) {
            return;
        }
        if (auto* work = std::get_if<std::function<void()>>(&item->work)) {
            (*work)();
        } else if (const auto timer = std::get<std::weak_ptr<Timer>>(item->work).lock()) {
            timer->queued = false;
            // Periods that passed while the firing waited (behind an open alert) are part of it.
            scheduleAfter(*timer, Clock::now());
            if (!timer->cancelled) {
                // A timer without a period is done once it has fired.
                timer->cancelled = timer->spec.interval.count() <= 0;
                timer->handler();
            }
        }
    }
}

}  // namespace dorvane
