#include "runtime/worker_pool.hpp"

#include <atomic>
#include <exception>

namespace axiswarp::tools {

struct WorkerPool::Batch {
    const std::function<void(std::size_t)>* task = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::mutex mutex;  // guards finished, errors
    std::condition_variable allDone;
    std::size_t finished = 0;
    std::vector<std::exception_ptr> errors;  // by task number
};

WorkerPool::WorkerPool(unsigned threads) : threads_(threads == 0 ? 1 : threads) {
    workers_.reserve(threads_ - 1);
    for (unsigned t = 1; t < threads_; ++t) workers_.emplace_back([this] { workerLoop(); });
}

WorkerPool::~WorkerPool() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (std::thread& worker : workers_) worker.join();
}

void WorkerPool::drain(Batch& batch) {
    for (std::size_t k = batch.next++; k < batch.count; k = batch.next++) {
        std::exception_ptr error;
        try {
            (*batch.task)(k);
        } catch (...) {
            error = std::current_exception();
        }
        std::lock_guard lock(batch.mutex);
        if (error) batch.errors[k] = error;
        if (++batch.finished == batch.count) batch.allDone.notify_all();
    }
}

void WorkerPool::workerLoop() {
    for (;;) {
        std::shared_ptr<Batch> batch;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !open_.empty(); });
            if (stopping_) return;
            // The newest batch first: parts of an image already being worked
            // on finish before another file is started.
            batch = open_.back();
            if (batch->next.load() >= batch->count) {
                open_.pop_back();
                continue;
            }
        }
        drain(*batch);
    }
}

void WorkerPool::run(std::size_t count, const std::function<void(std::size_t)>& task) {
    if (count == 0) return;
    auto batch = std::make_shared<Batch>();
    batch->task = &task;
    batch->count = count;
    batch->errors.resize(count);
    const bool share = count > 1 && !workers_.empty();
    if (share) {
        {
            std::lock_guard lock(mutex_);
            open_.push_back(batch);
        }
        wake_.notify_all();
    }
    drain(*batch);
    if (share) {
        {
            std::lock_guard lock(mutex_);
            for (auto it = open_.begin(); it != open_.end(); ++it) {
                if (*it == batch) {
                    open_.erase(it);
                    break;
                }
            }
        }
        std::unique_lock lock(batch->mutex);
        batch->allDone.wait(lock, [&] { return batch->finished == batch->count; });
    }
    for (const std::exception_ptr& error : batch->errors)
        if (error) std::rethrow_exception(error);
}

}  // namespace axiswarp::tools
