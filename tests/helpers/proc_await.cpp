// Test stand-in: writes "started" into the file given as its second argument, then runs until
// the file given as its first argument exists, and ends with exit code 0.
#include <chrono>
#include <fstream>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    std::ofstream(argv[2]) << "started\n";
    while (access(argv[1], F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return 0;
}
