// Worker threads shared by a whole run: files, and parts of one image.
//
// A pool of N threads counts the thread that makes it: N - 1 workers are
// started. run(count, task) runs task(0) .. task(count - 1) on the calling
// thread and on any worker that is idle, and returns when all have finished.
// A task may itself call run(): its own parts then go to idle workers too, so
// one large image uses every thread while several files each keep theirs.
// A thread waiting in run() for tasks that others took does not take new
// work, so runs nest without deadlock (tasks never wait on anything else).
#ifndef AXISWARP_TOOLS_WORKER_POOL_HPP
#define AXISWARP_TOOLS_WORKER_POOL_HPP

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace axiswarp::tools {

class WorkerPool {
public:
    // threads >= 1; 1 runs every task on the caller.
    explicit WorkerPool(unsigned threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    unsigned threads() const noexcept { return threads_; }

    // Every task runs, even after one has thrown; the exception of the
    // lowest-numbered task that threw is then rethrown here.
    void run(std::size_t count, const std::function<void(std::size_t)>& task);

private:
    struct Batch;
    void workerLoop();
    // Runs tasks of `batch` until none is left to take; under no lock.
    static void drain(Batch& batch);

    unsigned threads_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::shared_ptr<Batch>> open_;  // batches with tasks not yet taken
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_WORKER_POOL_HPP
