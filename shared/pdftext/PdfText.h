#pragma once
// Reading the text of a PDF (poppler), and the per-page rule of which pages already carry text.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shared/pdf/PdfFile.h"

namespace kvo::pdftext {

// What poppler reads of a PDF: the text form the text-layer check reads (for each of Author,
// Creator, CreationDate, ModDate and Producer that the document information holds, the key,
// ": ", a tab, the value and a tab; then "Filename: " and the file's name without its folder;
// then the text of every page), and the text of each page.
struct TextLayer {
    std::string extracted;
    std::vector<std::string> pages;
};
// Nullopt when the file cannot be opened as a PDF (damaged, encrypted, something else).
std::optional<TextLayer> ReadTextLayer(const std::string& pdfPath);

// True when the file is a PDF that cannot be read without its user password.
bool OpensOnlyWithPassword(const std::string& pdfPath);

// What decides, for one page, whether it must be recognised.
struct PageText {
    bool drawsContent = false;  // it paints an image or has a content stream that is not blank
    bool carriesText = false;   // its text holds more than white space
};

// A page's text holds more than white space.
bool CarriesText(std::string_view pageText);

// A page is recognised when it draws something and carries no text; a blank page and a page
// with text of its own are kept as they are.
inline bool NeedsRecognition(const PageText& page) { return page.drawsContent && !page.carriesText; }

// Every page that draws something carries text already.
bool EveryDrawnPageCarriesText(const std::vector<PageText>& pages);

// The facts of each page, from what poppler and qpdf read of one file; nullopt when they do
// not count the same pages, and neither count can be trusted.
std::optional<std::vector<PageText>> PagesOf(const TextLayer& text, const pdf::PdfFacts& drawn);

}  // namespace kvo::pdftext
