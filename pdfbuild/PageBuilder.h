#pragma once
// The page document of one page bitmap: the picture over an A4 sheet without margins and over it
// one invisible text box per word of the page's layout document, turned with the word's line,
// its text filling the box (TextPlacement).
#include <optional>
#include <string>

#include "pdfbuild/DocumentEngine.h"

namespace kvo::pdfbuild {

// Builds the page document and saves it at `documentPath`. A missing or unreadable layout
// document leaves the text out; a picture that cannot be inserted and a failing save throw.
// `source` names the attachment's frame the bitmap shows, when known.
void BuildPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                       const std::string& documentPath, const std::optional<PictureSource>& source = std::nullopt);

// Builds the page document of a page kept from a PDF attachment: the page itself, with one
// text box per word of its layout document. `bitmapPath` is the page's rendering, whose size
// tells which of the page's boxes it shows. Throws when the rendering cannot be read, so that
// no page is placed off its words; a missing layout document leaves the page without text.
void BuildKeptPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                           const std::string& documentPath, const KeptPage& source, const pdf::PageFrame& frame);

// Builds the page document of a page kept from a PDF attachment exactly as it is: no text layer
// (it carries text of its own, or draws nothing), so no rendering is needed.
void BuildUntouchedPageDocument(DocumentEngine& engine, const std::string& documentPath, const KeptPage& source,
                                const pdf::PageFrame& frame);

}  // namespace kvo::pdfbuild
