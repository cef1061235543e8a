#pragma once
// The units of the layout document: the page image scaled to just fit 2480 x 3507 units (A4 at
// 300 units per inch). The layout's writer scales into them and the PDF builder back out.
#include <optional>

namespace kvo::handoff {

// The smaller of 2480 / width and 3507 / height; 1 when a size is unknown or 0.
double PageScale(std::optional<double> width, std::optional<double> height);

}  // namespace kvo::handoff
