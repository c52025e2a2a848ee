#pragma once
// A fixed set of threads that run one job per band: band 0 on the calling thread, the others on
// threads kept for the renderer's lifetime. run() returns when every band has finished.
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class BandWorkers {
  public:
    explicit BandWorkers(int bands);
    ~BandWorkers();
    BandWorkers(const BandWorkers&) = delete;
    BandWorkers& operator=(const BandWorkers&) = delete;

    int bands() const { return bands_; }
    void run(const std::function<void(int band)>& job);

  private:
    void loop(int band);

    int bands_;
    std::vector<std::thread> threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(int)>* job_ = nullptr;
    uint64_t generation_ = 0;
    int pending_ = 0;
    bool stopping_ = false;
};
