#include "imagesplit/BmpWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <new>
#include <system_error>

#include "shared/ExitStatus.h"
#include "shared/platform/WholeFile.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Numbers.h"
#include "shared/platform/Paths.h"

namespace kvo {

namespace {

void PutLe16(std::uint8_t* at, std::uint16_t value) {
    at[0] = static_cast<std::uint8_t>(value);
    at[1] = static_cast<std::uint8_t>(value >> 8);
}

void PutLe32(std::uint8_t* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// "<program>.<class>", as the source of a raised error. The error records keep the names they have
// always carried ("cDIBSection", "cDIBSectionSave", "cDIBSection256").
std::string ErrorSource(const char* className) { return ExecutableName() + "." + className; }

std::string WriterSource() { return ErrorSource("cDIBSection256"); }

// 1 bit per pixel (1 = black) to blue-green-red: 8 pixels per source byte, 24 output bytes.
const std::array<std::array<std::uint8_t, 24>, 256>& BilevelExpansion() {
    static const auto table = [] {
        std::array<std::array<std::uint8_t, 24>, 256> t{};
        for (int byte = 0; byte < 256; ++byte)
            for (int bit = 0; bit < 8; ++bit) {
                const std::uint8_t level = (byte & (0x80 >> bit)) ? 0 : 255;
                t[byte][3 * bit] = t[byte][3 * bit + 1] = t[byte][3 * bit + 2] = level;
            }
        return t;
    }();
    return table;
}

void BilevelRowToBgr(const std::uint8_t* source, int width, std::uint8_t* target) {
    const auto& table = BilevelExpansion();
    const int wholeBytes = width / 8;
    for (int i = 0; i < wholeBytes; ++i, target += 24) std::memcpy(target, table[source[i]].data(), 24);
    if (const int rest = width % 8) std::memcpy(target, table[source[wholeBytes]].data(), 3 * rest);
}

void GreyRowToBgr(const std::uint8_t* source, int width, std::uint8_t* target) {
    for (int x = 0; x < width; ++x, target += 3) target[0] = target[1] = target[2] = source[x];
}

void RgbRowToBgr(const std::uint8_t* source, int width, std::uint8_t* target) {
    for (int x = 0; x < width; ++x, source += 3, target += 3) {
        target[0] = source[2];
        target[1] = source[1];
        target[2] = source[0];
    }
}

}  // namespace

std::uint32_t BmpBytesPerScanLine(std::uint32_t width, int bitsPerPixel) {
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(width) * bitsPerPixel + 31) / 32 * 4);
}

std::uint32_t BmpPaletteEntries(int bitsPerPixel) { return bitsPerPixel == 1 ? 2 : bitsPerPixel == 8 ? 256 : 0; }

std::int32_t PixelsPerMetre(int dpi) {
    return static_cast<std::int32_t>(RoundHalfEven(dpi / 2.54 * 100));
}

std::array<std::uint8_t, kBmpInfoHeaderSize> BmpInfoHeader(std::int32_t width, std::int32_t height, int dpi,
                                                          int bitsPerPixel) {
    std::array<std::uint8_t, kBmpInfoHeaderSize> header{};
    PutLe32(&header[0], kBmpInfoHeaderSize);
    PutLe32(&header[4], static_cast<std::uint32_t>(width));
    PutLe32(&header[8], static_cast<std::uint32_t>(height));  // positive: bottom row first
    PutLe16(&header[12], 1);                                    // planes
    PutLe16(&header[14], static_cast<std::uint16_t>(bitsPerPixel));
    PutLe32(&header[20], BmpBytesPerScanLine(static_cast<std::uint32_t>(width), bitsPerPixel) * static_cast<std::uint32_t>(height));
    if (dpi != 0) {
        const auto resolution = static_cast<std::uint32_t>(PixelsPerMetre(dpi));
        PutLe32(&header[24], resolution);
        PutLe32(&header[28], resolution);
    }
    PutLe32(&header[32], BmpPaletteEntries(bitsPerPixel));  // colours used
    return header;
}

std::array<std::uint8_t, kBmpFileHeaderSize> BmpFileHeader(std::uint32_t imageSize, std::uint32_t paletteEntries) {
    std::array<std::uint8_t, kBmpFileHeaderSize> header{};
    header[0] = 'B';
    header[1] = 'M';
    PutLe32(&header[2], imageSize + kBmpHeadersSize + 4 * paletteEntries);
    PutLe32(&header[10], kBmpHeadersSize + 4 * paletteEntries);
    return header;
}

std::string ApiError(int errorNumber) {
    const char* text = std::strerror(errorNumber);
    return text ? text : "";
}

bool BmpBitmap::Create(int width, int height, int bitsPerPixel) {
    ClearUp();
    if (width <= 0 || height <= 0 || (bitsPerPixel != 1 && bitsPerPixel != 8 && bitsPerPixel != 24)) return false;
    const std::uint64_t rowBytes = (static_cast<std::uint64_t>(width) * bitsPerPixel + 31) / 32 * 4;
    const std::uint64_t imageSize = rowBytes * static_cast<std::uint64_t>(height);
    if (imageSize + kBmpHeadersSize + 4 * BmpPaletteEntries(bitsPerPixel) > std::numeric_limits<std::uint32_t>::max())
        return false;
    try {
        bits_.assign(static_cast<std::size_t>(imageSize), 0);
    } catch (const std::bad_alloc&) {
        ClearUp();
        return false;
    }
    width_ = width;
    height_ = height;
    bitsPerPixel_ = bitsPerPixel;
    bytesPerScanLine_ = static_cast<std::uint32_t>(rowBytes);
    infoHeader_ = BmpInfoHeader(width, height, dpi_, bitsPerPixel);
    return true;
}

std::uint64_t BmpBitmap::FileBytes() const {
    return kBmpHeadersSize + 4 * BmpPaletteEntries(bitsPerPixel_) + bits_.size();
}

void BmpBitmap::CreateFromPicture(const StdPicture& picture, PixelDepth depth) {
    if (!picture || picture->empty())
        throw DibError(kDibInvalidCall, ErrorSource("cDIBSection"), "There is no picture to copy");
    const image::Raster* source = picture.get();
    // Bilevel and grey rows are already laid out as the file keeps them.
    if (depth == PixelDepth::Own && (source->bitsPerPixel == 1 || source->bitsPerPixel == 8)) {
        if (!Create(source->width, source->height, source->bitsPerPixel)) return;
        const std::size_t rowBytes = std::min<std::size_t>(source->stride, bytesPerScanLine_);
        for (int y = 0; y < height_; ++y)
            std::memcpy(bits_.data() + static_cast<std::size_t>(height_ - 1 - y) * bytesPerScanLine_,
                        source->pixels.data() + static_cast<std::size_t>(y) * source->stride, rowBytes);
        return;
    }
    if (!Create(source->width, source->height)) return;
    image::Raster widened;
    if (source->bitsPerPixel != 1 && source->bitsPerPixel != 8 && source->bitsPerPixel != 24) {
        widened = image::ToRgb24(*source);
        source = &widened;
    }
    for (int y = 0; y < height_; ++y) {
        const std::uint8_t* row = source->pixels.data() + static_cast<std::size_t>(y) * source->stride;
        std::uint8_t* target = bits_.data() + static_cast<std::size_t>(height_ - 1 - y) * bytesPerScanLine_;
        switch (source->bitsPerPixel) {
            case 1: BilevelRowToBgr(row, width_, target); break;
            case 8: GreyRowToBgr(row, width_, target); break;
            default: RgbRowToBgr(row, width_, target); break;
        }
    }
}

void BmpBitmap::PaintPicture(BmpBitmap& destination) const {
    if (!Exists() || !destination.Exists() || bitsPerPixel_ != destination.bitsPerPixel_) return;
    // Rows are stored bottom first: the top row of each is its last.
    const int rows = std::min(height_, destination.height_);
    const std::size_t rowBytes =
        (std::min<std::size_t>(static_cast<std::size_t>(width_), destination.width_) * bitsPerPixel_ + 7) / 8;
    for (int y = 0; y < rows; ++y)
        std::memcpy(destination.bits_.data() + static_cast<std::size_t>(destination.height_ - 1 - y) * destination.bytesPerScanLine_,
                    bits_.data() + static_cast<std::size_t>(height_ - 1 - y) * bytesPerScanLine_, rowBytes);
}

void BmpBitmap::SavePicture(const std::string& fileName) const {
    if (!Exists()) throw DibError(kDibInvalidCall, WriterSource(), "There is no bitmap to save");

    // An existing file whose name differs only in case is the one replaced.
    const std::string target = ResolveFile(fileName).value_or(fileName);
    try {
        // Page bitmaps are large and short-lived: whole, but not flushed to disk.
        WholeFileWriter file(target, Durability::Plain);
        const std::uint32_t paletteEntries = BmpPaletteEntries(bitsPerPixel_);
        const auto fileHeader = BmpFileHeader(static_cast<std::uint32_t>(bits_.size()), paletteEntries);
        file.write(fileHeader.data(), fileHeader.size());
        file.write(infoHeader_.data(), infoHeader_.size());
        // Blue, green, red, reserved: white then black for 1 bit (1 = black), grey levels for 8.
        std::vector<std::uint8_t> palette;
        for (std::uint32_t i = 0; i < paletteEntries; ++i) {
            const auto level = static_cast<std::uint8_t>(paletteEntries == 2 ? 255 * (1 - i) : i);
            palette.insert(palette.end(), {level, level, level, 0});
        }
        file.write(palette.data(), palette.size());
        file.write(bits_.data(), bits_.size());
        file.commit();
    } catch (const std::system_error& error) {
        // A full work folder is the machine's fault, and must reach the program's end as such.
        if (IsMachineFault(error)) throw NoRoomForWork(WriterSource() + ": " + ApiError(error.code().value()));
        throw DibError(kDibCannotWriteFile, WriterSource(), ApiError(error.code().value()));
    }
}

void BmpBitmap::ClearUp() {
    std::vector<std::uint8_t>().swap(bits_);
    width_ = height_ = 0;
    bitsPerPixel_ = 24;
    bytesPerScanLine_ = 0;
}

void BmpSaveStage::Convert(const BmpBitmap& bitmap) {
    converted_.reset();
    const bool own = colourDepth_ == kColourDepthOwn;
    if (!own && (colourDepth_ != kColourDepth24 || (bitmap.Exists() && bitmap.BitsPerPixel() != 24))) return;
    auto copy = std::make_unique<BmpBitmap>();
    copy->SetDPI(bitmap.DPI());
    if (copy->Create(bitmap.Width(), bitmap.Height(), own ? bitmap.BitsPerPixel() : 24)) bitmap.PaintPicture(*copy);
    converted_ = std::move(copy);
}

void BmpSaveStage::Save(const std::string& fileName) const {
    if (colourDepth_ != kColourDepth24 && colourDepth_ != kColourDepthOwn)
        throw DibError(kDibInvalidCall, ErrorSource("cDIBSectionSave"), "Colour depth " + std::to_string(colourDepth_) + " is not supported");
    if (!converted_) throw DibError(kDibInvalidCall, ErrorSource("cDIBSectionSave"), "Nothing has been converted");
    converted_->SavePicture(fileName);
}

}  // namespace kvo
