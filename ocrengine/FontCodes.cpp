#include "ocrengine/FontCodes.h"

namespace kvo::ocr {

namespace {

constexpr int kStyleNormal = 1, kStyleItalic = 2, kStyleBold = 3, kStyleBoldItalic = 4;
constexpr int kFamilyHelvetica = 1, kFamilyTimes = 2, kFamilyDefault = 6;
constexpr int kSerifSans = 1, kSerifThin = 2, kSerifSquare = 3, kSerifUnknown = 5;

}  // namespace

WordFont FontCodesFor(const FontFacts& facts, double pointSize) {
    WordFont font;
    font.fontSize = pointSize;
    if (!facts.known) {
        font.family = kFamilyDefault;
        font.serif = kSerifUnknown;
        return font;
    }
    if (facts.bold) font.faceStyle = facts.italic ? kStyleBoldItalic : kStyleBold;
    else font.faceStyle = facts.italic ? kStyleItalic : kStyleNormal;

    if (facts.monospace) font.family = kFamilyDefault;
    else font.family = facts.serif ? kFamilyTimes : kFamilyHelvetica;

    if (!facts.serif) font.serif = kSerifSans;
    else font.serif = facts.monospace ? kSerifSquare : kSerifThin;
    return font;
}

}  // namespace kvo::ocr
