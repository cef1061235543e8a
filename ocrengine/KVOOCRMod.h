#pragma once
// The OCR program: recognises the page bitmap "KVOOCR.bmp" of the temporary folder, saves the
// engine document "KVOOCR.mdi" and has KVOOCRSave turn it into the layout document.

namespace kvo::KVOOCRMod {

// Tesseract's OpenMP threads only slow a page down on these machines, and the thread limit is
// read when the OpenMP runtime loads, before main. So when OMP_THREAD_LIMIT is not set, the
// program starts itself afresh with OMP_THREAD_LIMIT=1; this returns only when that is not
// needed or not possible.
void RunSingleThreaded(char** argv);

// No arguments. Removes an earlier "KVOOCR.mdi" and "KVOOCR.mdi.xml", recognises "KVOOCR.bmp"
// in the languages of console.ini ([OCR] Languages, default "eng"), saves "KVOOCR.mdi" and runs
// KVOOCRSave from the application folder, waiting for it. A missing or unreadable bitmap
// leaves neither file. The one message is the line on standard error that names a language
// which is not installed; everything the libraries would print is discarded.
// Returns the exit status: 0, or kExitEndedFromOutside / kExitNoRoom for a fault of the
// machine (the layout writer ended from outside, a full work folder): the page may succeed
// when tried again.
int Main();

}  // namespace kvo::KVOOCRMod
