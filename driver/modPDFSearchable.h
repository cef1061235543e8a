#pragma once
// Whether a PDF already carries text.
#include <functional>
#include <string>

namespace kvo::driver {

// True when the PDF has text beyond its information entries. When the extractor reports
// nothing at all, the file is rewritten with Ghostscript and looked at again; a rewrite with
// text replaces the examined file whole, keeping its mode, owner and group. A rewrite is used
// only when Ghostscript ended by itself with status 0 within its limit and the rewrite has the
// pages Ghostscript counted in the original; otherwise, or when the replacement fails, the
// answer is false, the file stays exactly as it was and `rewriteRefused` (when given) says why.
// `pumpMessages` is called while Ghostscript runs, so the progress display stays responsive.
bool IsPDFSearchable(const std::string& pdfPath, const std::function<void()>& pumpMessages = {},
                     std::string* rewriteRefused = nullptr);

// The cut-down rules applied to the extractor's text (pure; exposed for tests).
std::string CutDownExtractedText(std::string text);

}  // namespace kvo::driver
