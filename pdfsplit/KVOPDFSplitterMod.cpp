#include "pdfsplit/KVOPDFSplitterMod.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <stdexcept>

#include "shared/ProgramWatch.h"
#include "shared/ShellModule.h"
#include "shared/clsRegistry.h"
#include "shared/platform/Clock.h"
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
// Page files may show up a moment after Ghostscript has gone: wait this many second boundaries.
constexpr long long kLatePagesSeconds = 2;
constexpr int kMaxPageDigits = 9;
// 256 grey levels: the 16-colour device dithers grey scans into a halftone in which the OCR
// finds no word at all, while bilevel scans come out as pure black and white either way.
constexpr const char* kPageDevice = "bmpgray";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return AsciiLower(x) == AsciiLower(y); });
}

std::vector<int> ListRenderedPages(const std::string& base) {
    const std::string folder = TempFolder();
    std::vector<int> pages = RenderedPageNumbers(FindFilesWithPrefix(folder, base, kPageBitmapSuffix), base);
    if (pages.empty()) {
        const TimePoint start = Now();
        while (SecondCount(start, Now()) < kLatePagesSeconds) SleepMs(kGhostscriptPollMs);
        pages = RenderedPageNumbers(FindFilesWithPrefix(folder, base, kPageBitmapSuffix), base);
    }
    return pages;
}

// Copies the page to the OCR program's input, runs it and keeps its layout document beside
// the page; then lists the page, with or without a layout document, and with the number of the
// attachment's page it shows (the builder keeps that page).
void RecognisePage(xml::Node& order, const std::string& appFolder, const std::string& pageBitmap, int page) {
    CopyFileReplace(pageBitmap, InTemp(kOcrBitmapName));
    SyncShell(QuoteArgument(appFolder + "/" + kOcrProgram), kWindowHidden);
    if (const std::optional<std::string> layout = ResolveFile(InTemp(kOcrLayoutName)))
        CopyFileReplace(*layout, LayoutCopyOf(pageBitmap));

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

bool TooFewBytesPerPage(std::int64_t pdfSize, std::int64_t pageCount) {
    // Rounds the quotient half to even in integers, exact for any size.
    std::int64_t rounded = pdfSize / pageCount;
    const std::int64_t twiceRemainder = 2 * (pdfSize % pageCount);
    if (twiceRemainder > pageCount || (twiceRemainder == pageCount && rounded % 2 != 0)) ++rounded;
    return rounded < kMinBytesPerPage;
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

    const std::optional<std::int64_t> pdfSize = FileLength(*pdf);
    if (!pdfSize) throw std::runtime_error("cannot measure " + *pdf);
    const std::string base = BaseName(*pdf);
    // With an empty base name the page patterns would take every bitmap in the folder.
    if (base.empty()) return;
    DeleteFilesWithPrefix(TempFolder(), base, kPageBitmapSuffix);
    DeleteFilesWithPrefix(TempFolder(), base, kPageLayoutSuffix);

    const std::string gsFolder = GhostscriptFolder();
    if (gsFolder.empty()) return;
    const std::string commandLine = GhostscriptCommandLine(gsFolder, TempFolder(), base, *pdf);
    DeleteFilesWithPrefix(TempFolder(), base, kPageBitmapSuffix);
    AsyncShell(commandLine, kWindowHidden);
    // Past the hour limit every process of its name is ended, and the pages written so far are used.
    WatchProgram(kGhostscriptImage, {.pollMs = kGhostscriptPollMs});

    const std::vector<int> pages = ListRenderedPages(base);
    if (pages.empty() || TooFewBytesPerPage(*pdfSize, static_cast<std::int64_t>(pages.size()))) return;
    for (int page : pages) RecognisePage(order, appFolder, PdfPageBitmap(base, page), page);

    order.setAttribute("processed", "1");
    current.save(InTemp(kCurrentOrderName));
}

void Main() {
    try {
        SplitCurrentOrder(AppFolder());
    } catch (const std::exception& error) {
        // Runs hidden; the pipeline sees only that no page was listed.
        std::cerr << "KVOPDFSplitter: " << error.what() << '\n';
    } catch (...) {
        std::cerr << "KVOPDFSplitter: unknown error\n";
    }
}

}  // namespace kvo::KVOPDFSplitterMod
