#pragma once
// The searchable-PDF builder: one page document per page listed in "KVOCurr.xml", the pages
// joined into "KVOOCR.doc", and "KVOOCR.pdf" written from it, all in the temporary folder.
#include "pdfbuild/DocumentEngine.h"

namespace kvo::KVOOCRWrdMod {

// The word processor's image name; every running copy is ended at the start, between the
// phases, on every restart and at the end.
inline constexpr const char* kWordProcessorImage = "WinWord.exe";

// Engine restarts allowed for one page before the document is given up: a page document that
// fails again and again would otherwise hold the builder until the pipeline's time limit.
inline constexpr int kRestartsPerPage = 3;

// The whole run with engines from `startEngine`. A listed page that cannot be built or placed
// ends the run without a PDF (the reason on the error stream); other failing steps are skipped.
// The result is judged by "KVOOCR.pdf" alone, which is marked as made for the order's attachment.
void Run(const pdfbuild::EngineStarter& startEngine);

// The PDF from the saved assembled document: the engine's own export when its major version is
// 12 or later and, when that fails or the version is older, once more by the plainer route.
void ProducePdf(const pdfbuild::EngineStarter& startEngine);

// The program's run with the system's own engine. Never throws; returns 0, or the exit status
// of a fault of the machine (a full work folder), after which no PDF is left.
int Main();

}  // namespace kvo::KVOOCRWrdMod
