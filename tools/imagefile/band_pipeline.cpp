#include "imagefile/band_pipeline.hpp"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <vector>

namespace axiswarp::tools {

namespace {

// Bands decoded ahead of the storing thread.
constexpr std::size_t kQueuedBands = 3;

struct Band {
    std::uint32_t number = 0;
    std::vector<std::uint64_t> storage;  // aligned for any sample type; used as bytes
    unsigned char* bytes() { return reinterpret_cast<unsigned char*>(storage.data()); }
};

}  // namespace

void pipelineBands(WorkerPool* pool, std::size_t bandBytes, std::uint32_t bands,
                   const std::function<void(std::uint32_t, unsigned char*)>& produce,
                   const std::function<void(std::uint32_t, const unsigned char*)>& store) {
    if (pool == nullptr || pool->threads() < 2 || bands < 2) {
        Band band;
        band.storage.resize((bandBytes + 7) / 8);
        for (std::uint32_t b = 0; b < bands; ++b) {
            produce(b, band.bytes());
            store(b, band.bytes());
        }
        return;
    }

    // Buffers: one being filled, kQueuedBands waiting, one being stored.
    std::vector<Band> buffers(kQueuedBands + 2);
    for (Band& band : buffers) band.storage.resize((bandBytes + 7) / 8);
    std::mutex mutex;
    std::condition_variable ready;
    std::vector<Band*> free;
    for (Band& band : buffers) free.push_back(&band);
    std::deque<Band*> queued;
    bool finished = false;  // no more bands will be queued

    // Stores one queued band; false when none is queued. Called with the lock.
    auto storeOne = [&](std::unique_lock<std::mutex>& lock) {
        if (queued.empty()) return false;
        Band* band = queued.front();
        queued.pop_front();
        lock.unlock();
        store(band->number, band->bytes());
        lock.lock();
        free.push_back(band);
        return true;
    };

    auto decoder = [&] {
        try {
            for (std::uint32_t b = 0; b < bands; ++b) {
                Band* band = nullptr;
                {
                    std::unique_lock lock(mutex);
                    // Never wait for the other thread: store a band here instead.
                    while (free.empty() || queued.size() >= kQueuedBands) storeOne(lock);
                    band = free.back();
                    free.pop_back();
                }
                band->number = b;
                produce(b, band->bytes());
                {
                    std::lock_guard lock(mutex);
                    queued.push_back(band);
                }
                ready.notify_one();
            }
        } catch (...) {
            {
                std::lock_guard lock(mutex);
                queued.clear();
                finished = true;
            }
            ready.notify_all();
            throw;
        }
        std::unique_lock lock(mutex);
        finished = true;
        ready.notify_all();
        while (storeOne(lock)) {
        }
    };
    auto storer = [&] {
        std::unique_lock lock(mutex);
        for (;;) {
            ready.wait(lock, [&] { return finished || !queued.empty(); });
            if (!storeOne(lock) && finished) return;
        }
    };
    // Task 0 is always taken first, so whoever runs the storer finds the
    // decoder already running, or (on one thread) already finished.
    pool->run(2, [&](std::size_t task) {
        if (task == 0) decoder();
        else storer();
    });
}

}  // namespace axiswarp::tools
