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

// Throws NoRoomForWork when the work folder cannot take `bytes` of page bitmaps and a margin
// for the other work files of the attachment. `what` names them in the message.
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
