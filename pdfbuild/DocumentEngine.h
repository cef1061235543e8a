#pragma once
// The document engine the builder drives: page documents, the assembled document and its PDF.
// Every operation may fail with an exception; the builder decides what a failure means.
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "pdfbuild/DocumentFile.h"
#include "pdfbuild/PageDocument.h"

namespace kvo::pdfbuild {

class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The assembled document as opened in an engine: its saved file plus what was added since.
struct AssembledDocument {
    std::string path;
    std::vector<DocumentItem> unsaved;
};

// How the PDF draws its text: with the faces the fonts map to, or, as the plainer way out when
// that fails, with the one face built into the drawing library (no font files involved).
enum class ExportRoute { MappedFaces, BuiltInFace };

// The frame of the attachment a page bitmap was made from.
struct PictureSource {
    std::string file;
    int frame = 0;
};

class DocumentEngine {
public:
    virtual ~DocumentEngine() = default;

    // The engine's version text, "major.minor".
    virtual std::string version() const = 0;

    // A new page document with the engine's default page set-up.
    virtual PageDocument newPageDocument() = 0;
    // Reads a raster file as a picture at the size its resolution gives on each axis (96 dpi
    // when the file does not say), placed at the sheet's corner. When `source` holds the same
    // paper in its own encoding, that is what the picture keeps, turned as its file asks and
    // sized by its own resolutions; otherwise the raster is encoded afresh.
    virtual PictureShape loadPicture(const std::string& rasterPath, const std::optional<PictureSource>& source) = 0;
    virtual void savePageDocument(const PageDocument& page, const std::string& path) = 0;
    virtual PageDocument openPageDocument(const std::string& path) = 0;

    // Creates an empty assembled document and saves it at `path`.
    virtual AssembledDocument newAssembledDocument(const std::string& path) = 0;
    virtual AssembledDocument openAssembledDocument(const std::string& path) = 0;
    virtual void insertPageBreak(AssembledDocument& document) = 0;
    // Places the page with its own set-up and shapes at the document's end.
    virtual void appendPage(AssembledDocument& document, const PageDocument& page) = 0;
    virtual void save(AssembledDocument& document) = 0;

    // Writes the document as PDF to `pdfPath`, whole or not at all.
    virtual void exportPdf(const AssembledDocument& document, const std::string& pdfPath, ExportRoute route) = 0;
};

// Starts an engine instance; throws EngineError when none can be started.
using EngineStarter = std::function<std::unique_ptr<DocumentEngine>()>;

}  // namespace kvo::pdfbuild
