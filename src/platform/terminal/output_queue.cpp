#include "platform/terminal/output_queue.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

namespace dorvane {

OutputQueue::OutputQueue(EventLoop& loop, int fd) : loop_(loop), fd_(fd) {
    // The flag belongs to the open file, which other processes may share: it is given back at
    // the end.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0 && (flags & O_NONBLOCK) == 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0) {
        blockingFlags_ = flags;
    }
}

OutputQueue::~OutputQueue() {
    finish(std::chrono::milliseconds(0));
}

void OutputQueue::send(std::string text, Waiting waiting, const std::string& kind) {
    if (broken_) {
        return;
    }
    if (waiting == Waiting::Replaced) {
        // The first entry may be partly written already; its rest must follow.
        for (std::size_t i = written_ > 0 ? 1 : 0; i < entries_.size();) {
            if (entries_[i].kind == kind) {
                waitingBytes_ -= entries_[i].text.size();
                entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(i));
            } else {
                ++i;
            }
        }
    } else if (waitingBytes_ + text.size() >
               (waiting == Waiting::Kept ? kMaximumKept : kMaximumDroppable)) {
        return;
    }
    waitingBytes_ += text.size();
    entries_.push_back({std::move(text), waiting == Waiting::Replaced ? kind : std::string()});
    writeWhatItCan();
}

void OutputQueue::writeWhatItCan() {
    while (!entries_.empty() && !broken_) {
        const std::string& text = entries_.front().text;
        const ssize_t count = ::write(fd_, text.data() + written_, text.size() - written_);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (writable_ == 0) {
                writable_ = loop_.watchWritable(fd_, [this] { writeWhatItCan(); });
            }
            return;
        }
        if (count <= 0) {
            broken_ = true;
            entries_.clear();
            waitingBytes_ = 0;
            written_ = 0;
            break;
        }
        written_ += static_cast<std::size_t>(count);
        if (written_ == text.size()) {
            waitingBytes_ -= text.size();
            entries_.pop_front();
            written_ = 0;
        }
    }
    if (writable_ != 0) {
        loop_.unwatch(std::exchange(writable_, 0));
        if (!broken_ && drained_) {
            drained_();
        }
    }
}

void OutputQueue::finish(std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    writeWhatItCan();
    while (!entries_.empty() && !broken_) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd writable{fd_, POLLOUT, 0};
        if (left.count() <= 0 || ::poll(&writable, 1, static_cast<int>(left.count())) == 0) {
            break;
        }
        writeWhatItCan();
    }
    broken_ = true;
    entries_.clear();
    waitingBytes_ = 0;
    written_ = 0;
    if (writable_ != 0) {
        loop_.unwatch(std::exchange(writable_, 0));
    }
    if (blockingFlags_) {
        ::fcntl(fd_, F_SETFL, *std::exchange(blockingFlags_, std::nullopt));
    }
}

}  // namespace dorvane
