#pragma once
// Reading results the way a person would: the poppler command-line tools, and word recall
// against a reference transcription.
#include <map>
#include <string>

#include "support/TestSupport.h"

namespace kvo::test {

// Runs a command through the shell and gives its standard output.
std::string CommandOutput(const std::string& command);
// One argument for the shell, whatever it holds (blanks, apostrophes, …).
std::string ShellQuoted(const std::string& text);

// The text poppler extracts (UTF-8), of every page or of one page (from 1).
std::string PdfText(const fs::path& pdf, int page = 0);
// The page count poppler reports; 0 for a file it cannot read.
int PdfPageCount(const fs::path& pdf);

// Case-folded runs of letters and digits, counted with multiplicity.
using WordBag = std::map<std::string, int>;
WordBag WordsOf(const std::string& text);
// The share of the reference's words (with multiplicity) that the text holds.
double Recall(const WordBag& reference, const std::string& text);

}  // namespace kvo::test
