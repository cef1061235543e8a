#pragma once
// The per-document pipeline: runs every pending order of "KVOFile.xml" through the page
// splitter that suits the file type, the searchable-PDF builder and the clean-up of the work
// files, and marks the order done.
#include <optional>
#include <string>

namespace kvo::KVOProcessSlidesMod {

// A child program of the pipeline: its file name in the application folder and the image name
// by which the process list is watched for it.
struct ChildProgram {
    const char* fileName;
    const char* imageName;
};

inline constexpr ChildProgram kTiffSplitter{"KVOTiffSplitter", "KVOTIFFSPLITTER.EXE"};
inline constexpr ChildProgram kPdfSplitter{"KVOPDFSplitter", "KVOPDFSPLITTER.EXE"};
inline constexpr ChildProgram kBuilder{"KVOOCRWrd", "KVOOCRWRD.EXE"};
// Ended together with the builder when the builder times out: it drives the word processor.
inline constexpr const char* kWordProcessorImage = "WINWORD.EXE";

inline constexpr int kWatchPollMs = 200;

// The splitter for an upper-case extension by its type group, or nullopt when the type is not
// converted.
std::optional<ChildProgram> SplitterFor(const std::string& upperExtension);

// Removes what an earlier, failed or interrupted run may have left under this attachment's
// names: the builder's "KVOOCR.pdf" and "KVOOCR.doc", the room reserved for its pages
// ("KVORoom.txt"), the page work files of the base name, and
// {TEMP}/{base}.pdf when it is a result this system made. The attachment itself is never
// removed, even when it lies in the temporary folder under such a name. False when {base}.pdf
// is still there afterwards (another file holds the result's name).
bool RemoveStaleWork(const std::string& base, const std::string& attachmentPath);

// The clean-up after the builder, in this order: the page documents, layout copies and page
// bitmaps of the base name (only names with a page label; never the attachment),
// "KVOOCR.mdi.xml", "KVOOCR.mdi", "KVOOCR.bmp", "KVOOCR.tif", "KVORoom.txt", the rename of "KVOOCR.pdf" to {base}.pdf (never over an
// existing file), "KVOOCR.doc". A failing action does not stop the later ones.
void CleanUp(const std::string& base, const std::string& attachmentPath);

// Handles every pending order of {TEMP}/KVOFile.xml with the children found in appFolder: the
// builder runs only after a splitter that ended by itself with status 0, and its PDF is kept
// only when it ended so too. Before each order the work files of an earlier order whose
// pipeline died are removed, and at the start the leftover hidden temporaries in TEMP.
void ProcessOrders(const std::string& appFolder);

// The program's run: ProcessOrders with the folder of the running program. Never throws.
// Returns the exit status: 0, or the first fault met that was the machine's (kExitEndedFromOutside
// when a program of its chain was ended from outside, kExitNoRoom when the work folder was full)
// or a document's too large for the work folder (kExitTooLargeForWork) or without a page that can
// be read (kExitNoReadablePage).
int Main();

}  // namespace kvo::KVOProcessSlidesMod
