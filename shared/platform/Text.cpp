#include "shared/platform/Text.h"

#include <locale.h>
#include <wctype.h>

namespace kvo {

namespace {

locale_t Utf8Locale() {
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return locale;
}

// A byte that is not part of valid UTF-8 is kept as a value no letter folds to.
constexpr char32_t kRawByte = 0xDC00;

char32_t Fold(char32_t c) {
    if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c;
    if ((c & 0xFF00) == kRawByte || !Utf8Locale()) return c;
    return static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), Utf8Locale()));
}

bool ContinuesCharacter(char byte) { return (static_cast<unsigned char>(byte) & 0xC0) == 0x80; }

// Decodes the character at `i`, folded, and moves `i` past it.
char32_t NextFolded(std::string_view text, std::size_t& i) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    const std::size_t extra = lead >= 0xF5 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
    if (lead >= 0x80 && extra == 0) {
        ++i;
        return kRawByte | lead;
    }
    char32_t c = extra == 0 ? lead : lead & (0x3F >> extra);
    bool valid = i + extra < text.size();
    for (std::size_t k = 1; valid && k <= extra; ++k) {
        if (!ContinuesCharacter(text[i + k])) valid = false;
        else c = (c << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    }
    if (!valid) {
        ++i;
        return kRawByte | lead;
    }
    i += extra + 1;
    return Fold(c);
}

// True when `text` from byte `at` begins with the folded `wanted`.
bool BeginsWithFolded(std::string_view text, std::size_t at, const std::u32string& wanted) {
    for (const char32_t c : wanted)
        if (at >= text.size() || NextFolded(text, at) != c) return false;
    return true;
}

}  // namespace

std::string Trim(std::string_view text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return "";
    return std::string(text.substr(first, text.find_last_not_of(" \t") - first + 1));
}

bool AllDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

std::u32string CaseFolded(std::string_view text) {
    std::u32string folded;
    folded.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) folded.push_back(NextFolded(text, i));
    return folded;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) { return CaseFolded(a) == CaseFolded(b); }

std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from) {
    const std::u32string wanted = CaseFolded(what);
    for (std::size_t at = from; at < text.size(); ++at)
        if (!ContinuesCharacter(text[at]) && BeginsWithFolded(text, at, wanted)) return at;
    return wanted.empty() && from <= text.size() ? from : std::string::npos;
}

std::string WholeCharactersWithin(std::string_view text, std::size_t bytes) {
    if (text.size() <= bytes) return std::string(text);
    std::size_t end = bytes;
    while (end > 0 && ContinuesCharacter(text[end])) --end;
    return std::string(text.substr(0, end));
}

std::size_t CharacterCount(std::string_view text) {
    std::size_t characters = 0;
    for (const char c : text) characters += !ContinuesCharacter(c);
    return characters;
}

}  // namespace kvo
