#pragma once
// Small rules on text that every program shares: trimming, comparison without regard to case,
// and cutting UTF-8 text without splitting a character. No I/O.
#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kvo {

// The text without the blanks and tabs at its ends.
std::string Trim(std::string_view text);

// True when the text is one or more of the digits 0 to 9 and nothing else.
bool AllDigits(std::string_view text);

// The decimal number that fills `text` exactly (a sign only where Number has one); nullopt for
// any other text and for a number Number cannot hold.
template <typename Number>
std::optional<Number> WholeNumber(std::string_view text) {
    Number number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

// The text decoded from UTF-8 with every letter in upper case, for comparisons without regard to
// case. A byte that is not part of valid UTF-8 becomes a value no letter folds to, so that it
// only ever matches itself.
std::u32string CaseFolded(std::string_view text);

// Two texts compared without regard to case: the one comparison the programs use, for file
// names, keys, types and keywords alike (UTF-8 letters beyond ASCII too).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

// Where `what` first occurs in `text` at or after byte `from`, compared without regard to case;
// std::string::npos when it does not.
std::size_t FindIgnoringCase(std::string_view text, std::string_view what, std::size_t from = 0);

// The text cut to at most `bytes` bytes, never inside a UTF-8 character.
std::string WholeCharactersWithin(std::string_view text, std::size_t bytes);

// The characters of UTF-8 text (its bytes that do not continue a character).
std::size_t CharacterCount(std::string_view text);

}  // namespace kvo
