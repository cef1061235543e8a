#include "shared/xml/HandOff.h"

#include "shared/xml/XmlDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

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

TEST(HandOffNames, PageWorkFilesAreTheBaseNameAPageLabelAndAPageEnding) {
    const struct {
        const char* name;
        bool pageWork;
    } cases[] = {
        {"Scan000000.bmp", true},      {"Scan000012.bmp.xml", true}, {"Scan12.bmp.doc", true},
        {"scan7.BMP", true},           {"SCAN000001.Bmp.XML", true}, {"Scan123456789.bmp", true},
        {"Scan.bmp", false},           {"Scan.pdf", false},          {"Scanner7.bmp", false},
        {"Scan-old.bmp", false},       {"Scan07.bmp", false},        {"Scan0.bmp", false},
        {"Scan1.bmp.bak", false},      {"Scan1.png", false},         {"Scan 1.bmp", false},
        {"Scan00001.bmp", false},      {"Other1.bmp", false},        {"Scan1234567890.bmp", false},
    };
    for (const auto& c : cases) EXPECT_EQ(IsPageWorkFileOf(c.name, "Scan"), c.pageWork) << c.name;
    EXPECT_TRUE(IsPageWorkFileOf("Müller Brief000003.bmp", "MÜLLER BRIEF"));
    EXPECT_TRUE(IsPageWorkFileOf("a*b1.bmp", "a*b"));
    EXPECT_TRUE(IsPageWorkFileOf("Brief 1000000.bmp", "Brief 1"));
    EXPECT_TRUE(IsPageWorkFileOf("Brief 112.bmp.xml", "Brief 1"));
    EXPECT_FALSE(IsPageWorkFileOf("axb1.bmp", "a*b")) << "the base name is literal";
    EXPECT_FALSE(IsPageWorkFileOf("1.bmp", ""));
}

TEST(HandOffWorkFiles, OnlyPageWorkFilesGoAndNeverAnAttachment) {
    ScratchDir dir;
    EnvVar temp("TEMP", dir.str());
    for (const char* name : {"Scan000000.bmp", "Scan000000.bmp.xml", "Scan3.bmp.doc", "Scan000001.bmp",
                             "Scan2.bmp", "Scan.bmp", "Scanner7.bmp", "Scan-old.bmp", "Scan.pdf", "Other1.bmp"})
        test::WriteFile(dir / name, name);
    // Two attachments lie in the work folder under page work names.
    EXPECT_EQ(RemovePageWorkFiles("SCAN", {dir.str() + "/scan000001.BMP", "/elsewhere/Scan.tif", dir.str() + "/Scan2.bmp"}), 3);

    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) left.push_back(entry.path().filename());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"Other1.bmp", "Scan-old.bmp", "Scan.bmp", "Scan.pdf", "Scan000001.bmp",
                                              "Scan2.bmp", "Scanner7.bmp"}));
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
