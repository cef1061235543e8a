#pragma once
// Whether a PDF already carries text.
#include <functional>
#include <string>

namespace kvo::driver {

// True when the PDF has text beyond its information entries. When the extractor reports
// nothing at all, the file is rewritten with Ghostscript and looked at again; a rewrite with
// text replaces the examined file (safely: temporary name in its folder, then rename).
// `pumpMessages` is called while Ghostscript runs, so the progress display stays responsive.
bool IsPDFSearchable(const std::string& pdfPath, const std::function<void()>& pumpMessages = {});

// The cut-down rules applied to the extractor's text (pure; exposed for tests).
std::string CutDownExtractedText(std::string text);

}  // namespace kvo::driver
