#pragma once
// A skewed page is recognised straightened: the engine reads level lines far better than lines
// a few degrees askew. Its result is then carried back onto the page as it lies. Plain
// geometry, no I/O.
#include "ocrengine/EngineDocument.h"

namespace kvo::ocr {

// The least skew, in degrees, at which a page is straightened before recognition. Measured on
// the corpus page: the engine reads it as it lies as well as straightened up to 1.25 degrees,
// and loses words from 1.5 (a tenth of them at 1.5, a third at 2); below the threshold the turn
// would only cost time.
inline constexpr double kLeastSkewStraightened = 1.0;

// The result of recognising a copy of a `width` x `height` page turned counter-clockwise by
// `skew` degrees about its centre (image::Rotated(page, -skew)), carried back onto the page:
// each box becomes the upright box around the turned-back box, each baseline point is turned
// back, and the size is the page's.
PageLayout MappedBack(PageLayout straightened, double skew, int width, int height);

}  // namespace kvo::ocr
