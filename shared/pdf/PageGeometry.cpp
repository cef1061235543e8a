#include "shared/pdf/PageGeometry.h"

#include <algorithm>
#include <cmath>

namespace kvo::pdf {

double Box::width() const { return std::fabs(x1 - x0); }
double Box::height() const { return std::fabs(y1 - y0); }

Box Box::normalised() const { return {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1), std::max(y0, y1)}; }

int NormalisedRotation(int rotate) {
    if (rotate % 90 != 0) return 0;
    return ((rotate % 360) + 360) % 360;
}

Box VisibleBox(const PageFrame& frame) {
    const Box media = frame.mediaBox.normalised();
    const Box crop = frame.cropBox.normalised();
    const Box cut{std::max(media.x0, crop.x0), std::max(media.y0, crop.y0), std::min(media.x1, crop.x1),
                  std::min(media.y1, crop.y1)};
    return cut.x0 < cut.x1 && cut.y0 < cut.y1 ? cut : media;
}

ShownSize ShownSizeOf(const Box& box, int rotate) {
    const bool quarterTurn = NormalisedRotation(rotate) % 180 != 0;
    return quarterTurn ? ShownSize{box.height(), box.width()} : ShownSize{box.width(), box.height()};
}

Box RenderedBoxOf(const PageFrame& frame, int pixelWidth, int pixelHeight) {
    const Box media = frame.mediaBox.normalised();
    const Box visible = VisibleBox(frame);
    if (pixelWidth <= 0 || pixelHeight <= 0) return media;
    const double bitmapShape = std::log(static_cast<double>(pixelWidth) / pixelHeight);
    const auto mismatch = [&](const Box& box) -> double {
        const ShownSize shown = ShownSizeOf(box, frame.rotate);
        if (shown.width <= 0 || shown.height <= 0) return HUGE_VAL;
        return std::fabs(std::log(shown.width / shown.height) - bitmapShape);
    };
    return mismatch(visible) < mismatch(media) ? visible : media;
}

Matrix ShownToUserSpace(const Box& box, int rotate) {
    const Box b = box.normalised();
    switch (NormalisedRotation(rotate)) {
        case 90: return {0, 1, -1, 0, b.x1, b.y0};
        case 180: return {-1, 0, 0, -1, b.x1, b.y1};
        case 270: return {0, -1, 1, 0, b.x0, b.y1};
        default: return {1, 0, 0, 1, b.x0, b.y0};
    }
}

namespace {

// `first` applied, then `then`.
Matrix Then(const Matrix& first, const Matrix& then) {
    const auto& [a, b, c, d, e, f] = first;
    const auto& [A, B, C, D, E, F] = then;
    return {a * A + b * C, a * B + b * D, c * A + d * C, c * B + d * D, e * A + f * C + E, e * B + f * D + F};
}

}  // namespace

Matrix PictureMatrix(const Box& shown, int clockwise, bool mirrored) {
    const Box b = shown.normalised();
    Matrix m = mirrored ? Matrix{-1, 0, 0, 1, 1, 0} : Matrix{1, 0, 0, 1, 0, 0};
    // The unit square turned in itself: a clockwise quarter takes its top-left corner to the
    // top-right.
    switch (NormalisedRotation(clockwise)) {
        case 90: m = Then(m, {0, -1, 1, 0, 0, 1}); break;
        case 180: m = Then(m, {-1, 0, 0, -1, 1, 1}); break;
        case 270: m = Then(m, {0, 1, -1, 0, 1, 0}); break;
        default: break;
    }
    return Then(m, {b.width(), 0, 0, b.height(), b.x0, b.y0});
}

}  // namespace kvo::pdf
