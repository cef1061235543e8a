#include "pdfbuild/KvoEngine.h"

#include "shared/platform/WholeFile.h"
#include "pdfbuild/CairoPdfCanvas.h"
#include "shared/image/RasterImage.h"
#include "shared/platform/FileSearch.h"

namespace kvo::pdfbuild {

namespace {

constexpr const char* kVersionText = "12.0";
// The resolution assumed for a raster file that does not state one.
constexpr double kDefaultDpi = 96;

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

void DrawPicture(PdfCanvas& canvas, const PictureShape& picture) {
    image::Raster raster = image::DecodePng(picture.png);
    PlacedRect where{picture.left, picture.top, picture.width, picture.height};
    if (raster.bitsPerPixel == 1) canvas.drawBilevel(raster, image::EncodeG4(raster), where);
    else canvas.drawPixels(raster, where);
}

void DrawPage(PdfCanvas& canvas, const PageDocument& page) {
    // Shapes behind the text come first, then the picture, then everything in front of it.
    for (const TextBoxShape& box : page.textBoxes)
        if (box.behindText) canvas.drawTextBox(box);
    if (page.picture) DrawPicture(canvas, *page.picture);
    for (const TextBoxShape& box : page.textBoxes)
        if (!box.behindText) canvas.drawTextBox(box);
}

// Lays document items out on PDF pages: a page starts the first sheet and, after a break, a
// new one; a page added without a break is drawn over the sheet before it.
class PageSequence {
public:
    explicit PageSequence(PdfCanvas& canvas) : canvas_(canvas) {}

    void add(const DocumentItem& item) {
        if (std::holds_alternative<PageBreak>(item)) {
            breakPending_ = sheetOpen_;
            return;
        }
        const PageDocument& page = std::get<PageDocument>(item);
        if (sheetOpen_ && breakPending_) {
            canvas_.endPage();
            sheetOpen_ = false;
        }
        if (!sheetOpen_) {
            canvas_.beginPage(page.setup.sheet());
            sheetOpen_ = true;
            ++sheets_;
        }
        breakPending_ = false;
        DrawPage(canvas_, page);
    }

    int sheets() const { return sheets_; }

private:
    PdfCanvas& canvas_;
    bool sheetOpen_ = false;
    bool breakPending_ = false;
    int sheets_ = 0;
};

}  // namespace

std::string KvoEngine::version() const { return kVersionText; }

PageDocument KvoEngine::newPageDocument() { return PageDocument{}; }

PictureShape KvoEngine::loadPicture(const std::string& rasterPath) {
    return Engine("cannot insert the picture " + rasterPath, [&] {
        auto real = ResolveFile(rasterPath);
        if (!real) throw EngineError("no picture file " + rasterPath);
        auto raster = image::ReadRaster(*real);
        if (!raster || raster->empty()) throw EngineError("cannot read the picture " + rasterPath);
        PictureShape picture;
        picture.pixelWidth = raster->width;
        picture.pixelHeight = raster->height;
        const double xDpi = raster->xDpi > 0 ? raster->xDpi : kDefaultDpi;
        const double yDpi = raster->yDpi > 0 ? raster->yDpi : kDefaultDpi;
        picture.width = raster->width / xDpi * 72.0;
        picture.height = raster->height / yDpi * 72.0;
        image::Raster least = image::ReduceLossless(*raster);
        raster.reset();  // one copy of the page at a time
        picture.bitsPerPixel = least.bitsPerPixel;
        picture.png = image::EncodePng(least);
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
        WholeFileWriter out(pdfPath);
        PdfCanvas canvas([&out](const unsigned char* data, std::size_t size) { out.write(data, size); }, route);
        PageSequence sequence(canvas);
        DocumentReader saved(document.path);
        while (auto item = saved.next()) sequence.add(*item);
        for (const DocumentItem& item : document.unsaved) sequence.add(item);
        // A PDF without pages would stand in for the attachment while showing nothing of it.
        if (sequence.sheets() == 0) throw EngineError("the document has no page");
        canvas.finish();
        out.commit();
    });
}

std::unique_ptr<DocumentEngine> StartKvoEngine() { return std::make_unique<KvoEngine>(); }

}  // namespace kvo::pdfbuild
