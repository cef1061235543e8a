// The raster file wrapper: frames, sizes, pixels and the recorded statuses.
#include <gtest/gtest.h>
#include <utility>
#include <vector>

#include "imagesplit/TestImages.h"
#include "imagesplit/cBitmap.h"
#include "support/TestSupport.h"

namespace kvo {
namespace {

TEST(GdiErrorString, GivesTheTextOfEveryStatus) {
    EXPECT_EQ(GdiErrorString(1), "Generic Error");
    EXPECT_EQ(GdiErrorString(2), "Invalid Parameter");
    EXPECT_EQ(GdiErrorString(7), "Win32 Error");
    EXPECT_EQ(GdiErrorString(10), "File Not Found");
    EXPECT_EQ(GdiErrorString(13), "Unknown Image Format");
    EXPECT_EQ(GdiErrorString(14), "FontFamily Not Found");
    EXPECT_EQ(GdiErrorString(17), "Unsupported Gdiplus Version");
    EXPECT_EQ(GdiErrorString(20), "Property Not Supported");
    EXPECT_EQ(GdiErrorString(0), "Unknown GDI+ Error");
    EXPECT_EQ(GdiErrorString(21), "Unknown GDI+ Error");
    EXPECT_EQ(GdiErrorString(-1), "Unknown GDI+ Error");
}

class BitmapFile : public ::testing::Test {
protected:
    void Listen(cBitmap& bitmap) {
        bitmap.OnError([this](std::int32_t status, const std::string& text) { heard.emplace_back(status, text); });
    }
    test::ScratchDir scratch{"kvo-cbitmap"};
    std::vector<std::pair<std::int32_t, std::string>> heard;
};

TEST_F(BitmapFile, AMultiPageTiffReportsItsPagesAndEachPageItsOwnSize) {
    const std::string path = (scratch / "pages.tif").string();
    image::WriteMultiPageTiff({test::BilevelPage(320, 400, 10), test::BilevelPage(500, 380, 50),
                               test::BlankRaster(260, 360, 8)},
                              path);
    cBitmap bitmap;
    Listen(bitmap);
    EXPECT_EQ(bitmap.LoadFromFile((scratch / "PAGES.TIF").string()), GdiOk);  // found without regard to case
    EXPECT_EQ(bitmap.FrameCount(), 0);  // known only after a selection
    EXPECT_EQ(bitmap.Width(), 320);
    EXPECT_EQ(bitmap.SelectActiveFrame(0, false), GdiOk);
    EXPECT_EQ(bitmap.FrameCount(), 3);

    const std::pair<int, int> sizes[] = {{320, 400}, {500, 380}, {260, 360}};
    for (int frame = 2; frame >= 0; --frame) {
        EXPECT_EQ(bitmap.SelectActiveFrame(frame, false), GdiOk);
        EXPECT_EQ(std::make_pair(bitmap.Width(), bitmap.Height()), sizes[frame]);
        const StdPicture picture = bitmap.Picture();
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, sizes[frame].first);
        EXPECT_EQ(picture->bitsPerPixel, frame == 2 ? 8 : 1);
    }
    EXPECT_EQ(bitmap.CurErr(), GdiOk);
    EXPECT_TRUE(heard.empty());

    // A frame beyond the last: the status is recorded and told, the count and frame stay.
    EXPECT_EQ(bitmap.SelectActiveFrame(3, false), GdiInvalidParameter);
    EXPECT_EQ(bitmap.CurErr(), GdiInvalidParameter);
    ASSERT_EQ(heard.size(), 1u);
    EXPECT_EQ(heard[0], std::make_pair(std::int32_t{2}, std::string("Invalid Parameter")));
    EXPECT_EQ(bitmap.FrameCount(), 3);
    EXPECT_EQ(bitmap.Width(), 320);

    bitmap.Dispose();
    bitmap.Dispose();
    EXPECT_FALSE(bitmap.Picture());
}

TEST_F(BitmapFile, AFileTheLibraryCannotReadHasNoFrames) {
    test::WriteFile(scratch / "broken.tif", std::string("II*\0garbage that is no image", 29));
    test::WriteFile(scratch / "empty.bmp", "");
    for (const char* name : {"broken.tif", "empty.bmp", "missing.tif"}) {
        SCOPED_TRACE(name);
        heard.clear();
        cBitmap bitmap;
        Listen(bitmap);
        const std::int32_t status = bitmap.LoadFromFile((scratch / name).string());
        EXPECT_EQ(status, std::string(name) == "missing.tif" ? GdiFileNotFound : GdiUnknownImageFormat);
        ASSERT_FALSE(heard.empty());
        EXPECT_EQ(heard[0].first, status);
        EXPECT_EQ(heard[0].second, GdiErrorString(status));
        EXPECT_NE(bitmap.SelectActiveFrame(0, false), GdiOk);
        EXPECT_NE(bitmap.CurErr(), GdiOk);
        EXPECT_EQ(bitmap.FrameCount(), 0);
        EXPECT_EQ(bitmap.Width(), 0);
        EXPECT_EQ(bitmap.Height(), 0);
        EXPECT_FALSE(bitmap.Picture());
    }
}

TEST_F(BitmapFile, SingleFrameFormatsHaveOneFrame) {
    image::Raster colour = test::BlankRaster(40, 30, 24);
    test::SetPixel(colour, 3, 4, 200, 100, 50);
    const std::pair<const char*, image::FileFormat> files[] = {
        {"c.bmp", image::FileFormat::Bmp}, {"c.jpg", image::FileFormat::Jpeg}, {"c.gif", image::FileFormat::Gif},
        {"c.png", image::FileFormat::Png}};
    for (const auto& [name, format] : files) {
        SCOPED_TRACE(name);
        image::WriteRasterFile(colour, (scratch / name).string(), format);
        cBitmap bitmap;
        EXPECT_EQ(bitmap.LoadFromFile((scratch / name).string()), GdiOk);
        EXPECT_EQ(bitmap.SelectActiveFrame(0, std::string(name) == "c.gif"), GdiOk);
        EXPECT_EQ(bitmap.FrameCount(), 1);
        EXPECT_EQ(bitmap.Width(), 40);
        EXPECT_EQ(bitmap.Height(), 30);
        ASSERT_TRUE(bitmap.Picture());
    }
}

}  // namespace
}  // namespace kvo
