#pragma once
// A skewed page is recognised straightened: the engine reads level lines far better than lines
// a few degrees askew. Its result is then carried back onto the page as it lies. Plain
// geometry, no I/O.
#include "ocrengine/EngineDocument.h"

namespace kvo::ocr {

// The least skew, in degrees, at which a page is straightened before recognition. Below it the
// engine reads the page as well as straightened (measured by bench/search), and the turn would
// only cost time.
inline constexpr double kLeastSkewStraightened = 1.0;

// The result of recognising a copy of a `width` x `height` page turned counter-clockwise by
// `skew` degrees about its centre (image::Rotated(page, -skew)), carried back onto the page:
// each box becomes the upright box around the turned-back box, each baseline point is turned
// back, and the size is the page's.
PageLayout MappedBack(PageLayout straightened, double skew, int width, int height);

}  // namespace kvo::ocr
