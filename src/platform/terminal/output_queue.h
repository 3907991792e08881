#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "platform/linux/event_loop.h"

namespace dorvane {

// Output for a reader that may stop reading. Nothing waits for the reader: the descriptor is made
// non-blocking, what cannot be written at once waits and is written as the descriptor becomes
// writable, and what waits is bounded, so neither the sleep policy nor a termination ever stalls
// on a front end.
class OutputQueue {
public:
    // What becomes of a message that cannot be written yet.
    enum class Waiting {
        Kept,       // written in order, dropped only once kMaximumKept bytes wait
        Replaced,   // a state: a newer message of the same kind replaces one not yet begun
        Droppable,  // an answer to input: dropped once kMaximumDroppable bytes wait
    };
    static constexpr std::size_t kMaximumKept = 4 << 20;
    static constexpr std::size_t kMaximumDroppable = 64 << 10;

    OutputQueue(EventLoop& loop, int fd);
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    void send(std::string text, Waiting waiting, const std::string& kind = {});
    // Writes what waits, giving the reader up to patience, and gives the descriptor its blocking
    // mode back; what is still unwritten then, and anything sent later, is dropped.
    void finish(std::chrono::milliseconds patience);
    // Nothing waits to be written.
    bool idle() const { return entries_.empty(); }
    // Called once the reader has taken all that had to wait for it.
    void setDrained(std::function<void()> drained) { drained_ = std::move(drained); }

private:
    struct Entry {
        std::string text;
        std::string kind;  // empty unless a newer message replaces it
    };
    void writeWhatItCan();

    EventLoop& loop_;
    int fd_;
    std::optional<int> blockingFlags_;
    std::deque<Entry> entries_;
    std::size_t written_ = 0;  // of the first entry
    std::size_t waitingBytes_ = 0;
    // The reader is gone, the descriptor unusable or the output finished: nothing more is
    // written.
    bool broken_ = false;
    EventLoop::WatchId writable_ = 0;
    std::function<void()> drained_;
};

}  // namespace dorvane
