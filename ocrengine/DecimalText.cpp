#include "ocrengine/DecimalText.h"

#include <charconv>
#include <cmath>

namespace kvo::ocr {

std::string DecimalText(double value) {
    if (value == 0) value = 0;  // folds -0 into 0
    char buffer[400];           // the longest fixed-notation double has 309 integral digits
    auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    if (error != std::errc()) return "0";
    return std::string(buffer, end);
}

std::optional<double> ParseDecimal(std::string_view text) {
    if (!text.empty() && text.front() == '+') return std::nullopt;
    double value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

}  // namespace kvo::ocr
