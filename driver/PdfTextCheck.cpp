#include "driver/PdfTextCheck.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <optional>
#include <string_view>

#include "driver/PdfInspection.h"
#include "driver/pdftext/PdfWriteCommand.h"
#include "driver/pdftext/ReplaceFile.h"
#include "driver/WriteJournal.h"
#include "shared/ProgramWatch.h"
#include "shared/ChainPrograms.h"
#include "shared/ChildProcess.h"
#include "shared/clsRegistry.h"
#include "shared/pdf/PdfFile.h"
#include "shared/pdftext/PdfText.h"
#include "shared/platform/CommandLine.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Text.h"
#include "shared/platform/WholeFile.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {

namespace {

// The text check reads an untrusted file with poppler, in a process of its own: a file that
// crashes it costs one attempt of its row, one that holds it longer than this or takes more
// memory than an inspection may is the document's fault; neither harms the driver.
constexpr double kTextCheckLimitSeconds = 600;
// Between two looks at the process list: the wait runs on, but leaves the processor to
// Ghostscript.
constexpr int kGhostscriptPollMs = 5;

void Erase(std::string& text, std::size_t from, std::size_t to) { text.erase(from, to - from); }

// What became of Ghostscript's rewrite: the file to use, or why none may be used.
struct Rewrite {
    std::optional<std::string> path;
    std::string refusal;
};

// Rewrites the PDF with Ghostscript. The rewrite is only offered when Ghostscript ended by
// itself with status 0 inside its limit and the rewrite opens with as many pages as Ghostscript
// counted in the original; a rewrite from a run that was cut short may lack pages.
Rewrite RewriteWithGhostscript(const std::string& ghostscriptFolder, const std::string& pdfPath,
                               const std::function<void()>& pumpMessages) {
    const std::string temp = TempFolder();
    const std::string rewritePath = temp + "/" + kRewriteFileLookedUp;
    const std::string reportPath = temp + "/" + kRewriteReportFile;
    for (const std::string& fixedName : {rewritePath, reportPath})
        if (ResolveFile(fixedName) == pdfPath)
            return {std::nullopt, "the attachment lies in the work folder under the name of Ghostscript's rewrite"};
    DeleteFiles(rewritePath);
    DeleteFiles(reportPath);
    // Ghostscript follows a link at a name it writes: whatever entry holds one goes first.
    for (const char* written : {kRewriteFileWritten, kRewriteReportFile}) unlink((temp + "/" + written).c_str());

    std::optional<Child> ghostscript;
    try {
        const std::string commandLine = BuildPdfWriteCommandLine(ghostscriptFolder, temp, pdfPath);
        ghostscript.emplace(StartChild({.arguments = SplitCommandLine(commandLine), .discardErrors = true}));
    } catch (const ShellError& error) {
        return {std::nullopt, "Ghostscript (" + ghostscriptFolder + "/gs) could not be started: " + error.description()};
    }
    const ChildEnd end =
        WatchChild(*ghostscript, kGhostscriptImage, {.pollMs = kGhostscriptPollMs, .onPoll = pumpMessages});
    if (!end.exitedWith(kExitOk)) return {std::nullopt, "Ghostscript " + DescribeEnd(end)};

    const std::optional<int> counted = PagesGhostscriptCounted(ReadWholeFile(reportPath).value_or(""));
    if (!counted) return {std::nullopt, "Ghostscript counted no pages in it"};
    const std::optional<std::string> rewrite = ResolveFile(rewritePath);
    std::string why;
    const std::optional<pdf::PdfFacts> facts = rewrite ? InspectPdfIsolated(*rewrite, &why, pumpMessages) : std::nullopt;
    if (!facts) return {std::nullopt, "Ghostscript's rewrite does not open as a PDF" + (why.empty() ? "" : " (" + why + ")")};
    if (facts->pageCount != *counted)
        return {std::nullopt, "Ghostscript's rewrite has " + std::to_string(facts->pageCount) + " pages of the " +
                                  std::to_string(*counted) + " it counted"};
    return {rewrite, ""};
}

// Puts the rewrite in the attachment's place; the folder is noted while the hidden copy lies
// beside it.
void ReplaceAttachment(const std::string& rewrite, const std::string& attachment) {
    PendingWrite noted(std::filesystem::path(std::filesystem::canonical(attachment)).parent_path().string());
    ReplaceFileKeepingPermissions(rewrite, attachment);
}

// Ghostscript's rewrite is a copy of a client's document: it goes, with Ghostscript's report,
// once the check is done, whatever its end. An attachment lying under their names stays.
class RewriteFilesGo {
public:
    explicit RewriteFilesGo(std::string examined) : examined_(std::move(examined)) {}
    ~RewriteFilesGo() {
        for (const char* name : {kRewriteFileLookedUp, kRewriteReportFile}) try {
                handoff::DeleteWorkFile(TempFolder() + "/" + name, {examined_});
            } catch (const std::exception&) {
                // Removed before the next rewrite at the latest.
            }
    }
    RewriteFilesGo(const RewriteFilesGo&) = delete;
    RewriteFilesGo& operator=(const RewriteFilesGo&) = delete;

private:
    std::string examined_;
};

}  // namespace

std::string CutDownExtractedText(std::string text) {
    // 1. The first occurrence of each information entry, key through the tab after its value.
    static constexpr std::array<std::string_view, 6> kEntries = {"Author: \t", "Creator: \t", "CreationDate: \t",
                                                                 "ModDate: \t", "Producer: \t", "Filename: "};
    for (std::string_view entry : kEntries) {
        const std::size_t start = text.find(entry);
        if (start == std::string::npos) continue;
        const std::size_t firstTab = text.find('\t', start);
        if (firstTab == std::string::npos) continue;
        const std::size_t secondTab = text.find('\t', firstTab + 1);
        if (secondTab == std::string::npos) continue;
        Erase(text, start, secondTab + 1);
    }
    // 2. Tabs and line ends.
    std::erase_if(text, [](char c) { return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; });
    // 3. A creation date left behind, through its quoted time-zone part, up to the file name.
    if (const std::size_t date = text.find("CreationDate:"); date != std::string::npos) {
        const std::size_t quote = text.find('\'', date);
        const std::size_t closing = quote == std::string::npos ? quote : text.find('\'', quote + 1);
        const std::size_t name = closing == std::string::npos ? closing : text.find("Filename:", closing);
        if (name != std::string::npos) Erase(text, date, name);
    }
    // 4. The file name, through its ".pdf".
    if (const std::size_t name = text.find("Filename:"); name != std::string::npos) {
        const std::size_t suffix = FindIgnoringCase(text, ".pdf", name);
        if (suffix != std::string::npos) Erase(text, name, suffix + 4);
    }
    // 5. Blanks.
    std::erase(text, ' ');
    return text;
}

int TextCheckStatus(const std::string& pdfPath, TextNeeded needed) {
    const std::optional<pdftext::TextLayer> text = pdftext::ReadTextLayer(pdfPath);
    if (!text) return pdftext::OpensOnlyWithPassword(pdfPath) ? kExitTextLocked : kExitTextUnreadable;
    if (CutDownExtractedText(text->extracted).empty()) return kExitTextMissing;
    if (needed == TextNeeded::Anywhere) return kExitOk;
    const std::optional<pdf::PdfFacts> drawn = pdf::InspectPdf(pdfPath);
    const auto pages = drawn ? pdftext::PagesOf(*text, *drawn) : std::nullopt;
    return !pages || pdftext::EveryDrawnPageCarriesText(*pages) ? kExitOk : kExitTextMissing;
}

TextVerdict CheckTextIsolated(const std::function<int()>& check, const std::function<void()>& pumpMessages,
                              double limitSeconds) {
    const IsolationLimits limits{.seconds = limitSeconds, .memoryBytes = kInspectionLimits.memoryBytes};
    const IsolatedEnd end = RunIsolated([&](std::string&) { return check(); }, limits, pumpMessages);
    ExpectIsolatedEnd(end, limits, "the text check", {kExitOk, kExitTextMissing, kExitTextUnreadable, kExitTextLocked});
    if (end.end->exitedWith(kExitOk)) return TextVerdict::Found;
    if (end.end->exitedWith(kExitTextLocked)) return TextVerdict::Locked;
    return end.end->exitedWith(kExitTextMissing) ? TextVerdict::Missing : TextVerdict::Unreadable;
}

bool IsPDFSearchable(const std::string& pdfPath, const std::function<void()>& pumpMessages,
                     std::string* rewriteRefused, TextNeeded needed) {
    auto check = [&](const std::string& path) {
        return CheckTextIsolated([path, needed] { return TextCheckStatus(path, needed); }, pumpMessages,
                                 kTextCheckLimitSeconds);
    };
    TextVerdict verdict = check(pdfPath);
    // Ghostscript could not read it either; its text is out of reach, not missing.
    if (verdict == TextVerdict::Locked) {
        if (rewriteRefused) *rewriteRefused = "it opens only with a password";
        return false;
    }
    std::optional<std::string> rewrite;
    std::optional<RewriteFilesGo> rewriteFiles;
    if (verdict == TextVerdict::Unreadable) {
        const std::string ghostscriptFolder = GhostscriptFolder();
        if (ghostscriptFolder.empty()) return true;
        rewriteFiles.emplace(pdfPath);
        Rewrite made = RewriteWithGhostscript(ghostscriptFolder, pdfPath, pumpMessages);
        if (!made.path) {
            if (rewriteRefused) *rewriteRefused = made.refusal;
            return false;
        }
        rewrite = made.path;
        verdict = check(*rewrite);
    }
    if (verdict != TextVerdict::Found) return false;
    if (rewrite) {
        try {
            ReplaceAttachment(*rewrite, pdfPath);
        } catch (const std::exception& error) {
            // The attachment stays as it was, still without a text layer.
            if (rewriteRefused) *rewriteRefused = std::string("the rewrite could not replace it: ") + error.what();
            return false;
        }
    }
    return true;
}

}  // namespace kvo::driver
