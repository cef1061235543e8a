#include "pdfbuild/KvoEngine.h"

#include <map>

#include "pdfbuild/FaceMetrics.h"
#include "pdfbuild/TextPlacement.h"
#include "shared/image/PictureEncoding.h"
#include "shared/image/RasterImage.h"
#include "shared/pdf/PageOverlay.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/WholeFile.h"

namespace kvo::pdfbuild {

namespace {

constexpr const char* kVersionText = "12.0";

// Runs an engine step, reporting any failure of the layers below as an EngineError.
template <typename Step>
auto Engine(const std::string& what, Step&& step) -> decltype(step()) {
    try {
        return step();
    } catch (const EngineError&) {
        throw;
    } catch (const std::exception& error) {
        throw EngineError(what + ": " + error.what());
    }
}

// Lays document items out on PDF pages: a page starts the first sheet and, after a break, a
// new one; a page added without a break is drawn over the sheet before it. Pictures, kept
// pages and the runs of invisible text go into the plan of the result.
class PageSequence {
public:
    explicit PageSequence(FaceMetrics& faces) : faces_(faces) {}

    void add(const DocumentItem& item) {
        if (std::holds_alternative<PageBreak>(item)) {
            breakPending_ = !plan_.empty();
            return;
        }
        const PageDocument& page = std::get<PageDocument>(item);
        if (plan_.empty() || breakPending_) startSheet(page);
        breakPending_ = false;
        pdf::ResultPage& sheet = plan_.back();
        if (page.picture) {
            const PictureShape& picture = *page.picture;
            sheet.pictures.push_back({picture.encoded, picture.left, picture.top, picture.width, picture.height});
        }
        for (const TextBoxShape& box : page.textBoxes)
            if (auto run = RunFilling(box, [&](char32_t c) { return advanceOf(c); })) sheet.runs.push_back(std::move(*run));
    }

    // Advances of the written runs' face, kept for the writer, which asks for them again.
    double advanceOf(char32_t c) {
        auto found = advances_.find(c);
        if (found == advances_.end()) found = advances_.emplace(c, faces_.advanceOf(c, runFace_)).first;
        return found->second;
    }

    const std::vector<pdf::ResultPage>& plan() const { return plan_; }
    const std::string& sourcePdf() const { return sourcePdf_; }

private:
    void startSheet(const PageDocument& page) {
        pdf::ResultPage sheet;
        SheetSize size = page.setup.sheet();
        if (const auto& kept = page.kept) {
            // One attachment per document: its pages come from one file.
            if (!sourcePdf_.empty() && sourcePdf_ != kept->sourcePdf) throw EngineError("pages of two attachments");
            sourcePdf_ = kept->sourcePdf;
            sheet.sourcePage = kept->sourcePage;
            sheet.shownBox = kept->shownBox;
            sheet.rotate = kept->rotate;
            const pdf::ShownSize shown = pdf::ShownSizeOf(kept->shownBox, kept->rotate);
            size = {shown.height, shown.width};
        }
        sheet.sheetWidth = size.width;
        sheet.sheetHeight = size.height;
        plan_.push_back(std::move(sheet));
    }

    FaceMetrics& faces_;
    // Helvetica's widths, which the runs' face is named by.
    const FontSettings runFace_{.name = "Arial", .bold = std::nullopt, .italic = std::nullopt};
    std::map<char32_t, double> advances_;
    bool breakPending_ = false;
    std::vector<pdf::ResultPage> plan_;
    std::string sourcePdf_;
};

}  // namespace

std::string KvoEngine::version() const { return kVersionText; }

PageDocument KvoEngine::newPageDocument() { return PageDocument{}; }

PictureShape KvoEngine::loadPicture(const std::string& rasterPath, const std::optional<PictureSource>& source) {
    return Engine("cannot insert the picture " + rasterPath, [&] {
        auto real = ResolveFile(rasterPath);
        if (!real) throw EngineError("no picture file " + rasterPath);
        auto raster = image::ReadRaster(*real);
        if (!raster || raster->empty()) throw EngineError("cannot read the picture " + rasterPath);
        PictureShape picture;
        picture.pixelWidth = raster->width;
        picture.pixelHeight = raster->height;
        const PictureSize bitmapPaper = PaperSizeOf(raster->width, raster->height, raster->xDpi, raster->yDpi);
        std::optional<image::EncodedPicture> own;
        if (source)
            if (auto file = ResolveFile(source->file)) own = image::EncodeFrame(*file, source->frame);
        // The attachment's own data, shown as its file asks, stands for the bitmap when it is
        // the same paper; otherwise the picture is the bitmap as it is.
        const PictureSize ownPaper =
            own ? TurnedSize(PaperSizeOf(own->width, own->height, own->xDpi, own->yDpi), own->clockwise) : PictureSize{};
        const bool ownFits = own && SameShape(ownPaper, bitmapPaper);
        picture.encoded = ownFits ? std::move(*own) : image::EncodeRaster(*raster);
        const PictureSize paper = ownFits ? ownPaper : bitmapPaper;
        picture.width = paper.width;
        picture.height = paper.height;
        return picture;
    });
}

void KvoEngine::savePageDocument(const PageDocument& page, const std::string& path) {
    Engine("cannot save " + path, [&] { SavePageFile(page, path); });
}

PageDocument KvoEngine::openPageDocument(const std::string& path) {
    return Engine("cannot open " + path, [&] { return LoadPageFile(path); });
}

AssembledDocument KvoEngine::newAssembledDocument(const std::string& path) {
    return Engine("cannot create " + path, [&] {
        DocumentWriter writer(path);
        writer.commit();
        return AssembledDocument{path, {}};
    });
}

AssembledDocument KvoEngine::openAssembledDocument(const std::string& path) {
    return Engine("cannot open " + path, [&] {
        DocumentReader check(path);
        return AssembledDocument{path, {}};
    });
}

void KvoEngine::insertPageBreak(AssembledDocument& document) { document.unsaved.emplace_back(PageBreak{}); }

void KvoEngine::appendPage(AssembledDocument& document, const PageDocument& page) { document.unsaved.emplace_back(page); }

void KvoEngine::save(AssembledDocument& document) {
    Engine("cannot save " + document.path, [&] {
        DocumentWriter writer(document.path);
        writer.copyItemsOf(document.path);
        for (const DocumentItem& item : document.unsaved) writer.write(item);
        writer.commit();
        document.unsaved.clear();
    });
}

void KvoEngine::exportPdf(const AssembledDocument& document, const std::string& pdfPath, ExportRoute route) {
    Engine("cannot export " + pdfPath, [&] {
        FaceMetrics faces(route);
        PageSequence sequence(faces);
        DocumentReader saved(document.path);
        while (auto item = saved.next()) sequence.add(*item);
        for (const DocumentItem& item : document.unsaved) sequence.add(item);
        // A PDF without pages would stand in for the attachment while showing nothing of it.
        if (sequence.plan().empty()) throw EngineError("the document has no page");
        WholeFileWriter out(pdfPath);
        pdf::WriteResultPdf(sequence.plan(), sequence.sourcePdf(), [&](char32_t c) { return sequence.advanceOf(c); },
                            [&out](const unsigned char* data, std::size_t size) { out.write(data, size); });
        out.commit();
    });
}

std::unique_ptr<DocumentEngine> StartKvoEngine() { return std::make_unique<KvoEngine>(); }

}  // namespace kvo::pdfbuild
