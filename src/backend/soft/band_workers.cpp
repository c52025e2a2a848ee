#include "backend/soft/band_workers.h"

#include <algorithm>

BandWorkers::BandWorkers(int bands) : bands_(bands < 1 ? 1 : bands), bandDone_(bands_, 0) {
    for (int band = 0; band < bands_; ++band) threads_.emplace_back([this, band] { loop(band); });
}

BandWorkers::~BandWorkers() {
    waitAll();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& thread : threads_) thread.join();
}

uint64_t BandWorkers::queue(Job job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(std::make_shared<const Job>(std::move(job)));
        ++queued_;
    }
    wake_.notify_all();
    return queued_;
}

uint64_t BandWorkers::finishedLocked() const {
    return *std::min_element(bandDone_.begin(), bandDone_.end());
}

uint64_t BandWorkers::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finishedLocked();
}

void BandWorkers::wait(uint64_t ticket) {
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return finishedLocked() >= ticket; });
}

void BandWorkers::loop(int band) {
    for (;;) {
        std::shared_ptr<const Job> job;
        uint64_t ticket;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopping_ || bandDone_[band] < queued_; });
            if (bandDone_[band] >= queued_) return;  // stopping, nothing left
            ticket = bandDone_[band] + 1;
            job = jobs_[ticket - first_];
        }
        (*job)(band);
        {
            std::lock_guard<std::mutex> lock(mutex_);
            bandDone_[band] = ticket;
            // The last band to finish a job lets it go.
            while (!jobs_.empty() && finishedLocked() >= first_) {
                jobs_.pop_front();
                ++first_;
            }
        }
        done_.notify_all();
    }
}
