#include "shared/platform/Profile.h"

#include "shared/platform/FileSearch.h"
#include "shared/platform/Text.h"
#include "shared/platform/WholeFile.h"

#include <optional>
#include <sstream>

namespace kvo {

namespace {

// The longest value the profile call hands back: its buffer holds 255 characters and the NUL.
constexpr size_t kMaxValue = 254;

std::string WithoutQuotes(const std::string& value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Cuts to kMaxValue bytes, so that no UTF-8 character is split.
std::string Cut(const std::string& value) { return WholeCharactersWithin(value, kMaxValue); }

// The file's content, its name resolved without regard to case; "" when it cannot be read.
std::string ProfileContent(const std::string& file) {
    if (std::optional<std::string> content = ReadWholeFile(file)) return *content;
    const std::optional<std::string> real = ResolveFile(file);
    return real ? ReadWholeFile(*real).value_or("") : "";
}

}  // namespace

IniEntries IniSectionEntries(const std::string& content, const std::string& section) {
    IniEntries entries;
    std::istringstream lines(content.rfind("\xEF\xBB\xBF", 0) == 0 ? content.substr(3) : content);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string text = Trim(line);
        if (text.empty() || text[0] == ';') continue;
        if (text[0] == '[') {
            if (inSection) break;  // only the first section of that name counts
            const size_t close = text.find(']');
            inSection = close != std::string::npos && EqualsIgnoringCase(Trim(text.substr(1, close - 1)), section);
            continue;
        }
        const size_t equals = text.find('=');
        if (!inSection || equals == std::string::npos) continue;
        std::string key = Trim(text.substr(0, equals));
        if (!key.empty()) entries.emplace_back(std::move(key), Trim(text.substr(equals + 1)));
    }
    return entries;
}

IniEntries GetIniSection(const std::string& section, const std::string& file) {
    try {
        return IniSectionEntries(ProfileContent(file), section);
    } catch (...) {
        return {};
    }
}

std::string GetIniString(const std::string& section, const std::string& key, const std::string& file) {
    try {
        for (const auto& [name, value] : GetIniSection(section, file))
            if (EqualsIgnoringCase(name, key)) return Cut(WithoutQuotes(value));
        return "";
    } catch (...) {
        return "";
    }
}

}  // namespace kvo
