#include "shared/xml/HandOff.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>

#include "shared/ExitStatus.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WorkFolders.h"
#include "shared/xml/XmlDocument.h"
#include "shared/platform/Text.h"

namespace kvo::handoff {

namespace {

// The file name part of a path: everything after the last "/".
std::string FileNamePart(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The longest page number the PDF splitter takes; the image splitter's tags have six digits.
constexpr std::size_t kMaxPageDigits = 9;
constexpr std::size_t kFrameTagDigits = 6;

bool IsPageLabel(const std::string& label) {
    if (label.empty() || !std::all_of(label.begin(), label.end(), IsDigit)) return false;
    return label.size() == kFrameTagDigits || (label.front() != '0' && label.size() <= kMaxPageDigits);
}

// The name without one of the page endings, or nullopt when it has none.
std::optional<std::string> WithoutPageEnding(const std::string& fileName) {
    for (const std::string ending : {".bmp", ".bmp.xml", ".bmp.doc"}) {
        if (fileName.size() <= ending.size()) continue;
        const std::string::size_type at = fileName.size() - ending.size();
        if (EqualsIgnoringCase(fileName.substr(at), ending)) return fileName.substr(0, at);
    }
    return std::nullopt;
}

// 16 hex digits of the 64-bit FNV-1a hash of the text.
std::string ShortDigest(const std::string& text) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char byte : text) hash = (hash ^ byte) * 1099511628211ull;
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) hex[static_cast<std::size_t>(i)] = kHex[hash & 15];
    return hex;
}

std::string Megabytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

// The bytes reserved in a work folder; 0 when nothing (or nothing readable) is.
std::uint64_t ReservedIn(const std::string& folder) {
    std::ifstream file(folder + "/" + kRoomReservedName);
    std::uint64_t bytes = 0;
    return file >> bytes ? bytes : 0;
}

// The bytes of the regular files directly in the folder.
std::uint64_t BytesOfFilesIn(const std::string& folder) {
    std::uint64_t bytes = 0;
    std::error_code unreadable;
    for (const auto& entry : std::filesystem::directory_iterator(folder, unreadable)) {
        std::error_code gone;
        if (entry.is_regular_file(gone)) bytes += entry.file_size(gone);
    }
    return bytes;
}

bool IsOneOf(const std::string& path, const std::vector<std::string>& files) {
    std::error_code unknown;
    return std::any_of(files.begin(), files.end(), [&](const std::string& file) {
        return std::filesystem::equivalent(path, ResolveFile(file).value_or(file), unknown);
    });
}

}  // namespace

std::string InTemp(const std::string& name) { return TempFolder() + "/" + name; }

void HandPageToOcr(const std::string& pageBitmap) {
    const std::string page = ResolveFile(pageBitmap).value_or(pageBitmap);
    const std::string input = InTemp(kOcrBitmapName);
    // An earlier page's input goes first, whatever the case of its name; only one chain works
    // in this folder, so nobody reads it meanwhile.
    if (!DeleteFile(input)) throw std::runtime_error("cannot remove the OCR input " + input);
    if (link(page.c_str(), input.c_str()) == 0) return;
    if (errno == ENOSPC || errno == EDQUOT) throw NoRoomForWork("no room for the OCR input " + input);
    CopyFileReplace(page, input, Durability::Plain);
}

Room JudgeRoom(std::uint64_t bytes, std::uint64_t runTotal, const RoomFacts& facts) {
    if (runTotal > facts.totalBytes) return Room::NeverEnough;
    const std::uint64_t needed = bytes + kRoomMargin + facts.othersToWrite;
    return facts.freeBytes < needed ? Room::LackingNow : Room::Enough;
}

std::uint64_t OthersToWrite(const std::string& folder) {
    struct stat own {};
    if (stat(folder.c_str(), &own) != 0) return 0;
    std::uint64_t toWrite = 0;
    for (const std::string& other : OtherChainFolders(folder)) {
        struct stat info {};
        if (stat(other.c_str(), &info) != 0 || info.st_dev != own.st_dev || !IsHeld(other)) continue;
        const std::uint64_t reserved = ReservedIn(other);
        const std::uint64_t written = BytesOfFilesIn(other);
        if (reserved > written) toWrite += reserved - written;
    }
    return toWrite;
}

void EnsureRoomForPageBitmaps(std::uint64_t bytes, const std::string& what) {
    const std::string folder = TempFolder();
    const std::optional<std::uint64_t> free = FreeBytesIn(folder), total = TotalBytesIn(folder);
    if (!free || !total) return;  // the writes themselves will tell
    const std::uint64_t runTotal = ReservedIn(folder) + bytes;
    const RoomFacts facts{*free, *total, OthersToWrite(folder)};
    switch (JudgeRoom(bytes, runTotal, facts)) {
        case Room::NeverEnough:
            throw TooLargeForWork(what + " need " + Megabytes(runTotal) + " in the work folder " + folder +
                                  ", more than its whole file system holds (" + Megabytes(*total) + ")");
        case Room::LackingNow:
            throw NoRoomForWork(what + " need " + Megabytes(bytes + kRoomMargin) + " in the work folder, which has " +
                                Megabytes(*free) + " free" +
                                (facts.othersToWrite ? " of which other chains are about to write " +
                                                           Megabytes(facts.othersToWrite)
                                                     : ""));
        case Room::Enough:
            WriteFileAtomically(InTemp(kRoomReservedName), std::to_string(runTotal));
    }
}

std::string BaseName(const std::string& attachmentPath) {
    std::string name = FileNamePart(attachmentPath);
    std::string::size_type dot = name.rfind('.');
    std::string base = dot == std::string::npos ? name : name.substr(0, dot);
    if (base.size() <= kMostBaseBytes) return base;
    const std::string digest = "~" + ShortDigest(base);
    return WholeCharactersWithin(base, kMostBaseBytes - digest.size()) + digest;
}

std::string UpperExtension(const std::string& attachmentPath) {
    std::string name = FileNamePart(attachmentPath);
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    std::string extension = name.substr(dot + 1);
    // ASCII letters only: bytes of multi-byte UTF-8 characters stay as they are.
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return extension;
}

std::string FrameTag(int frameIndex) {
    // The last six digits of the index plus 1000000, as the page files have always been named.
    std::string digits = std::to_string(static_cast<long long>(frameIndex) + 1000000);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return digits.substr(digits.size() - 6);
}

std::string ImagePageBitmap(const std::string& base, int frameIndex) {
    return InTemp(base + FrameTag(frameIndex) + ".bmp");
}

std::string PdfPageBitmap(const std::string& base, int pageNumber) {
    return InTemp(base + std::to_string(pageNumber) + ".bmp");
}

std::string LayoutCopyOf(const std::string& pageBitmap) { return pageBitmap + ".xml"; }

std::string PageDocumentOf(const std::string& pageBitmap) { return pageBitmap + ".doc"; }

std::string FinalResult(const std::string& base) { return InTemp(base + ".pdf"); }

bool IsPageWorkFileOf(const std::string& fileName, const std::string& base) {
    const std::optional<std::string> stem = WithoutPageEnding(fileName);
    if (!stem) return false;
    if (base.empty()) return false;
    // A base name may end in digits itself ("Brief 1" + "000000"): every split of the final
    // run of digits is tried.
    for (std::string::size_type labelStart = stem->size(); labelStart > 0 && IsDigit((*stem)[labelStart - 1]);) {
        --labelStart;
        if (IsPageLabel(stem->substr(labelStart)) && EqualsIgnoringCase(stem->substr(0, labelStart), base)) return true;
    }
    return false;
}

int RemovePageWorkFiles(const std::string& base, const std::vector<std::string>& spared) {
    const std::string folder = TempFolder();
    int removed = 0;
    for (const std::string& name : FindFilesWithPrefix(folder, base, "*.bmp*")) {
        const std::string path = folder + "/" + name;
        if (IsPageWorkFileOf(name, base) && !IsOneOf(path, spared) && DeleteFile(path)) ++removed;
    }
    return removed;
}

void DeleteWorkFile(const std::string& path, const std::vector<std::string>& spared) {
    if (const std::optional<std::string> real = ResolveFile(path); real && !IsOneOf(*real, spared)) DeleteFile(*real);
}

void RemoveWorkOfCurrentOrder(const std::vector<std::string>& spared) {
    xml::Document current;
    current.load(InTemp(kCurrentOrderName));
    if (current.xml().empty()) return;
    const xml::Node file = current.selectSingleNode("File");
    const std::optional<std::string> name = file ? file.attribute("name") : std::nullopt;
    if (!name || BaseName(*name).empty()) return;
    std::vector<std::string> attachments = spared;
    attachments.push_back(*name);
    RemovePageWorkFiles(BaseName(*name), attachments);
    for (const char* work : {kBuilderPdfName, kAssembledDocName, kOcrEngineDocName, kOcrLayoutName, kOcrBitmapName,
                             kEngineTiffCopyName, kRoomReservedName})
        DeleteWorkFile(InTemp(work), attachments);
}

void WriteFileOrder(const std::string& attachmentPath) {
    xml::Document order;
    xml::Node file = order.appendElement("KVO").appendElement("File");
    file.setAttribute("name", attachmentPath);
    file.setAttribute("processed", "0");
    order.save(InTemp(kFileOrderName));
}

}  // namespace kvo::handoff
