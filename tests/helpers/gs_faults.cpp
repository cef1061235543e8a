// Ghostscript that fails on demand, installed by tests as "gs" in a folder of their own: it runs
// the real Ghostscript (KVO_GS_REAL) with its own arguments and then does what KVO_GS_FAULT says:
//   "status N"     ends with exit status N;
//   "signal N"     ends by signal N;
//   "remove FILE"  removes FILE (a page it wrote) and ends with 0;
//   "cut FILE"     cuts FILE to half its length and ends with 0;
//   "hang"         waits until it is killed.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

extern char** environ;

int main(int, char** argv) {
    const char* real = std::getenv("KVO_GS_REAL");
    if (!real) return 2;
    argv[0] = const_cast<char*>(real);
    pid_t child = 0;
    int status = 0;
    if (posix_spawn(&child, real, nullptr, nullptr, argv, environ) != 0 || waitpid(child, &status, 0) != child) return 2;

    const std::string fault = std::getenv("KVO_GS_FAULT") ? std::getenv("KVO_GS_FAULT") : "";
    const std::string argument = fault.substr(fault.find(' ') + 1);
    if (fault == "hang")
        for (;;) pause();
    if (fault.starts_with("status ")) return std::atoi(argument.c_str());
    if (fault.starts_with("signal ")) raise(std::atoi(argument.c_str()));
    if (fault.starts_with("remove ")) std::filesystem::remove(argument);
    if (fault.starts_with("cut ")) std::filesystem::resize_file(argument, std::filesystem::file_size(argument) / 2);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
