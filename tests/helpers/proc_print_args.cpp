// Test stand-in: writes its arguments after the first, each followed by a NUL byte, into the
// file named by the first argument; prints them to standard output and "to stderr" to standard
// error; then ends with exit code 0.
#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    std::ofstream out(argv[1], std::ios::binary);
    for (int i = 2; i < argc; ++i) {
        out << argv[i] << '\0';
        std::printf("%s\n", argv[i]);
    }
    std::fprintf(stderr, "to stderr\n");
    return out ? 0 : 1;
}
