#pragma once
// Recognition of one page image by Tesseract.
#include "ocrengine/EngineDocument.h"
#include "shared/image/RasterImage.h"

#include <string>

namespace kvo::ocr {

// Recognises the page, which is given at its own depth (1, 8 or 24 bits), with automatic page
// segmentation, at the raster's resolution (estimated by the engine when the raster states
// none), in the languages given as "eng" or "eng+deu". Words come in reading order, lines
// numbered from 0. Throws LanguageMissingError when a language is not installed, EngineError
// when recognition fails.
PageLayout RecognizePage(const image::Raster& page, const std::string& languages);

}  // namespace kvo::ocr
