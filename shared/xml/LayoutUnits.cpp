#include "shared/xml/LayoutUnits.h"

namespace kvo::handoff {

namespace {

constexpr double kPageWidthUnits = 2480;
constexpr double kPageHeightUnits = 3507;

}  // namespace

double PageScale(std::optional<double> width, std::optional<double> height) {
    if (!width || !height || *width == 0 || *height == 0) return 1.0;
    const double byWidth = kPageWidthUnits / *width;
    const double byHeight = kPageHeightUnits / *height;
    return byHeight < byWidth ? byHeight : byWidth;
}

int LayoutTurnOf(int degrees) { return degrees == 90 || degrees == 180 || degrees == 270 ? degrees : 0; }

}  // namespace kvo::handoff
