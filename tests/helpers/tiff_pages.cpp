// tiff_pages SOURCE PAGES OUTPUT: writes OUTPUT as a multi-page TIFF holding PAGES copies of the
// first frame of the raster file SOURCE (CCITT G4 when it is bilevel). For benchmarks and
// tests that need a long fax document. Exit code 0 on success, 1 with a message otherwise.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <vector>

#include "shared/image/RasterImage.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::cerr << "usage: tiff_pages SOURCE PAGES OUTPUT\n";
        return 1;
    }
    try {
        const auto page = kvo::image::ReadRaster(argv[1]);
        if (!page) {
            std::cerr << "tiff_pages: cannot read " << argv[1] << '\n';
            return 1;
        }
        const int count = std::atoi(argv[2]);
        if (count < 1) {
            std::cerr << "tiff_pages: PAGES must be 1 or more\n";
            return 1;
        }
        kvo::image::WriteMultiPageTiff(std::vector<kvo::image::Raster>(count, kvo::image::ReduceLossless(*page)), argv[3]);
    } catch (const std::exception& error) {
        std::cerr << "tiff_pages: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
