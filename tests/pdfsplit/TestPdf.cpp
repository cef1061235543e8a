#include "TestPdf.h"

#include "support/PdfAssembly.h"

#include <stdexcept>

namespace kvo::test {
namespace {

// Exactly `length` bytes of PDF comment lines.
std::string Padding(std::size_t length) {
    std::string padding;
    while (length > 0) {
        const std::size_t line = length < 100 ? length : 100;
        padding += line == 1 ? std::string("\n") : "%" + std::string(line - 2, 'x') + "\n";
        length -= line;
    }
    return padding;
}

std::string BuildPdf(const std::vector<int>& pageWidths, std::size_t paddingLength) {
    const int pages = static_cast<int>(pageWidths.size());
    std::vector<std::string> objects;
    std::string kids;
    for (int page = 0; page < pages; ++page) kids += std::to_string(3 + 2 * page) + " 0 R ";
    objects.push_back("<< /Type /Catalog /Pages 2 0 R >>");
    objects.push_back("<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>");
    for (int page = 0; page < pages; ++page) {
        // A drawing without text, as a scan is: one bar per page number.
        std::string content = "0.5 g 10 10 40 40 re f 0 g";
        for (int bar = 0; bar <= page % 10; ++bar) content += " " + std::to_string(60 + 6 * bar) + " 60 4 30 re f";
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + std::to_string(pageWidths[page]) +
                          " 100] /Contents " + std::to_string(4 + 2 * page) + " 0 R >>");
        objects.push_back("<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream");
    }
    return AssemblePdf(objects, Padding(paddingLength));
}

}  // namespace

std::string MakePdf(const std::vector<int>& pageWidths, std::size_t exactSize) {
    std::string pdf = BuildPdf(pageWidths, 0);
    if (exactSize == 0) return pdf;
    if (exactSize <= pdf.size()) throw std::invalid_argument("the PDF is larger than the size asked for");
    std::size_t padding = exactSize - pdf.size();
    // The padding moves the cross-reference table, whose offset may gain a digit.
    for (int attempt = 0; attempt < 4 && pdf.size() != exactSize; ++attempt) {
        pdf = BuildPdf(pageWidths, padding);
        padding = padding + exactSize - pdf.size();
    }
    if (pdf.size() != exactSize) throw std::logic_error("cannot pad the PDF to the exact size");
    return pdf;
}

}  // namespace kvo::test
