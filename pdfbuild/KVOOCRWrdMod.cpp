#include "pdfbuild/KVOOCRWrdMod.h"

#include <iostream>
#include <stdexcept>
#include <optional>
#include <vector>

#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "shared/ExitStatus.h"
#include "shared/AppTester.h"
#include "shared/pdf/PageOverlay.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/FileSearch.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::KVOOCRWrdMod {

using namespace pdfbuild;

namespace {

using EnginePtr = std::unique_ptr<DocumentEngine>;

std::string AssembledPath() { return handoff::InTemp(handoff::kAssembledDocName); }

void DeleteOutputs() {
    DeleteFile(handoff::InTemp(handoff::kAssembledDocName));
    DeleteFile(handoff::InTemp(handoff::kOcrEngineDocName));
    DeleteFile(handoff::InTemp(handoff::kBuilderPdfName));
}

// A failing step is skipped, unless the machine failed it (a full work folder).
EnginePtr TryStart(const EngineStarter& startEngine) {
    EnginePtr engine;
    SkipUnlessMachineFault([&] { engine = startEngine(); });
    return engine;
}

// One `image` entry of "KVOCurr.xml": its page bitmap ("" when it names none) and, for a PDF
// attachment, the number of the attachment's page it shows.
struct PageEntry {
    std::string bitmap;
    std::optional<int> sourcePage;
    // Kept as it is, without a text layer; no bitmap was made for it.
    bool keptAsIs = false;
};

struct PageOrder {
    std::string attachment;
    std::vector<PageEntry> pages;
};

// The order of "KVOCurr.xml", or nullopt when it does not exist.
std::optional<PageOrder> ReadPageOrder() {
    auto orderPath = ResolveFile(handoff::InTemp(handoff::kCurrentOrderName));
    if (!orderPath) return std::nullopt;
    xml::Document order;
    order.load(*orderPath);
    PageOrder result;
    const xml::Node file = order.selectSingleNode("File");
    const std::string attachment = file ? file.attribute("name").value_or("") : "";
    result.attachment = ResolveFile(attachment).value_or(attachment);
    for (const xml::Node& image : order.selectNodes("File/image")) {
        PageEntry entry{image.attribute("path").value_or(""), std::nullopt,
                        image.attribute(handoff::kKeepAttribute) == handoff::kKeptAsIs};
        if (auto page = image.attribute("page")) {
            const double number = ReadNumber(*page);
            if (number >= 1 && number == static_cast<int>(number)) entry.sourcePage = static_cast<int>(number);
        }
        result.pages.push_back(std::move(entry));
    }
    return result;
}

// Ends the run without outputs. The builder runs hidden: the reason goes to the error stream.
void EndWithoutPdf(const std::string& reason) {
    std::cerr << "KVOOCRWrd: " << reason << "; no PDF\n";
    KillAppByName(kWordProcessorImage);
    DeleteOutputs();
    KillAppByName(kWordProcessorImage);
}

// Builds the page document of one entry: a page kept from a PDF attachment, or a picture page.
// Throws when a PDF page's number or boxes are unknown: the PDF would lack that page.
void BuildPage(DocumentEngine& engine, const PageOrder& order, const std::optional<std::vector<pdf::PageFrame>>& frames,
               const PageEntry& entry, const std::string& bitmap) {
    const std::string layout = handoff::LayoutCopyOf(entry.bitmap);
    const std::string document = handoff::PageDocumentOf(bitmap);
    const bool pdfAttachment = handoff::UpperExtension(order.attachment) == "PDF";
    if (entry.keptAsIs && !pdfAttachment) throw std::runtime_error("a picture page cannot be kept as it is");
    if (!pdfAttachment) {
        std::optional<PictureSource> source;
        if (auto frame = FrameIndexOf(entry.bitmap)) source = PictureSource{order.attachment, *frame};
        BuildPageDocument(engine, bitmap, layout, document, source);
        return;
    }
    if (!frames || !entry.sourcePage || *entry.sourcePage > static_cast<int>(frames->size()))
        throw std::runtime_error("the attachment's page shown by " + entry.bitmap + " cannot be read");
    KeptPage kept;
    kept.sourcePdf = order.attachment;
    kept.sourcePage = *entry.sourcePage;
    const pdf::PageFrame& frame = (*frames)[*entry.sourcePage - 1];
    if (entry.keptAsIs) BuildUntouchedPageDocument(engine, document, kept, frame);
    else BuildKeptPageDocument(engine, bitmap, layout, document, kept, frame);
}

// Phase 1: a page document for every page that has none yet. False (and the run ended without
// outputs) when a page cannot have one: a PDF without that page, or with a blank page in its
// place, would pass for the whole attachment. A PDF attachment's pages are kept as they are;
// their boxes are read once.
bool BuildPageDocuments(DocumentEngine& engine, const PageOrder& order) {
    std::optional<std::vector<pdf::PageFrame>> frames;
    if (handoff::UpperExtension(order.attachment) == "PDF") frames = pdf::ReadPageFrames(order.attachment);
    for (const PageEntry& entry : order.pages) {
        if (entry.bitmap.empty()) {
            EndWithoutPdf("a page is listed without its bitmap");
            return false;
        }
        if (FileExists(handoff::PageDocumentOf(entry.bitmap))) continue;
        // The document goes beside the bitmap as it is named on disk, whatever the list's case.
        const auto real = entry.keptAsIs ? std::optional<std::string>(entry.bitmap) : ResolveFile(entry.bitmap);
        if (!real) {
            EndWithoutPdf("the page bitmap " + entry.bitmap + " is missing");
            return false;
        }
        if (!SkipUnlessMachineFault([&] { BuildPage(engine, order, frames, entry, *real); },
                                    [](const std::exception& error) { EndWithoutPdf(error.what()); }))
            return false;
    }
    return true;
}

// Phase 2 state: the engine and the assembled document opened in it.
struct Assembly {
    const EngineStarter& startEngine;
    EnginePtr engine;
    std::optional<AssembledDocument> document;
    bool firstPage = true;
};

// Ends the run without outputs.
void GiveUp(Assembly& assembly, const std::string& reason) {
    assembly.document.reset();
    assembly.engine.reset();
    EndWithoutPdf(reason);
}

// Copies the page document into the assembled document, restarting the engine and reopening
// the saved assembled document after every failure. False when the document had to be given
// up (the outputs are deleted then).
bool CopyPage(Assembly& assembly, const std::string& pageDocumentPath) {
    for (int restarts = 0;; ++restarts) {
        bool copied = SkipUnlessMachineFault([&] {
            if (!assembly.engine || !assembly.document) throw EngineError("no document engine");
            PageDocument page = assembly.engine->openPageDocument(pageDocumentPath);
            if (!assembly.firstPage) assembly.engine->insertPageBreak(*assembly.document);
            assembly.firstPage = false;
            assembly.engine->appendPage(*assembly.document, page);
        });
        if (copied) return true;

        // Recovery: a fresh engine with the assembled document as last saved. The first-page
        // flag stays as it is, so a pass that failed after clearing it is retried with a break.
        assembly.document.reset();
        assembly.engine.reset();
        KillAppByName(kWordProcessorImage);
        if (restarts < kRestartsPerPage) {
            assembly.engine = TryStart(assembly.startEngine);
            if (assembly.engine)
                SkipUnlessMachineFault([&] { assembly.document = assembly.engine->openAssembledDocument(AssembledPath()); });
        }
        if (!assembly.document) {
            GiveUp(assembly, "the page document " + pageDocumentPath + " cannot be placed");
            return false;
        }
    }
}

// Marks "KVOOCR.pdf" as this system's result for the attachment; a PDF that cannot be marked is
// removed.
void MarkTheResult(const std::string& attachment) {
    const std::string pdfPath = handoff::InTemp(handoff::kBuilderPdfName);
    if (!FileExists(pdfPath)) {
        std::cerr << "KVOOCRWrd: the PDF cannot be written; no PDF\n";
        return;
    }
    try {
        pdf::MarkAsResultFor(pdfPath, attachment);
    } catch (const std::exception& error) {
        // An unmarked PDF could never be told apart from any other file at the destination.
        DeleteFile(pdfPath);
        if (IsMachineFault(error)) throw;
        std::cerr << "KVOOCRWrd: " << error.what() << "; no PDF\n";
    }
}

}  // namespace

void ProducePdf(const EngineStarter& startEngine) {
    const std::string pdfPath = handoff::InTemp(handoff::kBuilderPdfName);
    bool exported = false;
    if (EnginePtr engine = TryStart(startEngine)) {
        int major = 0;
        SkipUnlessMachineFault([&] { major = MajorVersion(engine->version()); });
        std::optional<AssembledDocument> document;
        SkipUnlessMachineFault([&] { document = engine->openAssembledDocument(AssembledPath()); });
        if (document) {
            if (major >= kDirectExportVersion)
                exported = SkipUnlessMachineFault([&] { engine->exportPdf(*document, pdfPath, ExportRoute::MappedFaces); });
            if (!exported)
                exported = SkipUnlessMachineFault([&] { engine->exportPdf(*document, pdfPath, ExportRoute::BuiltInFace); });
        }
    }
    // A PDF left from an earlier run must not pass for this one.
    if (!exported) DeleteFile(pdfPath);
}

void Run(const EngineStarter& startEngine) {
    KillAppByName(kWordProcessorImage);
    const std::optional<PageOrder> order = ReadPageOrder();
    if (!order) return;
    const std::vector<PageEntry>& pages = order->pages;
    if (pages.empty()) {
        DeleteOutputs();
        KillAppByName(kWordProcessorImage);
        return;
    }
    if (order->attachment.empty()) {
        EndWithoutPdf("the order names no attachment to mark the PDF for");
        return;
    }

    EnginePtr engine = TryStart(startEngine);
    if (!engine) {
        EndWithoutPdf("the document engine cannot be started");
        return;
    }
    if (!BuildPageDocuments(*engine, *order)) return;
    // Every page document is complete on disk once saved: no wait for it to stop growing.
    engine.reset();

    // Phase 2: the pages joined in order, a page break before every page but the first, the
    // assembled document saved after each page.
    KillAppByName(kWordProcessorImage);
    Assembly assembly{startEngine, TryStart(startEngine), std::nullopt, true};
    if (assembly.engine)
        SkipUnlessMachineFault([&] { assembly.document = assembly.engine->newAssembledDocument(AssembledPath()); });
    for (const PageEntry& entry : pages) {
        const std::string pageDocument = handoff::PageDocumentOf(entry.bitmap);
        if (!FileExists(pageDocument)) {
            GiveUp(assembly, "the page document " + pageDocument + " is missing");
            return;
        }
        if (!CopyPage(assembly, pageDocument)) return;
        // A restart reopens the document as last saved: after a failed save it would go on
        // without this page and the PDF would silently lack it, so the document is given up.
        if (!SkipUnlessMachineFault([&] { assembly.engine->save(*assembly.document); })) {
            GiveUp(assembly, "the assembled document cannot be saved");
            return;
        }
    }
    assembly.document.reset();
    assembly.engine.reset();
    KillAppByName("winword.exe");

    ProducePdf(startEngine);
    MarkTheResult(order->attachment);
    KillAppByName(kWordProcessorImage);
}

int Main() {
    try {
        Run(StartKvoEngine);
    } catch (const std::exception& error) {
        DeleteOutputs();
        std::cerr << "KVOOCRWrd: " << error.what() << "; no PDF\n";
        return ExitStatusForError(error);
    } catch (...) {
    }
    return 0;
}

}  // namespace kvo::KVOOCRWrdMod
