// The one place that reads TIFF structure directly: the stored CCITT data of a fax page, a
// page's orientation, and the pages the general reader cannot decode.
#include "shared/image/PictureEncoding.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace kvo::image {

namespace {

struct TiffCloser {
    void operator()(TIFF* tiff) const { TIFFClose(tiff); }
};

unsigned char ReversedBits(unsigned char byte) {
    byte = static_cast<unsigned char>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
    byte = static_cast<unsigned char>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
    return static_cast<unsigned char>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
}

using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

constexpr std::uint64_t kMostRgbaPixels = std::uint64_t{1} << 29;

// The file with page `frameIndex` as its current directory; null when there is no such page.
TiffPtr OpenPage(const std::string& path, int frameIndex) {
    // The library reports every oddity on stderr; the callers judge by results.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);
    TiffPtr tiff(TIFFOpen(path.c_str(), "rm"));
    if (!tiff || frameIndex < 0 || !TIFFSetDirectory(tiff.get(), static_cast<tdir_t>(frameIndex))) return nullptr;
    return tiff;
}

// Dots per inch from a resolution tag and the page's resolution unit; 0 when not given.
double DotsPerInch(TIFF* t, ttag_t tag) {
    float value = 0;
    if (!TIFFGetField(t, tag, &value) || !(value > 0)) return 0;
    std::uint16_t unit = RESUNIT_INCH;
    TIFFGetFieldDefaulted(t, TIFFTAG_RESOLUTIONUNIT, &unit);
    if (unit == RESUNIT_CENTIMETER) return value * 2.54;
    return unit == RESUNIT_NONE ? 0 : value;
}

}  // namespace

int TiffOrientation(const std::string& path, int frameIndex) {
    TiffPtr tiff = OpenPage(path, frameIndex);
    std::uint16_t orientation = ORIENTATION_TOPLEFT;
    if (tiff) TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_ORIENTATION, &orientation);
    return orientation;
}

std::optional<EncodedPicture> StoredFaxData(const std::string& path, int frameIndex) {
    TiffPtr tiff = OpenPage(path, frameIndex);
    if (!tiff) return std::nullopt;
    TIFF* t = tiff.get();
    std::uint16_t compression = 0, photometric = PHOTOMETRIC_MINISWHITE, fillOrder = FILLORDER_MSB2LSB,
                  orientation = ORIENTATION_TOPLEFT, bits = 1, samples = 1;
    std::uint32_t width = 0, height = 0, group3Options = 0;
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    if (compression != COMPRESSION_CCITTFAX3 && compression != COMPRESSION_CCITTFAX4) return std::nullopt;
    // Several strips would each restart the coding, which one PDF image stream cannot do.
    if (TIFFIsTiled(t) || TIFFNumberOfStrips(t) != 1) return std::nullopt;
    TIFFGetFieldDefaulted(t, TIFFTAG_PHOTOMETRIC, &photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fillOrder);
    TIFFGetFieldDefaulted(t, TIFFTAG_ORIENTATION, &orientation);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height)) return std::nullopt;
    if (bits != 1 || samples != 1 || width == 0 || height == 0) return std::nullopt;
    if (compression == COMPRESSION_CCITTFAX3) TIFFGetFieldDefaulted(t, TIFFTAG_GROUP3OPTIONS, &group3Options);

    const tmsize_t size = TIFFRawStripSize(t, 0);
    if (size <= 0) return std::nullopt;
    EncodedPicture picture;
    picture.data.resize(static_cast<std::size_t>(size));
    if (TIFFReadRawStrip(t, 0, picture.data.data(), size) != size) return std::nullopt;
    if (fillOrder == FILLORDER_LSB2MSB)
        for (std::uint8_t& byte : picture.data) byte = ReversedBits(byte);
    picture.filter = EncodedPicture::Filter::CcittFax;
    picture.colours = EncodedPicture::Colours::Grey;
    picture.width = static_cast<int>(width);
    picture.height = static_cast<int>(height);
    picture.bitsPerComponent = 1;
    picture.ccittK = compression == COMPRESSION_CCITTFAX4 ? -1 : (group3Options & GROUP3OPT_2DENCODING) ? 1 : 0;
    picture.ccittByteAligned = compression == COMPRESSION_CCITTFAX3 && (group3Options & GROUP3OPT_FILLBITS);
    // The code's black runs are the TIFF's 1 bits; with "min is black" those show white.
    picture.inverted = photometric == PHOTOMETRIC_MINISBLACK;
    const Orientation shown = OrientationOf(orientation);
    picture.clockwise = shown.clockwise;
    picture.mirrored = shown.mirrored;
    picture.xDpi = DotsPerInch(t, TIFFTAG_XRESOLUTION);
    picture.yDpi = DotsPerInch(t, TIFFTAG_YRESOLUTION);
    return picture;
}

std::optional<Raster> TiffFrameThroughRgba(const std::string& path, int frameIndex) {
    TiffPtr tiff = OpenPage(path, frameIndex);
    if (!tiff) return std::nullopt;
    TIFF* t = tiff.get();
    std::uint32_t width = 0, height = 0;
    if (!TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) || !TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height)) return std::nullopt;
    // The whole page is decoded at four bytes a pixel: a page past what the general reader
    // would take is refused rather than left to exhaust memory.
    if (width == 0 || height == 0 || static_cast<std::uint64_t>(width) * height > kMostRgbaPixels) return std::nullopt;
    std::vector<std::uint32_t> rgba(static_cast<std::size_t>(width) * height);
    if (!TIFFReadRGBAImageOriented(t, width, height, rgba.data(), ORIENTATION_TOPLEFT, 1)) return std::nullopt;

    Raster raster;
    raster.width = static_cast<int>(width);
    raster.height = static_cast<int>(height);
    raster.bitsPerPixel = 24;
    raster.xDpi = static_cast<int>(DotsPerInch(t, TIFFTAG_XRESOLUTION) + 0.5);
    raster.yDpi = static_cast<int>(DotsPerInch(t, TIFFTAG_YRESOLUTION) + 0.5);
    raster.stride = static_cast<std::size_t>(width) * 3;
    raster.pixels.resize(raster.stride * height);
    std::uint8_t* out = raster.pixels.data();
    for (const std::uint32_t pixel : rgba) {
        // The library gives colours weighted by their alpha: a transparent part lies on white.
        const unsigned paper = 255 - TIFFGetA(pixel);
        *out++ = static_cast<std::uint8_t>(std::min(255u, TIFFGetR(pixel) + paper));
        *out++ = static_cast<std::uint8_t>(std::min(255u, TIFFGetG(pixel) + paper));
        *out++ = static_cast<std::uint8_t>(std::min(255u, TIFFGetB(pixel) + paper));
    }
    return raster;
}

}  // namespace kvo::image
