#pragma once
// The OCR language setting ("eng + deu", "eng+~fra") split into its parts.
#include <string>
#include <vector>

namespace kvo {

// The parts between the "+" signs, blanks and empty parts left out; a part "~xyz" (which
// excludes a language) is kept as it is.
std::vector<std::string> OcrLanguageParts(const std::string& setting);

}  // namespace kvo
