#include "pdfbuild/KVOOCRWrdMod.h"

#include <iostream>
#include <optional>
#include <vector>

#include "pdfbuild/KvoEngine.h"
#include "pdfbuild/PageBuilder.h"
#include "shared/AppTester.h"
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

// What "KVOCurr.xml" orders: the attachment and its page bitmap paths in order ("" for an entry
// without one).
struct PageList {
    std::string attachment;
    std::vector<std::string> pages;
};

// The page list, or nullopt when the order does not exist.
std::optional<PageList> ReadPageList() {
    auto orderPath = ResolveFile(handoff::InTemp(handoff::kCurrentOrderName));
    if (!orderPath) return std::nullopt;
    xml::Document order;
    order.load(*orderPath);
    PageList list;
    if (const xml::Node file = order.selectSingleNode("File")) list.attachment = file.attribute("name").value_or("");
    for (const xml::Node& image : order.selectNodes("File/image")) list.pages.push_back(image.attribute("path").value_or(""));
    return list;
}

// Ends the run without outputs. The builder runs hidden: the reason goes to the error stream.
void EndWithoutPdf(const std::string& reason) {
    std::cerr << "KVOOCRWrd: " << reason << "; no PDF\n";
    KillAppByName(kWordProcessorImage);
    DeleteOutputs();
    KillAppByName(kWordProcessorImage);
}

// Phase 1: a page document for every page that has none yet. False (and the run ended without
// outputs) when a page cannot have one: a PDF without that page, or with a blank page in its
// place, would pass for the whole attachment.
bool BuildPageDocuments(DocumentEngine& engine, const std::vector<std::string>& pages) {
    for (const std::string& bitmap : pages) {
        if (bitmap.empty()) {
            EndWithoutPdf("a page is listed without its bitmap");
            return false;
        }
        if (FileExists(handoff::PageDocumentOf(bitmap))) continue;
        // The document goes beside the bitmap as it is named on disk, whatever the list's case.
        const auto real = ResolveFile(bitmap);
        if (!real) {
            EndWithoutPdf("the page bitmap " + bitmap + " is missing");
            return false;
        }
        try {
            BuildPageDocument(engine, *real, handoff::LayoutCopyOf(bitmap), handoff::PageDocumentOf(*real));
        } catch (const std::exception& error) {
            EndWithoutPdf(error.what());
            return false;
        }
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
        std::cerr << "KVOOCRWrd: " << error.what() << "; no PDF\n";
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
    const std::optional<PageList> list = ReadPageList();
    if (!list) return;
    const std::vector<std::string>& pages = list->pages;
    if (pages.empty()) {
        DeleteOutputs();
        KillAppByName(kWordProcessorImage);
        return;
    }
    if (list->attachment.empty()) {
        EndWithoutPdf("the order names no attachment to mark the PDF for");
        return;
    }

    EnginePtr engine = TryStart(startEngine);
    if (!engine) {
        EndWithoutPdf("the document engine cannot be started");
        return;
    }
    if (!BuildPageDocuments(*engine, pages)) return;
    // Every page document is complete on disk once saved: no wait for it to stop growing.
    engine.reset();

    // Phase 2: the pages joined in order, a page break before every page but the first, the
    // assembled document saved after each page.
    KillAppByName(kWordProcessorImage);
    Assembly assembly{startEngine, TryStart(startEngine), std::nullopt, true};
    if (assembly.engine) Attempt([&] { assembly.document = assembly.engine->newAssembledDocument(AssembledPath()); });
    for (const std::string& bitmap : pages) {
        const std::string pageDocument = handoff::PageDocumentOf(bitmap);
        if (!FileExists(pageDocument)) {
            GiveUp(assembly, "the page document " + pageDocument + " is missing");
            return;
        }
        if (!CopyPage(assembly, pageDocument)) return;
        // A restart reopens the document as last saved: after a failed save it would go on
        // without this page and the PDF would silently lack it, so the document is given up.
        if (!Attempt([&] { assembly.engine->save(*assembly.document); })) {
            GiveUp(assembly, "the assembled document cannot be saved");
            return;
        }
    }
    assembly.document.reset();
    assembly.engine.reset();
    KillAppByName("winword.exe");

    ProducePdf(startEngine);
    MarkTheResult(list->attachment);
    KillAppByName(kWordProcessorImage);
}

void Main() {
    try {
        Run(StartKvoEngine);
    } catch (...) {
    }
}

}  // namespace kvo::KVOOCRWrdMod
