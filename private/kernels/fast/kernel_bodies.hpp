// All kernel bodies, in dependency order, for a level's translation unit to
// include inside its namespace after its Vec (see lane_helpers.hpp).
// Deliberately without an include guard: each level includes it once, in
// its own namespace.
#include "kernels/fast/lane_helpers.hpp"
#include "kernels/fast/down_rows_direct.hpp"
#include "kernels/fast/down_rows_tiled.hpp"
#include "kernels/fast/across_columns_tiled.hpp"
#include "kernels/fast/one_tap_along_column.hpp"
#include "kernels/fast/across_planes_tiled.hpp"
#include "kernels/fast/strategy_choice.hpp"
