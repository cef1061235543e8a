#include "pdfbuild/KVOOCRWrdMod.h"

#include <optional>
#include <vector>

#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
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

// The page bitmap paths of "KVOCurr.xml" in order ("" for an entry without one), or nullopt
// when the order does not exist.
std::optional<std::vector<std::string>> PageList() {
    auto orderPath = ResolveFile(handoff::InTemp(handoff::kCurrentOrderName));
    if (!orderPath) return std::nullopt;
    xml::Document order;
    order.load(*orderPath);
    std::vector<std::string> pages;
    for (const xml::Node& image : order.selectNodes("File/image")) pages.push_back(image.attribute("path").value_or(""));
    return pages;
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
    const auto pages = PageList();
    if (!pages) return;
    if (pages->empty()) {
        DeleteOutputs();
        KillAppByName(kWordProcessorImage);
        return;
    }

    EnginePtr engine = TryStart(startEngine);
    if (!engine) {
        KillAppByName(kWordProcessorImage);
        DeleteOutputs();
    }

    // Phase 1: a page document for every page that has a bitmap and no document yet.
    for (const std::string& bitmap : *pages) {
        if (!engine || bitmap.empty() || FileExists(handoff::PageDocumentOf(bitmap))) continue;
        // The document goes beside the bitmap as it is named on disk, whatever the list's case.
        const auto real = ResolveFile(bitmap);
        if (!real) continue;
        Attempt([&] { BuildPageDocument(*engine, *real, handoff::LayoutCopyOf(bitmap), handoff::PageDocumentOf(*real)); });
    }
    // Every page document is complete on disk once saved: no wait for it to stop growing.
    engine.reset();

    // Phase 2: the pages joined in order, a page break before every page but the first, the
    // assembled document saved after each page.
    KillAppByName(kWordProcessorImage);
    Assembly assembly{startEngine, TryStart(startEngine), std::nullopt, true};
    if (assembly.engine) Attempt([&] { assembly.document = assembly.engine->newAssembledDocument(AssembledPath()); });
    for (const std::string& bitmap : *pages) {
        const std::string pageDocument = handoff::PageDocumentOf(bitmap);
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
