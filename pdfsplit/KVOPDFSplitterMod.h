#pragma once
// The PDF page splitter: renders every page of the ordered PDF to a bitmap with Ghostscript,
// has each page recognised by the OCR program and lists the pages in "KVOCurr.xml".
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::KVOPDFSplitterMod {

// Doubles every "%" so that Ghostscript's output-file template takes the text literally.
std::string EscapePercent(const std::string& text);

// Pages are rendered for recognition at 300 dpi, unless their bitmap would exceed 40 megapixels.
inline constexpr int kRenderDpi = 300;
inline constexpr double kMostPixelsPerPage = 40e6;

// The Ghostscript command line that renders the pages `pageList` names ("" for every page) of
// pdfPath to {tempFolder}/{base}{n}.bmp, 256 grey levels at 300 dpi, n counting the rendered
// pages from 1. Every path stays one intact argument.
std::string GhostscriptCommandLine(const std::string& gsFolder, const std::string& tempFolder,
                                   const std::string& base, const std::string& pdfPath,
                                   const std::string& pageList = "");
// The command line that renders page `page` alone at `dpi` to {tempFolder}/{base}{page}.bmp.
std::string OnePageCommandLine(const std::string& gsFolder, const std::string& tempFolder, const std::string& base,
                               const std::string& pdfPath, int page, int dpi);

// Ghostscript's page list for ascending page numbers, runs joined: "1-3,5".
std::string PageListOf(const std::vector<int>& pages);

// The resolution a page of that size is rendered at: 300 dpi, or the highest whole number of
// dpi whose bitmap stays within 40 megapixels; 0 when not even 1 dpi does.
int RenderResolution(double widthInches, double heightInches);

// The bytes of a grey page bitmap of a page of that size at `dpi`, as Ghostscript writes it.
std::uint64_t GreyBitmapBytes(double widthInches, double heightInches, int dpi);

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

// Handles {TEMP}/KVOCurr.xml with the OCR program found in appFolder. Only the pages that draw
// something and carry no text are rendered and recognised; the others are listed to be kept as
// they are. Pages are listed only from a whole rendering: Ghostscript ended by itself with status
// 0 inside the hour limit, after writing every page asked for whole; otherwise (and for a page
// that not even 1 dpi keeps within the pixel bound) the run ends with its reason on the error
// stream. Quiet ends return normally; a work folder without room for the page bitmaps throws
// NoRoomForWork before anything is rendered (TooLargeForWork when its file system could never
// hold them); an unexpected failure (a page or layout copy that
// cannot be written among them) throws and leaves "KVOCurr.xml" as it was.
void SplitCurrentOrder(const std::string& appFolder);

// The program's run: SplitCurrentOrder with the folder of the running program. Never throws.
// Returns the exit status: 0, or ExitStatusForError of the fault that ended it.
int Main();

}  // namespace kvo::KVOPDFSplitterMod
