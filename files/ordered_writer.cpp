#include "files/ordered_writer.h"

#include <utility>

namespace ulvarin {

OrderedWriter::~OrderedWriter() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void OrderedWriter::Post(Job job) {
    {
        std::lock_guard lock(mutex_);
        jobs_.push_back(std::move(job));
        if (!thread_.joinable()) thread_ = std::thread(&OrderedWriter::Run, this);
    }
    wake_.notify_one();
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
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        running_ = true;
        lock.unlock();
        try {
            job();
        } catch (...) {
            // A failed job must not end the writer: the jobs behind it still run.
        }
        job = nullptr;  // what the job holds goes before the writer reports itself idle
        lock.lock();
        running_ = false;
        if (jobs_.empty()) idle_.notify_all();
    }
}

}  // namespace ulvarin
