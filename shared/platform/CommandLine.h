#pragma once
// Command lines as one text: split by the Windows rules, and quoting of one argument.
#include <string>
#include <vector>

namespace kvo {

// Splits a command line into arguments by the Windows rules: blanks and tabs separate, double
// quotes group, backslashes are literal unless they precede a double quote (2n backslashes +
// quote -> n backslashes and a grouping quote; 2n+1 -> n backslashes and a literal quote);
// "" inside a quoted group is a literal quote.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);

// Quotes one argument so that SplitCommandLine gives it back intact, whatever it holds
// (blanks, double quotes, apostrophes, %, a leading -, non-ASCII letters, trailing backslash).
std::string QuoteArgument(const std::string& argument);

}  // namespace kvo
