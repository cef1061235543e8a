#include "shared/OcrLanguages.h"

#include <sstream>
#include <utility>

#include "shared/platform/Text.h"

namespace kvo {

std::vector<std::string> OcrLanguageParts(const std::string& setting) {
    std::vector<std::string> parts;
    std::istringstream text(setting);
    for (std::string part; std::getline(text, part, '+');)
        if (std::string language = Trim(part); !language.empty()) parts.push_back(std::move(language));
    return parts;
}

}  // namespace kvo
