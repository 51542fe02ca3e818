// Runs file writes (any jobs) one at a time on a thread of its own, in the order they were
// posted, so a slow or failing disk never holds up the thread that posts them. The thread
// starts with the first job; a writer never posted to holds none.
//
// The queue can be bounded by the bytes its jobs hold (frame copies, mostly): a job posted
// through TryPost names its bytes, which count from the post until the job has run, the
// running job included, so the bound holds the memory the writer keeps alive. A job that
// would take the pending bytes past the capacity is refused, never waited for: the poster
// decides what to do with what it could not queue. A job is always taken when no bytes are
// pending, so a capacity below one job still lets jobs through one at a time. Post queues
// without a bound; it is meant for small jobs that carry no data (closing a file).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <limits>
#include <mutex>
#include <thread>

namespace ulvarin {

class OrderedWriter {
public:
    using Job = std::function<void()>;
    static constexpr size_t kUnbounded = std::numeric_limits<size_t>::max();

    // `capacityBytes` bounds the bytes of jobs posted through TryPost and not yet run.
    explicit OrderedWriter(size_t capacityBytes = kUnbounded);
    // Runs every job still queued, then ends the thread.
    ~OrderedWriter();
    OrderedWriter(const OrderedWriter&) = delete;
    OrderedWriter& operator=(const OrderedWriter&) = delete;

    // Queues `job` behind every job posted before it. A job that throws is ended there and
    // the next one runs.
    void Post(Job job);
    // Queues `job`, holding `bytes`, as Post does when the pending bytes leave room for it
    // (or none are pending); otherwise returns false and drops the job unrun.
    bool TryPost(Job job, size_t bytes);
    // Returns once every job posted before the call has run.
    void WaitUntilIdle();

private:
    struct Queued {
        Job job;
        size_t bytes = 0;
    };
    void Queue(Job job, size_t bytes);  // with mutex_ held
    void Run();

    const size_t capacityBytes_;
    std::mutex mutex_;
    std::condition_variable wake_;  // a job was posted, or the writer is stopping
    std::condition_variable idle_;  // the queue ran empty
    std::deque<Queued> jobs_;
    size_t pendingBytes_ = 0;  // of the queued jobs and the one running
    bool running_ = false;     // a job taken from the queue is being run
    bool stopping_ = false;
    std::thread thread_;
};

}  // namespace ulvarin
