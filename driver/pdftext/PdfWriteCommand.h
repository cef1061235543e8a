#pragma once
// The Ghostscript command line that rewrites a PDF with the pdfwrite device.
#include <optional>
#include <string>

namespace kvo::driver {

// The rewrite file as Ghostscript is told to write it, and as it is looked up (without regard
// to case) afterwards.
inline constexpr const char* kRewriteFileWritten = "KVOPdfWrite.pdf";
inline constexpr const char* kRewriteFileLookedUp = "KVOPDFWrite.pdf";
// Ghostscript's own report of the run ("Processing pages 1 through N."), from which the pages
// it counted in the original are read.
inline constexpr const char* kRewriteReportFile = "KVOPdfWrite.log";

// "{folder}/gs" -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="{temp}/KVOPdfWrite.pdf"
// -sstdout="{temp}/KVOPdfWrite.log" -r300 "{pdf}", each path one intact argument whatever it holds. A relative input path is prefixed
// with "./" so that a name beginning with "-" or "@" is not taken for an option.
std::string BuildPdfWriteCommandLine(const std::string& ghostscriptFolder, const std::string& tempFolder,
                                     const std::string& pdfPath);

// The number of pages Ghostscript said it processed, read from its report; nullopt when the
// report has no "Processing pages F through L." line (not a PDF, no pages, or the run broke off
// before it).
std::optional<int> PagesGhostscriptCounted(const std::string& report);

}  // namespace kvo::driver
