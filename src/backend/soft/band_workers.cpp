#include "backend/soft/band_workers.h"

struct BandWorkers::Pending {
    Job job;
    uint64_t ticket = 0;
    int blocks = 0;
    std::atomic<int> next{0};  // the next block to hand out
    std::atomic<int> done{0};  // blocks finished
};

BandWorkers::BandWorkers(int threads) {
    for (int i = 0; i < (threads < 1 ? 1 : threads); ++i) threads_.emplace_back([this] { loop(); });
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

uint64_t BandWorkers::queue(int blocks, Job job) {
    if (blocks < 1) blocks = 1;
    if (blocks > blockCapacity_) {
        // Only the caller queues, so once its jobs are done no thread reads the old counters.
        waitAll();
        auto grown = std::make_unique<std::atomic<uint64_t>[]>(size_t(blocks));
        for (int b = 0; b < blocks; ++b) grown[b].store(queued_);
        blockDone_ = std::move(grown);
        blockCapacity_ = blocks;
    }
    auto pending = std::make_shared<Pending>();
    pending->job = std::move(job);
    pending->blocks = blocks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        pending->ticket = ++queued_;
        jobs_.push_back(std::move(pending));
    }
    wake_.notify_all();
    return queued_;
}

uint64_t BandWorkers::finished() {
    std::lock_guard<std::mutex> lock(mutex_);
    return finished_;
}

bool BandWorkers::claimableLocked() const {
    for (const auto& pending : jobs_) {
        if (pending->next.load(std::memory_order_relaxed) < pending->blocks) return true;
    }
    return false;
}

bool BandWorkers::drawOne() {
    std::shared_ptr<Pending> pending;
    int block = -1;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& candidate : jobs_) {
            if (candidate->next.load(std::memory_order_relaxed) >= candidate->blocks) continue;
            block = candidate->next.fetch_add(1, std::memory_order_relaxed);
            pending = candidate;
            break;
        }
    }
    if (!pending) return false;
    // The same block of the job before was handed out earlier and may still be being drawn.
    while (blockDone_[block].load(std::memory_order_acquire) + 1 < pending->ticket)
        std::this_thread::yield();
    pending->job(block);
    blockDone_[block].store(pending->ticket, std::memory_order_release);
    if (pending->done.fetch_add(1, std::memory_order_acq_rel) + 1 == pending->blocks) {
        // Jobs finish in order: each block of a job waited for the same block of the one before.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            while (!jobs_.empty() && jobs_.front()->done.load() == jobs_.front()->blocks) {
                finished_ = jobs_.front()->ticket;
                jobs_.pop_front();
            }
        }
        done_.notify_all();
    }
    return true;
}

void BandWorkers::wait(uint64_t ticket) {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (finished_ >= ticket) return;
        }
        if (drawOne()) continue;
        std::unique_lock<std::mutex> lock(mutex_);
        done_.wait(lock, [&] { return finished_ >= ticket; });
        return;
    }
}

void BandWorkers::loop() {
    for (;;) {
        if (drawOne()) continue;
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait(lock, [&] { return stopping_ || claimableLocked(); });
        if (!claimableLocked()) return;  // stopping, nothing left
    }
}
