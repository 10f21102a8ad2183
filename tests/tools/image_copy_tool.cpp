// Copies an image file through the tool library's codecs, unchanged: every
// page, the metadata, and the compression (or the one given), with the
// stored orientation kept. The TIFF interchange test drives it, so that
// files from an independent writer are checked sample for sample without
// the resampling in between.
//
// Usage: image_copy_tool IN OUT [none|lzw|deflate|jpeg]
#include "imagefile/image_io.hpp"

#include <cstdio>
#include <exception>
#include <string_view>

int main(int argc, char** argv) {
    namespace t = axiswarp::tools;
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: image_copy_tool IN OUT [none|lzw|deflate|jpeg]\n");
        return 2;
    }
    try {
        t::ImageReadOptions read;
        read.autoOrient = false;
        t::ImageWriteOptions write;
        write.warning = [](const std::string& text) { std::fprintf(stderr, "warning: %s\n", text.c_str()); };
        if (argc == 4) write.tiffCompression = t::parseTiffCompression(argv[3]);
        t::writeImageFile(argv[2], t::readImageFile(argv[1], read), write);
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
}
