#include "pdfsplit/KVOPDFSplitterMod.h"

#include <algorithm>
#include <exception>
#include <fstream>
#include <iostream>
#include <stdexcept>

#include "shared/ProgramWatch.h"
#include "shared/ShellModule.h"
#include "shared/clsRegistry.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/CommandLine.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::KVOPDFSplitterMod {

namespace {

using namespace kvo::handoff;

// Ghostscript needs one of the two cores: the watch yields this long between checks.
constexpr int kGhostscriptPollMs = 10;
constexpr int kMaxPageDigits = 9;
constexpr std::uint64_t kNoHeaderRoom = 64 * 1024;
// 256 grey levels: the 16-colour device dithers grey scans into a halftone in which the OCR
// finds no word at all, while bilevel scans come out as pure black and white either way.
constexpr const char* kPageDevice = "bmpgray";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

// The run ends without a page list. It runs hidden: the reason goes to the error stream.
void EndWithoutPages(const std::string& reason) { std::cerr << "KVOPDFSplitter: " << reason << "; no page listed\n"; }

// Why Ghostscript's rendering cannot be used, or "" when it ended by itself with status 0
// after writing exactly the document's pages, each of them whole.
std::string FaultOfRendering(pid_t ghostscript, WatchEnd end, const std::string& base, int pageCount,
                             const std::vector<int>& pages) {
    if (end == WatchEnd::TimedOut) throw EndedFromOutside("Ghostscript was ended at the hour limit");
    const std::optional<int> status = ExitStatusOf(ghostscript);
    if (!status) return "Ghostscript's end is unknown";
    if (EndedBySignal(*status)) throw EndedFromOutside("Ghostscript was ended by signal " + std::to_string(*status - 128));
    if (*status != 0) return "Ghostscript ended with status " + std::to_string(*status);
    if (!RenderedEveryPage(pages, pageCount))
        return "Ghostscript wrote " + std::to_string(pages.size()) + " of " + std::to_string(pageCount) + " pages";
    for (int page : pages) {
        const std::string bitmap = PdfPageBitmap(base, page);
        std::ifstream file(bitmap, std::ios::binary);
        std::string firstBytes(kBmpSizeBytes, '\0');
        file.read(firstBytes.data(), static_cast<std::streamsize>(firstBytes.size()));
        firstBytes.resize(static_cast<std::size_t>(file.gcount()));
        const auto length = static_cast<std::uint64_t>(FileLength(bitmap).value_or(0));
        if (!IsWholeBitmap(firstBytes, length)) {
            // What the page still lacks (a header's worth when even that is missing) not fitting
            // in the work folder tells a full disk from a damaged rendering.
            const std::uint64_t declared = DeclaredBitmapLength(firstBytes);
            const std::uint64_t lacking = declared > length ? declared - length : kNoHeaderRoom;
            const std::string why = "the page bitmap " + bitmap + " is cut short";
            if (FreeBytesIn(TempFolder()).value_or(0) < lacking)
                throw NoRoomForWork(why + "; the work folder has no room for the rest");
            return why;
        }
    }
    return "";
}

// Copies the page to the OCR program's input, runs it and keeps its layout document beside
// the page (unless the page is blank); then lists the page, with or without a layout document, and with the number of the
// attachment's page it shows (the builder keeps that page).
void RecognisePage(xml::Node& order, const std::string& appFolder, const std::string& pageBitmap, int page,
                   bool blank) {
    // A page that draws nothing is kept as it is, without a text layer.
    if (!blank) {
        CopyFileReplace(pageBitmap, InTemp(kOcrBitmapName), Durability::Plain);
        const int status = SyncShell(QuoteArgument(appFolder + "/" + kOcrProgram), kWindowHidden);
        PassOnMachineFault("KVOOCR", status);
        if (const std::optional<std::string> layout = ResolveFile(InTemp(kOcrLayoutName)))
            CopyFileReplace(*layout, LayoutCopyOf(pageBitmap));
    }

    xml::Node image = order.appendElement("image");
    image.setAttribute("path", pageBitmap);
    image.setAttribute("processed", "0");
    image.setAttribute("page", std::to_string(page));
}

}  // namespace

std::string EscapePercent(const std::string& text) {
    std::string escaped;
    for (char c : text) {
        escaped += c;
        if (c == '%') escaped += '%';
    }
    return escaped;
}

std::string GhostscriptCommandLine(const std::string& gsFolder, const std::string& tempFolder,
                                   const std::string& base, const std::string& pdfPath) {
    // A relative name such as "-x.pdf" or "%pipe%x" must reach Ghostscript as a file name,
    // not as a switch or a device.
    const std::string input = pdfPath.starts_with('/') ? pdfPath : "./" + pdfPath;
    return QuoteArgument(gsFolder + "/gs") + " -dNOPAUSE -dBATCH -sDEVICE=" + kPageDevice + " -sOutputFile=" +
           QuoteArgument(EscapePercent(tempFolder + "/" + base) + "%d.bmp") + " -r300 " + QuoteArgument(input);
}

bool RenderedEveryPage(const std::vector<int>& pageNumbers, int pageCount) {
    if (pageNumbers.size() != static_cast<std::size_t>(pageCount)) return false;
    for (std::size_t i = 0; i < pageNumbers.size(); ++i)
        if (pageNumbers[i] != static_cast<int>(i) + 1) return false;
    return true;
}

std::uint64_t DeclaredBitmapLength(std::string_view firstBytes) {
    if (firstBytes.size() < kBmpSizeBytes || firstBytes.substr(0, 2) != "BM") return 0;
    std::uint32_t declared = 0;
    for (int i = 5; i >= 2; --i) declared = declared << 8 | static_cast<unsigned char>(firstBytes[i]);
    return declared;
}

bool IsWholeBitmap(std::string_view firstBytes, std::uint64_t fileLength) {
    return DeclaredBitmapLength(firstBytes) != 0 && DeclaredBitmapLength(firstBytes) == fileLength;
}

std::vector<int> RenderedPageNumbers(const std::vector<std::string>& listing, const std::string& base) {
    constexpr std::string_view kExtension = ".bmp";
    std::vector<int> pages;
    for (const std::string& name : listing) {
        if (name.size() <= base.size() + kExtension.size()) continue;
        const std::string_view view(name);
        const std::string_view digits = view.substr(base.size(), name.size() - base.size() - kExtension.size());
        if (!EqualsIgnoringCase(view.substr(0, base.size()), base) ||
            !EqualsIgnoringCase(view.substr(name.size() - kExtension.size()), kExtension) ||
            digits.size() > kMaxPageDigits || digits.front() == '0' || !std::all_of(digits.begin(), digits.end(), IsDigit))
            continue;
        pages.push_back(std::stoi(std::string(digits)));
    }
    std::sort(pages.begin(), pages.end());
    return pages;
}

void SplitCurrentOrder(const std::string& appFolder) {
    xml::Document current;
    current.load(InTemp(kCurrentOrderName));
    if (current.xml().empty()) return;
    xml::Node order = current.selectSingleNode("File");
    if (!order || order.attribute("processed") != "0") return;
    const std::optional<std::string> pdf = order.attribute("name");
    if (!pdf) return;

    const std::string base = BaseName(*pdf);
    // With an empty base name the page patterns would take every bitmap in the folder.
    if (base.empty()) return;
    RemovePageWorkFiles(base, {*pdf});

    const std::string gsFolder = GhostscriptFolder();
    if (gsFolder.empty()) return;
    // The document's own page count tells a whole rendering from one that stopped early.
    std::string unreadable;
    const std::optional<pdf::PdfFacts> facts = pdf::InspectPdf(ResolveFile(*pdf).value_or(*pdf), &unreadable);
    if (!facts) {
        EndWithoutPages("cannot count the pages of " + *pdf + ": " + unreadable);
        return;
    }
    const pid_t ghostscript = AsyncShell(GhostscriptCommandLine(gsFolder, TempFolder(), base, *pdf), kWindowHidden);
    const WatchEnd end = WatchProgram(kGhostscriptImage, {.pollMs = kGhostscriptPollMs});

    const std::vector<int> pages =
        RenderedPageNumbers(FindFilesWithPrefix(TempFolder(), base, kPageBitmapSuffix), base);
    if (const std::string fault = FaultOfRendering(ghostscript, end, base, facts->pageCount, pages); !fault.empty()) {
        EndWithoutPages(fault);
        return;
    }
    // The document was found to carry no text: every page is recognised, however compact its
    // file (a G4 scan of a page takes a few kilobytes).
    if (pages.empty()) return;
    for (int page : pages) {
        const pdf::PageFacts& drawn = facts->pages[static_cast<std::size_t>(page - 1)];
        RecognisePage(order, appFolder, PdfPageBitmap(base, page), page, drawn.images == 0 && !drawn.drawsSomething);
    }

    order.setAttribute("processed", "1");
    current.save(InTemp(kCurrentOrderName));
}

int Main() {
    try {
        SplitCurrentOrder(AppFolder());
    } catch (const std::exception& error) {
        // Runs hidden; the pipeline sees that no page was listed, and whether the machine was at fault.
        std::cerr << "KVOPDFSplitter: " << error.what() << "; no page listed\n";
        return ExitStatusForError(error);
    } catch (...) {
        std::cerr << "KVOPDFSplitter: unknown error; no page listed\n";
    }
    return 0;
}

}  // namespace kvo::KVOPDFSplitterMod
