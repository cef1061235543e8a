#include "ocrsave/LayoutRules.h"

#include "ocrengine/DecimalText.h"

#include <array>

namespace kvo::ocrsave {

namespace {

template <std::size_t N>
std::string NameOf(const std::array<const char*, N>& names, int code) {
    return code >= 1 && static_cast<std::size_t>(code) <= N ? names[code - 1] : "";
}

}  // namespace

std::string EdgeText(double pixels, double scale) { return ocr::DecimalText(RoundHalfEven(pixels * scale)); }

std::string FontSizeText(double points, double scale) {
    return ocr::DecimalText(RoundHalfEven(points * scale * 4) / 4);
}

std::string FaceStyleName(int code) {
    static constexpr std::array<const char*, 4> kNames{"normal", "italic", "bold", "bolditalic"};
    return NameOf(kNames, code);
}

std::string FontFamilyName(int code) {
    static constexpr std::array<const char*, 6> kNames{"Helvetica",    "Times",            "Century",
                                                        "TimesCentury", "HelveticaCentury", "Default"};
    return NameOf(kNames, code);
}

std::string FontSerifName(int code) {
    static constexpr std::array<const char*, 5> kNames{"sans", "thin", "square", "round", "unknown"};
    return NameOf(kNames, code);
}

}  // namespace kvo::ocrsave
