#include "support/PdfAssembly.h"

#include <zlib.h>

#include <cstdio>
#include <stdexcept>

namespace kvo::test {

std::string AssemblePdf(const std::vector<std::string>& objects, const std::string& afterHeader,
                        const std::string& trailerExtra) {
    std::string pdf = "%PDF-1.4\n" + afterHeader;
    std::vector<std::size_t> offsets;
    for (std::size_t i = 0; i < objects.size(); ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const std::size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (std::size_t offset : offsets) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offset);
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects.size() + 1) + " /Root 1 0 R " +
           (trailerExtra.empty() ? "" : trailerExtra + " ") + ">>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string InflationBombPdf(std::size_t inflatedBytes, int times) {
    const std::string blanks(inflatedBytes, ' ');
    uLongf size = compressBound(static_cast<uLong>(blanks.size()));
    std::string deflated(size, '\0');
    if (compress2(reinterpret_cast<Bytef*>(deflated.data()), &size, reinterpret_cast<const Bytef*>(blanks.data()),
                  static_cast<uLong>(blanks.size()), Z_BEST_COMPRESSION) != Z_OK)
        throw std::runtime_error("zlib could not deflate the stream");
    deflated.resize(size);
    std::string contents;
    for (int i = 0; i < times; ++i) contents += "4 0 R ";
    return AssemblePdf({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
                        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents [" + contents + "] >>",
                        "<< /Length " + std::to_string(deflated.size()) + " /Filter /FlateDecode >>\nstream\n" +
                            deflated + "\nendstream"});
}

}  // namespace kvo::test
