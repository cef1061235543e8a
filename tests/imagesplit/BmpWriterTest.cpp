// The page bitmap writer: header fields, file layout, pixel conversion, failures.
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>

#include "imagesplit/TestImages.h"
#include "imagesplit/BmpWriter.h"
#include "support/TestSupport.h"

namespace kvo {
namespace {

using test::BmpFile;
using test::ReadBmp;
namespace fs = std::filesystem;

TEST(BmpLayout, RowsArePaddedToFourBytes) {
    EXPECT_EQ(BmpBytesPerScanLine(1), 4u);
    EXPECT_EQ(BmpBytesPerScanLine(4), 12u);
    EXPECT_EQ(BmpBytesPerScanLine(5), 16u);
    EXPECT_EQ(BmpBytesPerScanLine(2480), 7440u);
    EXPECT_EQ(BmpBytesPerScanLine(2550), 7652u);
}

TEST(BmpLayout, ResolutionInPixelsPerMetre) {
    EXPECT_EQ(PixelsPerMetre(300), 11811);
    EXPECT_EQ(PixelsPerMetre(96), 3780);
    EXPECT_EQ(PixelsPerMetre(72), 2835);
    EXPECT_EQ(PixelsPerMetre(254), 10000);
}

TEST(BmpLayout, HeadersHoldTheFieldsOfABottomUp24BitBitmap) {
    const auto info = BmpInfoHeader(2480, 3508, 300);
    const auto file = BmpFileHeader(26099520);
    std::string bytes(reinterpret_cast<const char*>(file.data()), file.size());
    bytes.append(reinterpret_cast<const char*>(info.data()), info.size());
    test::ScratchDir scratch("kvo-bmp");
    test::WriteFile(scratch / "h.bmp", bytes);
    const BmpFile bmp = ReadBmp((scratch / "h.bmp").string());
    EXPECT_EQ(bmp.fileSize, 26099574u);
    EXPECT_EQ(bmp.dataOffset, 54u);
    EXPECT_EQ(bmp.bytes.substr(6, 4), std::string(4, '\0'));
    EXPECT_EQ(bmp.infoSize, 40u);
    EXPECT_EQ(bmp.width, 2480);
    EXPECT_EQ(bmp.height, 3508);
    EXPECT_EQ(bmp.planes, 1);
    EXPECT_EQ(bmp.bitCount, 24);
    EXPECT_EQ(bmp.compression, 0u);
    EXPECT_EQ(bmp.imageSize, 26099520u);
    EXPECT_EQ(bmp.xPelsPerMeter, 11811);
    EXPECT_EQ(bmp.yPelsPerMeter, 11811);
    EXPECT_EQ(bmp.bytes.substr(46, 8), std::string(8, '\0'));  // colours used, important colours

    const auto unknownResolution = BmpInfoHeader(10, 10, 0);
    EXPECT_EQ(std::string(unknownResolution.begin() + 24, unknownResolution.begin() + 32), std::string(8, '\0'));
}

TEST(DibSection, RefusesSizesItCannotWrite) {
    BmpBitmap dib;
    EXPECT_FALSE(dib.Create(0, 10));
    EXPECT_FALSE(dib.Create(10, -1));
    EXPECT_FALSE(dib.Create(40000, 40000));  // more than the file's 32-bit size field holds
    EXPECT_FALSE(dib.Exists());
    EXPECT_TRUE(dib.Create(3, 2));
    EXPECT_EQ(dib.BytesPerScanLine(), 12u);
}

TEST(DibSection, AnA4PageGivesTheExactFile) {
    test::ScratchDir scratch("kvo-bmp");
    BmpBitmap dib;
    dib.SetDPI(300);
    ASSERT_TRUE(dib.Create(2480, 3508));
    EXPECT_EQ(dib.BytesPerScanLine(), 7440u);
    dib.Bits()[0] = 0x11;  // first byte of the bottom row
    const std::string path = (scratch / "page.bmp").string();
    dib.SavePicture(path);
    const BmpFile bmp = ReadBmp(path);
    EXPECT_EQ(fs::file_size(path), 26099574u);
    EXPECT_EQ(bmp.imageSize, 26099520u);
    EXPECT_EQ(bmp.xPelsPerMeter, 11811);
    EXPECT_EQ(bmp.Pixel(0, 3507)[0], 0x11);
}

TEST(DibSection, OnePixelWideRowsArePaddedWithZeros) {
    test::ScratchDir scratch("kvo-bmp");
    image::Raster column = test::BlankRaster(1, 2, 24);
    test::SetPixel(column, 0, 0, 1, 2, 3);     // top
    test::SetPixel(column, 0, 1, 4, 5, 6);     // bottom
    BmpBitmap dib;
    dib.SetDPI(300);
    dib.CreateFromPicture(std::make_shared<const image::Raster>(column));
    const std::string path = (scratch / "column.bmp").string();
    dib.SavePicture(path);
    const std::string bytes = test::ReadFile(path);
    ASSERT_EQ(bytes.size(), 54u + 8u);
    // Bottom row first, blue-green-red, one pad byte.
    EXPECT_EQ(bytes.substr(54), std::string("\x06\x05\x04\x00\x03\x02\x01\x00", 8));
}

TEST(DibSection, ConversionKeepsEveryPixelAtTwentyFourBitsAndAtThePicturesOwnDepth) {
    // Widths that end inside a byte of the bilevel source, and grey and colour sources.
    test::ScratchDir scratch("kvo-bmp");
    image::Raster bilevel = test::BlankRaster(13, 3, 1);
    image::Raster grey = test::BlankRaster(5, 2, 8);
    image::Raster colour = test::BlankRaster(2, 2, 24);
    test::SetPixel(bilevel, 0, 0, 0, 0, 0);
    test::SetPixel(bilevel, 12, 2, 0, 0, 0);
    test::SetPixel(bilevel, 7, 1, 0, 0, 0);
    test::SetPixel(grey, 4, 1, 77, 0, 0);
    test::SetPixel(colour, 1, 0, 10, 20, 30);

    for (const image::Raster* source : {&bilevel, &grey, &colour}) {
        SCOPED_TRACE(source->bitsPerPixel);
        BmpBitmap dib;
        dib.CreateFromPicture(std::make_shared<const image::Raster>(*source));
        const image::Raster expected = image::ToRgb24(*source);
        for (int y = 0; y < source->height; ++y) {
            const std::uint8_t* row = dib.Bits() + (source->height - 1 - y) * dib.BytesPerScanLine();
            for (int x = 0; x < source->width; ++x) {
                const std::uint8_t* rgb = expected.pixels.data() + y * expected.stride + 3 * x;
                ASSERT_EQ(row[3 * x], rgb[2]) << x << "," << y;
                ASSERT_EQ(row[3 * x + 1], rgb[1]) << x << "," << y;
                ASSERT_EQ(row[3 * x + 2], rgb[0]) << x << "," << y;
            }
            for (std::uint32_t pad = 3 * source->width; pad < dib.BytesPerScanLine(); ++pad) ASSERT_EQ(row[pad], 0);
        }

        // At its own depth the file reads back unchanged through the image library, as the page
        // bitmaps' readers (OCR engine, builder) read it.
        BmpBitmap own;
        own.SetDPI(300);
        own.CreateFromPicture(std::make_shared<const image::Raster>(*source), PixelDepth::Own);
        const std::string path = (scratch / ("own" + std::to_string(source->bitsPerPixel) + ".bmp")).string();
        own.SavePicture(path);
        EXPECT_EQ(fs::file_size(path), own.FileBytes());
        EXPECT_EQ(fs::file_size(path), 54u + 4u * BmpPaletteEntries(source->bitsPerPixel) +
                                           BmpBytesPerScanLine(source->width, source->bitsPerPixel) * source->height);
        const std::optional<image::Raster> back = image::ReadRaster(path);
        ASSERT_TRUE(back);
        ASSERT_EQ(back->bitsPerPixel, source->bitsPerPixel);
        EXPECT_EQ(back->xDpi, 300);
        const std::size_t rowBits = static_cast<std::size_t>(source->width) * source->bitsPerPixel;
        for (int y = 0; y < source->height; ++y)
            for (std::size_t bit = 0; bit < rowBits; ++bit) {
                const auto at = [&](const image::Raster& r) { return (r.pixels[y * r.stride + bit / 8] >> (7 - bit % 8)) & 1; };
                ASSERT_EQ(at(*back), at(*source)) << bit << "," << y;
            }
    }
}

TEST(DibSection, ABilevelCorpusPageGivesEqualChannels) {
    const auto page = image::ReadRaster((test::CorpusDir() / "linn.png").string());
    ASSERT_TRUE(page);
    ASSERT_EQ(page->bitsPerPixel, 1);
    BmpBitmap dib;
    dib.CreateFromPicture(std::make_shared<const image::Raster>(*page));
    ASSERT_EQ(dib.Width(), 2550);
    ASSERT_EQ(dib.Height(), 3300);
    long black = 0, sourceBlack = 0;
    for (int y = 0; y < dib.Height(); ++y) {
        const std::uint8_t* row = dib.Bits() + static_cast<std::size_t>(y) * dib.BytesPerScanLine();
        for (int x = 0; x < dib.Width(); ++x) {
            const std::uint8_t* p = row + 3 * x;
            ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);
            ASSERT_TRUE(p[0] == 0 || p[0] == 255);
            black += p[0] == 0;
        }
    }
    for (std::uint8_t byte : page->pixels) sourceBlack += __builtin_popcount(byte);
    EXPECT_GT(black, 0);
    EXPECT_EQ(black, sourceBlack);  // padding bits of the source rows are 0 (white)
}

TEST(DibSection, AFileThatCannotBeCreatedRaisesSeventeen) {
    test::ScratchDir scratch("kvo-bmp");
    BmpBitmap dib;
    ASSERT_TRUE(dib.Create(4, 4));
    const std::string path = (scratch / "no such folder" / "page.bmp").string();
    try {
        dib.SavePicture(path);
        FAIL() << "no error raised";
    } catch (const DibError& error) {
        EXPECT_EQ(error.number(), 17);
        EXPECT_EQ(error.description(), std::strerror(ENOENT));
        const std::string suffix = ".cDIBSection256";
        ASSERT_GT(error.source().size(), suffix.size());
        EXPECT_EQ(error.source(), "kvo_imagesplit_tests" + suffix);
    }
    EXPECT_FALSE(fs::exists(path));

    // A name that is a folder cannot be replaced: the error, and no leftover beside it.
    fs::create_directory(scratch / "taken.bmp");
    EXPECT_THROW(dib.SavePicture((scratch / "taken.bmp").string()), DibError);
    EXPECT_EQ(std::distance(fs::directory_iterator(scratch.path()), fs::directory_iterator()), 1);
}

TEST(DibSectionSave, SavingTwiceGivesIdenticalFilesAndReplacesOldOnes) {
    test::ScratchDir scratch("kvo-bmp");
    image::Raster page = test::BilevelPage(301, 402, 40);
    BmpBitmap dib;
    dib.SetDPI(300);
    dib.CreateFromPicture(std::make_shared<const image::Raster>(page));
    BmpSaveStage save;
    save.SetColourDepth(BmpSaveStage::kColourDepth24);
    save.SetReductionMethod(0);
    save.Convert(dib);
    dib.ClearUp();  // the save stage holds its own copy
    test::WriteFile(scratch / "SECOND.BMP", std::string(100000, 'x'));
    save.Save((scratch / "first.bmp").string());
    save.Save((scratch / "second.bmp").string());  // replaces SECOND.BMP: names are compared without case
    const std::string first = test::ReadFile(scratch / "first.bmp");
    EXPECT_EQ(first.size(), 54u + 904u * 402u);
    EXPECT_EQ(first, test::ReadFile(scratch / "SECOND.BMP"));
    EXPECT_FALSE(fs::exists(scratch / "second.bmp"));
    EXPECT_EQ(ReadBmp((scratch / "first.bmp").string()).Pixel(300, 45)[1], 0);
}

TEST(DibSectionSave, NothingToSaveIsAnError) {
    test::ScratchDir scratch("kvo-bmp");
    BmpSaveStage save;
    save.SetColourDepth(BmpSaveStage::kColourDepth24);
    EXPECT_THROW(save.Save((scratch / "a.bmp").string()), DibError);
    BmpBitmap empty;
    save.Convert(empty);
    EXPECT_THROW(save.Save((scratch / "a.bmp").string()), DibError);
    EXPECT_THROW(empty.CreateFromPicture(nullptr), DibError);
    EXPECT_FALSE(fs::exists(scratch / "a.bmp"));
}

}  // namespace
}  // namespace kvo
