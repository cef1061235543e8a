#include "TestBitmap.h"

#include <cmath>
#include <cstdint>
#include <fstream>
#include <stdexcept>

namespace kvo::ocr::test {

namespace {

void Put(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void WriteBmp24(const image::Raster& raster, const std::filesystem::path& path, int dpi) {
    const image::Raster rgb = image::ToRgb24(raster);
    const std::uint32_t rowSize = (static_cast<std::uint32_t>(rgb.width) * 3 + 3) & ~3u;
    const std::uint32_t imageSize = rowSize * static_cast<std::uint32_t>(rgb.height);
    const auto pixelsPerMetre = static_cast<std::uint32_t>(std::lround(dpi / 0.0254));

    std::string file = "BM";
    Put(file, 54 + imageSize, 4);
    Put(file, 0, 4);
    Put(file, 54, 4);
    Put(file, 40, 4);
    Put(file, static_cast<std::uint32_t>(rgb.width), 4);
    Put(file, static_cast<std::uint32_t>(rgb.height), 4);  // positive: bottom row first
    Put(file, 1, 2);
    Put(file, 24, 2);
    Put(file, 0, 4);  // uncompressed
    Put(file, imageSize, 4);
    Put(file, pixelsPerMetre, 4);
    Put(file, pixelsPerMetre, 4);
    Put(file, 0, 4);
    Put(file, 0, 4);
    file.reserve(file.size() + imageSize);
    for (int y = rgb.height - 1; y >= 0; --y) {
        const std::uint8_t* row = rgb.pixels.data() + static_cast<std::size_t>(y) * rgb.stride;
        for (int x = 0; x < rgb.width; ++x) {
            file += static_cast<char>(row[3 * x + 2]);
            file += static_cast<char>(row[3 * x + 1]);
            file += static_cast<char>(row[3 * x]);
        }
        file.append(rowSize - 3 * static_cast<std::uint32_t>(rgb.width), '\0');
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out.write(file.data(), static_cast<std::streamsize>(file.size())))
        throw std::runtime_error("cannot write " + path.string());
}

}  // namespace kvo::ocr::test
