#pragma once
// Reading a PDF the driver did not make (a client's attachment, whatever lies at a destination,
// a result that keeps a client's pages) without risk to the driver: in a process of its own,
// within bounds of memory and time that any real document keeps.
#include <functional>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>

#include "shared/ChildProcess.h"
#include "shared/pdf/PdfFile.h"

namespace kvo::driver {

// A PDF that took more memory or time to read than its bounds allow: the document's fault.
class PdfBreaksLimit : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A real 1000-page document is inspected in a few seconds and some tens of megabytes.
inline constexpr IsolationLimits kInspectionLimits{.seconds = 120, .memoryBytes = 1ull << 30};

// pdf::InspectPdf in a process of its own within kInspectionLimits: nullopt, with the reason in
// `error`, when the file does not open as a PDF. Throws PdfBreaksLimit when it breaks a limit,
// and std::runtime_error when the inspection crashes or cannot be run (the machine's fault).
std::optional<pdf::PdfFacts> InspectPdfIsolated(const std::string& path, std::string* error = nullptr,
                                                const std::function<void()>& pumpMessages = {});

// Passes when the isolated `what` (e.g. "the inspection of x.pdf") ended by itself with one of
// the `expected` statuses. Throws PdfBreaksLimit when it ended at one of `limits`, and
// std::runtime_error (the machine's fault) when it could not start, crashed or failed otherwise.
void ExpectIsolatedEnd(const IsolatedEnd& end, const IsolationLimits& limits, const std::string& what,
                       std::initializer_list<int> expected);

// The facts as text and back, as they pass from the inspecting process (pure; exposed for
// tests). FactsFromText gives nullopt for text that FactsText did not make.
std::string FactsText(const pdf::PdfFacts& facts);
std::optional<pdf::PdfFacts> FactsFromText(const std::string& text);

}  // namespace kvo::driver
