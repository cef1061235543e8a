// Stand-in for Ghostscript's pdfwrite run, installed by tests as "gs" in a folder of their own.
// It copies the file GS_STANDIN_REWRITE to the path after "-sOutputFile=", writes the text
// GS_STANDIN_REPORT to the path after "-sstdout=", then ends as GS_STANDIN_END says: "exit N"
// (exit code N; the default is 0), "signal N" (killed by signal N) or "hang" (waits until it is
// killed).
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Option(int argc, char** argv, const std::string& lead) {
    for (int i = 1; i < argc; ++i)
        if (std::string argument = argv[i]; argument.rfind(lead, 0) == 0) return argument.substr(lead.size());
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    const std::string output = Option(argc, argv, "-sOutputFile=");
    if (const std::string rewrite = Env("GS_STANDIN_REWRITE"); !rewrite.empty() && !output.empty())
        std::filesystem::copy_file(rewrite, output, std::filesystem::copy_options::overwrite_existing);
    if (const std::string report = Option(argc, argv, "-sstdout="); !report.empty())
        std::ofstream(report) << Env("GS_STANDIN_REPORT");

    const std::string end = Env("GS_STANDIN_END");
    if (end == "hang")
        for (;;) pause();
    if (end.rfind("signal ", 0) == 0) raise(std::atoi(end.c_str() + 7));
    return end.rfind("exit ", 0) == 0 ? std::atoi(end.c_str() + 5) : 0;
}
