#pragma once
// The PDF page splitter: renders every page of the ordered PDF to a bitmap with Ghostscript,
// has each page recognised by the OCR program and lists the pages in "KVOCurr.xml".
#include <cstdint>
#include <string>
#include <vector>

namespace kvo::KVOPDFSplitterMod {

inline constexpr const char* kGhostscriptImage = "gs";
inline constexpr const char* kOcrProgram = "KVOOCR";
// A PDF with fewer bytes than this per page (rounded) is not worth recognising.
inline constexpr std::int64_t kMinBytesPerPage = 10000;

// Doubles every "%" so that Ghostscript's output-file template takes the text literally.
std::string EscapePercent(const std::string& text);

// The Ghostscript command line that renders every page of pdfPath to
// {tempFolder}/{base}{n}.bmp, 256 grey levels at 300 dpi. Every path stays one intact argument.
std::string GhostscriptCommandLine(const std::string& gsFolder, const std::string& tempFolder,
                                   const std::string& base, const std::string& pdfPath);

// True when the PDF's size divided by the page count, rounded half to even, is below
// kMinBytesPerPage. pageCount must be positive.
bool TooFewBytesPerPage(std::int64_t pdfSize, std::int64_t pageCount);

// The page numbers of the files Ghostscript wrote for base, in ascending order, from a listing
// of {base}*.bmp: only names of the form base, a number without leading zeros, ".bmp".
std::vector<int> RenderedPageNumbers(const std::vector<std::string>& listing, const std::string& base);

// Handles {TEMP}/KVOCurr.xml with the OCR program found in appFolder. Quiet ends return
// normally; an unexpected failure throws and leaves "KVOCurr.xml" as it was.
void SplitCurrentOrder(const std::string& appFolder);

// The program's run: SplitCurrentOrder with the folder of the running program. Never throws.
void Main();

}  // namespace kvo::KVOPDFSplitterMod
