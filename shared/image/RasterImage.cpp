#include "shared/image/RasterImage.h"

#include "shared/image/PictureEncoding.h"

#include "shared/platform/FileSearch.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace kvo::image {

namespace {

// Leptonica reports every failure on stderr; the callers judge by results instead.
void QuietLibrary() {
    static const bool silenced = (setMsgSeverity(L_SEVERITY_NONE), true);
    (void)silenced;
}

struct PixDeleter {
    void operator()(PIX* pix) const { pixDestroy(&pix); }
};
using PixPtr = std::unique_ptr<PIX, PixDeleter>;

struct PixaDeleter {
    void operator()(PIXA* pixa) const { pixaDestroy(&pixa); }
};

// Bytes handed out by the library's memory writers.
struct LeptBytesDeleter {
    void operator()(l_uint8* data) const { lept_free(data); }
};
using LeptBytes = std::unique_ptr<l_uint8, LeptBytesDeleter>;

std::size_t MinimumStride(int width, int bitsPerPixel) {
    return (static_cast<std::size_t>(width) * bitsPerPixel + 7) / 8;
}

void CheckLayout(const Raster& raster) {
    if (raster.empty()) throw std::runtime_error("empty raster");
    if (raster.bitsPerPixel != 1 && raster.bitsPerPixel != 8 && raster.bitsPerPixel != 24)
        throw std::runtime_error("unsupported raster depth " + std::to_string(raster.bitsPerPixel));
    if (raster.stride < MinimumStride(raster.width, raster.bitsPerPixel) ||
        raster.pixels.size() < raster.stride * static_cast<std::size_t>(raster.height))
        throw std::runtime_error("raster buffer smaller than its size says");
}

Raster BlankRaster(int width, int height, int bitsPerPixel, int xDpi, int yDpi) {
    Raster raster;
    raster.width = width;
    raster.height = height;
    raster.bitsPerPixel = bitsPerPixel;
    raster.xDpi = xDpi;
    raster.yDpi = yDpi;
    raster.stride = MinimumStride(width, bitsPerPixel);
    raster.pixels.assign(raster.stride * static_cast<std::size_t>(height), 0);
    return raster;
}

// Brings a picture to 1 bit (1 = black), 8 bits grey or 32 bits RGB, without colour map.
PixPtr Normalise(PIX* pix) {
    if (PIXCMAP* cmap = pixGetColormap(pix)) {
        l_int32 hasColour = 0;
        l_int32 blackAndWhite = 0;
        pixcmapHasColor(cmap, &hasColour);
        pixcmapIsBlackAndWhite(cmap, &blackAndWhite);
        l_int32 target = hasColour                                    ? REMOVE_CMAP_TO_FULL_COLOR
                         : (pixGetDepth(pix) == 1 && blackAndWhite) ? REMOVE_CMAP_TO_BINARY
                                                                      : REMOVE_CMAP_TO_GRAYSCALE;
        return PixPtr(pixRemoveColormap(pix, target));
    }
    switch (pixGetDepth(pix)) {
        case 1:
        case 8: return PixPtr(pixClone(pix));
        // A picture with an alpha channel is shown as it lies on white paper: the colour under
        // a transparent part may be anything (libtiff gives black).
        case 32: return PixPtr(pixGetSpp(pix) == 4 ? pixAlphaBlendUniform(pix, 0xffffff00) : pixClone(pix));
        case 16: return PixPtr(pixConvert16To8(pix, L_MS_BYTE));
        case 24: return PixPtr(pixConvert24To32(pix));
        default: return PixPtr(pixConvertTo8(pix, 0));
    }
}

// Leptonica keeps 1- and 8-bit rows as native 32-bit words whose most significant byte holds
// the leftmost pixels; on a little-endian machine the bytes of each word must be reversed.
void WordsToBytes(const l_uint32* words, std::size_t wordCount, std::uint8_t* out, std::size_t outBytes) {
    std::size_t i = 0;
    for (; i < wordCount && (i + 1) * 4 <= outBytes; ++i) {
        l_uint32 word = words[i];
        out[i * 4] = static_cast<std::uint8_t>(word >> 24);
        out[i * 4 + 1] = static_cast<std::uint8_t>(word >> 16);
        out[i * 4 + 2] = static_cast<std::uint8_t>(word >> 8);
        out[i * 4 + 3] = static_cast<std::uint8_t>(word);
    }
    for (std::size_t b = i * 4; b < outBytes && i < wordCount; ++b) {
        out[b] = static_cast<std::uint8_t>(words[i] >> (24 - 8 * (b - i * 4)));
    }
}

void BytesToWords(const std::uint8_t* in, std::size_t inBytes, l_uint32* words, std::size_t wordCount) {
    for (std::size_t i = 0; i < wordCount; ++i) {
        l_uint32 word = 0;
        for (std::size_t b = 0; b < 4; ++b) {
            std::size_t at = i * 4 + b;
            word = (word << 8) | (at < inBytes ? in[at] : 0u);
        }
        words[i] = word;
    }
}

Raster FromPix(PIX* source) {
    PixPtr pix = Normalise(source);
    if (!pix) throw std::runtime_error("cannot convert the picture");
    const int width = pixGetWidth(pix.get());
    const int height = pixGetHeight(pix.get());
    const int depth = pixGetDepth(pix.get());
    Raster raster = BlankRaster(width, height, depth == 32 ? 24 : depth, pixGetXRes(pix.get()), pixGetYRes(pix.get()));
    const l_uint32* data = pixGetData(pix.get());
    const std::size_t wpl = static_cast<std::size_t>(pixGetWpl(pix.get()));
    for (int y = 0; y < height; ++y) {
        const l_uint32* line = data + wpl * y;
        std::uint8_t* out = raster.pixels.data() + raster.stride * y;
        if (depth == 32) {
            for (int x = 0; x < width; ++x) {
                l_uint32 word = line[x];
                out[3 * x] = static_cast<std::uint8_t>(word >> L_RED_SHIFT);
                out[3 * x + 1] = static_cast<std::uint8_t>(word >> L_GREEN_SHIFT);
                out[3 * x + 2] = static_cast<std::uint8_t>(word >> L_BLUE_SHIFT);
            }
        } else {
            WordsToBytes(line, wpl, out, raster.stride);
        }
        if (depth == 1 && width % 8 != 0) out[raster.stride - 1] &= static_cast<std::uint8_t>(0xFF00u >> (width % 8));
    }
    return raster;
}

PixPtr ToPix(const Raster& raster) {
    CheckLayout(raster);
    const int depth = raster.bitsPerPixel == 24 ? 32 : raster.bitsPerPixel;
    PixPtr pix(pixCreateNoInit(raster.width, raster.height, depth));
    if (!pix) throw std::runtime_error("out of memory for a " + std::to_string(raster.width) + "x" +
                                       std::to_string(raster.height) + " picture");
    pixSetResolution(pix.get(), raster.xDpi, raster.yDpi);
    l_uint32* data = pixGetData(pix.get());
    const std::size_t wpl = static_cast<std::size_t>(pixGetWpl(pix.get()));
    const std::size_t rowBytes = MinimumStride(raster.width, raster.bitsPerPixel);
    for (int y = 0; y < raster.height; ++y) {
        l_uint32* line = data + wpl * y;
        const std::uint8_t* in = raster.pixels.data() + raster.stride * y;
        if (depth == 32) {
            for (int x = 0; x < raster.width; ++x) {
                line[x] = (l_uint32(in[3 * x]) << L_RED_SHIFT) | (l_uint32(in[3 * x + 1]) << L_GREEN_SHIFT) |
                          (l_uint32(in[3 * x + 2]) << L_BLUE_SHIFT);
            }
        } else {
            BytesToWords(in, rowBytes, line, wpl);
        }
    }
    return pix;
}

// Reads a pointer-to-bytes result of a Leptonica memory writer into a vector.
template <typename Writer>
std::vector<std::uint8_t> EncodeWith(const char* what, Writer writer) {
    l_uint8* data = nullptr;
    size_t size = 0;
    const bool failed = writer(&data, &size) != 0;
    LeptBytes owned(data);
    if (failed || !data) throw std::runtime_error(std::string("cannot encode the picture as ") + what);
    return std::vector<std::uint8_t>(data, data + size);
}

void WriteWhole(const std::vector<std::uint8_t>& bytes, const std::string& path) {
    WriteFileAtomically(path, std::string(bytes.begin(), bytes.end()));
}

bool IsTiffFile(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    const bool tiff = fileFormatIsTiff(file) != 0;
    std::fclose(file);
    return tiff;
}

int TiffFrameCount(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return 0;
    l_int32 count = 0;
    if (tiffGetCount(file, &count) != 0) count = 0;
    std::fclose(file);
    return count;
}

// ---- BMP at 16 and 32 bits ----
// Leptonica reads 16-bit BMPs as grey and gives 32-bit ones with red and blue swapped, so these
// two depths (uncompressed or with bit-field masks) are decoded here.

std::uint32_t LittleEndian(const std::string& bytes, std::size_t at, int size) {
    std::uint32_t value = 0;
    for (int i = size - 1; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[at + i]);
    return value;
}

// Scales the masked field of a pixel to 0..255.
struct ChannelMask {
    explicit ChannelMask(std::uint32_t mask) : mask_(mask) {
        if (mask == 0) return;
        shift_ = __builtin_ctz(mask);
        max_ = (mask >> shift_) == 0xFFFFFFFFu ? 0xFFFFFFFFu : (mask >> shift_);
    }
    std::uint8_t operator()(std::uint32_t pixel) const {
        if (mask_ == 0) return 0;
        return static_cast<std::uint8_t>((static_cast<std::uint64_t>((pixel & mask_) >> shift_) * 255 + max_ / 2) / max_);
    }

private:
    std::uint32_t mask_;
    int shift_ = 0;
    std::uint32_t max_ = 1;
};

bool IsDirectColourBmp(const std::string& path) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    unsigned char header[30] = {};
    const bool complete = std::fread(header, 1, sizeof header, file) == sizeof header;
    std::fclose(file);
    const int bits = header[28] | header[29] << 8;
    return complete && header[0] == 'B' && header[1] == 'M' && (bits == 16 || bits == 32);
}

std::optional<Raster> DecodeDirectColourBmp(const std::string& bytes) {
    if (bytes.size() < 54) return std::nullopt;
    const std::uint32_t dataAt = LittleEndian(bytes, 10, 4);
    const std::uint32_t headerSize = LittleEndian(bytes, 14, 4);
    const auto width = static_cast<std::int32_t>(LittleEndian(bytes, 18, 4));
    const auto signedHeight = static_cast<std::int32_t>(LittleEndian(bytes, 22, 4));
    const int bits = static_cast<int>(LittleEndian(bytes, 28, 2));
    const std::uint32_t compression = LittleEndian(bytes, 30, 4);
    if (width <= 0 || signedHeight == 0 || signedHeight == INT32_MIN || headerSize < 40) return std::nullopt;
    const std::int64_t height = signedHeight < 0 ? -static_cast<std::int64_t>(signedHeight) : signedHeight;
    if (static_cast<std::int64_t>(width) * height > (std::int64_t{1} << 28)) return std::nullopt;

    std::uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (bits == 32) {
        masks[0] = 0xFF0000;
        masks[1] = 0xFF00;
        masks[2] = 0xFF;
    }
    if (compression == 3 || compression == 6) {  // bit fields, after a 40-byte header or inside a larger one
        if (bytes.size() < 66) return std::nullopt;
        for (int i = 0; i < 3; ++i) masks[i] = LittleEndian(bytes, 54 + 4 * i, 4);
    } else if (compression != 0) {
        return std::nullopt;
    }
    const std::size_t rowBytes = (static_cast<std::size_t>(width) * bits + 31) / 32 * 4;
    if (dataAt > bytes.size() || rowBytes * height > bytes.size() - dataAt) return std::nullopt;

    const ChannelMask red(masks[0]), green(masks[1]), blue(masks[2]);
    const auto dpi = [&](std::size_t at) {
        return static_cast<int>((static_cast<std::int32_t>(LittleEndian(bytes, at, 4)) * 254 + 5000) / 10000);
    };
    Raster raster = BlankRaster(width, static_cast<int>(height), 24, dpi(38), dpi(42));
    const int step = bits / 8;
    for (std::int64_t y = 0; y < height; ++y) {
        const std::size_t stored = signedHeight > 0 ? static_cast<std::size_t>(height - 1 - y) : static_cast<std::size_t>(y);
        const std::string::size_type rowAt = dataAt + stored * rowBytes;
        std::uint8_t* out = raster.pixels.data() + raster.stride * y;
        for (int x = 0; x < width; ++x) {
            const std::uint32_t pixel = LittleEndian(bytes, rowAt + static_cast<std::size_t>(step) * x, step);
            out[3 * x] = red(pixel);
            out[3 * x + 1] = green(pixel);
            out[3 * x + 2] = blue(pixel);
        }
    }
    return raster;
}

// The orientation a JPEG's Exif block asks for (1 = as stored, also when it has none).
int ExifOrientation(const std::vector<std::uint8_t>& jpeg) {
    const std::size_t size = jpeg.size();
    std::size_t at = 2;
    while (at + 4 <= size && jpeg[at] == 0xFF) {
        const int marker = jpeg[at + 1];
        const std::size_t length = std::size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
        if (marker == 0xDA || length < 2 || at + 2 + length > size) break;
        const std::size_t body = at + 4;
        if (marker == 0xE1 && length >= 16 && std::memcmp(&jpeg[body], "Exif\0\0", 6) == 0) {
            const std::size_t tiff = body + 6, end = at + 2 + length;
            const bool little = jpeg[tiff] == 'I';
            const auto read = [&](std::size_t where, int bytes) -> std::uint32_t {
                if (where + bytes > end) return 0;
                std::uint32_t value = 0;
                for (int i = 0; i < bytes; ++i) value |= std::uint32_t(jpeg[where + i]) << 8 * (little ? i : bytes - 1 - i);
                return value;
            };
            const std::size_t directory = tiff + read(tiff + 4, 4);
            const std::uint32_t entries = read(directory, 2);
            for (std::uint32_t i = 0; i < entries; ++i) {
                const std::size_t entry = directory + 2 + 12 * i;
                if (read(entry, 2) == 0x0112) return static_cast<int>(read(entry + 8, 2));
            }
            return 1;
        }
        at += 2 + length;
    }
    return 1;
}

l_int32 LeptonicaFormat(FileFormat format) {
    switch (format) {
        case FileFormat::Bmp: return IFF_BMP;
        case FileFormat::Png: return IFF_PNG;
        case FileFormat::Jpeg: return IFF_JFIF_JPEG;
        case FileFormat::Gif: return IFF_GIF;
        case FileFormat::Tiff: return IFF_TIFF;
        case FileFormat::TiffG3: return IFF_TIFF_G3;
        case FileFormat::TiffG4: return IFF_TIFF_G4;
        case FileFormat::TiffDeflate: return IFF_TIFF_ZIP;
    }
    throw std::runtime_error("unknown file format");
}

}  // namespace

// ---- RasterFile ----

struct RasterFile::Impl {
    std::string path;
    bool tiff = false;
    int frames = 0;
    std::optional<Raster> single;  // the picture of a one-frame file
};

namespace {

std::optional<Raster> ReadSingleFrame(const std::string& path) {
    if (IsDirectColourBmp(path)) {
        return DecodeDirectColourBmp(ReadWholeFile(path).value_or(""));
    }
    PixPtr pix(pixRead(path.c_str()));
    if (!pix) return std::nullopt;
    if (pixGetInputFormat(pix.get()) != IFF_JFIF_JPEG) return FromPix(pix.get());
    const std::string file = ReadWholeFile(path).value_or("");
    const std::vector<std::uint8_t> bytes(file.begin(), file.end());
    return Oriented(FromPix(pix.get()), OrientationOf(ExifOrientation(bytes)));
}

}  // namespace

RasterFile::RasterFile(const std::string& path) : impl_(std::make_unique<Impl>()) {
    QuietLibrary();
    impl_->path = path;
    impl_->tiff = IsTiffFile(path);
    try {
        if (impl_->tiff) {
            // Counting walks the directories only; pages are decoded when asked for.
            impl_->frames = TiffFrameCount(path);
        } else {
            impl_->single = ReadSingleFrame(path);
            impl_->frames = impl_->single ? 1 : 0;
        }
    } catch (const std::exception&) {
        impl_->single.reset();
        impl_->frames = 0;
    }
}

RasterFile::~RasterFile() = default;

int RasterFile::frameCount() const { return impl_->frames; }

std::optional<Raster> RasterFile::frame(int index) const {
    if (index < 0 || index >= impl_->frames) return std::nullopt;
    try {
        if (!impl_->tiff) return impl_->single;
        PixPtr page(pixReadTiff(impl_->path.c_str(), index));
        // Tiled pages and codings the library does not know are left to the TIFF library.
        if (!page) return TiffFrameThroughRgba(impl_->path, index);
        // The library shows the page as its Orientation tag asks, but leaves the resolutions
        // where they were stored.
        Raster raster = FromPix(page.get());
        if (OrientationOf(TiffOrientation(impl_->path, index)).clockwise % 180 != 0) std::swap(raster.xDpi, raster.yDpi);
        return raster;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

std::optional<PixelSize> PixelSizeOf(const std::string& path) {
    QuietLibrary();
    // The library decodes a whole BMP to tell its size; a page bitmap's header says it.
    std::string header(26, '\0');
    std::ifstream in(path, std::ios::binary);
    if (in.read(header.data(), 26) && header[0] == 'B' && header[1] == 'M') {
        const auto width = static_cast<std::int32_t>(LittleEndian(header, 18, 4));
        const auto height = static_cast<std::int32_t>(LittleEndian(header, 22, 4));
        if (width <= 0 || height == 0 || height == INT32_MIN) return std::nullopt;
        return PixelSize{width, height < 0 ? -height : height};
    }
    l_int32 format = 0, width = 0, height = 0, bits = 0, samples = 0, colourMap = 0;
    if (pixReadHeader(path.c_str(), &format, &width, &height, &bits, &samples, &colourMap) != 0 || width <= 0 ||
        height <= 0)
        return std::nullopt;
    return PixelSize{width, height};
}

std::optional<Raster> ReadRaster(const std::string& path) { return RasterFile(path).frame(0); }

// ---- conversions ----

Orientation OrientationOf(int tagValue) {
    switch (tagValue) {
        case 2: return {0, true};
        case 3: return {180, false};
        case 4: return {180, true};
        case 5: return {270, true};
        case 6: return {90, false};
        case 7: return {90, true};
        case 8: return {270, false};
        default: return {};
    }
}

Raster Turned(const Raster& raster, int clockwise) {
    QuietLibrary();
    if (clockwise != 90 && clockwise != 180 && clockwise != 270) return raster;
    PixPtr pix = ToPix(raster);
    PixPtr turned(clockwise == 180 ? pixRotate180(nullptr, pix.get()) : pixRotate90(pix.get(), clockwise == 90 ? 1 : -1));
    if (!turned) throw std::runtime_error("cannot turn the picture");
    Raster result = FromPix(turned.get());
    result.xDpi = clockwise == 180 ? raster.xDpi : raster.yDpi;
    result.yDpi = clockwise == 180 ? raster.yDpi : raster.xDpi;
    return result;
}

Raster Oriented(const Raster& raster, const Orientation& orientation) {
    if (!orientation.mirrored) return Turned(raster, orientation.clockwise);
    QuietLibrary();
    PixPtr pix = ToPix(raster);
    PixPtr mirrored(pixFlipLR(nullptr, pix.get()));
    if (!mirrored) throw std::runtime_error("cannot mirror the picture");
    Raster flipped = FromPix(mirrored.get());
    flipped.xDpi = raster.xDpi;
    flipped.yDpi = raster.yDpi;
    return Turned(flipped, orientation.clockwise);
}

Raster WithSquarePixels(const Raster& raster) {
    QuietLibrary();
    if (raster.xDpi <= 0 || raster.yDpi <= 0 || raster.xDpi == raster.yDpi) return raster;
    const double stretch = static_cast<double>(std::max(raster.xDpi, raster.yDpi)) / std::min(raster.xDpi, raster.yDpi);
    if (stretch > kMostPixelStretch) return raster;
    Raster square = Scaled(raster, raster.xDpi < raster.yDpi ? stretch : 1, raster.yDpi < raster.xDpi ? stretch : 1);
    square.xDpi = square.yDpi = std::max(raster.xDpi, raster.yDpi);
    return square;
}

Raster Scaled(const Raster& raster, double scaleX, double scaleY) {
    QuietLibrary();
    PixPtr pix = ToPix(raster);
    // Bilevel pages are scaled by sampling and stay bilevel.
    PixPtr scaled(pixScale(pix.get(), static_cast<l_float32>(scaleX), static_cast<l_float32>(scaleY)));
    if (!scaled) throw std::runtime_error("cannot scale the picture");
    Raster result = FromPix(scaled.get());
    result.xDpi = static_cast<int>(raster.xDpi * scaleX + 0.5);
    result.yDpi = static_cast<int>(raster.yDpi * scaleY + 0.5);
    return result;
}

Raster Reduced(const Raster& raster, double factor) {
    QuietLibrary();
    if (!(factor > 0 && factor < 1)) throw std::runtime_error("a reduction needs a factor between 0 and 1");
    if (raster.bitsPerPixel != 1) return Scaled(raster, factor, factor);
    // Bilevel pages are reduced to grey, which keeps thin strokes visible.
    PixPtr pix = ToPix(raster);
    PixPtr small(pixScaleToGray(pix.get(), static_cast<l_float32>(factor)));
    if (!small) throw std::runtime_error("cannot reduce the picture");
    Raster result = FromPix(small.get());
    result.xDpi = static_cast<int>(raster.xDpi * factor + 0.5);
    result.yDpi = static_cast<int>(raster.yDpi * factor + 0.5);
    return result;
}

std::optional<double> SkewOf(const Raster& raster) {
    QuietLibrary();
    PixPtr pix = ToPix(raster);
    PixPtr bilevel(raster.bitsPerPixel == 1 ? pixClone(pix.get()) : pixConvertTo1(pix.get(), 128));
    if (!bilevel) return std::nullopt;
    // The finder's own defaults, but swept over the whole range this system straightens.
    constexpr l_int32 kSweepReduction = 4, kSearchReduction = 2;
    constexpr l_float32 kSweepStep = 1, kLeastSearchStep = 0.01f;
    // Below this ratio of the best score to the worst, the finder's own advice is to not trust it.
    constexpr l_float32 kLeastConfidence = 3;
    l_float32 deskew = 0, confidence = 0;
    if (pixFindSkewSweepAndSearch(bilevel.get(), &deskew, &confidence, kSweepReduction, kSearchReduction,
                                  static_cast<l_float32>(kMostSkew), kSweepStep, kLeastSearchStep) != 0)
        return std::nullopt;
    if (!(confidence >= kLeastConfidence) || !(std::fabs(deskew) < kMostSkew)) return std::nullopt;
    // The finder gives the clockwise turn that levels the lines.
    return -static_cast<double>(deskew);
}

Raster Rotated(const Raster& raster, double degrees) {
    QuietLibrary();
    PixPtr pix = ToPix(raster);
    if (raster.bitsPerPixel == 1) pix.reset(pixConvert1To8(nullptr, pix.get(), 255, 0));
    if (!pix) throw std::runtime_error("cannot turn the picture");
    const double radians = degrees * M_PI / 180;
    const double c = std::fabs(std::cos(radians)), s = std::fabs(std::sin(radians));
    const int grownX = static_cast<int>(std::ceil((raster.width * c + raster.height * s - raster.width) / 2));
    const int grownY = static_cast<int>(std::ceil((raster.width * s + raster.height * c - raster.height) / 2));
    const l_uint32 white = raster.bitsPerPixel == 24 ? 0xffffff00 : 255;
    PixPtr canvas(pixAddBorderGeneral(pix.get(), grownX, grownX, grownY, grownY, white));
    if (!canvas) throw std::runtime_error("out of memory for turning the picture");
    PixPtr turned(pixRotate(canvas.get(), static_cast<l_float32>(radians), L_ROTATE_AREA_MAP, L_BRING_IN_WHITE, 0, 0));
    if (!turned) throw std::runtime_error("cannot turn the picture");
    Raster result = FromPix(turned.get());
    result.xDpi = raster.xDpi;
    result.yDpi = raster.yDpi;
    return result;
}

Raster ToRgb24(const Raster& raster) {
    CheckLayout(raster);
    if (raster.bitsPerPixel == 24) return raster;
    Raster rgb = BlankRaster(raster.width, raster.height, 24, raster.xDpi, raster.yDpi);
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* in = raster.pixels.data() + raster.stride * y;
        std::uint8_t* out = rgb.pixels.data() + rgb.stride * y;
        for (int x = 0; x < raster.width; ++x) {
            const std::uint8_t grey =
                raster.bitsPerPixel == 8 ? in[x] : ((in[x >> 3] >> (7 - (x & 7))) & 1) ? 0 : 255;
            out[3 * x] = out[3 * x + 1] = out[3 * x + 2] = grey;
        }
    }
    return rgb;
}

PixelKind Classify(const Raster& raster) {
    CheckLayout(raster);
    if (raster.bitsPerPixel == 1) return PixelKind::Bilevel;
    bool bilevel = true;
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* row = raster.pixels.data() + raster.stride * y;
        if (raster.bitsPerPixel == 8) {
            for (int x = 0; x < raster.width && bilevel; ++x) bilevel = row[x] == 0 || row[x] == 255;
            if (!bilevel) return PixelKind::Grey;
            continue;
        }
        for (int x = 0; x < raster.width; ++x) {
            const std::uint8_t r = row[3 * x];
            if (row[3 * x + 1] != r || row[3 * x + 2] != r) return PixelKind::Colour;
            bilevel = bilevel && (r == 0 || r == 255);
        }
    }
    return bilevel ? PixelKind::Bilevel : PixelKind::Grey;
}

Raster ReduceLossless(const Raster& raster) {
    const PixelKind kind = Classify(raster);
    const int depth = kind == PixelKind::Bilevel ? 1 : kind == PixelKind::Grey ? 8 : 24;
    if (depth == raster.bitsPerPixel) return raster;
    // Only reductions happen here: a 24-bit picture to 8 or 1, an 8-bit one to 1.
    const int step = raster.bitsPerPixel / 8;
    Raster reduced = BlankRaster(raster.width, raster.height, depth, raster.xDpi, raster.yDpi);
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* in = raster.pixels.data() + raster.stride * y;
        std::uint8_t* out = reduced.pixels.data() + reduced.stride * y;
        if (depth == 8) {
            for (int x = 0; x < raster.width; ++x) out[x] = in[step * x];
        } else {
            for (int x = 0; x < raster.width; ++x) {
                if (in[step * x] == 0) out[x >> 3] |= static_cast<std::uint8_t>(0x80u >> (x & 7));
            }
        }
    }
    return reduced;
}

// ---- encodings ----

std::vector<std::uint8_t> EncodeG4(const Raster& bilevel) {
    QuietLibrary();
    if (bilevel.bitsPerPixel != 1) throw std::runtime_error("G4 needs a 1-bit raster");
    EncodedPicture picture = EncodeRaster(bilevel);
    if (picture.inverted) throw std::runtime_error("G4 data came out inverted");
    return std::move(picture.data);
}

void WriteMultiPageTiff(const std::vector<Raster>& pages, const std::string& path) {
    QuietLibrary();
    if (pages.empty()) throw std::runtime_error("no pages for " + path);
    std::unique_ptr<PIXA, PixaDeleter> pixa(pixaCreate(static_cast<l_int32>(pages.size())));
    for (const Raster& page : pages) {
        if (pixaAddPix(pixa.get(), ToPix(page).release(), L_INSERT) != 0)
            throw std::runtime_error("cannot collect the pages for " + path);
    }
    WriteWhole(EncodeWith("multi-page TIFF",
                          [&](l_uint8** data, size_t* size) { return pixaWriteMemMultipageTiff(data, size, pixa.get()); }),
               path);
}

void WriteRasterFile(const Raster& raster, const std::string& path, FileFormat format) {
    QuietLibrary();
    if ((format == FileFormat::TiffG3 || format == FileFormat::TiffG4) && raster.bitsPerPixel != 1)
        throw std::runtime_error("fax compression needs a 1-bit raster");
    PixPtr pix = ToPix(raster);
    WriteWhole(EncodeWith("the requested format",
                          [&](l_uint8** data, size_t* size) { return pixWriteMem(data, size, pix.get(), LeptonicaFormat(format)); }),
               path);
}

// ---- pictures for PDF pages ----

namespace {

struct CompressedDeleter {
    void operator()(L_COMP_DATA* cid) const { l_CIDataDestroy(&cid); }
};
using CompressedPtr = std::unique_ptr<L_COMP_DATA, CompressedDeleter>;

EncodedPicture FromCompressed(PIX* pix, l_int32 type, l_int32 quality) {
    L_COMP_DATA* made = nullptr;
    if (pixGenerateCIData(pix, type, quality, 0, &made) != 0 || !made) throw std::runtime_error("cannot encode the picture");
    CompressedPtr cid(made);
    EncodedPicture picture;
    picture.filter = type == L_JPEG_ENCODE ? EncodedPicture::Filter::Dct
                     : type == L_G4_ENCODE ? EncodedPicture::Filter::CcittFax
                                           : EncodedPicture::Filter::Flate;
    picture.colours = cid->spp == 1 ? EncodedPicture::Colours::Grey : EncodedPicture::Colours::Rgb;
    picture.width = cid->w;
    picture.height = cid->h;
    picture.bitsPerComponent = cid->bps;
    picture.ccittK = -1;
    picture.inverted = type == L_G4_ENCODE && cid->minisblack;
    picture.pngPredicted = type == L_FLATE_ENCODE && cid->predictor;
    picture.xDpi = pixGetXRes(pix);
    picture.yDpi = pixGetYRes(pix);
    picture.data.assign(cid->datacomp, cid->datacomp + cid->nbytescomp);
    return picture;
}

// A picture with a colour map, losslessly as its indices and palette.
EncodedPicture PaletteOf(PIX* pix) {
    PIXCMAP* cmap = pixGetColormap(pix);
    EncodedPicture picture = FromCompressed(pix, L_FLATE_ENCODE, 0);
    picture.colours = EncodedPicture::Colours::Indexed;
    const int count = pixcmapGetCount(cmap);
    for (int i = 0; i < count; ++i) {
        l_int32 r = 0, g = 0, b = 0;
        pixcmapGetColor(cmap, i, &r, &g, &b);
        picture.palette.insert(picture.palette.end(),
                               {static_cast<std::uint8_t>(r), static_cast<std::uint8_t>(g), static_cast<std::uint8_t>(b)});
    }
    return picture;
}

std::optional<EncodedPicture> JpegFileData(const std::string& path) {
    l_int32 width = 0, height = 0, samples = 0, ycck = 0, cmyk = 0;
    if (readHeaderJpeg(path.c_str(), &width, &height, &samples, &ycck, &cmyk) != 0) return std::nullopt;
    // CMYK data needs its maker's inversion conventions guessed; such files are encoded afresh.
    if (cmyk || ycck || (samples != 1 && samples != 3)) return std::nullopt;
    const std::optional<std::string> file = ReadWholeFile(path);
    if (!file || file->empty()) return std::nullopt;
    EncodedPicture picture;
    picture.data.assign(file->begin(), file->end());
    const Orientation shown = OrientationOf(ExifOrientation(picture.data));
    picture.clockwise = shown.clockwise;
    picture.mirrored = shown.mirrored;
    picture.filter = EncodedPicture::Filter::Dct;
    picture.colours = samples == 1 ? EncodedPicture::Colours::Grey : EncodedPicture::Colours::Rgb;
    picture.width = width;
    picture.height = height;
    picture.bitsPerComponent = 8;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
        l_int32 xDpi = 0, yDpi = 0;
        if (fgetJpegResolution(file, &xDpi, &yDpi) == 0) {
            picture.xDpi = xDpi;
            picture.yDpi = yDpi;
        }
        std::fclose(file);
    }
    return picture;
}

bool HasPalette(PIX* pix) {
    PIXCMAP* cmap = pixGetColormap(pix);
    if (!cmap) return false;
    l_int32 blackAndWhite = 0;
    pixcmapIsBlackAndWhite(cmap, &blackAndWhite);
    return !(pixGetDepth(pix) == 1 && blackAndWhite);
}

}  // namespace

EncodedPicture EncodeRaster(const Raster& raster) {
    QuietLibrary();
    const Raster least = ReduceLossless(raster);
    PixPtr pix = ToPix(least);
    if (least.bitsPerPixel == 1) return FromCompressed(pix.get(), L_G4_ENCODE, 0);
    return FromCompressed(pix.get(), L_JPEG_ENCODE, kPictureJpegQuality);
}

std::optional<EncodedPicture> EncodeFrame(const std::string& path, int frameIndex) {
    QuietLibrary();
    try {
        l_int32 format = IFF_UNKNOWN;
        findFileFormat(path.c_str(), &format);
        if (format == IFF_JFIF_JPEG && frameIndex == 0)
            if (auto stored = JpegFileData(path)) return stored;
        if (IsTiffFile(path)) {
            if (auto stored = StoredFaxData(path, frameIndex)) return stored;
            PixPtr page(pixReadTiff(path.c_str(), frameIndex));
            if (page && HasPalette(page.get())) {
                // Read upright, with the resolutions as stored.
                EncodedPicture picture = PaletteOf(page.get());
                if (OrientationOf(TiffOrientation(path, frameIndex)).clockwise % 180 != 0) std::swap(picture.xDpi, picture.yDpi);
                return picture;
            }
        } else if (frameIndex == 0 && !IsDirectColourBmp(path)) {
            PixPtr pix(pixRead(path.c_str()));
            if (pix && HasPalette(pix.get())) return PaletteOf(pix.get());
        }
        std::optional<Raster> frame = RasterFile(path).frame(frameIndex);
        if (!frame || frame->empty()) return std::nullopt;
        return EncodeRaster(*frame);
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

}  // namespace kvo::image
