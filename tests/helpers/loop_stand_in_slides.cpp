// Stand-in for the pipeline program KVOProcessSlides, installed by the batch-loop tests under
// that name in a temporary application folder. For each order in TEMP/KVOFile.xml still marked
// "0" it:
//   - sleeps LOOP_SLIDES_SLEEP_MS milliseconds first (a long conversion),
//   - appends the order's `name` and a line feed to the file LOOP_SLIDES_LOG (and a line naming
//     KVO_DB_PASSWORD when that is in its environment),
//   - copies LOOP_SLIDES_RESULTS/{base}.pdf, when that file exists, to TEMP/{base}.pdf (the
//     pipeline's result; a missing file there means "no result"),
//   - marks the order "1" and saves KVOFile.xml, as the real pipeline does.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

void PlaceResult(const std::string& attachment) {
    const std::string results = Env("LOOP_SLIDES_RESULTS");
    if (results.empty()) return;
    const std::string base = kvo::handoff::BaseName(attachment);
    const fs::path source = fs::path(results) / (base + ".pdf");
    if (!fs::exists(source)) return;
    const fs::path target = kvo::handoff::FinalResult(base);
    const fs::path partial = target.string() + ".part";
    fs::copy_file(source, partial, fs::copy_options::overwrite_existing);
    fs::rename(partial, target);
}

}  // namespace

int main() {
    if (const std::string sleepMs = Env("LOOP_SLIDES_SLEEP_MS"); !sleepMs.empty())
        usleep(static_cast<useconds_t>(std::stoi(sleepMs)) * 1000);

    const std::string orderPath = kvo::handoff::InTemp(kvo::handoff::kFileOrderName);
    kvo::xml::Document order;
    if (!order.load(orderPath)) return 0;
    for (kvo::xml::Node file : order.selectNodes("KVO/File")) {
        if (file.attribute("processed") != "0") continue;
        const std::string name = file.attribute("name").value_or("");
        if (const std::string log = Env("LOOP_SLIDES_LOG"); !log.empty())
            std::ofstream(log, std::ios::app) << name << '\n'
                                              << (std::getenv("KVO_DB_PASSWORD") ? "KVO_DB_PASSWORD inherited\n" : "");
        PlaceResult(name);
        file.setAttribute("processed", "1");
        order.save(orderPath);
    }
    return 0;
}
