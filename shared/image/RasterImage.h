#pragma once
// Raster files in and out: the one place that knows the image library.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kvo::image {

// A raster in memory, rows top first, each `stride` bytes.
//   bitsPerPixel 1:  packed, most significant bit first, 1 = black, 0 = white
//   bitsPerPixel 8:  grey, 0 = black, 255 = white
//   bitsPerPixel 24: R, G, B bytes per pixel
struct Raster {
    int width = 0;
    int height = 0;
    int bitsPerPixel = 0;
    int xDpi = 0;  // 0 when the file does not say
    int yDpi = 0;
    std::size_t stride = 0;
    std::vector<std::uint8_t> pixels;

    bool empty() const { return width <= 0 || height <= 0; }
};

// What a page holds, for choosing how to store it.
enum class PixelKind { Bilevel, Grey, Colour };

// A raster file opened frame by frame: multi-page TIFF (CCITT G3/G4 fax included), BMP (1, 4,
// 8, 16, 24, 32 bits), JPEG, GIF, PNG, PNM. Never throws: a file the library cannot read has
// no frames. Frames are given at their own depth, reduced to 1, 8 or 24 bits (a colour map is
// expanded to grey or RGB).
class RasterFile {
public:
    explicit RasterFile(const std::string& path);
    ~RasterFile();
    RasterFile(const RasterFile&) = delete;
    RasterFile& operator=(const RasterFile&) = delete;

    int frameCount() const;
    std::optional<Raster> frame(int index) const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The first frame of a file, or nullopt.
std::optional<Raster> ReadRaster(const std::string& path);

// Pixel conversions.
Raster ToRgb24(const Raster& raster);
// Bilevel when every pixel is pure black or white, Grey when every pixel has R = G = B.
PixelKind Classify(const Raster& raster);
// The same picture at the least depth that keeps every pixel unchanged (1, 8 or 24 bits).
Raster ReduceLossless(const Raster& raster);

// Encodings. Throw std::runtime_error on failure.
// Raw CCITT Group 4 data (K = -1, Columns = width, Rows = height, BlackIs1 = false, i.e. the
// encoder's 0 bits are white), of a 1-bit raster.
std::vector<std::uint8_t> EncodeG4(const Raster& bilevel);
// PNG bytes of any raster, and back.
std::vector<std::uint8_t> EncodePng(const Raster& raster);
Raster DecodePng(const std::vector<std::uint8_t>& png);
// A multi-page TIFF (G4 for 1-bit pages, deflate otherwise), written whole.
void WriteMultiPageTiff(const std::vector<Raster>& pages, const std::string& path);

}  // namespace kvo::image
