#pragma once
// A device-independent bitmap in memory and its BMP file, and the save stage in front of it. The
// pixel buffer has the DIB row layout (rows bottom first, each padded to a multiple of 4 bytes;
// 24 bits: blue, green, red per pixel; 8 bits: a grey level; 1 bit: 1 = black, most significant
// bit first), so the file's pixel data is the buffer itself.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "shared/NumberedError.h"

#include "imagesplit/cBitmap.h"

namespace kvo {

// The BMP file layout: a 14-byte file header, a 40-byte information header, the pixels.
inline constexpr std::uint32_t kBmpFileHeaderSize = 14;
inline constexpr std::uint32_t kBmpInfoHeaderSize = 40;
inline constexpr std::uint32_t kBmpHeadersSize = kBmpFileHeaderSize + kBmpInfoHeaderSize;

// Width x bits per pixel, in bytes rounded up to a multiple of 4.
std::uint32_t BmpBytesPerScanLine(std::uint32_t width, int bitsPerPixel = 24);
// The colour table's entries: 2 for 1 bit (white, black), 256 grey levels for 8, none for 24.
std::uint32_t BmpPaletteEntries(int bitsPerPixel);
// dpi / 2.54 x 100 rounded to the nearest integer, halves to the even neighbour.
std::int32_t PixelsPerMetre(int dpi);
// The information header of a bottom-up bitmap; the resolution fields stay 0 when dpi is 0.
std::array<std::uint8_t, kBmpInfoHeaderSize> BmpInfoHeader(std::int32_t width, std::int32_t height, int dpi,
                                                          int bitsPerPixel = 24);
// The file header: "BM", the file size (image size + 54 + the colour table), two reserved
// zeros, the offset of the pixels (54 + the colour table).
std::array<std::uint8_t, kBmpFileHeaderSize> BmpFileHeader(std::uint32_t imageSize, std::uint32_t paletteEntries = 0);

// The depth a picture is copied at: always 24 bits, or the depth its pixels have (1 bit for
// bilevel, 8 for grey, 24 for colour), which every reader of the page bitmaps accepts.
enum class PixelDepth { Rgb24, Own };

// A failure raised by the bitmap writer: number, source, description.
class DibError : public NumberedError {
public:
    using NumberedError::NumberedError;
};

// The file cannot be created or written; the description is the system's message.
inline constexpr std::int32_t kDibCannotWriteFile = 17;
// Nothing to copy or to save (no picture, no bitmap, an unsupported colour depth).
inline constexpr std::int32_t kDibInvalidCall = 5;

// The system's message text for an error number (errno); "" when there is none.
std::string ApiError(int errorNumber);

class BmpBitmap {
public:
    BmpBitmap() = default;
    BmpBitmap(const BmpBitmap&) = delete;
    BmpBitmap& operator=(const BmpBitmap&) = delete;

    // Resolution written to the file by the next Create; 0 leaves the fields at 0.
    int DPI() const { return dpi_; }
    void SetDPI(int dpi) { dpi_ = dpi; }

    // A new zero-filled bitmap of the given size and depth (1, 8 or 24 bits); false (and empty)
    // when it cannot be made: a size of 0 or less, too large for the file's 32-bit fields, another
    // depth, or no memory.
    bool Create(int width, int height, int bitsPerPixel = 24);
    // A copy of the picture at `depth`, pixels unchanged (at 24 bits a bilevel or grey picture
    // gives equal blue, green and red). Throws DibError when there is no picture; copies nothing
    // when the bitmap cannot be made.
    void CreateFromPicture(const StdPicture& picture, PixelDepth depth = PixelDepth::Rgb24);
    // Copies this bitmap into `destination` of the same depth at (0, 0), as much as fits.
    void PaintPicture(BmpBitmap& destination) const;
    // Writes the BMP file whole (a temporary name beside it, then renamed over it): headers
    // and pixel data one write each. Throws DibError 17 with the system's message when the file
    // cannot be created or written (nothing is left behind), 5 when there is no bitmap.
    void SavePicture(const std::string& fileName) const;
    void ClearUp();

    bool Exists() const { return !bits_.empty(); }
    int Width() const { return width_; }
    int Height() const { return height_; }
    int BitsPerPixel() const { return bitsPerPixel_; }
    std::uint32_t BytesPerScanLine() const { return bytesPerScanLine_; }
    // The length of the file SavePicture writes.
    std::uint64_t FileBytes() const;
    const std::uint8_t* Bits() const { return bits_.data(); }
    std::uint8_t* Bits() { return bits_.data(); }

private:
    int dpi_ = 0;
    int width_ = 0;
    int height_ = 0;
    int bitsPerPixel_ = 24;
    std::uint32_t bytesPerScanLine_ = 0;
    std::array<std::uint8_t, kBmpInfoHeaderSize> infoHeader_{};
    std::vector<std::uint8_t> bits_;
};

// The save stage: converts a filled bitmap to the output colour depth and saves the result,
// as often as wanted. ColourDepth 3 takes a 24-bit bitmap; ColourDepth 0 keeps the bitmap's own
// depth.
class BmpSaveStage {
public:
    static constexpr int kColourDepthOwn = 0;
    static constexpr int kColourDepth24 = 3;

    int ColourDepth() const { return colourDepth_; }
    void SetColourDepth(int depth) { colourDepth_ = depth; }
    // How colours would be reduced at smaller depths; not consulted at 24 bits.
    int ReductionMethod() const { return reductionMethod_; }
    void SetReductionMethod(int method) { reductionMethod_ = method; }

    // Replaces the converted copy with one of bitmap at the colour depth.
    void Convert(const BmpBitmap& bitmap);
    // Writes the converted copy (BmpBitmap::SavePicture). Throws DibError 5 when there is
    // none or the depth is not supported.
    void Save(const std::string& fileName) const;

private:
    int colourDepth_ = 0;
    int reductionMethod_ = 0;
    std::unique_ptr<BmpBitmap> converted_;
};

}  // namespace kvo
