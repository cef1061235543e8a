#include "shared/image/PictureEncoding.h"
#include "shared/image/RasterImage.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace kvo::image {
namespace {

namespace fs = std::filesystem;
using test::CorpusDir;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

// ---- files built byte by byte, so that the reader is checked against known layouts ----

void Put16(std::string& out, unsigned value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}
void Put32(std::string& out, unsigned value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}
void Patch32(std::string& out, std::size_t at, unsigned value) {
    std::string bytes;
    Put32(bytes, value);
    out.replace(at, 4, bytes);
}

struct TiffPage {
    int width;
    int height;
    unsigned compression;  // 1 none, 4 CCITT G4
    unsigned photometric;  // 0: 0 is white, 1: 0 is black
    std::vector<std::uint8_t> strip;
    unsigned dpi = 200;
    bool stripMissing = false;  // strip offset far beyond the end of the file
    bool rgba = false;          // 8-bit red, green, blue and unassociated alpha instead of 1 bit
    bool tiled = false;         // the strip is one tile of the page's size (a multiple of 16)
};

// A little-endian TIFF of 1-bit (or RGBA) pages, one strip each.
std::string TiffFile(const std::vector<TiffPage>& pages) {
    std::string out = "II";
    Put16(out, 42);
    std::size_t linkAt = out.size();
    Put32(out, 0);
    for (const TiffPage& page : pages) {
        const unsigned stripAt = page.stripMissing ? 0x7FFFFF00u : static_cast<unsigned>(out.size());
        out.append(page.strip.begin(), page.strip.end());
        if (out.size() % 2) out += '\0';
        const unsigned resolutionAt = static_cast<unsigned>(out.size());
        Put32(out, page.dpi);
        Put32(out, 1);
        const unsigned bitsAt = static_cast<unsigned>(out.size());
        for (int sample = 0; sample < 4; ++sample) Put16(out, 8);
        Patch32(out, linkAt, static_cast<unsigned>(out.size()));
        struct Entry { unsigned tag, type, value, count = 1; };
        std::vector<Entry> entries = {
            {256, 4, static_cast<unsigned>(page.width)}, {257, 4, static_cast<unsigned>(page.height)},
            page.rgba ? Entry{258, 3, bitsAt, 4} : Entry{258, 3, 1}, {259, 3, page.compression},
            {262, 3, page.rgba ? 2u : page.photometric}, {273, 4, stripAt}, {277, 3, page.rgba ? 4u : 1u},
            {278, 4, static_cast<unsigned>(page.height)}, {279, 4, static_cast<unsigned>(page.strip.size())},
            {282, 5, resolutionAt}, {283, 5, resolutionAt}, {296, 3, 2}};
        if (page.tiled) {
            std::erase_if(entries, [](const Entry& e) { return e.tag == 273 || e.tag == 278 || e.tag == 279; });
            entries.insert(entries.end(), {{322, 4, static_cast<unsigned>(page.width)},
                                           {323, 4, static_cast<unsigned>(page.height)}, {324, 4, stripAt},
                                           {325, 4, static_cast<unsigned>(page.strip.size())}});
        }
        if (page.rgba) entries.push_back({338, 3, 2});
        Put16(out, static_cast<unsigned>(entries.size()));
        for (const Entry& e : entries) {
            Put16(out, e.tag);
            Put16(out, e.type);
            Put32(out, e.count);
            Put32(out, e.value);
        }
        linkAt = out.size();
        Put32(out, 0);
    }
    return out;
}

// A bottom-up BMP with a palette (1, 4 or 8 bits) or without (24 bits); rows top first.
std::string BmpFile(int width, int height, int bits, const std::vector<unsigned>& palette,
                    const std::vector<std::vector<std::uint8_t>>& rows, unsigned pixelsPerMetre) {
    const unsigned rowBytes = ((width * bits + 31) / 32) * 4;
    const unsigned dataAt = 14 + 40 + 4 * static_cast<unsigned>(palette.size());
    std::string out = "BM";
    Put32(out, dataAt + rowBytes * height);
    Put32(out, 0);
    Put32(out, dataAt);
    Put32(out, 40);
    Put32(out, width);
    Put32(out, height);
    Put16(out, 1);
    Put16(out, bits);
    Put32(out, 0);
    Put32(out, rowBytes * height);
    Put32(out, pixelsPerMetre);
    Put32(out, pixelsPerMetre);
    Put32(out, static_cast<unsigned>(palette.size()));
    Put32(out, 0);
    for (unsigned rgb : palette) Put32(out, rgb);  // stored as B, G, R, 0
    for (int y = height - 1; y >= 0; --y) {
        std::string row(rows[y].begin(), rows[y].end());
        row.resize(rowBytes, '\0');
        out += row;
    }
    return out;
}

Raster MakeRaster(int width, int height, int bits) {
    Raster r;
    r.width = width;
    r.height = height;
    r.bitsPerPixel = bits;
    r.stride = (static_cast<std::size_t>(width) * bits + 7) / 8;
    r.pixels.assign(r.stride * height, 0);
    return r;
}

bool BlackAt(const Raster& bilevel, int x, int y) {
    return (bilevel.pixels[bilevel.stride * y + x / 8] >> (7 - x % 8)) & 1;
}

// A 1-bit pattern of odd width, so that row padding is exercised.
Raster Checkers(int width, int height, int cell) {
    Raster r = MakeRaster(width, height, 1);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            if ((x / cell + y / cell) % 2) r.pixels[r.stride * y + x / 8] |= 0x80 >> (x % 8);
    return r;
}

Raster Linn() {
    std::optional<Raster> linn = ReadRaster((CorpusDir() / "linn.png").string());
    if (!linn) throw std::runtime_error("corpus linn.png not readable");
    return *linn;
}

std::size_t CountBlack(const Raster& bilevel) {
    std::size_t black = 0;
    for (std::uint8_t byte : bilevel.pixels) black += static_cast<std::size_t>(__builtin_popcount(byte));
    return black;
}

// ---- reading ----

TEST(RasterImage, CorpusBilevelScanReadsAtOneBitWithBlackAsOne) {
    Raster linn = Linn();
    EXPECT_EQ(linn.width, 2550);
    EXPECT_EQ(linn.height, 3300);
    EXPECT_EQ(linn.bitsPerPixel, 1);
    EXPECT_EQ(Classify(linn), PixelKind::Bilevel);
    // A text page is mostly white paper.
    const double blackShare = static_cast<double>(CountBlack(linn)) / (2550.0 * 3300.0);
    EXPECT_GT(blackShare, 0.01);
    EXPECT_LT(blackShare, 0.25);
    EXPECT_FALSE(BlackAt(linn, 0, 0)) << "the page corner is white paper";

    Raster rgb = ToRgb24(linn);
    ASSERT_EQ(rgb.bitsPerPixel, 24);
    for (int y = 0; y < rgb.height; y += 37) {
        for (int x = 0; x < rgb.width; x += 13) {
            const std::uint8_t* px = &rgb.pixels[rgb.stride * y + 3 * x];
            ASSERT_EQ(px[0], BlackAt(linn, x, y) ? 0 : 255);
            ASSERT_TRUE(px[0] == px[1] && px[1] == px[2]);
        }
    }
    EXPECT_EQ(Classify(rgb), PixelKind::Bilevel);
    Raster back = ReduceLossless(rgb);
    EXPECT_EQ(back.bitsPerPixel, 1);
    EXPECT_EQ(back.pixels, linn.pixels);
}

TEST(RasterImage, CorpusGreyImageStaysGreyThroughRgbAndBack) {
    std::optional<Raster> grey = ReadRaster((CorpusDir() / "baiona_gray.png").string());
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->bitsPerPixel, 8);
    EXPECT_EQ(grey->width, 640);
    EXPECT_EQ(grey->height, 682);
    EXPECT_EQ(Classify(*grey), PixelKind::Grey);
    Raster rgb = ToRgb24(*grey);
    EXPECT_EQ(Classify(rgb), PixelKind::Grey);
    EXPECT_EQ(rgb.pixels[rgb.stride * 100 + 3 * 200 + 1], grey->pixels[grey->stride * 100 + 200]);
    Raster back = ReduceLossless(rgb);
    EXPECT_EQ(back.bitsPerPixel, 8);
    EXPECT_EQ(back.pixels, grey->pixels);

    // One coloured pixel keeps the whole picture at 24 bits.
    rgb.pixels[rgb.stride * 5 + 3 * 7] ^= 1;
    EXPECT_EQ(Classify(rgb), PixelKind::Colour);
    EXPECT_EQ(ReduceLossless(rgb).pixels, rgb.pixels);
}

TEST(RasterImage, HandMadeBitmapsOfEveryDepthReadWithTheirDpi) {
    ScratchDir dir;
    const unsigned ppm300 = 11811;  // 300 dpi
    // 1 bit, palette black then white: palette index 1 is white, so bits set are white.
    WriteFile(dir / "one.bmp", BmpFile(10, 2, 1, {0x000000, 0xFFFFFF}, {{0x7F, 0xC0}, {0xFF, 0xC0}}, ppm300));
    std::optional<Raster> one = ReadRaster((dir / "one.bmp").string());
    ASSERT_TRUE(one);
    EXPECT_EQ(one->bitsPerPixel, 1);
    EXPECT_EQ(one->xDpi, 300);
    EXPECT_TRUE(BlackAt(*one, 0, 0));
    EXPECT_FALSE(BlackAt(*one, 1, 0));
    EXPECT_FALSE(BlackAt(*one, 0, 1));

    // 4 bits with a colour palette, as Ghostscript's bmp16 device writes; only black and white used.
    std::vector<unsigned> vga = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                                 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};
    WriteFile(dir / "four.bmp", BmpFile(3, 2, 4, vga, {{0x0F, 0x00}, {0xF0, 0xF0}}, ppm300));
    std::optional<Raster> four = ReadRaster((dir / "four.bmp").string());
    ASSERT_TRUE(four);
    Raster reduced = ReduceLossless(*four);
    EXPECT_EQ(reduced.bitsPerPixel, 1);
    EXPECT_EQ(reduced.xDpi, 300);
    EXPECT_TRUE(BlackAt(reduced, 0, 0));
    EXPECT_FALSE(BlackAt(reduced, 1, 0));
    EXPECT_TRUE(BlackAt(reduced, 2, 0));
    EXPECT_FALSE(BlackAt(reduced, 0, 1));
    EXPECT_TRUE(BlackAt(reduced, 1, 1));

    // 24 bits, stored B, G, R.
    WriteFile(dir / "rgb.bmp", BmpFile(2, 1, 24, {}, {{0x30, 0x20, 0x10, 0x07, 0x07, 0x07}}, 3937));
    std::optional<Raster> rgb = ReadRaster((dir / "rgb.bmp").string());
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->bitsPerPixel, 24);
    EXPECT_EQ(rgb->xDpi, 100);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb->pixels.begin(), rgb->pixels.begin() + 6),
              (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 7, 7, 7}));

    // 32 bits (B, G, R, unused) and 16 bits (5-5-5) give the same colours at 24 bits.
    WriteFile(dir / "rgb32.bmp", BmpFile(2, 1, 32, {}, {{0x30, 0x20, 0x10, 0, 7, 7, 7, 0}}, ppm300));
    std::optional<Raster> rgb32 = ReadRaster((dir / "rgb32.bmp").string());
    ASSERT_TRUE(rgb32);
    EXPECT_EQ(rgb32->pixels, (std::vector<std::uint8_t>{0x10, 0x20, 0x30, 7, 7, 7}));
    EXPECT_EQ(rgb32->yDpi, 300);
    WriteFile(dir / "rgb16.bmp", BmpFile(3, 2, 16, {}, {{0x00, 0x7C, 0x1F, 0x00, 0xFF, 0x7F}, {0, 0, 0, 0, 0, 0}}, ppm300));
    std::optional<Raster> rgb16 = ReadRaster((dir / "rgb16.bmp").string());
    ASSERT_TRUE(rgb16);
    EXPECT_EQ(rgb16->bitsPerPixel, 24);
    EXPECT_EQ(std::vector<std::uint8_t>(rgb16->pixels.begin(), rgb16->pixels.begin() + 9),
              (std::vector<std::uint8_t>{255, 0, 0, 0, 0, 255, 255, 255, 255}));
    EXPECT_EQ(rgb16->pixels[9], 0) << "the second row is black";
    const std::string whole = BmpFile(3, 2, 16, {}, {{0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0}}, 0);
    WriteFile(dir / "cut16.bmp", whole.substr(0, whole.size() - 4));
    EXPECT_FALSE(ReadRaster((dir / "cut16.bmp").string()));
}

TEST(RasterImage, GhostscriptBmp16PageOfTheScannedPdfMatchesTheScan) {
    if (std::system("gs --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "Ghostscript not installed";
    ScratchDir dir;
    const std::string page = (dir / "page1.bmp").string();
    const std::string command = "gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=bmp16 -r300 -sOutputFile='" + page + "' '" +
                                (CorpusDir() / "ccitt.pdf").string() + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::optional<Raster> rendered = ReadRaster(page);
    ASSERT_TRUE(rendered);
    EXPECT_EQ(rendered->xDpi, 300);
    EXPECT_EQ(Classify(*rendered), PixelKind::Bilevel);
    Raster bilevel = ReduceLossless(*rendered);
    Raster linn = Linn();
    ASSERT_EQ(bilevel.width, linn.width);
    ASSERT_EQ(bilevel.height, linn.height);
    // Ghostscript's scaling may move a handful of edge pixels, nothing more.
    std::size_t differing = 0;
    for (std::size_t i = 0; i < linn.pixels.size(); ++i)
        differing += static_cast<std::size_t>(__builtin_popcount(bilevel.pixels[i] ^ linn.pixels[i]));
    EXPECT_LT(differing, 100u);
}

TEST(RasterImage, MultiPageFaxTiffGivesEachPageAtItsOwnSize) {
    ScratchDir dir;
    const Raster linn = Linn();
    const Raster small = Checkers(37, 21, 3);
    const Raster wide = Checkers(301, 5, 7);
    std::vector<TiffPage> pages;
    for (const Raster* r : {&linn, &small, &wide}) pages.push_back({r->width, r->height, 4, 0, EncodeG4(*r)});
    pages[1].dpi = 300;
    const fs::path file = dir / "Fax Müller.tif";
    WriteFile(file, TiffFile(pages));

    RasterFile tiff(file.string());
    ASSERT_EQ(tiff.frameCount(), 3);
    std::optional<Raster> first = tiff.frame(0);
    std::optional<Raster> second = tiff.frame(1);
    std::optional<Raster> third = tiff.frame(2);
    ASSERT_TRUE(first && second && third);
    EXPECT_EQ(first->pixels, linn.pixels) << "the G4 data codes 1 bits as black";
    EXPECT_EQ(first->xDpi, 200);
    EXPECT_EQ(second->width, 37);
    EXPECT_EQ(second->height, 21);
    EXPECT_EQ(second->xDpi, 300);
    EXPECT_EQ(second->pixels, small.pixels);
    EXPECT_EQ(third->pixels, wide.pixels);
    EXPECT_FALSE(tiff.frame(3));
    EXPECT_FALSE(tiff.frame(-1));
}

TEST(RasterImage, FrameCountDoesNotDecodePagesAndABadPageSparesTheOthers) {
    ScratchDir dir;
    const Raster page = Checkers(64, 64, 8);
    std::vector<TiffPage> pages(50, TiffPage{64, 64, 4, 0, EncodeG4(page)});
    pages[17].stripMissing = true;
    WriteFile(dir / "fifty.tif", TiffFile(pages));
    RasterFile tiff((dir / "fifty.tif").string());
    EXPECT_EQ(tiff.frameCount(), 50);
    EXPECT_FALSE(tiff.frame(17));
    ASSERT_TRUE(tiff.frame(49));
    EXPECT_EQ(tiff.frame(49)->pixels, page.pixels);
}

TEST(RasterImage, UncompressedTiffHonoursItsPhotometric) {
    ScratchDir dir;
    // 0 is black: the first pixel of each row is black, the rest white.
    WriteFile(dir / "minisblack.tif", TiffFile({{9, 2, 1, 1, {0x7F, 0x80, 0x7F, 0x80}}}));
    std::optional<Raster> black0 = ReadRaster((dir / "minisblack.tif").string());
    ASSERT_TRUE(black0);
    EXPECT_TRUE(BlackAt(*black0, 0, 0));
    EXPECT_FALSE(BlackAt(*black0, 1, 0));
    EXPECT_FALSE(BlackAt(*black0, 8, 1));

    WriteFile(dir / "miniswhite.tif", TiffFile({{9, 2, 1, 0, {0x80, 0x00, 0x80, 0x00}}}));
    std::optional<Raster> white0 = ReadRaster((dir / "miniswhite.tif").string());
    ASSERT_TRUE(white0);
    EXPECT_EQ(white0->pixels, black0->pixels);

    // A transparent background shows as the paper it lies on, whatever colour it hides: an
    // opaque black pixel on a transparent white one.
    TiffPage rgba{2, 1, 1, 0, {0, 0, 0, 255, 255, 255, 255, 0}};
    rgba.rgba = true;
    WriteFile(dir / "rgba.tif", TiffFile({rgba}));
    std::optional<Raster> onPaper = ReadRaster((dir / "rgba.tif").string());
    ASSERT_TRUE(onPaper);
    ASSERT_EQ(onPaper->bitsPerPixel, 24);
    EXPECT_EQ(std::vector<int>(onPaper->pixels.begin(), onPaper->pixels.begin() + 6),
              (std::vector<int>{0, 0, 0, 255, 255, 255}));

    // A tiled page (which Leptonica cannot read) shows the same pixels as in strips.
    const Raster checkers = Checkers(128, 128, 16);
    TiffPage tile{128, 128, 1, 1, {}};
    for (std::uint8_t byte : checkers.pixels) tile.strip.push_back(static_cast<std::uint8_t>(~byte));
    tile.tiled = true;
    WriteFile(dir / "tiled.tif", TiffFile({tile}));
    std::optional<Raster> tiled = ReadRaster((dir / "tiled.tif").string());
    ASSERT_TRUE(tiled);
    EXPECT_EQ(tiled->xDpi, 200);
    EXPECT_EQ(ReduceLossless(*tiled).pixels, checkers.pixels);
}

TEST(RasterImage, DamagedMissingAndForeignFilesHaveNoFrames) {
    ScratchDir dir;
    WriteFile(dir / "empty.tif", "");
    WriteFile(dir / "text.bmp", "this is not a picture at all");
    const std::string png = ReadFile(CorpusDir() / "baiona_gray.png");
    WriteFile(dir / "cut.png", png.substr(0, png.size() / 2));
    const std::string bmp = BmpFile(64, 64, 24, {}, std::vector<std::vector<std::uint8_t>>(64, std::vector<std::uint8_t>(192, 9)), 0);
    WriteFile(dir / "cut.bmp", bmp.substr(0, bmp.size() / 3));
    WriteFile(dir / "header.tif", TiffFile({{64, 64, 4, 0, EncodeG4(Checkers(64, 64, 8))}}).substr(0, 6));

    for (const char* name : {"empty.tif", "text.bmp", "cut.png", "cut.bmp", "header.tif", "missing.gif"}) {
        RasterFile file((dir / name).string());
        EXPECT_EQ(file.frameCount(), 0) << name;
        EXPECT_FALSE(file.frame(0)) << name;
        EXPECT_FALSE(ReadRaster((dir / name).string())) << name;
    }
}

// ---- writing and encodings ----

TEST(RasterImage, GifAndJpegWrittenByTheAdapterReadBack) {
    ScratchDir dir;
    std::optional<Raster> grey = ReadRaster((CorpusDir() / "baiona_gray.png").string());
    ASSERT_TRUE(grey);

    WriteRasterFile(*grey, (dir / "map.gif").string(), FileFormat::Gif);
    std::optional<Raster> gif = ReadRaster((dir / "map.gif").string());
    ASSERT_TRUE(gif);
    EXPECT_EQ(gif->bitsPerPixel, 8);
    EXPECT_EQ(gif->pixels, grey->pixels);

    Raster colour = ToRgb24(*grey);
    for (int x = 0; x < colour.width; ++x) colour.pixels[3 * x] = 250;  // a red top row
    WriteRasterFile(colour, (dir / "map.jpg").string(), FileFormat::Jpeg);
    std::optional<Raster> jpeg = ReadRaster((dir / "map.jpg").string());
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->bitsPerPixel, 24);
    ASSERT_EQ(jpeg->pixels.size(), colour.pixels.size());
    long long difference = 0;
    for (std::size_t i = 0; i < colour.pixels.size(); ++i) difference += std::abs(jpeg->pixels[i] - colour.pixels[i]);
    EXPECT_LT(static_cast<double>(difference) / colour.pixels.size(), 6.0) << "JPEG is lossy, but only a little";

    EXPECT_THROW(WriteRasterFile(*grey, (dir / "g4.tif").string(), FileFormat::TiffG4), std::runtime_error);
    EXPECT_THROW(EncodeG4(*grey), std::runtime_error);
}

TEST(RasterImage, MultiPageTiffKeepsEveryPageAndDpi) {
    ScratchDir dir;
    Raster bilevel = Checkers(101, 33, 5);
    Raster grey = MakeRaster(40, 30, 8);
    for (std::size_t i = 0; i < grey.pixels.size(); ++i) grey.pixels[i] = static_cast<std::uint8_t>(i * 7);
    Raster colour = ToRgb24(grey);
    colour.pixels[0] = 1;
    for (Raster* r : {&bilevel, &grey, &colour}) r->xDpi = r->yDpi = 300;

    const std::string path = (dir / "pages.tif").string();
    WriteFile(path, "old content");
    WriteMultiPageTiff({bilevel, grey, colour}, path);
    RasterFile tiff(path);
    ASSERT_EQ(tiff.frameCount(), 3);
    EXPECT_EQ(tiff.frame(0)->pixels, bilevel.pixels);
    EXPECT_EQ(tiff.frame(1)->pixels, grey.pixels);
    EXPECT_EQ(tiff.frame(2)->pixels, colour.pixels);
    EXPECT_EQ(tiff.frame(2)->yDpi, 300);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    EXPECT_THROW(WriteMultiPageTiff({bilevel}, (dir / "no folder" / "x.tif").string()), std::runtime_error);
    EXPECT_THROW(WriteMultiPageTiff({}, path), std::runtime_error);
}

// A page as its file shows it: a TIFF's Orientation tag (set with libtiff's own tool) and a
// JPEG's Exif orientation turn the frame, its resolutions with it, while the file's own data
// keeps the orientation it is to be drawn in.
TEST(RasterImage, FramesAreGivenUprightAsTheirFileAsks) {
    ScratchDir dir;
    // 40 x 20 pixels at 200 x 100 dpi, a black block in the top-left corner.
    const auto Marked = [](int bits) {
        Raster raster;
        raster.width = 40;
        raster.height = 20;
        raster.bitsPerPixel = bits;
        raster.xDpi = 200;
        raster.yDpi = 100;
        raster.stride = bits == 1 ? 5 : 40;
        raster.pixels.assign(raster.stride * 20, bits == 1 ? 0 : 255);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                if (bits == 1) raster.pixels[y * raster.stride] = 0xFF;
                else raster.pixels[y * raster.stride + x] = 0;
            }
        return raster;
    };
    enum Corner { TopLeft, TopRight, BottomRight, BottomLeft };
    struct Case {
        const char* file;
        int orientation;
        Corner block;
        int clockwise;
        bool mirrored;
    } cases[] = {{"tiff", 1, TopLeft, 0, false},   {"tiff", 2, TopRight, 0, true},  {"tiff", 3, BottomRight, 180, false},
                 {"tiff", 6, TopRight, 90, false}, {"tiff", 8, BottomLeft, 270, false}, {"jpeg", 6, TopRight, 90, false},
                 {"jpeg", 3, BottomRight, 180, false}};
    for (const Case& c : cases) {
        const std::string what = std::string(c.file) + " " + std::to_string(c.orientation);
        const fs::path path = dir / (what + (c.file == std::string("tiff") ? ".tif" : ".jpg"));
        if (c.file == std::string("tiff")) {
            WriteRasterFile(Marked(1), path.string(), FileFormat::TiffG4);
            ASSERT_EQ(std::system(("tiffset -s 274 " + std::to_string(c.orientation) + " '" + path.string() + "'").c_str()), 0);
        } else {
            WriteRasterFile(Marked(8), path.string(), FileFormat::Jpeg);
            WriteFile(path, test::WithExifOrientation(ReadFile(path), c.orientation));
        }
        const std::optional<Raster> frame = RasterFile(path.string()).frame(0);
        ASSERT_TRUE(frame) << what;
        const bool quarter = c.clockwise % 180 != 0;
        EXPECT_EQ(frame->width, quarter ? 20 : 40) << what;
        EXPECT_EQ(frame->xDpi, quarter ? 100 : 200) << what;
        EXPECT_EQ(frame->yDpi, quarter ? 200 : 100) << what;
        const Raster grey = ToRgb24(*frame);
        const auto dark = [&](int x, int y) { return grey.pixels[y * grey.stride + 3 * x] < 128; };
        const int right = grey.width - 3, bottom = grey.height - 3;
        const bool corners[] = {dark(2, 2), dark(right, 2), dark(right, bottom), dark(2, bottom)};
        for (int corner = 0; corner < 4; ++corner) EXPECT_EQ(corners[corner], corner == c.block) << what << " corner " << corner;

        const std::optional<EncodedPicture> own = EncodeFrame(path.string(), 0);
        ASSERT_TRUE(own) << what;
        EXPECT_EQ(own->width, 40) << what << ": the data as stored";
        EXPECT_EQ(own->clockwise, c.clockwise) << what;
        EXPECT_EQ(own->mirrored, c.mirrored) << what;
    }
}

// Square pixels: the coarser axis is scaled up to the finer one's resolution; pictures whose
// resolutions agree, are unknown or differ beyond belief stay as they are.
TEST(RasterImage, SquarePixelsScaleTheCoarserAxis) {
    struct Case {
        int xDpi, yDpi;
        int width, height, dpi;  // dpi 0: the resolutions stay as they were
    } cases[] = {{204, 98, 100, 104, 204}, {98, 204, 208, 50, 204}, {204, 196, 100, 52, 204}, {300, 300, 100, 50, 300},
                 {0, 98, 100, 50, 0}, {400, 98, 100, 50, 0}};
    for (const Case& c : cases) {
        Raster raster;
        raster.width = 100;
        raster.height = 50;
        raster.bitsPerPixel = 1;
        raster.stride = 13;
        raster.pixels.assign(13 * 50, 0x81);
        raster.xDpi = c.xDpi;
        raster.yDpi = c.yDpi;
        const Raster square = WithSquarePixels(raster);
        EXPECT_EQ(square.width, c.width) << c.xDpi << "x" << c.yDpi;
        EXPECT_EQ(square.height, c.height) << c.xDpi << "x" << c.yDpi;
        EXPECT_EQ(square.bitsPerPixel, 1) << "a bilevel page stays bilevel";
        EXPECT_EQ(square.xDpi, c.dpi > 0 ? c.dpi : c.xDpi);
        EXPECT_EQ(square.yDpi, c.dpi > 0 ? c.dpi : c.yDpi);
    }
}

TEST(RasterImage, ConversionsKeepBitOrderAndRejectInconsistentRasters) {
    Raster odd = Checkers(13, 3, 1);
    Raster rgb = ToRgb24(odd);
    EXPECT_EQ(rgb.pixels[3 * 1], 0) << "pixel 1 of row 0 is black";
    EXPECT_EQ(rgb.pixels[0], 255);
    EXPECT_EQ(ReduceLossless(rgb).pixels, odd.pixels) << "padding bits stay clear";

    Raster onlyBlackWhite = MakeRaster(3, 1, 8);
    onlyBlackWhite.pixels = {0, 255, 0};
    Raster bits = ReduceLossless(onlyBlackWhite);
    EXPECT_EQ(bits.bitsPerPixel, 1);
    EXPECT_EQ(bits.pixels, std::vector<std::uint8_t>{0xA0});

    Raster broken = MakeRaster(100, 100, 24);
    broken.pixels.resize(10);
    EXPECT_THROW(Classify(broken), std::runtime_error);
    EXPECT_THROW(EncodeRaster(broken), std::runtime_error);
    Raster deep = MakeRaster(4, 4, 16);
    EXPECT_THROW(ToRgb24(deep), std::runtime_error);
    EXPECT_THROW(EncodeG4(Raster{}), std::runtime_error);
}

}  // namespace
}  // namespace kvo::image
