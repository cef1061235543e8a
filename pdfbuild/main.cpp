// KVOOCRWrd: builds the searchable "KVOOCR.pdf" from the pages listed in TEMP/KVOCurr.xml.
#include "pdfbuild/KVOOCRWrdMod.h"

int main() {
    try {
        kvo::KVOOCRWrdMod::Main();
    } catch (...) {
    }
    return 0;
}
