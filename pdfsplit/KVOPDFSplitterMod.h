#pragma once
// The PDF page splitter: renders every page of the ordered PDF to a bitmap with Ghostscript,
// has each page recognised by the OCR program and lists the pages in "KVOCurr.xml".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::KVOPDFSplitterMod {

inline constexpr const char* kGhostscriptImage = "gs";
inline constexpr const char* kOcrProgram = "KVOOCR";

// Doubles every "%" so that Ghostscript's output-file template takes the text literally.
std::string EscapePercent(const std::string& text);

// The Ghostscript command line that renders every page of pdfPath to
// {tempFolder}/{base}{n}.bmp, 256 grey levels at 300 dpi. Every path stays one intact argument.
std::string GhostscriptCommandLine(const std::string& gsFolder, const std::string& tempFolder,
                                   const std::string& base, const std::string& pdfPath);

// The page numbers of the files Ghostscript wrote for base, in ascending order, from a listing
// of {base}*.bmp: only names of the form base, a number without leading zeros, ".bmp".
std::vector<int> RenderedPageNumbers(const std::vector<std::string>& listing, const std::string& base);

// True when the page numbers are exactly 1 to pageCount: Ghostscript wrote every page.
bool RenderedEveryPage(const std::vector<int>& pageNumbers, int pageCount);

// A BMP file starts with "BM" and the file length it was written with.
inline constexpr std::size_t kBmpSizeBytes = 6;
// The length a page file's first bytes declare; 0 when they are no BMP header.
std::uint64_t DeclaredBitmapLength(std::string_view firstBytes);
// True when a page file's first bytes declare the length it has: a file cut short by a full
// disk or a killed writer does not.
bool IsWholeBitmap(std::string_view firstBytes, std::uint64_t fileLength);

// Handles {TEMP}/KVOCurr.xml with the OCR program found in appFolder. Pages are listed only
// from a whole rendering: Ghostscript ended by itself with status 0 inside the hour limit, after
// writing every page of the document whole; otherwise the run ends with its reason on the error
// stream. Quiet ends return normally; an unexpected failure (a page or layout copy that cannot
// be written among them) throws and leaves "KVOCurr.xml" as it was.
void SplitCurrentOrder(const std::string& appFolder);

// The program's run: SplitCurrentOrder with the folder of the running program. Never throws.
// Returns the exit status: 0, or kExitEndedFromOutside when a program it ran was ended from
// outside.
int Main();

}  // namespace kvo::KVOPDFSplitterMod
