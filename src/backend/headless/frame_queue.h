#pragma once
// Frames on their way into a pipe, written by a thread of their own: the show draws the next
// frame while the reader (the video encoder) still takes this one. At most a few frames wait;
// when they are all taken the show waits for the reader, which bounds the memory used.
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

// Writes all `size` bytes, carrying on after signals; false when the file refuses them.
bool writeAll(int fd, const void* data, size_t size);

class FrameQueue {
  public:
    explicit FrameQueue(int fd, size_t framesAhead = 3);
    // Writes what is still queued unless a write already failed.
    ~FrameQueue();
    FrameQueue(const FrameQueue&) = delete;
    FrameQueue& operator=(const FrameQueue&) = delete;

    // Copies `size` bytes to be written after those queued before. False once a write has
    // failed (the reader is gone): nothing more is written then.
    bool push(const void* data, size_t size);
    // Waits until every queued frame is written; false when a write failed.
    bool drain();

  private:
    void loop();

    int fd_;
    size_t framesAhead_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<uint8_t>> queued_;
    std::vector<std::vector<uint8_t>> spare_;  // written buffers, reused
    bool writing_ = false;
    bool failed_ = false;
    bool closing_ = false;
    std::thread thread_;
};
