// The pool runs every task exactly once, nested runs included, on any number
// of threads, and reports the failure of the lowest-numbered task.
#include "runtime/worker_pool.hpp"
#include "skip_without_threads.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using axiswarp::tools::WorkerPool;

TEST(WorkerPool, NestedRunsRunEveryTaskOnce) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    struct Case {
        unsigned threads;
        std::size_t outer, inner;
    };
    for (const Case c : {Case{1, 3, 4}, Case{2, 1, 9}, Case{3, 5, 7}, Case{4, 2, 1}, Case{8, 6, 13}, Case{2, 0, 3}}) {
        SCOPED_TRACE(std::to_string(c.threads) + " threads, " + std::to_string(c.outer) + " by " +
                     std::to_string(c.inner));
        WorkerPool pool(c.threads);
        std::vector<std::atomic<int>> runs(c.outer * c.inner);
        pool.run(c.outer, [&](std::size_t o) {
            pool.run(c.inner, [&](std::size_t i) { ++runs[o * c.inner + i]; });
        });
        for (std::size_t t = 0; t < runs.size(); ++t) EXPECT_EQ(runs[t].load(), 1) << "task " << t;
    }
}

TEST(WorkerPool, TheLowestFailingTaskIsReportedAfterAllHaveRun) {
    AXISWARP_SKIP_WITHOUT_THREADS();
    for (const unsigned threads : {1u, 2u, 4u}) {
        WorkerPool pool(threads);
        std::atomic<int> ran{0};
        try {
            pool.run(40, [&](std::size_t k) {
                ++ran;
                if (k == 31 || k == 7 || k == 12) throw std::runtime_error("task " + std::to_string(k));
            });
            ADD_FAILURE() << "no failure reported";
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), "task 7") << threads << " threads";
        }
        EXPECT_EQ(ran.load(), 40) << threads << " threads";
    }
}

}  // namespace
