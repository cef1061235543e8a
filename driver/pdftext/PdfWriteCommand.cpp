#include "driver/pdftext/PdfWriteCommand.h"

#include <cstdio>
#include <string_view>

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
    // Ghostscript takes the report file's name literally.
    return QuoteArgument(ghostscriptFolder + "/gs") + " -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=" +
           QuoteArgument(outputFile) + " -sstdout=" + QuoteArgument(tempFolder + "/" + kRewriteReportFile) +
           " -r300 " + QuoteArgument(input);
}

std::optional<int> PagesGhostscriptCounted(const std::string& report) {
    static constexpr std::string_view kLead = "Processing pages ";
    for (std::size_t at = report.find(kLead); at != std::string::npos; at = report.find(kLead, at + 1)) {
        int first = 0, last = 0;
        char stop = 0;
        if (std::sscanf(report.c_str() + at + kLead.size(), "%d through %d%c", &first, &last, &stop) == 3 &&
            stop == '.' && first >= 1 && last >= first)
            return last - first + 1;
    }
    return std::nullopt;
}

}  // namespace kvo::driver
