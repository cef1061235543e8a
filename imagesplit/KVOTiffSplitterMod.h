#pragma once
// KVOTiffSplitter: splits the raster attachment named in "KVOCurr.xml" into one 24-bit,
// 300-dpi page bitmap per frame in TEMP, has every large enough page recognised by the OCR
// program KVOOCR, keeps each page's layout document beside its bitmap, lists the pages in
// "KVOCurr.xml" and marks the order done. When no page yields a layout document, the OCR
// engine re-saves the attachment as "<attachment>.TIFF" and that copy is split once more.
#include <string>

#include "imagesplit/cBitmap.h"
#include "imagesplit/cDIBSection.h"

namespace kvo::KVOTiffSplitterMod {

inline constexpr int kPageDpi = 300;
inline constexpr int kPageColourDepth = cDIBSectionSave::kColourDepth24;

// A frame is recognised only when it is wider than 250 and higher than 350 pixels.
bool IsRecognisable(int width, int height);
// The engine's TIFF copy is made when its first image is at least 250 pixels wide and higher
// than 350 pixels.
bool WantsTiffCopy(int width, int height);

// Writes the bitmap's active frame as TEMP/<base><tag of frameIndex>.bmp and then as
// TEMP/KVOOCR.bmp. Throws DibError when a file cannot be written (the second is then not
// written either) or the frame has no pixels.
void WritePageBitmap(cBitmap& bitmap, int frameIndex, const std::string& base);

// The whole run over TEMP/KVOCurr.xml. A page that cannot be written, a layout copy that cannot
// be kept and a failure before the fallback propagate and leave "KVOCurr.xml" as it was; from
// the fallback on, a failing step of the engine copy is skipped.
void Main();

}  // namespace kvo::KVOTiffSplitterMod
