#pragma once
// The page document of one page bitmap: the picture over an A4 sheet without margins and, behind
// it, one white text box per line of the page's layout document.
#include <string>

#include "pdfbuild/DocumentEngine.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::pdfbuild {

// The text box for a `line` element of a layout document, at `pointsPerInch`.
TextBoxShape TextBoxForLine(const xml::Node& line, int pointsPerInch);

// Builds the page document and saves it at `documentPath`. A missing or unreadable layout
// document leaves the text out; a picture that cannot be inserted and a failing save throw.
void BuildPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                       const std::string& documentPath);

}  // namespace kvo::pdfbuild
