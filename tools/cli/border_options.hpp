// The --border and --fill options of the subcommands that build tables.
#ifndef AXISWARP_CLI_BORDER_OPTIONS_HPP
#define AXISWARP_CLI_BORDER_OPTIONS_HPP

#include "resample/resample_tables.hpp"
#include "runtime/tool_error.hpp"

#include <CLI/CLI.hpp>

#include <string>

namespace axiswarp::cli {

inline constexpr const char* kBorderHelp =
    "Samples beyond the edge (n = 4: a b c d): symmetric or reflect (dcba|abcd|dcba), mirror "
    "(dcb|abcd|cba), replicate (aaaa|abcd|dddd), wrap (abcd|abcd|abcd) or constant "
    "(vvvv|abcd|vvvv, v from --fill)";

inline constexpr const char* kFillTablesHelp =
    "The value v of every sample beyond the edge, with --border constant (default 0). Any v "
    "but 0 makes the tables name index N+1, a fill sample holding v that the caller appends";

inline constexpr const char* kFillResizeHelp =
    "The value v of every sample beyond the edge, with --border constant (default 0), in the "
    "image's sample values (0 to 255 for 8 bits); an integer image needs a v its type holds";

// The fill of the filter choice: --fill is refused with any border but constant.
inline double fillValue(const CLI::Option* option, double value, tools::Border border) {
    if (option != nullptr && option->count() > 0 && border != tools::Border::constant)
        throw tools::ToolError("--fill applies to --border constant, not to --border " +
                               std::string(tools::borderName(border)));
    return value;
}

}  // namespace axiswarp::cli

#endif  // AXISWARP_CLI_BORDER_OPTIONS_HPP
