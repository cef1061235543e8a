#include "shared/platform/Profile.h"

#include "shared/platform/FileSearch.h"

#include <fstream>
#include <sstream>

namespace kvo {

namespace {

// The longest value the profile call hands back: its buffer holds 255 characters and the NUL.
constexpr size_t kMaxValue = 254;

std::string Trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string WithoutQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Cuts to kMaxValue bytes, stepping back so that no UTF-8 character is split.
std::string Cut(std::string value) {
    if (value.size() <= kMaxValue) return value;
    size_t end = kMaxValue;
    while (end > 0 && (static_cast<unsigned char>(value[end]) & 0xC0) == 0x80) --end;
    value.resize(end);
    return value;
}

bool ReadWhole(const std::string& path, std::string& content) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream text;
    text << in.rdbuf();
    content = text.str();
    return true;
}

}  // namespace

std::string GetIniString(const std::string& section, const std::string& key, const std::string& file) {
    try {
        std::string content;
        if (!ReadWhole(file, content)) {
            auto real = ResolveFile(file);
            if (!real || !ReadWhole(*real, content)) return "";
        }
        if (content.rfind("\xEF\xBB\xBF", 0) == 0) content.erase(0, 3);

        std::istringstream lines(content);
        std::string line;
        bool inSection = false;
        while (std::getline(lines, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            std::string text = Trimmed(line);
            if (text.empty() || text[0] == ';') continue;
            if (text[0] == '[') {
                size_t close = text.find(']');
                if (inSection) return "";  // the first section of that name has no such key
                inSection = close != std::string::npos && NamesEqualIgnoringCase(Trimmed(text.substr(1, close - 1)), section);
                continue;
            }
            size_t equals = text.find('=');
            if (!inSection || equals == std::string::npos) continue;
            if (NamesEqualIgnoringCase(Trimmed(text.substr(0, equals)), key))
                return Cut(WithoutQuotes(Trimmed(text.substr(equals + 1))));
        }
        return "";
    } catch (...) {
        return "";
    }
}

}  // namespace kvo
