// KVOOCRWrd: builds the searchable "KVOOCR.pdf" from the pages listed in TEMP/KVOCurr.xml.
#include "pdfbuild/KVOOCRWrdMod.h"

int main() {
    return kvo::KVOOCRWrdMod::Main();
}
