#include "pdfbuild/KVOOCRWrdMod.h"

#include <optional>
#include <vector>

#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "shared/pdf/PageOverlay.h"
#include "shared/AppTester.h"
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

EnginePtr TryStart(const EngineStarter& startEngine) {
    try {
        return startEngine();
    } catch (...) {
        return nullptr;
    }
}

// Runs one step; a failing step is skipped.
template <typename Step>
bool Attempt(Step&& step) {
    try {
        step();
        return true;
    } catch (...) {
        return false;
    }
}

// One `image` entry of "KVOCurr.xml": its page bitmap ("" when it names none) and, for a PDF
// attachment, the number of the attachment's page it shows.
struct PageEntry {
    std::string bitmap;
    std::optional<int> sourcePage;
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
    const std::string attachment = order.selectSingleNode("File").attribute("name").value_or("");
    result.attachment = ResolveFile(attachment).value_or(attachment);
    for (const xml::Node& image : order.selectNodes("File/image")) {
        PageEntry entry{image.attribute("path").value_or(""), std::nullopt};
        if (auto page = image.attribute("page")) {
            const double number = ReadNumber(*page);
            if (number >= 1 && number == static_cast<int>(number)) entry.sourcePage = static_cast<int>(number);
        }
        result.pages.push_back(std::move(entry));
    }
    return result;
}

// Builds the page document of one entry: a page kept from a PDF attachment, or a picture page.
// A PDF page whose number or boxes are unknown gets no document, as a missing page does.
void BuildPage(DocumentEngine& engine, const PageOrder& order, const std::optional<std::vector<pdf::PageFrame>>& frames,
               const PageEntry& entry, const std::string& bitmap) {
    const std::string layout = handoff::LayoutCopyOf(entry.bitmap);
    const std::string document = handoff::PageDocumentOf(bitmap);
    if (handoff::UpperExtension(order.attachment) != "PDF") {
        std::optional<PictureSource> source;
        if (auto frame = FrameIndexOf(entry.bitmap)) source = PictureSource{order.attachment, *frame};
        BuildPageDocument(engine, bitmap, layout, document, source);
        return;
    }
    if (!frames || !entry.sourcePage || *entry.sourcePage > static_cast<int>(frames->size())) return;
    KeptPage kept;
    kept.sourcePdf = order.attachment;
    kept.sourcePage = *entry.sourcePage;
    BuildKeptPageDocument(engine, bitmap, layout, document, kept, (*frames)[*entry.sourcePage - 1]);
}

// Phase 2 state: the engine and the assembled document opened in it.
struct Assembly {
    const EngineStarter& startEngine;
    EnginePtr engine;
    std::optional<AssembledDocument> document;
    bool firstPage = true;
};

// Ends the run without outputs.
void GiveUp(Assembly& assembly) {
    assembly.document.reset();
    assembly.engine.reset();
    KillAppByName(kWordProcessorImage);
    DeleteOutputs();
    KillAppByName(kWordProcessorImage);
}

// Copies the page document into the assembled document, restarting the engine and reopening
// the saved assembled document after every failure. False when the document had to be given
// up (the outputs are deleted then).
bool CopyPage(Assembly& assembly, const std::string& pageDocumentPath) {
    for (int restarts = 0;; ++restarts) {
        bool copied = Attempt([&] {
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
                Attempt([&] { assembly.document = assembly.engine->openAssembledDocument(AssembledPath()); });
        }
        if (!assembly.document) {
            GiveUp(assembly);
            return false;
        }
    }
}

}  // namespace

void ProducePdf(const EngineStarter& startEngine) {
    const std::string pdfPath = handoff::InTemp(handoff::kBuilderPdfName);
    bool exported = false;
    if (EnginePtr engine = TryStart(startEngine)) {
        int major = 0;
        Attempt([&] { major = MajorVersion(engine->version()); });
        std::optional<AssembledDocument> document;
        Attempt([&] { document = engine->openAssembledDocument(AssembledPath()); });
        if (document) {
            if (major >= kDirectExportVersion)
                exported = Attempt([&] { engine->exportPdf(*document, pdfPath, ExportRoute::MappedFaces); });
            if (!exported)
                exported = Attempt([&] { engine->exportPdf(*document, pdfPath, ExportRoute::BuiltInFace); });
        }
    }
    // A PDF left from an earlier run must not pass for this one.
    if (!exported) DeleteFile(pdfPath);
}

void Run(const EngineStarter& startEngine) {
    KillAppByName(kWordProcessorImage);
    const auto order = ReadPageOrder();
    if (!order) return;
    const std::vector<PageEntry>& pages = order->pages;
    if (pages.empty()) {
        DeleteOutputs();
        KillAppByName(kWordProcessorImage);
        return;
    }

    EnginePtr engine = TryStart(startEngine);
    if (!engine) {
        KillAppByName(kWordProcessorImage);
        DeleteOutputs();
    }

    // Phase 1: a page document for every page that has a bitmap and no document yet. A PDF
    // attachment's pages are kept as they are; their boxes are read once.
    std::optional<std::vector<pdf::PageFrame>> frames;
    if (handoff::UpperExtension(order->attachment) == "PDF") frames = pdf::ReadPageFrames(order->attachment);
    for (const PageEntry& entry : pages) {
        if (!engine || entry.bitmap.empty() || FileExists(handoff::PageDocumentOf(entry.bitmap))) continue;
        // The document goes beside the bitmap as it is named on disk, whatever the list's case.
        const auto real = ResolveFile(entry.bitmap);
        if (!real) continue;
        Attempt([&] { BuildPage(*engine, *order, frames, entry, *real); });
    }
    // Every page document is complete on disk once saved: no wait for it to stop growing.
    engine.reset();

    // Phase 2: the pages joined in order, a page break before every page but the first, the
    // assembled document saved after each page.
    KillAppByName(kWordProcessorImage);
    Assembly assembly{startEngine, TryStart(startEngine), std::nullopt, true};
    if (assembly.engine) Attempt([&] { assembly.document = assembly.engine->newAssembledDocument(AssembledPath()); });
    for (const PageEntry& entry : pages) {
        const std::string pageDocument = handoff::PageDocumentOf(entry.bitmap);
        if (!FileExists(pageDocument)) continue;
        if (!CopyPage(assembly, pageDocument)) return;
        // A restart reopens the document as last saved: after a failed save it would go on
        // without this page and the PDF would silently lack it, so the document is given up.
        if (!Attempt([&] { assembly.engine->save(*assembly.document); })) {
            GiveUp(assembly);
            return;
        }
    }
    assembly.document.reset();
    assembly.engine.reset();
    KillAppByName("winword.exe");

    ProducePdf(startEngine);
    KillAppByName(kWordProcessorImage);
}

void Main() {
    try {
        Run(StartKvoEngine);
    } catch (...) {
    }
}

}  // namespace kvo::KVOOCRWrdMod
