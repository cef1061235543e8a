#include "pdfsplit/KVOPDFSplitterMod.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>

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

// The run ends without a page list. It runs hidden: the reason goes to the error stream.
void EndWithoutPages(const std::string& reason) { std::cerr << "KVOPDFSplitter: " << reason << "; no page listed\n"; }


// Why the page bitmap cannot be used, or "" when it is whole.
std::string FaultOfBitmap(const std::string& bitmap) {
    std::ifstream file(bitmap, std::ios::binary);
    std::string firstBytes(kBmpSizeBytes, '\0');
    file.read(firstBytes.data(), static_cast<std::streamsize>(firstBytes.size()));
    firstBytes.resize(static_cast<std::size_t>(file.gcount()));
    const auto length = static_cast<std::uint64_t>(FileLength(bitmap).value_or(0));
    if (IsWholeBitmap(firstBytes, length)) return "";
    // What the page still lacks (a header's worth when even that is missing) not fitting in the
    // work folder tells a full disk from a damaged rendering.
    const std::uint64_t declared = DeclaredBitmapLength(firstBytes);
    const std::uint64_t lacking = declared > length ? declared - length : kNoHeaderRoom;
    const std::string why = "the page bitmap " + bitmap + " is cut short";
    if (FreeBytesIn(TempFolder()).value_or(0) < lacking)
        throw NoRoomForWork(why + "; the work folder has no room for the rest");
    return why;
}

// Ghostscript follows a link at a name it writes: whatever entry holds the page names it is
// about to write goes first.
void ClearPageNames(const std::string& base, int first, int last) {
    for (int page = first; page <= last; ++page) unlink(PdfPageBitmap(base, page).c_str());
}

// Runs Ghostscript and waits for it within the hour limit; why its rendering cannot be used, or
// "" when it ended by itself with status 0. An end from outside is the machine's fault: it throws.
std::string RunGhostscript(const std::string& commandLine) {
    Child ghostscript = StartChild({.arguments = SplitCommandLine(commandLine), .discardErrors = true});
    const ChildEnd end = WatchChild(ghostscript, kGhostscriptImage, {.pollMs = kGhostscriptPollMs});
    if (end.how != ChildEnd::How::Exited) throw EndedFromOutside("Ghostscript " + DescribeEnd(end));
    return end.exitedWith(kExitOk) ? "" : "Ghostscript " + DescribeEnd(end);
}

// Renders `pages` (ascending) at 300 dpi in one run, each to its own page bitmap; why not, or "".
std::string RenderPages(const std::string& gsFolder, const std::string& base, const std::string& pdf,
                        const std::vector<int>& pages, bool everyPage) {
    const std::string list = everyPage ? "" : PageListOf(pages);
    ClearPageNames(base, 1, static_cast<int>(pages.size()));
    if (std::string fault = RunGhostscript(GhostscriptCommandLine(gsFolder, TempFolder(), base, pdf, list)); !fault.empty())
        return fault;
    const std::vector<int> rendered = RenderedPageNumbers(FindFilesWithPrefix(TempFolder(), base, kPageBitmapSuffix), base);
    const int count = static_cast<int>(pages.size());
    if (!RenderedEveryPage(rendered, count))
        return "Ghostscript wrote " + std::to_string(rendered.size()) + " of " + std::to_string(count) + " pages";
    for (int page : rendered)
        if (std::string fault = FaultOfBitmap(PdfPageBitmap(base, page)); !fault.empty()) return fault;
    // Ghostscript numbers what it renders from 1; from the last down, no name is taken yet.
    for (int i = count - 1; i >= 0; --i)
        if (pages[i] != i + 1) std::filesystem::rename(PdfPageBitmap(base, i + 1), PdfPageBitmap(base, pages[i]));
    return "";
}

// Renders one oversized page at `dpi` to its page bitmap; why not, or "".
std::string RenderOnePage(const std::string& gsFolder, const std::string& base, const std::string& pdf, int page, int dpi) {
    ClearPageNames(base, page, page);
    const std::string fault = RunGhostscript(OnePageCommandLine(gsFolder, TempFolder(), base, pdf, page, dpi));
    return fault.empty() ? FaultOfBitmap(PdfPageBitmap(base, page)) : fault;
}

// Has the OCR program recognise the page bitmap and keeps its layout document beside it.
void RecognisePage(const std::string& appFolder, const std::string& pageBitmap) {
    HandPageToOcr(pageBitmap);
    PassOnMachineFault(kOcrProgram, RunChild({.arguments = {appFolder + "/" + kOcrProgram}},
                                             TimeLimit::Seconds(kOcrPageSeconds)));
    if (const std::optional<std::string> layout = ResolveFile(InTemp(kOcrLayoutName)))
        CopyFileReplace(*layout, LayoutCopyOf(pageBitmap));
}

// Lists the page with the number of the attachment's page it shows (the builder keeps that page);
// a page kept as it is has no bitmap.
void ListPage(xml::Node& order, const std::string& pageBitmap, int page, bool recognised) {
    xml::Node image = order.appendElement("image");
    image.setAttribute("path", pageBitmap);
    image.setAttribute("processed", "0");
    image.setAttribute("page", std::to_string(page));
    if (!recognised) image.setAttribute(kKeepAttribute, kKeptAsIs);
}

// Which pages need recognition: those that draw something and carry no text, by the rule the
// text check applied. Where poppler cannot read the file, every page that draws something.
std::vector<bool> PagesToRecognise(const std::string& pdf, const pdf::PdfFacts& facts) {
    const std::optional<pdftext::TextLayer> text = pdftext::ReadTextLayer(pdf);
    const auto pages = text ? pdftext::PagesOf(*text, facts) : std::nullopt;
    std::vector<bool> recognise;
    for (std::size_t i = 0; i < facts.pages.size(); ++i)
        recognise.push_back(pages ? pdftext::NeedsRecognition((*pages)[i]) : pdf::DrawsAnything(facts.pages[i]));
    return recognise;
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

namespace {

std::string CommandLineFor(const std::string& gsFolder, const std::string& outputFile, const std::string& pdfPath,
                           const std::string& pages, int dpi) {
    // A relative name such as "-x.pdf" or "%pipe%x" must reach Ghostscript as a file name,
    // not as a switch or a device.
    const std::string input = pdfPath.starts_with('/') ? pdfPath : "./" + pdfPath;
    return QuoteArgument(gsFolder + "/gs") + " -dNOPAUSE -dBATCH -sDEVICE=" + kPageDevice + " -sOutputFile=" +
           QuoteArgument(outputFile) + " -r" + std::to_string(dpi) + (pages.empty() ? "" : " " + pages) + " " +
           QuoteArgument(input);
}

// Pixels along a side, rounded up: the bound must hold for whatever Ghostscript rounds to.
std::uint64_t PixelsAlong(double inches, int dpi) {
    return static_cast<std::uint64_t>(std::ceil(inches * dpi - 1e-6));
}

}  // namespace

std::string GhostscriptCommandLine(const std::string& gsFolder, const std::string& tempFolder, const std::string& base,
                                   const std::string& pdfPath, const std::string& pageList) {
    return CommandLineFor(gsFolder, EscapePercent(tempFolder + "/" + base) + "%d.bmp", pdfPath,
                          pageList.empty() ? "" : "-sPageList=" + pageList, kRenderDpi);
}

std::string OnePageCommandLine(const std::string& gsFolder, const std::string& tempFolder, const std::string& base,
                               const std::string& pdfPath, int page, int dpi) {
    const std::string number = std::to_string(page);
    return CommandLineFor(gsFolder, EscapePercent(tempFolder + "/" + base + number + ".bmp"), pdfPath,
                          "-dFirstPage=" + number + " -dLastPage=" + number, dpi);
}

std::string PageListOf(const std::vector<int>& pages) {
    std::string list;
    for (std::size_t i = 0; i < pages.size();) {
        std::size_t last = i;
        while (last + 1 < pages.size() && pages[last + 1] == pages[last] + 1) ++last;
        list += (list.empty() ? "" : ",") + std::to_string(pages[i]) +
                (last > i ? "-" + std::to_string(pages[last]) : "");
        i = last + 1;
    }
    return list;
}

int RenderResolution(double widthInches, double heightInches) {
    const double area = widthInches * heightInches;
    if (!(area > 0)) return kRenderDpi;
    int dpi = static_cast<int>(std::min<double>(kRenderDpi, std::floor(std::sqrt(kMostPixelsPerPage / area))));
    while (dpi > 0 && static_cast<double>(PixelsAlong(widthInches, dpi)) * PixelsAlong(heightInches, dpi) > kMostPixelsPerPage)
        --dpi;
    return dpi;
}

std::uint64_t GreyBitmapBytes(double widthInches, double heightInches, int dpi) {
    // Headers and a 256-entry palette; rows padded to four bytes.
    constexpr std::uint64_t kHeaders = 54 + 256 * 4;
    return kHeaders + (PixelsAlong(widthInches, dpi) + 3) / 4 * 4 * PixelsAlong(heightInches, dpi);
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
    const std::string source = ResolveFile(*pdf).value_or(*pdf);
    const std::optional<pdf::PdfFacts> facts = pdf::InspectPdf(source, &unreadable);
    if (!facts) {
        EndWithoutPages("cannot count the pages of " + *pdf + ": " + unreadable);
        return;
    }
    // The document was found to need recognition: every page that draws something and carries
    // no text is recognised, however compact its file (a G4 scan of a page takes a few kilobytes);
    // the others are kept as they are, and are not rendered.
    const std::vector<bool> recognise = PagesToRecognise(source, *facts);
    std::vector<int> regular, oversized;
    std::uint64_t bitmapBytes = 0;
    for (int page = 1; page <= facts->pageCount; ++page) {
        if (!recognise[page - 1]) continue;
        const pdf::PageFacts& size = facts->pages[page - 1];
        const int dpi = RenderResolution(size.widthInches, size.heightInches);
        if (dpi == 0) {
            EndWithoutPages("page " + std::to_string(page) + " is too large to be rendered within " +
                            std::to_string(static_cast<int>(kMostPixelsPerPage / 1e6)) + " megapixels");
            return;
        }
        (dpi == kRenderDpi ? regular : oversized).push_back(page);
        bitmapBytes += GreyBitmapBytes(size.widthInches, size.heightInches, dpi);
    }
    EnsureRoomForPageBitmaps(bitmapBytes, "the page bitmaps of " + *pdf);

    const bool everyPage = static_cast<int>(regular.size()) == facts->pageCount;
    std::string fault = regular.empty() ? "" : RenderPages(gsFolder, base, *pdf, regular, everyPage);
    for (std::size_t i = 0; i < oversized.size() && fault.empty(); ++i) {
        const pdf::PageFacts& size = facts->pages[oversized[i] - 1];
        fault = RenderOnePage(gsFolder, base, *pdf, oversized[i], RenderResolution(size.widthInches, size.heightInches));
    }
    if (!fault.empty()) {
        EndWithoutPages(fault);
        return;
    }
    for (int page = 1; page <= facts->pageCount; ++page) {
        const std::string bitmap = PdfPageBitmap(base, page);
        if (recognise[page - 1]) RecognisePage(appFolder, bitmap);
        ListPage(order, bitmap, page, recognise[page - 1]);
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
    return kExitOk;
}

}  // namespace kvo::KVOPDFSplitterMod
