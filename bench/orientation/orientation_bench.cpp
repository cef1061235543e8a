// Times the orientation detection KVOOCR runs on every page, on a page image given at each of
// the four turns, and prints the turn it finds and the milliseconds it took.
//
//   orientation_bench page-image [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "ocrengine/TesseractEngine.h"
#include "shared/image/RasterImage.h"

int main(int argc, char** argv) {
    using namespace kvo;
    if (argc < 2) {
        std::fprintf(stderr, "usage: orientation_bench page-image [RUNS]\n");
        return 2;
    }
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const auto page = image::ReadRaster(argv[1]);
    if (!page) {
        std::fprintf(stderr, "orientation bench: cannot read %s\n", argv[1]);
        return 1;
    }
    for (int lying : {0, 90, 180, 270}) {
        const image::Raster turned = image::Turned(*page, lying);
        std::vector<double> times;
        int found = 0;
        for (int i = 0; i < runs; ++i) {
            const auto start = std::chrono::steady_clock::now();
            found = ocr::UprightTurnOf(turned);
            times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        std::sort(times.begin(), times.end());
        std::printf("orientation bench: page turned %3d, found turn %3d (%s), median %.0f ms of %d runs\n", lying, found,
                    (found + lying) % 360 == 0 ? "upright" : "NOT upright", times[times.size() / 2], runs);
    }
    return 0;
}
