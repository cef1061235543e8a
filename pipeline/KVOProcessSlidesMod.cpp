#include "pipeline/KVOProcessSlidesMod.h"

#include <exception>
#include <iostream>
#include <vector>

#include "shared/AppTester.h"
#include "shared/AttachmentTypes.h"
#include "shared/ChildProcess.h"
#include "shared/ProgramWatch.h"
#include "shared/platform/FileSearch.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::KVOProcessSlidesMod {

namespace {

using namespace kvo::handoff;

// The program runs hidden and judges nothing by errors: a failed step is noted on the error
// stream and the run goes on with the next step.
void Report(const char* step, const char* what) {
    std::cerr << "KVOProcessSlides: " << step << ": " << what << '\n';
}

// The exit status for the driver: the first fault it must know of that this run met (the
// machine's: a child's, or its own full work folder; or a document too large for the work
// folder).
int FaultStatus = 0;

template <class Action>
void RunStep(const char* step, Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        Report(step, error.what());
        if (FaultStatus == 0) FaultStatus = ExitStatusForError(error);
    } catch (...) {
        Report(step, "unknown error");
    }
}

// How a watched child's work may be used: `fault` is "" when it ended by itself with status 0,
// else why its work cannot be trusted.
struct ChildRun {
    bool timedOut = false;
    std::string fault;
    // kExitEndedFromOutside or kExitNoRoom, the machine's fault; kExitTooLargeForWork or
    // kExitNoReadablePage, the document's for good.
    int faultStatus = 0;
};

void NoteFault(const ChildRun& run) {
    if (FaultStatus == 0) FaultStatus = run.faultStatus;
}

// Starts the child, hidden or (the builder) with its output kept, and watches it by its image name
// within the hour limit.
ChildRun RunChildProgram(const std::string& appFolder, const ChildProgram& program, bool hidden) {
    std::optional<Child> child;
    try {
        child.emplace(StartChild({.arguments = {appFolder + "/" + program.fileName}, .discardOutput = hidden}));
    } catch (const ShellError&) {
        return {false, "cannot be started"};
    }
    const ChildEnd end = WatchChild(*child, program.imageName, {.pollMs = kWatchPollMs});
    const bool timedOut = end.how == ChildEnd::How::TimedOut;
    if (end.how != ChildEnd::How::Exited) return {timedOut, DescribeEnd(end), kExitEndedFromOutside};
    switch (end.code) {
        case kExitOk: return {};
        case kExitEndedFromOutside: return {false, "lost a program of its own, ended from outside", end.code};
        case kExitNoRoom: return {false, "found no room in the work folder", end.code};
        case kExitTooLargeForWork: return {false, "found the pages too large for the work folder", end.code};
        case kExitNoReadablePage: return {false, "found no page it could read", end.code};
        default: return {false, DescribeEnd(end)};
    }
}

void HandleOrder(const xml::Node& order, const std::string& appFolder) {
    const std::string attachment = order.attribute("name").value_or("");
    // An earlier order whose pipeline died left its work under the KVOCurr.xml about to be replaced.
    RunStep("removing an earlier order's work files", [&] { RemoveWorkOfCurrentOrder({attachment}); });
    bool orderWritten = false;
    RunStep("writing KVOCurr.xml", [&] {
        xml::Document current;
        current.appendCopy(order);
        current.save(InTemp(kCurrentOrderName));
        orderWritten = true;
    });
    if (!orderWritten) {
        // The splitter and the builder would take an earlier attachment's order from the old
        // KVOCurr.xml and build that document under this attachment's name.
        RunStep("removing the earlier KVOCurr.xml", [] { DeleteFile(InTemp(kCurrentOrderName)); });
        Report("order", "KVOCurr.xml could not be written; nothing to run");
        return;
    }

    const std::string base = BaseName(attachment);
    if (base.empty()) {
        // Every work-file pattern would match every bitmap and document in the folder.
        Report("order", "no attachment file name; nothing to run");
        return;
    }

    bool resultNameFree = false;
    RunStep("removing an earlier run's work files", [&] { resultNameFree = RemoveStaleWork(base, attachment); });
    if (!resultNameFree) {
        Report("order", (FinalResult(base) + " is not a result of ours and stays; nothing to run").c_str());
        return;
    }
    bool pagesWhole = true;
    if (const std::optional<ChildProgram> splitter = SplitterFor(UpperExtension(attachment)))
        RunStep("page splitter", [&] {
            const ChildRun run = RunChildProgram(appFolder, *splitter, true);
            pagesWhole = run.fault.empty();
            NoteFault(run);
            if (!pagesWhole) Report("page splitter", (run.fault + "; no result").c_str());
        });
    // A splitter that did not finish by itself listed no page a PDF could be built from.
    if (pagesWhole)
        RunStep("PDF builder", [&] {
            // Started minimised, as the word processor it drives: its output is kept.
            const ChildRun run = RunChildProgram(appFolder, kBuilder, false);
            NoteFault(run);
            if (run.timedOut) KillAppByName(kWordProcessorImage);
            if (run.fault.empty()) return;
            Report("PDF builder", (run.fault + "; no result").c_str());
            // Only a builder that finished by itself has left a whole, marked PDF.
            DeleteFile(InTemp(kBuilderPdfName));
        });
    CleanUp(base, attachment);
}

// True when the file is a searchable PDF this system made.
bool IsOurResult(const std::string& path) {
    const std::optional<pdf::PdfFacts> facts = pdf::InspectPdf(path);
    return facts && pdf::IsMadeByThisSystem(*facts);
}

}  // namespace

std::optional<ChildProgram> SplitterFor(const std::string& upperExtension) {
    switch (GroupOfType(upperExtension)) {
        case TypeGroup::Pdf: return kPdfSplitter;
        case TypeGroup::Image: return kTiffSplitter;
        case TypeGroup::Other: break;
    }
    return std::nullopt;
}

bool RemoveStaleWork(const std::string& base, const std::string& attachmentPath) {
    const std::vector<std::string> attachment{attachmentPath};
    for (const std::string& path : {InTemp(kBuilderPdfName), InTemp(kAssembledDocName), InTemp(kRoomReservedName)})
        DeleteWorkFile(path, attachment);
    RemovePageWorkFiles(base, attachment);
    // The result's name may be taken by another attachment lying in the folder, or by this one.
    const std::optional<std::string> result = ResolveFile(FinalResult(base));
    if (!result) return true;
    if (IsOurResult(*result)) DeleteWorkFile(*result, attachment);
    return !FileExists(*result);
}

void CleanUp(const std::string& base, const std::string& attachmentPath) {
    RunStep("removing page work files", [&] { RemovePageWorkFiles(base, {attachmentPath}); });
    RunStep("removing KVOOCR.mdi.xml", [&] { DeleteWorkFile(InTemp(kOcrLayoutName), {attachmentPath}); });
    RunStep("removing KVOOCR.mdi", [&] { DeleteWorkFile(InTemp(kOcrEngineDocName), {attachmentPath}); });
    // The last page's picture and the engine's copy of the attachment: nothing of a client's
    // pages stays in the work folder after the row.
    RunStep("removing KVOOCR.bmp", [&] { DeleteWorkFile(InTemp(kOcrBitmapName), {attachmentPath}); });
    RunStep("removing KVOOCR.tif", [&] { DeleteWorkFile(InTemp(kEngineTiffCopyName), {attachmentPath}); });
    RunStep("removing KVORoom.txt", [&] { DeleteWorkFile(InTemp(kRoomReservedName), {attachmentPath}); });
    // The result keeps its place in the temporary folder, where the batch driver looks for it.
    RunStep("renaming the result", [&] {
        if (FileExists(InTemp(kBuilderPdfName)) && !RenameFile(InTemp(kBuilderPdfName), base + ".pdf"))
            Report("renaming the result", (FinalResult(base) + " exists; the result stays KVOOCR.pdf").c_str());
    });
    RunStep("removing KVOOCR.doc", [&] { DeleteWorkFile(InTemp(kAssembledDocName), {attachmentPath}); });
}

void ProcessOrders(const std::string& appFolder) {
    // Hidden temporaries of a program of the chain that was killed while writing.
    RunStep("removing leftover temporaries", [] { RemoveStaleTemporaries(TempFolder()); });
    xml::Document orders;
    orders.load(InTemp(kFileOrderName));
    if (orders.xml().empty()) return;
    const xml::Node kvo = orders.selectSingleNode("KVO");
    if (!kvo) return;

    for (xml::Node order : kvo.selectNodes("File")) {
        const std::optional<std::string> processed = order.attribute("processed");
        if (!processed) return;  // an order without its mark ends the whole run
        if (*processed != "0") continue;

        HandleOrder(order, appFolder);
        RunStep("marking the order done", [&] {
            order.setAttribute("processed", "1");
            orders.save(InTemp(kFileOrderName));
        });
    }
}

int Main() {
    RunStep("run", [] { ProcessOrders(AppFolder()); });
    return FaultStatus;
}

}  // namespace kvo::KVOProcessSlidesMod
