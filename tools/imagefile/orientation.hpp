// Turning pages upright by their stored orientation.
//
// The orientation values are those of the EXIF and TIFF Orientation tags:
// they say where the stored first row and first column appear when the image
// is shown right:
//   1  row 0 at the top,    column 0 at the left   (upright)
//   2  row 0 at the top,    column 0 at the right  (mirrored left-right)
//   3  row 0 at the bottom, column 0 at the right  (turned 180 degrees)
//   4  row 0 at the bottom, column 0 at the left   (mirrored top-bottom)
//   5  row 0 at the left,   column 0 at the top    (transposed)
//   6  row 0 at the right,  column 0 at the top    (shown turned 90 degrees clockwise)
//   7  row 0 at the right,  column 0 at the bottom (transversed)
//   8  row 0 at the left,   column 0 at the bottom (shown turned 90 degrees anticlockwise)
// Values 5 to 8 swap width and height.
#ifndef AXISWARP_TOOLS_ORIENTATION_HPP
#define AXISWARP_TOOLS_ORIENTATION_HPP

#include "image/image.hpp"
#include "imagefile/image_file.hpp"

namespace axiswarp::tools {

// The image as it is meant to be seen, for any sample type. Throws ToolError
// for an orientation outside 1..8; 1 gives a copy.
Image orientUpright(const Image& image, int orientation);

// Every page upright, and the metadata saying so: orientation 1, and an EXIF
// block's tag set to 1. Nothing changes when the orientation is already 1.
void applyOrientation(ImageFile& file);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_ORIENTATION_HPP
