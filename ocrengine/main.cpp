// KVOOCR: the OCR program of one page.
#include "ocrengine/KVOOCRMod.h"

int main(int, char** argv) {
    kvo::KVOOCRMod::RunSingleThreaded(argv);
    return kvo::KVOOCRMod::Main();
}
