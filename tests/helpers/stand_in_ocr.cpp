// Stand-in for the OCR program, installed by tests as "KVOOCR" in their application folder.
// It always removes TEMP/KVOOCR.mdi.xml first, so a layout document from an earlier call
// never survives. Then:
//   KVO_STANDIN_LAYOUT   names a file copied to TEMP/KVOOCR.mdi.xml (when it exists);
//   KVO_STANDIN_OCR_LOG  names a file that gets one line per call: the size in bytes of
//                        TEMP/KVOOCR.bmp, or -1 when there is none.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "shared/platform/Paths.h"

namespace fs = std::filesystem;

int main() {
    try {
        const fs::path temp = kvo::TempFolder();
        const fs::path layout = temp / "KVOOCR.mdi.xml";
        std::error_code ec;
        fs::remove(layout, ec);

        if (const char* source = std::getenv("KVO_STANDIN_LAYOUT"); source && fs::is_regular_file(source, ec))
            fs::copy_file(source, layout, fs::copy_options::overwrite_existing, ec);

        if (const char* log = std::getenv("KVO_STANDIN_OCR_LOG"); log && *log) {
            const fs::path bitmap = temp / "KVOOCR.bmp";
            const auto size = fs::is_regular_file(bitmap, ec) ? static_cast<long long>(fs::file_size(bitmap, ec)) : -1LL;
            std::ofstream(log, std::ios::app) << size << '\n';
        }
    } catch (...) {
    }
    return 0;
}
