// Test stand-in: runs for the number of seconds given as its first argument (default 600),
// then ends with exit code 0. With a second argument it writes "started" into that file at
// once, and appends "finished" when the time is up.
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

int main(int argc, char** argv) {
    int seconds = argc > 1 ? std::atoi(argv[1]) : 600;
    if (argc > 2) std::ofstream(argv[2]) << "started\n";
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    if (argc > 2) std::ofstream(argv[2], std::ios::app) << "finished\n";
    return 0;
}
