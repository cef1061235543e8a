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

// How sure the orientation detection must be before a page is turned. Its confidence is the
// margin of the best of the four turns over the next; upright text pages score in the tens,
// blank pages, pictures and a few scattered words stay below this.
inline constexpr float kLeastOrientationConfidence = 5.0f;

// The detection looks at a copy whose longer side is at most this many pixels: ordinary text
// stays legible to it at half of 300 dpi, and the copy is a quarter of the page.
inline constexpr int kOrientationSampleSide = 1700;

// Whether the page, recognised as it lies, lies upright: read with at least kUprightConfidence
// (text upside down reads as words the engine doubts) and with most of its longer words wider
// than high (the engine reads text on its side too, but its words then stand upright). Only a
// page that does not is shown to the orientation detection, which spares almost every page its
// cost.
inline constexpr int kUprightConfidence = 70;
bool ReadsAsUpright(const PageLayout& page);

// The clockwise turn (0, 90, 180 or 270 degrees) that shows the page upright, as the engine's
// orientation detection sees it; 0 when it is not at least kLeastOrientationConfidence sure,
// or cannot tell at all (no text, no orientation data installed).
int UprightTurnOf(const image::Raster& page);

}  // namespace kvo::ocr
