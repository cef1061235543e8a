// KVOOCRSave: the layout document of one recognised page.
#include "ocrsave/KVOOCRSaveMod.h"

int main() {
    kvo::KVOOCRSaveMod::Main();
    return 0;
}
