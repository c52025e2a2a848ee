#include "backend/soft/band_workers.h"

BandWorkers::BandWorkers(int bands) : bands_(bands < 1 ? 1 : bands) {
    for (int band = 1; band < bands_; ++band) threads_.emplace_back([this, band] { loop(band); });
}

BandWorkers::~BandWorkers() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

void BandWorkers::run(const std::function<void(int band)>& job) {
    if (bands_ == 1) {
        job(0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
        pending_ = bands_ - 1;
        ++generation_;
    }
    wake_.notify_all();
    job(0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [this] { return pending_ == 0; });
    job_ = nullptr;
}

void BandWorkers::loop(int band) {
    uint64_t seen = 0;
    for (;;) {
        const std::function<void(int)>* job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || generation_ != seen; });
            if (stopping_) return;
            seen = generation_;
            job = job_;
        }
        (*job)(band);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --pending_;
        }
        done_.notify_one();
    }
}
