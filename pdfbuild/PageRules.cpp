#include "pdfbuild/PageRules.h"

#include "shared/platform/Text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <system_error>

namespace kvo::pdfbuild {

double ReadNumber(const std::string& text) {
    const char* first = text.data();
    const char* last = first + text.size();
    while (first < last && std::isspace(static_cast<unsigned char>(*first))) ++first;
    if (first < last && *first == '+') ++first;
    double value = 0;
    // from_chars reads the longest number at the front, independent of the locale.
    if (std::from_chars(first, last, value).ec != std::errc() || !std::isfinite(value)) return 0;
    return value;
}

SheetSize SheetSizeOf(PaperSize, Orientation orientation) {
    SheetSize a4{841.9, 595.3};
    if (orientation == Orientation::Landscape) return {a4.width, a4.height};
    return a4;
}

PictureSize FitPicture(const SheetSize& sheet, const PictureSize& picture) {
    if (picture.width <= 0 || picture.height <= 0) return {};
    const double ratio = picture.height / picture.width;
    if (sheet.height / sheet.width > ratio) return {sheet.width, sheet.width * ratio};
    return {sheet.height / ratio, sheet.height};
}

PictureSize PaperSizeOf(int pixelWidth, int pixelHeight, double xDpi, double yDpi) {
    if (!(xDpi > 0)) xDpi = yDpi;
    if (!(yDpi > 0)) yDpi = xDpi;
    if (!(xDpi > 0)) xDpi = yDpi = kDefaultDpi;
    return {pixelWidth / xDpi * 72.0, pixelHeight / yDpi * 72.0};
}

PictureSize TurnedSize(const PictureSize& size, int clockwise) {
    return clockwise % 180 != 0 ? PictureSize{size.height, size.width} : size;
}

bool SameShape(const PictureSize& a, const PictureSize& b) {
    if (!(a.width > 0 && a.height > 0 && b.width > 0 && b.height > 0)) return false;
    return std::fabs(std::log((a.width / a.height) / (b.width / b.height))) <= kShapeTolerance;
}

std::u32string CodePointsOf(const std::string& utf8) {
    std::u32string text;
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t i = 0;
    const std::size_t n = utf8.size();
    while (i < n) {
        const unsigned char lead = bytes[i];
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        bool ok = length > 0 && i + length <= n;
        for (int k = 1; ok && k < length; ++k) ok = (bytes[i + k] & 0xC0) == 0x80;
        char32_t code = length == 1 ? lead : lead & (0x7F >> length);
        for (int k = 1; ok && k < length; ++k) code = (code << 6) | (bytes[i + k] & 0x3F);
        static constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        ok = ok && code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        text += ok ? code : U'\uFFFD';
        i += ok ? length : 1;
    }
    return text;
}

std::string Utf8Of(char32_t c) {
    std::string text;
    if (c < 0x80) text += static_cast<char>(c);
    else if (c < 0x800) text += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
    else if (c < 0x10000)
        text += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    else
        text += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                 static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
    return text;
}

std::optional<int> FrameIndexOf(const std::string& pageBitmap) {
    constexpr std::size_t kDigits = 6;
    constexpr std::string_view kExtension = ".bmp";
    const std::string name = pageBitmap.substr(pageBitmap.find_last_of('/') + 1);
    if (name.size() < kDigits + kExtension.size()) return std::nullopt;
    const std::size_t digitsAt = name.size() - kExtension.size() - kDigits;
    if (!EqualsIgnoringCase(std::string_view(name).substr(name.size() - kExtension.size()), kExtension))
        return std::nullopt;
    int index = 0;
    for (std::size_t i = digitsAt; i < digitsAt + kDigits; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        index = index * 10 + (name[i] - '0');
    }
    return index;
}

int MajorVersion(const std::string& versionText) {
    std::string head = versionText.substr(0, versionText.find('.'));
    return static_cast<int>(ReadNumber(head));
}

}  // namespace kvo::pdfbuild
