// Value checks shared by the subcommands' options, as CLI11 validators: the
// option's value is converted by CLI11 into its typed variable, and a value
// outside these ranges is a usage error naming the option.
#ifndef AXISWARP_CLI_OPTION_CHECKS_HPP
#define AXISWARP_CLI_OPTION_CHECKS_HPP

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdint>
#include <string>
#include <limits>

namespace axiswarp::cli {

// A scale: positive and finite. CLI11's Range lets NaN through (no
// comparison with it fails), so this check is CLI11's number conversion and
// one test of the value.
inline CLI::Validator positiveFiniteScale() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            double value = 0.0;
            if (CLI::detail::lexical_cast(text, value) && std::isfinite(value) && value > 0.0) return {};
            return "expected a positive number such as 0.5 or 2, not '" + text + "'";
        },
        "POSITIVE");
}

// An image length in pixels: 1 to 2^31 - 1, PNG's own limit.
inline constexpr std::uint32_t kMaxImageLength = 0x7fffffff;
inline CLI::Range imageLength() { return CLI::Range(std::uint32_t{1}, kMaxImageLength); }

// A table length: 1 to 2^31.
inline CLI::Range tableLength(std::uint64_t most) { return CLI::Range(std::uint64_t{1}, most); }

}  // namespace axiswarp::cli

#endif  // AXISWARP_CLI_OPTION_CHECKS_HPP
