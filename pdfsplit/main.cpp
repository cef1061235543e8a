// KVOPDFSplitter: renders the pages of the PDF ordered in TEMP/KVOCurr.xml and has them recognised.
#include "pdfsplit/KVOPDFSplitterMod.h"
#include "shared/ExitStatus.h"

int main() {
    try {
        return kvo::KVOPDFSplitterMod::Main();
    } catch (...) {
        return kvo::kExitOk;
    }
}
