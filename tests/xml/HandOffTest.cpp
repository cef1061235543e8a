#include "shared/xml/HandOff.h"

#include "shared/xml/XmlDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kvo::handoff {
namespace {

using test::EnvVar;
using test::ReadFile;
using test::ScratchDir;

TEST(HandOffNames, BaseNameAndExtension) {
    EXPECT_EQ(BaseName("/srv/docs/Scan.tif"), "Scan");
    EXPECT_EQ(BaseName("/srv/docs.2024/Scan"), "Scan") << "dots in folder names do not count";
    EXPECT_EQ(BaseName("/srv/a.b.c.PDF"), "a.b.c");
    EXPECT_EQ(BaseName("Scan.tif"), "Scan");
    EXPECT_EQ(BaseName("/srv/.hidden"), "");
    EXPECT_EQ(BaseName("/srv/docs/"), "");
    EXPECT_EQ(BaseName("/srv/D:\\Docs\\Scan.tif"), "D:\\Docs\\Scan") << "a backslash is an ordinary character";
    EXPECT_EQ(BaseName("/srv/Müller Brief.tif"), "Müller Brief");

    EXPECT_EQ(UpperExtension("/srv/docs/Scan.tif"), "TIF");
    EXPECT_EQ(UpperExtension("/srv/docs/Scan.g3n"), "G3N");
    EXPECT_EQ(UpperExtension("/srv/docs.x/Scan"), "");
    EXPECT_EQ(UpperExtension("/srv/a.b.Jpeg"), "JPEG");
    EXPECT_EQ(UpperExtension("/srv/a.tïf"), "TïF");
    EXPECT_EQ(UpperExtension("/srv/a."), "");
}

TEST(HandOffNames, PageAndWorkFileNames) {
    ScratchDir dir;
    EnvVar temp("TEMP", dir.str());
    const std::string t = dir.str();

    EXPECT_EQ(FrameTag(0), "000000");
    EXPECT_EQ(FrameTag(7), "000007");
    EXPECT_EQ(FrameTag(123456), "123456");
    EXPECT_EQ(FrameTag(999999), "999999");

    EXPECT_EQ(InTemp(kCurrentOrderName), t + "/KVOCurr.xml");
    EXPECT_EQ(ImagePageBitmap("Scan", 1), t + "/Scan000001.bmp");
    EXPECT_EQ(PdfPageBitmap("Scan", 12), t + "/Scan12.bmp");
    EXPECT_EQ(LayoutCopyOf(t + "/Scan000001.bmp"), t + "/Scan000001.bmp.xml");
    EXPECT_EQ(PageDocumentOf(t + "/Scan1.bmp"), t + "/Scan1.bmp.doc");
    EXPECT_EQ(FinalResult("Scan"), t + "/Scan.pdf");

    // TEMP is read afresh for every name.
    ScratchDir other;
    EnvVar changed("TEMP", other.str());
    EXPECT_EQ(InTemp(kBuilderPdfName), other.str() + "/KVOOCR.pdf");
}

TEST(HandOffFileOrder, WritesOneFileWithNameThenProcessedAndReplacesTheOldOrder) {
    ScratchDir dir;
    EnvVar temp("TEMP", dir.str());
    const std::string path = "/srv/Akten/Müller, Ærø & \"Söhne\"/Vertrag 1.tif";

    WriteFileOrder("/srv/first.tif");
    WriteFileOrder(path);
    EXPECT_EQ(ReadFile(dir / "KVOFile.xml"),
              "<KVO><File name=\"/srv/Akten/Müller, Ærø &amp; &quot;Söhne&quot;/Vertrag 1.tif\" processed=\"0\"/></KVO>");

    xml::Document order;
    ASSERT_TRUE(order.load(InTemp(kFileOrderName)));
    std::vector<xml::Node> files = order.selectSingleNode("KVO").selectNodes("File");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].attribute("name"), path);
    EXPECT_EQ(files[0].attribute("processed"), "0");
}

TEST(HandOffFileOrder, MissingTempFolderIsAnError) {
    ScratchDir dir;
    EnvVar temp("TEMP", (dir / "gone").string());
    EXPECT_THROW(WriteFileOrder("/srv/a.tif"), xml::XmlError);
}

}  // namespace
}  // namespace kvo::handoff
