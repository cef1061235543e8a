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

// A raster file opened frame by frame: multi-page TIFF (CCITT G3/G4 fax included), BMP
// (uncompressed 1, 4, 8, 16, 24, 32 bits; run-length compressed BMPs are not read), JPEG, GIF
// (its first image only: animation frames are not pages), PNG, PNM. Never throws: a file that
// cannot be read has no frames. Frames are given upright, as the file's orientation (a TIFF
// page's Orientation tag, a JPEG's Exif orientation) shows them, at their own depth, reduced to 1, 8 or 24 bits
// (a colour map is expanded to 1 bit when it is just black and white, else to grey or RGB; an
// alpha channel is dropped). A TIFF's frame count comes from its directories alone; its pages
// are decoded one at a time by frame(), so a damaged page gives nullopt and spares the others.
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

// The pixel size of a raster file's first frame, from its header alone; nullopt when it cannot
// be read.
struct PixelSize {
    int width = 0;
    int height = 0;
};
std::optional<PixelSize> PixelSizeOf(const std::string& path);

// The first frame of a file, or nullopt.
std::optional<Raster> ReadRaster(const std::string& path);

// How a file asks for its stored picture to be shown (the TIFF Orientation tag and the Exif
// orientation share the values 1 to 8): mirrored left to right first when `mirrored`, then
// turned clockwise by `clockwise` degrees. Any value outside 1..8 counts as 1, as stored.
struct Orientation {
    int clockwise = 0;
    bool mirrored = false;
};
Orientation OrientationOf(int tagValue);

// Pixel conversions.
Raster ToRgb24(const Raster& raster);
// The raster turned clockwise by 90, 180 or 270 degrees (any other value leaves it as it is);
// a quarter turn swaps the resolutions along with the sides.
Raster Turned(const Raster& raster, int clockwise);
// The raster as `orientation` shows it.
Raster Oriented(const Raster& raster, const Orientation& orientation);
// The same paper with square pixels: the axis of lower resolution is scaled up to the other's
// (a 204 x 98 dpi fax page gets about twice its rows). Unchanged when the resolutions agree,
// one is unknown, or they differ more than kMostPixelStretch times (no real scanner does; such
// a header is not to be trusted with the page's memory).
inline constexpr double kMostPixelStretch = 4;
Raster WithSquarePixels(const Raster& raster);
// The raster scaled by its own factor on each axis (a bilevel one stays bilevel), with its
// resolutions scaled alike.
Raster Scaled(const Raster& raster, double scaleX, double scaleY);
// A smaller copy (0 < factor < 1) for a quick look at the page: 8-bit grey, or 24-bit colour.
Raster Reduced(const Raster& raster, double factor);
// How far the page's text lines are turned from level, in degrees, clockwise as seen (a line
// running down to the right is turned clockwise); nullopt when the image library's skew finder
// is not sure (no text lines, pictures, a blank page) or the skew lies beyond kMostSkew. The
// finder looks at a bilevel copy at a quarter and a half of the resolution.
inline constexpr double kMostSkew = 15;
std::optional<double> SkewOf(const Raster& raster);
// The raster turned clockwise by `degrees` about its centre onto a canvas grown just enough to
// hold all of it (the new corners are white), the centre staying the centre. A bilevel raster
// comes back in grey, so the turned strokes keep their edges.
Raster Rotated(const Raster& raster, double degrees);
// Bilevel when every pixel is pure black or white, Grey when every pixel has R = G = B.
PixelKind Classify(const Raster& raster);
// The same picture at the least depth that keeps every pixel unchanged (1, 8 or 24 bits).
Raster ReduceLossless(const Raster& raster);

// Encodings. Throw std::runtime_error on failure.
// Raw CCITT Group 4 data of a 1-bit raster (as a G4 TIFF strip: K = -1, Columns = width,
// Rows = height, rows not byte-aligned, ending in the end-of-block code). The stream codes the
// raster's 1 bits as black runs and its 0 bits as white runs. A decoder with BlackIs1 = false
// (the PDF default) therefore yields 0 for black, which is what /DeviceGray at 1 bit per
// component shows as black: embed it with /Filter /CCITTFaxDecode and
// /DecodeParms << /K -1 /Columns w /Rows h >>, without BlackIs1 and without /Decode.
std::vector<std::uint8_t> EncodeG4(const Raster& bilevel);
// A multi-page TIFF (G4 for 1-bit pages, deflate otherwise), written whole (a temporary file
// in the same folder renamed over `path`). Throws std::runtime_error on failure.
void WriteMultiPageTiff(const std::vector<Raster>& pages, const std::string& path);

// One raster as a file of the given format, written whole like WriteMultiPageTiff (JPEG
// stores a 1-bit raster as grey). Throws std::runtime_error for G3/G4 of anything but a 1-bit
// raster, or when the file cannot be written.
enum class FileFormat { Bmp, Png, Jpeg, Gif, Tiff, TiffG3, TiffG4, TiffDeflate };
void WriteRasterFile(const Raster& raster, const std::string& path, FileFormat format);

}  // namespace kvo::image
