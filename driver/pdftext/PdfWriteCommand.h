#pragma once
// The Ghostscript command line that rewrites a PDF with the pdfwrite device.
#include <string>

namespace kvo::driver {

// The rewrite file as Ghostscript is told to write it, and as it is looked up (without regard
// to case) afterwards.
inline constexpr const char* kRewriteFileWritten = "KVOPdfWrite.pdf";
inline constexpr const char* kRewriteFileLookedUp = "KVOPDFWrite.pdf";

// "{folder}/gs" -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile="{temp}/KVOPdfWrite.pdf" -r300
// "{pdf}", each path one intact argument whatever it holds. A relative input path is prefixed
// with "./" so that a name beginning with "-" or "@" is not taken for an option.
std::string BuildPdfWriteCommandLine(const std::string& ghostscriptFolder, const std::string& tempFolder,
                                     const std::string& pdfPath);

}  // namespace kvo::driver
