#pragma once
// Rasters and BMP reading for the image splitter's tests.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "shared/image/RasterImage.h"

namespace kvo::test {

// A white raster of the given depth (1, 8 or 24 bits).
image::Raster BlankRaster(int width, int height, int bitsPerPixel);
// Paints one pixel: black/white for 1 bit, grey level for 8, R G B for 24.
void SetPixel(image::Raster& raster, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b);
// A white bilevel page with a black band of 20 rows starting at row `bandTop`.
image::Raster BilevelPage(int width, int height, int bandTop);

// A BMP file as read back: its headers' fields and its pixels.
struct BmpFile {
    std::string bytes;
    std::uint32_t fileSize = 0, dataOffset = 0, infoSize = 0, imageSize = 0;
    std::int32_t width = 0, height = 0, xPelsPerMeter = 0, yPelsPerMeter = 0;
    std::uint16_t planes = 0, bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t stride() const { return (static_cast<std::uint32_t>(width) * bitCount + 31) / 32 * 4; }
    // Blue, green, red of the pixel at (x, y), y counted from the top (through the colour table
    // for 1 and 8 bits).
    std::array<std::uint8_t, 3> Pixel(int x, int y) const;
};
BmpFile ReadBmp(const std::string& path);

}  // namespace kvo::test
