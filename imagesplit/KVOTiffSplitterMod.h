#pragma once
// KVOTiffSplitter: splits the raster attachment named in "KVOCurr.xml" into one 300-dpi page
// bitmap per frame in TEMP (1 bit for bilevel frames, 8 for grey, 24 for colour), has every large enough page recognised by the OCR
// program KVOOCR, keeps each page's layout document beside its bitmap, lists the pages in
// "KVOCurr.xml" and marks the order done. When no page yields a layout document, the OCR
// engine re-saves the attachment as TEMP/KVOOCR.tif and that copy is split once more.
#include <string>

#include "imagesplit/cBitmap.h"
#include "imagesplit/BmpWriter.h"

namespace kvo::KVOTiffSplitterMod {

inline constexpr int kPageDpi = 300;
inline constexpr int kPageColourDepth = BmpSaveStage::kColourDepthOwn;

// A frame is recognised only when it is wider than 250 and higher than 350 pixels.
bool IsRecognisable(int width, int height);
// The engine's TIFF copy is made when its first image is at least 250 pixels wide and higher
// than 350 pixels.
bool WantsTiffCopy(int width, int height);

// Writes the bitmap's active frame as TEMP/<base><tag of frameIndex>.bmp at the depth its pixels
// have and makes TEMP/KVOOCR.bmp that page. Throws NoRoomForWork when the work folder has no room
// for it now, TooLargeForWork when the run's pages could never fit in it, DibError when the file cannot be written (KVOOCR.bmp is then left as it was) or the
// frame has no pixels.
void WritePageBitmap(cBitmap& bitmap, int frameIndex, const std::string& base);

// The whole run over TEMP/KVOCurr.xml. A page that cannot be written, a layout copy that cannot
// be kept and a failure before the fallback propagate and leave "KVOCurr.xml" as it was; from
// the fallback on, a failing step of the engine copy is skipped. An attachment of which neither
// pass reads a single page throws NoReadablePage.
void Main();

}  // namespace kvo::KVOTiffSplitterMod
