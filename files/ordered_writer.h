// Runs file writes (any jobs) one at a time on a thread of its own, in the order they were
// posted, so a slow or failing disk never holds up the thread that posts them. The thread
// starts with the first job; a writer never posted to holds none.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace ulvarin {

class OrderedWriter {
public:
    using Job = std::function<void()>;

    OrderedWriter() = default;
    // Runs every job still queued, then ends the thread.
    ~OrderedWriter();
    OrderedWriter(const OrderedWriter&) = delete;
    OrderedWriter& operator=(const OrderedWriter&) = delete;

    // Queues `job` behind every job posted before it. A job that throws is ended there and
    // the next one runs.
    void Post(Job job);
    // Returns once every job posted before the call has run.
    void WaitUntilIdle();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;  // a job was posted, or the writer is stopping
    std::condition_variable idle_;  // the queue ran empty
    std::deque<Job> jobs_;
    bool running_ = false;  // a job taken from the queue is being run
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ulvarin
