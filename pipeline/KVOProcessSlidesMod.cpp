#include "pipeline/KVOProcessSlidesMod.h"

#include <array>
#include <exception>
#include <filesystem>
#include <iostream>

#include "shared/AppTester.h"
#include "shared/ProgramWatch.h"
#include "shared/ShellModule.h"
#include "shared/platform/CommandLine.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
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

template <class Action>
void RunStep(const char* step, Action&& action) {
    try {
        action();
    } catch (const std::exception& error) {
        Report(step, error.what());
    } catch (...) {
        Report(step, "unknown error");
    }
}

// True when path names the attachment file itself (which may lie in the temporary folder).
bool IsAttachment(const std::string& path, const std::string& attachmentPath) {
    std::error_code ignored;
    return std::filesystem::equivalent(path, ResolveFile(attachmentPath).value_or(attachmentPath), ignored);
}

void DeleteWorkFile(const std::string& path, const std::string& attachmentPath) {
    if (!IsAttachment(path, attachmentPath)) DeleteFile(path);
}

// Deletes {TEMP}/{base}{suffix}, the base name taken literally, sparing the attachment.
void DeleteWorkFiles(const std::string& base, const char* wildcardSuffix, const std::string& attachmentPath) {
    const std::string folder = TempFolder();
    for (const std::string& name : FindFilesWithPrefix(folder, base, wildcardSuffix))
        DeleteWorkFile(folder + "/" + name, attachmentPath);
}

constexpr std::array<const char*, 3> kPageWorkSuffixes{kPageDocumentSuffix, kPageLayoutSuffix, kPageBitmapSuffix};

WatchEnd RunChild(const std::string& appFolder, const ChildProgram& child, int windowStyle) {
    // A program that cannot be started leaves nothing running, so the watch ends at once.
    StartProgram(QuoteArgument(appFolder + "/" + child.fileName), windowStyle);
    return WatchProgram(child.imageName, {.pollMs = kWatchPollMs});
}

void HandleOrder(const xml::Node& order, const std::string& appFolder) {
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

    const std::string attachment = order.attribute("name").value_or("");
    const std::string base = BaseName(attachment);
    if (base.empty()) {
        // Every work-file pattern would match every bitmap and document in the folder.
        Report("order", "no attachment file name; nothing to run");
        return;
    }

    RunStep("removing an earlier run's work files", [&] { RemoveStaleWork(base, attachment); });
    if (const std::optional<ChildProgram> splitter = SplitterFor(UpperExtension(attachment)))
        RunStep("page splitter", [&] { RunChild(appFolder, *splitter, kWindowHidden); });
    RunStep("PDF builder", [&] {
        if (RunChild(appFolder, kBuilder, kWindowMinimised) == WatchEnd::TimedOut)
            KillAppByName(kWordProcessorImage);
    });
    CleanUp(base, attachment);
}

}  // namespace

std::optional<ChildProgram> SplitterFor(const std::string& upperExtension) {
    for (const char* imageType : {"BMP", "JPG", "JPEG", "GIF", "PCX", "TIF", "TIFF", "G3N"})
        if (upperExtension == imageType) return kTiffSplitter;
    if (upperExtension == "PDF") return kPdfSplitter;
    return std::nullopt;
}

void RemoveStaleWork(const std::string& base, const std::string& attachmentPath) {
    for (const std::string& path : {FinalResult(base), InTemp(kBuilderPdfName), InTemp(kAssembledDocName)})
        DeleteWorkFile(path, attachmentPath);
    for (const char* suffix : kPageWorkSuffixes) DeleteWorkFiles(base, suffix, attachmentPath);
}

void CleanUp(const std::string& base, const std::string& attachmentPath) {
    for (const char* suffix : kPageWorkSuffixes)
        RunStep("removing page work files", [&] { DeleteWorkFiles(base, suffix, attachmentPath); });
    RunStep("removing KVOOCR.mdi.xml", [] { DeleteFile(InTemp(kOcrLayoutName)); });
    RunStep("removing KVOOCR.mdi", [] { DeleteFile(InTemp(kOcrEngineDocName)); });
    // The result keeps its place in the temporary folder, where the batch driver looks for it.
    RunStep("renaming the result", [&] { RenameFile(InTemp(kBuilderPdfName), base + ".pdf"); });
    RunStep("removing KVOOCR.doc", [] { DeleteFile(InTemp(kAssembledDocName)); });
}

void ProcessOrders(const std::string& appFolder) {
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

void Main() {
    RunStep("run", [] { ProcessOrders(AppFolder()); });
}

}  // namespace kvo::KVOProcessSlidesMod
