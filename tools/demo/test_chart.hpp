// A synthetic test chart that shows what resampling does to an image.
//
// The chart is a size-by-size 8-bit RGB image of four quadrants:
//   top left      a zone plate: concentric rings whose frequency grows with
//                 the distance from the centre up to half a cycle per pixel
//                 at the corners, so aliasing shows as false rings
//   top right     line groups one to four pixels wide, vertical above and
//                 horizontal below, then a 32-spoke star beside an edge
//                 slanted by a few degrees
//   bottom left   a colour gradient: hue across, brightness falling downwards
//   bottom right  primary and secondary colour squares with sharp borders,
//                 black and white, and lettering
#ifndef AXISWARP_TOOLS_TEST_CHART_HPP
#define AXISWARP_TOOLS_TEST_CHART_HPP

#include "imagefile/image_io.hpp"

#include <cstdint>

namespace axiswarp::tools {

struct ImageRegion {
    std::uint32_t row = 0;
    std::uint32_t col = 0;
    std::uint32_t height = 0;
    std::uint32_t width = 0;
};

// Throws ToolError unless size is a multiple of 16 from 64 to 8192.
Image makeTestChart(std::uint32_t size);

// The square holding the star, a quarter of the chart's width on each side:
// the part worth enlarging.
ImageRegion chartStarRegion(std::uint32_t size);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_TEST_CHART_HPP
