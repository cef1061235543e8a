#include "shared/OcrLanguages.h"

#include <sstream>

namespace kvo {

std::vector<std::string> OcrLanguageParts(const std::string& setting) {
    std::vector<std::string> parts;
    std::istringstream text(setting);
    for (std::string part; std::getline(text, part, '+');) {
        const std::size_t first = part.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        parts.push_back(part.substr(first, part.find_last_not_of(" \t") - first + 1));
    }
    return parts;
}

}  // namespace kvo
