#pragma once
// The PDF text extractor.
#include <string>

namespace kvo::driver {

// The text form the text-layer check reads: for each of Author, Creator, CreationDate, ModDate
// and Producer that the document information holds, the key, ": ", a tab, the value and a tab;
// then "Filename: " and the file's name without its folder; then the text of every page.
// A file that cannot be opened as a PDF (damaged, encrypted, something else) gives "".
std::string ExtractPdfText(const std::string& pdfPath);

}  // namespace kvo::driver
