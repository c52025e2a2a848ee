#include "backend/headless/frame_queue.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

bool writeAll(int fd, const void* data, size_t size) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (size > 0) {
        ssize_t n = ::write(fd, p, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= size_t(n);
    }
    return true;
}

FrameQueue::FrameQueue(int fd, size_t framesAhead)
    : fd_(fd), framesAhead_(framesAhead < 1 ? 1 : framesAhead), thread_([this] { loop(); }) {}

FrameQueue::~FrameQueue() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

bool FrameQueue::push(const void* data, size_t size) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || queued_.size() < framesAhead_; });
    if (failed_) return false;
    std::vector<uint8_t> buffer;
    if (!spare_.empty()) {
        buffer = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    // The copy is made outside the lock, so the writer is never held up by it.
    buffer.resize(size);
    std::memcpy(buffer.data(), data, size);
    lock.lock();
    queued_.push_back(std::move(buffer));
    changed_.notify_all();
    return true;
}

bool FrameQueue::drain() {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return failed_ || (queued_.empty() && !writing_); });
    return !failed_;
}

void FrameQueue::loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return closing_ || !queued_.empty(); });
        if (queued_.empty() || failed_) return;
        std::vector<uint8_t> buffer = std::move(queued_.front());
        queued_.pop_front();
        writing_ = true;
        lock.unlock();
        const bool written = writeAll(fd_, buffer.data(), buffer.size());
        lock.lock();
        writing_ = false;
        if (!written) {
            failed_ = true;
            queued_.clear();
        }
        spare_.push_back(std::move(buffer));
        changed_.notify_all();
    }
}
