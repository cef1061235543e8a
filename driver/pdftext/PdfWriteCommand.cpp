#include "driver/pdftext/PdfWriteCommand.h"

#include "shared/platform/CommandLine.h"

namespace kvo::driver {

std::string BuildPdfWriteCommandLine(const std::string& ghostscriptFolder, const std::string& tempFolder,
                                     const std::string& pdfPath) {
    // Ghostscript reads "%" in an output name as a page-number template; "%%" is a plain "%".
    std::string outputFile;
    for (char c : tempFolder + "/" + kRewriteFileWritten) {
        outputFile += c;
        if (c == '%') outputFile += '%';
    }
    const std::string input = (!pdfPath.empty() && pdfPath.front() == '/') ? pdfPath : "./" + pdfPath;
    // The output path's quotation marks stand after "-sOutputFile=", as in every command line
    // the system builds for Ghostscript.
    return QuoteArgument(ghostscriptFolder + "/gs") + " -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=" +
           QuoteArgument(outputFile) + " -r300 " + QuoteArgument(input);
}

}  // namespace kvo::driver
