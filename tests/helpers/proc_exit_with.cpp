// Test stand-in: ends at once with the exit code given as its first argument (default 0);
// "-N" makes it kill itself with signal N instead.
#include <csignal>
#include <cstdlib>

int main(int argc, char** argv) {
    int code = argc > 1 ? std::atoi(argv[1]) : 0;
    if (code < 0) raise(-code);
    return code;
}
