#include "driver/KVOProcessModule.h"

int main(int argc, char** argv) { return kvo::driver::KVOProcessModule::Main(argc, argv); }
