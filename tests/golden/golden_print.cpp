// Prints the digest of every golden case, one "name digest" line each, at
// the instruction-set level the module chooses (AXISWARP_SIMD pins one).
#include <cstdio>

#include <zuhost/standin_host.hpp>

#include "golden_cases.hpp"

int main() {
    const zuhost::Module module(AXISWARP_MODULE_PATH);
    for (std::size_t n = 0; n < axiswarp::golden::caseCount(); ++n) {
        const axiswarp::golden::GoldenCase c = axiswarp::golden::makeCase(n);
        const zuhost::CallOutcome outcome = module.call({c.image.get(), c.weights.get(), c.indices.get(), c.dim.get()});
        std::printf("%s %s\n", c.name.c_str(), axiswarp::golden::digestOf(outcome).c_str());
    }
    return 0;
}
