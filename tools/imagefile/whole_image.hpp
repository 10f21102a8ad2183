// Whole images over the band readers and writers: the planar Image of the
// tool's whole-file API (image_io.hpp) filled from a reader, and handed to a
// writer, band by band. The reordering between the codecs' interleaved rows
// and the image's planes (planar_layout.hpp) happens here only.
#ifndef AXISWARP_TOOLS_WHOLE_IMAGE_HPP
#define AXISWARP_TOOLS_WHOLE_IMAGE_HPP

#include "image/image.hpp"
#include "imagefile/codec_options.hpp"
#include "imagefile/image_file.hpp"
#include "imagefile/image_stream.hpp"

namespace axiswarp::tools {

// Every page the reader has left, with its metadata and compression (the
// orientation as the reader gives it, not applied). A page's memory is taken
// once its first band has decoded, so that a file holding no real data fails
// before it costs what its header claims. With options.pool, an idle thread
// stores bands while the reader goes on (band_pipeline.hpp).
ImageFile readAllPages(ImageReader& reader, const ImageReadOptions& options);

// The stream a writer is opened with for these pages; the metadata and
// compression are the file's.
StreamInfo streamInfoOf(const ImageFile& file, ImageFormat format);
StreamInfo streamInfoOf(const Image& image, ImageFormat format);

// All rows of one page, band by band; the caller moves to the next page and
// finishes.
void writePage(ImageWriter& writer, const Image& image);

}  // namespace axiswarp::tools

#endif  // AXISWARP_TOOLS_WHOLE_IMAGE_HPP
