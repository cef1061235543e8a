// Test stand-in: ends at once with the exit code given as its first argument (default 0);
// "-N" makes it kill itself with signal N instead, and "fds" exits with the number of open
// descriptors above the standard three.
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>

int main(int argc, char** argv) {
    if (argc > 1 && std::strcmp(argv[1], "fds") == 0) {
        int open = 0;
        for (int fd = 3; fd < 1024; ++fd) open += fcntl(fd, F_GETFD) != -1;
        return open;
    }
    int code = argc > 1 ? std::atoi(argv[1]) : 0;
    if (code < 0) raise(-code);
    return code;
}
