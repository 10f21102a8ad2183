// Decoding on one thread while another stores the decoded bands.
//
// A decoder produces bands of rows strictly in order on one thread (the
// codec libraries keep their state there), and each band is then reordered
// into the image's planes, which is also where the image's fresh memory is
// first touched. On a large image the second step costs about as much as
// the first, so with a second thread free the two overlap: bands wait in a
// short queue for the storing thread.
//
// The decoding thread never waits for the other: when the queue is full it
// stores the oldest band itself, and at the end it helps empty the queue.
// So if no second thread is free (the pool's other threads are all busy),
// everything simply runs on the decoding thread, in order.
#ifndef AXISWARP_TOOLS_BAND_PIPELINE_HPP
#define AXISWARP_TOOLS_BAND_PIPELINE_HPP

#include "runtime/worker_pool.hpp"

#include <cstddef>
#include <cstdint>
#include <functional>

namespace axiswarp::tools {

// Calls produce(b, buffer) for b = 0 .. bands-1 in order on one thread, each
// filling a buffer of `bandBytes` bytes (aligned for any sample type), and
// store(b, buffer) once for each band after its produce, on that thread or
// another. Bands may be stored in any order and two at once. An exception
// from produce ends the decoding; it is rethrown here once nothing runs.
void pipelineBands(WorkerPool* pool, std::size_t bandBytes, std::uint32_t bands,
                   const std::function<void(std::uint32_t, unsigned char*)>& produce,
                   const std::function<void(std::uint32_t, const unsigned char*)>& store);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_BAND_PIPELINE_HPP
