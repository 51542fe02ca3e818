#include "files/ordered_writer.h"

#include <utility>

namespace ulvarin {

OrderedWriter::OrderedWriter(size_t capacityBytes) : capacityBytes_(capacityBytes) {}

OrderedWriter::~OrderedWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void OrderedWriter::Queue(Job job, size_t bytes) {
    jobs_.push_back({std::move(job), bytes});
    pendingBytes_ += bytes;
    if (!thread_.joinable()) thread_ = std::thread(&OrderedWriter::Run, this);
}

void OrderedWriter::Post(Job job) {
    {
        std::lock_guard lock(mutex_);
        Queue(std::move(job), 0);
    }
    wake_.notify_one();
}

bool OrderedWriter::TryPost(Job job, size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        // Pending bytes pass the capacity only by a job taken when none were pending.
        const size_t room = pendingBytes_ < capacityBytes_ ? capacityBytes_ - pendingBytes_ : 0;
        if (pendingBytes_ > 0 && bytes > room) return false;
        Queue(std::move(job), bytes);
    }
    wake_.notify_one();
    return true;
}

void OrderedWriter::WaitUntilIdle() {
    std::unique_lock lock(mutex_);
    idle_.wait(lock, [this] { return jobs_.empty() && !running_; });
}

void OrderedWriter::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return !jobs_.empty() || stopping_; });
        if (jobs_.empty()) return;  // stopping, and nothing is left to write
        Queued queued = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            queued.job();
        } catch (...) {
            // A failed job must not end the writer: the jobs behind it still run.
        }
        queued.job = nullptr;  // what the job holds goes before the writer reports itself idle
        lock.lock();
        pendingBytes_ -= queued.bytes;
        running_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}

}  // namespace ulvarin
