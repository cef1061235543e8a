#pragma once
// The units of the layout document: the page image scaled to just fit 2480 x 3507 units (A4 at
// 300 units per inch). The layout's writer scales into them and the PDF builder back out.
#include <optional>

namespace kvo::handoff {

// The smaller of 2480 / width and 3507 / height; 1 when a size is unknown or 0.
double PageScale(std::optional<double> width, std::optional<double> height);

// The turn between the page bitmap and the layout. The OCR program may find a page bitmap lying
// on its side or upside down; it then turns the image clockwise by 90, 180 or 270 degrees
// before recognising it, and the layout document's root `pagewords` carries that turn in its
// attribute `turn` ("90", "180" or "270"). Every coordinate of the layout (word and line
// boxes, the page scale) belongs to the turned, upright image. Without the attribute the
// layout lies as the bitmap does. The PDF builder shows the page turned by the same amount.
inline constexpr const char* kLayoutTurnAttribute = "turn";

// A turn as 0, 90, 180 or 270 degrees clockwise; any other value counts as 0 (not turned).
int LayoutTurnOf(int degrees);

}  // namespace kvo::handoff
