// Stand-in for the programs the pipeline starts and watches (the splitters, the PDF builder,
// the word processor), installed by tests under the name it plays. Its behaviour follows that
// name and the environment:
//   KVO_PIPE_LOG     file that gets one line per start: the name, a tab, the `name` attribute of
//                    TEMP/KVOCurr.xml, a tab, and the files in TEMP (sorted, "|" between them);
//   KVO_PIPE_HANG    comma-separated names that never end (they wait to be killed);
//   KVO_PIPE_KILLED  comma-separated names that are killed (SIGKILL) once their work is done;
//   KVO_PIPE_PAGES   a splitter (name containing "Splitter") writes that many page bitmaps
//                    TEMP/{base}{n}.bmp, each with its ".bmp.xml" layout copy;
//   KVO_PIPE_RESULT  the builder ("KVOOCRWrd") writes this text as TEMP/KVOOCR.pdf, and leaves
//                    KVOOCR.doc, KVOOCR.mdi, KVOOCR.mdi.xml and a ".bmp.doc" per page bitmap of the
//                    ordered attachment.
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "shared/platform/Paths.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void Touch(const fs::path& file, const std::string& content) { std::ofstream(file, std::ios::binary) << content; }

std::string OrderedAttachment(const fs::path& temp) {
    kvo::xml::Document current;
    current.load((temp / "KVOCurr.xml").string());
    const kvo::xml::Node order = current.selectSingleNode("File");
    return order ? order.attribute("name").value_or("") : "";
}

std::string FilesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    std::string joined;
    for (const std::string& name : names) joined += (joined.empty() ? "" : "|") + name;
    return joined;
}

bool Listed(const std::string& commaList, const std::string& name) {
    std::istringstream items(commaList);
    for (std::string item; std::getline(items, item, ',');)
        if (item == name) return true;
    return false;
}

}  // namespace

int main(int, char** argv) {
    try {
        const std::string name = fs::path(argv[0]).filename();
        const fs::path temp = kvo::TempFolder();
        const std::string attachment = OrderedAttachment(temp);

        if (const std::string log = Env("KVO_PIPE_LOG"); !log.empty())
            std::ofstream(log, std::ios::app) << name << '\t' << attachment << '\t' << FilesIn(temp) << '\n';

        if (Listed(Env("KVO_PIPE_HANG"), name))
            for (;;) pause();

        const std::string base = kvo::handoff::BaseName(attachment);
        if (name.find("Splitter") != std::string::npos && !Env("KVO_PIPE_PAGES").empty()) {
            for (int page = 1; page <= std::stoi(Env("KVO_PIPE_PAGES")); ++page) {
                const fs::path bitmap = temp / (base + std::to_string(page) + ".bmp");
                Touch(bitmap, "BM");
                Touch(bitmap.string() + ".xml", "<pagewords/>");
            }
        }
        if (name == "KVOOCRWrd" && !Env("KVO_PIPE_RESULT").empty()) {
            for (const fs::directory_entry& entry : fs::directory_iterator(temp))
                if (entry.path().extension() == ".bmp" && kvo::handoff::IsPageWorkFileOf(entry.path().filename(), base))
                    Touch(entry.path().string() + ".doc", "page");
            for (const char* work : {"KVOOCR.doc", "KVOOCR.mdi", "KVOOCR.mdi.xml"}) Touch(temp / work, "work");
            Touch(temp / "KVOOCR.pdf", Env("KVO_PIPE_RESULT"));
        }
        if (Listed(Env("KVO_PIPE_KILLED"), name)) raise(SIGKILL);
    } catch (...) {
    }
    return 0;
}
