#pragma once
// Page bitmaps as the splitters write them, for the OCR tests.
#include "shared/image/RasterImage.h"

#include <filesystem>

namespace kvo::ocr::test {

// Writes the raster as an uncompressed, bottom-up 24-bit BMP stating `dpi` in its header.
void WriteBmp24(const image::Raster& raster, const std::filesystem::path& path, int dpi);

}  // namespace kvo::ocr::test
