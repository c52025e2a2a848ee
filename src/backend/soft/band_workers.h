#pragma once
// Threads that draw queued jobs, each job split into blocks (bands of rows) that any thread may
// take. Block b of a job starts only once block b of every earlier job is done, so each band
// of rows sees the jobs in the order they were queued, whoever draws it; the threads share out
// the blocks as they come free, so a thread held up by another program leaves its share to the
// others. The caller goes on as soon as a job is queued, and helps with the blocks of the jobs
// it waits for.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BandWorkers {
  public:
    using Job = std::function<void(int block)>;

    explicit BandWorkers(int threads);
    // Waits for every queued job.
    ~BandWorkers();
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;

    // Queues a job of `blocks` blocks; returns its ticket (1, 2, ... in queuing order).
    uint64_t queue(int blocks, Job job);
    // Returns once the job with this ticket and all before it are done.
    void wait(uint64_t ticket);
    void waitAll() { wait(queued_); }
    // The ticket of the last job done (0 before any).
    uint64_t finished();

  private:
    struct Pending;
    void loop();
    // Takes one block of the oldest job that has one left and draws it; false when none is left.
    bool drawOne();
    bool claimableLocked() const;

    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::deque<std::shared_ptr<Pending>> jobs_;  // not yet done, oldest first
    uint64_t queued_ = 0;
    uint64_t finished_ = 0;
    // Per block: the ticket of the last job whose block it is that is done.
    std::unique_ptr<std::atomic<uint64_t>[]> blockDone_;
    int blockCapacity_ = 0;
    bool stopping_ = false;
};
