// The golden suite: a fixed, generated set of module calls whose outputs are
// hashed and compared with the hashes committed in golden_hashes.txt, so that
// every machine, compiler and instruction-set level is held to the same bits.
//
// Everything here is reproducible everywhere: data come from a fixed-seed
// generator of this file (not from std:: distributions, whose output differs
// between standard libraries), values are made from integers by exact or
// IEEE-rounded operations, and digests are taken over a fixed little-endian
// byte order.
#ifndef AXISWARP_TESTS_GOLDEN_GOLDEN_CASES_HPP
#define AXISWARP_TESTS_GOLDEN_GOLDEN_CASES_HPP

#include <zuhost/standin_host.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace axiswarp::golden {

// One call: the four input arrays and a unique, descriptive name.
struct GoldenCase {
    std::string name;
    zuhost::ArrayPtr image, weights, indices, dim;
};

// The whole suite, in a fixed order. Built on demand: the arrays are large
// enough in total that they are made one case at a time.
std::size_t caseCount();
GoldenCase makeCase(std::size_t n);

// SHA-256 of how a call ended: for an output, its class, complexity,
// extents and the bytes of every element in little-endian order; for an
// error, its identifier. A NaN in a double or single output is hashed as
// the one quiet NaN of positive sign: a NaN stays a NaN everywhere, but which
// sign and payload it has depends on the compiler's operand order.
std::string digestOf(const zuhost::CallOutcome& outcome);

// "name digest" lines, as in the committed file.
struct GoldenLine {
    std::string name, digest;
};
std::vector<GoldenLine> parseGoldenFile(const std::string& text);

}  // namespace axiswarp::golden

#endif  // AXISWARP_TESTS_GOLDEN_GOLDEN_CASES_HPP
