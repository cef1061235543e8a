#pragma once
// The system's own document engine: page documents and the assembled document in its own file
// format (DocumentFile), pictures kept in the encoding the PDF embeds, the text drawn with
// cairo, and the PDF put together from the pictures, the kept pages and that text.
#include "pdfbuild/DocumentEngine.h"

namespace kvo::pdfbuild {

class KvoEngine : public DocumentEngine {
public:
    std::string version() const override;
    PageDocument newPageDocument() override;
    PictureShape loadPicture(const std::string& rasterPath, const std::optional<PictureSource>& source) override;
    void savePageDocument(const PageDocument& page, const std::string& path) override;
    PageDocument openPageDocument(const std::string& path) override;
    AssembledDocument newAssembledDocument(const std::string& path) override;
    AssembledDocument openAssembledDocument(const std::string& path) override;
    void insertPageBreak(AssembledDocument& document) override;
    void appendPage(AssembledDocument& document, const PageDocument& page) override;
    void save(AssembledDocument& document) override;
    void exportPdf(const AssembledDocument& document, const std::string& pdfPath, ExportRoute route) override;
};

// Starts a KvoEngine.
std::unique_ptr<DocumentEngine> StartKvoEngine();

}  // namespace kvo::pdfbuild
