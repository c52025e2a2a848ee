#pragma once
// A fixed set of threads, one per band of rows, that run queued jobs in the order they were
// queued: each thread runs every job for its own band, so a band's rows see the jobs in order
// while the threads move on independently. The caller goes on as soon as a job is queued; it
// waits only for the jobs whose results it needs.
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
    using Job = std::function<void(int band)>;

    explicit BandWorkers(int bands);
    // Waits for every queued job.
    ~BandWorkers();
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;

    int bands() const { return bands_; }
    // Queues a job for every band; returns its ticket (1, 2, ... in queuing order).
    uint64_t queue(Job job);
    // Returns once every band has finished the job with this ticket and all before it.
    void wait(uint64_t ticket);
    void waitAll() { wait(queued_); }
    // The ticket of the last job every band has finished (0 before any).
    uint64_t finished();

  private:
    void loop(int band);
    uint64_t finishedLocked() const;

    int bands_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    // Jobs not yet finished by every band; the front one has ticket first_.
    std::deque<std::shared_ptr<const Job>> jobs_;
    uint64_t first_ = 1;
    uint64_t queued_ = 0;
    std::vector<uint64_t> bandDone_;  // per band: the last ticket it finished
    bool stopping_ = false;
};
