#include "imagesplit/TestImages.h"

#include <cstring>
#include <stdexcept>

#include "support/TestSupport.h"

namespace kvo::test {

namespace {

std::uint32_t Le32(const std::string& b, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<std::uint8_t>(b.at(at + i));
    return v;
}

std::uint16_t Le16(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<std::uint8_t>(b.at(at)) | static_cast<std::uint8_t>(b.at(at + 1)) << 8);
}

constexpr std::size_t kHeaders = 54;

}  // namespace

image::Raster BlankRaster(int width, int height, int bitsPerPixel) {
    image::Raster raster;
    raster.width = width;
    raster.height = height;
    raster.bitsPerPixel = bitsPerPixel;
    raster.xDpi = raster.yDpi = 300;
    raster.stride = (static_cast<std::size_t>(width) * bitsPerPixel + 31) / 32 * 4;
    raster.pixels.assign(raster.stride * height, bitsPerPixel == 1 ? 0x00 : 0xFF);
    return raster;
}

void SetPixel(image::Raster& raster, int x, int y, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::uint8_t* row = raster.pixels.data() + static_cast<std::size_t>(y) * raster.stride;
    switch (raster.bitsPerPixel) {
        case 1:
            if (r == 0) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
            else row[x / 8] &= static_cast<std::uint8_t>(~(0x80 >> (x % 8)));
            break;
        case 8: row[x] = r; break;
        default:
            row[3 * x] = r;
            row[3 * x + 1] = g;
            row[3 * x + 2] = b;
    }
}

image::Raster BilevelPage(int width, int height, int bandTop) {
    image::Raster page = BlankRaster(width, height, 1);
    for (int y = bandTop; y < bandTop + 20 && y < height; ++y)
        std::memset(page.pixels.data() + static_cast<std::size_t>(y) * page.stride, 0xFF, (width + 7) / 8);
    return page;
}

std::array<std::uint8_t, 3> BmpFile::Pixel(int x, int y) const {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    const std::size_t row = dataOffset + static_cast<std::size_t>(height - 1 - y) * stride();
    if (bitCount == 24) {
        const std::uint8_t* p = data + row + 3 * static_cast<std::size_t>(x);
        return {p[0], p[1], p[2]};
    }
    const std::size_t index = bitCount == 1 ? (data[row + x / 8] >> (7 - x % 8)) & 1 : data[row + x];
    const std::uint8_t* entry = data + kHeaders + 4 * index;
    return {entry[0], entry[1], entry[2]};
}

BmpFile ReadBmp(const std::string& path) {
    BmpFile bmp;
    bmp.bytes = ReadFile(path);
    if (bmp.bytes.size() < 54 || bmp.bytes.compare(0, 2, "BM") != 0) throw std::runtime_error("not a BMP: " + path);
    bmp.fileSize = Le32(bmp.bytes, 2);
    bmp.dataOffset = Le32(bmp.bytes, 10);
    bmp.infoSize = Le32(bmp.bytes, 14);
    bmp.width = static_cast<std::int32_t>(Le32(bmp.bytes, 18));
    bmp.height = static_cast<std::int32_t>(Le32(bmp.bytes, 22));
    bmp.planes = Le16(bmp.bytes, 26);
    bmp.bitCount = Le16(bmp.bytes, 28);
    bmp.compression = Le32(bmp.bytes, 30);
    bmp.imageSize = Le32(bmp.bytes, 34);
    bmp.xPelsPerMeter = static_cast<std::int32_t>(Le32(bmp.bytes, 38));
    bmp.yPelsPerMeter = static_cast<std::int32_t>(Le32(bmp.bytes, 42));
    return bmp;
}

}  // namespace kvo::test
