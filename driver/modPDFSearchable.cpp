#include "driver/modPDFSearchable.h"

#include <array>
#include <iostream>
#include <optional>
#include <string_view>

#include "driver/pdftext/PdfTextExtractor.h"
#include "driver/pdftext/PdfWriteCommand.h"
#include "driver/pdftext/ReplaceFile.h"
#include "shared/ProgramWatch.h"
#include "shared/ShellModule.h"
#include "shared/clsRegistry.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"

namespace kvo::driver {

namespace {

constexpr const char* kGhostscriptImage = "gs";
// Between two looks at the process list: the wait runs on, but leaves the processor to
// Ghostscript.
constexpr int kGhostscriptPollMs = 5;

void Erase(std::string& text, std::size_t from, std::size_t to) { text.erase(from, to - from); }

std::size_t FindIgnoringCase(const std::string& text, std::string_view what, std::size_t from) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t at = from; at + what.size() <= text.size(); ++at) {
        std::size_t i = 0;
        while (i < what.size() && lower(text[at + i]) == lower(what[i])) ++i;
        if (i == what.size()) return at;
    }
    return std::string::npos;
}

// Rewrites the PDF with Ghostscript and returns the rewrite file's real path when Ghostscript
// left one; nullopt when it left none or could not be started.
std::optional<std::string> RewriteWithGhostscript(const std::string& ghostscriptFolder, const std::string& pdfPath,
                                                  const std::function<void()>& pumpMessages) {
    const std::string temp = TempFolder();
    const std::string commandLine = BuildPdfWriteCommandLine(ghostscriptFolder, temp, pdfPath);
    for (const std::string& name : FindFiles(temp + "/" + kRewriteFileLookedUp)) DeleteFile(temp + "/" + name);

    try {
        AsyncShell(commandLine, kWindowHidden);
    } catch (const ShellError& error) {
        std::cerr << "KVOProcess: cannot start Ghostscript (" << ghostscriptFolder << "/gs): " << error.description()
                  << std::endl;
        return std::nullopt;
    }
    WatchProgram(kGhostscriptImage, {.pollMs = kGhostscriptPollMs, .onPoll = pumpMessages});
    return ResolveFile(temp + "/" + kRewriteFileLookedUp);
}

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

bool IsPDFSearchable(const std::string& pdfPath, const std::function<void()>& pumpMessages) {
    const std::string examined = ResolveFile(pdfPath).value_or(pdfPath);
    std::string text = ExtractPdfText(examined);
    std::optional<std::string> rewrite;
    if (text.empty()) {
        const std::string ghostscriptFolder = GhostscriptFolder();
        if (ghostscriptFolder.empty()) return true;
        rewrite = RewriteWithGhostscript(ghostscriptFolder, examined, pumpMessages);
        if (rewrite) text = ExtractPdfText(*rewrite);
    }
    if (CutDownExtractedText(std::move(text)).empty()) return false;
    if (rewrite) {
        try {
            ReplaceFileKeepingPermissions(*rewrite, examined);
        } catch (const std::exception& error) {
            // The attachment stays as it was; its answer does not change.
            std::cerr << "KVOProcess: " << examined << " was not replaced by its rewrite: " << error.what()
                      << std::endl;
        }
    }
    return true;
}

}  // namespace kvo::driver
