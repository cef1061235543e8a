#pragma once
// Numbers as text in the "C" format, whatever the machine's locale.
#include <optional>
#include <string>
#include <string_view>

namespace kvo::ocr {

// The shortest decimal text that reads back as the same value, never with an exponent:
// 10 -> "10", 10.25 -> "10.25", -3 -> "-3". Negative zero is written "0".
std::string DecimalText(double value);

// A whole decimal number ("-12", "10.5", "1e3"); nullopt for anything else, for trailing
// characters and for infinities and NaN.
std::optional<double> ParseDecimal(std::string_view text);

}  // namespace kvo::ocr
