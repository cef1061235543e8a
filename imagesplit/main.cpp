// KVOTiffSplitter: the image page splitter. Ends with exit code 0 unless a fault of the machine,
// a document too large for the work folder or one without a readable page ended it; its caller
// judges the run by
// "KVOCurr.xml" and the page files.
#include <exception>
#include <iostream>

#include "imagesplit/KVOTiffSplitterMod.h"
#include "shared/ExitStatus.h"

int main() {
    try {
        kvo::KVOTiffSplitterMod::Main();
    } catch (const std::exception& error) {
        std::cerr << "KVOTiffSplitter: " << error.what() << "; no page listed\n";
        return kvo::ExitStatusForError(error);
    } catch (...) {
        std::cerr << "KVOTiffSplitter: stopped by an unknown error; no page listed\n";
    }
    return kvo::kExitOk;
}
