#pragma once
// Whether a PDF already carries text: the text-layer check.
#include <functional>
#include <string>

namespace kvo::driver {

// Where a PDF must carry text to count as searchable: an attachment on every page that draws
// something (a scan with a typed cover sheet still needs its other pages recognised); a result
// of ours anywhere (a blank page of a scan was recognised too, and rightly gave no text).
enum class TextNeeded { OnEveryDrawnPage, Anywhere };

// True when the PDF at `pdfPath` (its real path: it is not looked up again) has text beyond its
// information entries, where `needed` asks for it. When the extractor cannot read the file at
// all and no password locks it, the file is rewritten with Ghostscript and looked at again; a
// rewrite with text replaces the examined file whole, keeping its mode, owner and group. A
// rewrite is used only when Ghostscript ended by itself with status 0 within its limit and the
// rewrite has the pages Ghostscript counted in the original; otherwise, or when the replacement
// fails, the answer is false, the file stays exactly as it was and `rewriteRefused` (when given)
// says why. No rewrite is left in the work folder. `pumpMessages` is called while Ghostscript or
// the check runs, so the progress display stays responsive. The text is read in a process of its
// own (CheckTextIsolated); when that does not finish within ten minutes or needs more memory
// than an inspection may, PdfBreaksLimit says so (the document's fault); when it crashes,
// std::runtime_error (the machine's: the row is tried again).
bool IsPDFSearchable(const std::string& pdfPath, const std::function<void()>& pumpMessages = {},
                     std::string* rewriteRefused = nullptr, TextNeeded needed = TextNeeded::OnEveryDrawnPage);

// The cut-down rules applied to the extractor's text (pure; exposed for tests).
std::string CutDownExtractedText(std::string text);

// What the text check found.
enum class TextVerdict { Found, Missing, Unreadable, Locked };

// The check of one PDF, in this process: kExitOk when it carries text where `needed` asks,
// kExitTextMissing when it does not, kExitTextLocked when it opens only with a password,
// kExitTextUnreadable when it cannot be read otherwise.
int TextCheckStatus(const std::string& pdfPath, TextNeeded needed = TextNeeded::OnEveryDrawnPage);

// Runs `check` (giving TextCheckStatus's statuses) in a process of its own for at most
// `limitSeconds` and the memory of an inspection; throws PdfBreaksLimit when it breaks either,
// std::runtime_error when it crashes or fails otherwise.
TextVerdict CheckTextIsolated(const std::function<int()>& check, const std::function<void()>& pumpMessages,
                              double limitSeconds);

}  // namespace kvo::driver
