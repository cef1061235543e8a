#pragma once
// A picture as a PDF image stream carries it: its encoded bytes and what a reader needs to
// decode them. Made by the image adapter, embedded by the PDF adapter.
#include <cstdint>
#include <vector>

namespace kvo::image {

struct EncodedPicture {
    enum class Filter { Dct, CcittFax, Flate };
    enum class Colours { Grey, Rgb, Cmyk, Indexed };

    Filter filter = Filter::Flate;
    Colours colours = Colours::Grey;
    int width = 0;
    int height = 0;
    int bitsPerComponent = 8;
    std::vector<std::uint8_t> palette;  // R, G, B per entry, for Indexed
    // CCITT: K as the PDF filter takes it (-1 Group 4, 0 Group 3 one-dimensional, 1 two-
    // dimensional), and whether every coded row starts on a byte boundary.
    int ccittK = -1;
    bool ccittByteAligned = false;
    // Flate data whose rows carry PNG predictor tags.
    bool pngPredicted = false;
    // Decoded 0 means white instead of black (bilevel data whose photometry says so).
    bool inverted = false;
    // How the data is shown upright: mirrored left to right first, then turned clockwise by
    // 0, 90, 180 or 270 degrees (a file's own data kept as stored, with its orientation).
    int clockwise = 0;
    bool mirrored = false;
    // Dots per inch across and down the data as stored; 0 when the file does not say.
    double xDpi = 0;
    double yDpi = 0;
    std::vector<std::uint8_t> data;
};

}  // namespace kvo::image
