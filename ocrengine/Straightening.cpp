#include "ocrengine/Straightening.h"

#include <algorithm>
#include <cmath>

namespace kvo::ocr {

PageLayout MappedBack(PageLayout straightened, double skew, int width, int height) {
    const double radians = skew * M_PI / 180;
    const double c = std::cos(radians), s = std::sin(radians);
    const double fromX = straightened.pixelWidth / 2.0, fromY = straightened.pixelHeight / 2.0;
    const double toX = width / 2.0, toY = height / 2.0;
    // Clockwise as seen, with y growing downward, about the two centres.
    const auto back = [&](double x, double y) {
        x -= fromX;
        y -= fromY;
        return PagePoint{x * c - y * s + toX, x * s + y * c + toY};
    };
    for (Word& word : straightened.words) {
        const WordRect& r = word.rect;
        const PagePoint corners[] = {back(r.left, r.top), back(r.right, r.top), back(r.left, r.bottom),
                                     back(r.right, r.bottom)};
        WordRect box{corners[0].y, corners[0].x, corners[0].y, corners[0].x};
        for (const PagePoint& p : corners) {
            box.top = std::min(box.top, p.y);
            box.left = std::min(box.left, p.x);
            box.bottom = std::max(box.bottom, p.y);
            box.right = std::max(box.right, p.x);
        }
        word.rect = box;
        word.baseStart = back(word.baseStart.x, word.baseStart.y);
        word.baseEnd = back(word.baseEnd.x, word.baseEnd.y);
    }
    straightened.pixelWidth = width;
    straightened.pixelHeight = height;
    return straightened;
}

}  // namespace kvo::ocr
