#pragma once
// The hand-off documents "KVOFile.xml" and "KVOCurr.xml" and the names of every work file of
// an attachment in the temporary folder.
#include <cstdint>
#include <string>
#include <vector>

namespace kvo::handoff {

// Fixed names (without folder).
inline constexpr const char* kFileOrderName = "KVOFile.xml";
inline constexpr const char* kCurrentOrderName = "KVOCurr.xml";
inline constexpr const char* kOcrBitmapName = "KVOOCR.bmp";
inline constexpr const char* kOcrEngineDocName = "KVOOCR.mdi";
inline constexpr const char* kOcrLayoutName = "KVOOCR.mdi.xml";
inline constexpr const char* kAssembledDocName = "KVOOCR.doc";
inline constexpr const char* kBuilderPdfName = "KVOOCR.pdf";
// The OCR engine's TIFF copy of an image attachment that gave no text, split once more.
inline constexpr const char* kEngineTiffCopyName = "KVOOCR.tif";

// TempFolder() + "/" + name, read afresh.
std::string InTemp(const std::string& name);

// The base name: the path after its last "/", then cut before its last "." (a name without
// "." stays whole; dots in folder names do not count). Work files add a page label and their
// endings to it, so a name longer than kMostBaseBytes keeps its first bytes (whole UTF-8
// characters) followed by "~" and a digest of the whole name: every work-file name fits the
// file system's 255 bytes, and two long names that begin alike still differ.
inline constexpr std::size_t kMostBaseBytes = 200;
std::string BaseName(const std::string& attachmentPath);
// The text after the last "." of the file name, upper-cased; "" when the name has no ".".
std::string UpperExtension(const std::string& attachmentPath);

// Page labels: the image splitter's six-digit frame tag ("000000" for frame 0) and the PDF
// splitter's page number from 1.
std::string FrameTag(int frameIndex);
std::string ImagePageBitmap(const std::string& base, int frameIndex);  // TEMP/base+tag+".bmp"
std::string PdfPageBitmap(const std::string& base, int pageNumber);    // TEMP/base+n+".bmp"
std::string LayoutCopyOf(const std::string& pageBitmap);   // page bitmap + ".xml"
std::string PageDocumentOf(const std::string& pageBitmap); // page bitmap + ".doc"
std::string FinalResult(const std::string& base);          // TEMP/base+".pdf"

// The wildcard suffixes of an attachment's page work files (after the literal base name).
inline constexpr const char* kPageBitmapSuffix = "*.bmp";
inline constexpr const char* kPageLayoutSuffix = "*.bmp.xml";
inline constexpr const char* kPageDocumentSuffix = "*.bmp.doc";

// An `image` entry of a PDF attachment's page that is kept as it is, without a text layer (it
// carries text of its own, or draws nothing): keep="as-is". No bitmap is made for such a page.
inline constexpr const char* kKeepAttribute = "keep";
inline constexpr const char* kKeptAsIs = "as-is";

// Makes "KVOOCR.bmp" the OCR program's input for the page: a hard link to the page bitmap, so
// that no page is written twice, or a copy where the file system allows no link.
void HandPageToOcr(const std::string& pageBitmap);

// What this chain has reserved in the work folder for its page bitmaps (a decimal byte count),
// so that the other chains on the same disk count it as about to be written. Removed with the
// row's other work files.
inline constexpr const char* kRoomReservedName = "KVORoom.txt";

// Whether the work folder can take `bytes` more of page bitmaps, `runTotal` of them in all this
// run: never, when runTotal exceeds the whole file system (the document's fault); not now, when
// its free space, less what the other chains are still to write and a margin for the
// attachment's other work files, is less than `bytes`.
enum class Room { Enough, LackingNow, NeverEnough };
struct RoomFacts {
    std::uint64_t freeBytes = 0;
    std::uint64_t totalBytes = 0;
    std::uint64_t othersToWrite = 0;
};
inline constexpr std::uint64_t kRoomMargin = 64ull << 20;
Room JudgeRoom(std::uint64_t bytes, std::uint64_t runTotal, const RoomFacts& facts);

// What the chains working in the other folders on `folder`'s TEMP and disk (held by a running
// driver or worker) have reserved and not yet written.
std::uint64_t OthersToWrite(const std::string& folder);

// Reserves `bytes` more of page bitmaps in the work folder for this run. Throws TooLargeForWork
// when the run's page bitmaps could never fit in it, NoRoomForWork when they do not fit now;
// `what` names them in the message.
void EnsureRoomForPageBitmaps(std::uint64_t bytes, const std::string& what);

// True when `fileName` is one of the page work files of `base`: the base name (without regard
// to case), a page label of either splitter (six digits, or a number without leading zeros) and
// ".bmp", ".bmp.xml" or ".bmp.doc". Another file that merely begins with the base name is not.
bool IsPageWorkFileOf(const std::string& fileName, const std::string& base);

// Deletes the page work files of `base` in the temporary folder, except the files named in
// `spared` (attachments may lie there under such names). Returns the number deleted.
int RemovePageWorkFiles(const std::string& base, const std::vector<std::string>& spared);

// Deletes the work file (resolved without regard to case) unless it is one of the files named
// in `spared`. A missing file is not an error.
void DeleteWorkFile(const std::string& path, const std::vector<std::string>& spared);

// Deletes the page work files and builder files of the order in "KVOCurr.xml", left behind when
// its pipeline died before its clean-up, sparing that order's attachment and the files named in
// `spared`.
void RemoveWorkOfCurrentOrder(const std::vector<std::string>& spared);

// Writes "KVOFile.xml" for one attachment: <KVO><File name="…" processed="0"/></KVO>.
void WriteFileOrder(const std::string& attachmentPath);

}  // namespace kvo::handoff
