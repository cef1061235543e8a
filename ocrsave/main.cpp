// KVOOCRSave: the layout document of one recognised page.
#include "ocrsave/KVOOCRSaveMod.h"

int main() {
    return kvo::KVOOCRSaveMod::Main();
}
