#include "support/PdfAssembly.h"

#include <cstdio>

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

}  // namespace kvo::test
