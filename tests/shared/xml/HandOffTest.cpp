#include "shared/xml/HandOff.h"

#include "shared/ExitStatus.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/WorkFolders.h"
#include "shared/xml/XmlDocument.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

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
    // A name too long for its page files' suffixes keeps whole characters and gains a digest.
    const std::string longName = std::string(182, 'a') + "é" + std::string(60, 'b');
    const std::string shortened = BaseName("/srv/" + longName + ".tif");
    EXPECT_EQ(shortened.size(), kMostBaseBytes - 1) << "the cut steps back before the two-byte é";
    EXPECT_EQ(shortened.substr(0, 182), std::string(182, 'a'));
    EXPECT_EQ(shortened[182], '~');
    EXPECT_NE(BaseName("/srv/" + longName + "c.tif"), shortened) << "names that begin alike still differ";
    EXPECT_EQ(BaseName("/srv/" + std::string(200, 'x') + ".tif"), std::string(200, 'x'));

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

TEST(HandOffRoom, ADocumentLargerThanTheWholeFolderNeverFitsOneLackingRoomNowIsTheMachines) {
    constexpr std::uint64_t MB = 1 << 20;
    const struct {
        std::uint64_t bytes, runTotal;
        RoomFacts facts;
        Room room;
    } cases[] = {
        {10 * MB, 10 * MB, {.freeBytes = 100 * MB, .totalBytes = 1000 * MB}, Room::Enough},
        {10 * MB, 10 * MB, {.freeBytes = 70 * MB, .totalBytes = 1000 * MB}, Room::LackingNow},  // the margin
        {10 * MB, 10 * MB, {.freeBytes = 100 * MB, .totalBytes = 1000 * MB, .othersToWrite = 30 * MB}, Room::LackingNow},
        {10 * MB, 900 * MB, {.freeBytes = 100 * MB, .totalBytes = 1000 * MB}, Room::Enough},
        {10 * MB, 1001 * MB, {.freeBytes = 1000 * MB, .totalBytes = 1000 * MB}, Room::NeverEnough},
        {163840 * MB, 163840 * MB, {.freeBytes = 50000 * MB, .totalBytes = 100000 * MB}, Room::NeverEnough},
    };
    for (const auto& c : cases) EXPECT_EQ(JudgeRoom(c.bytes, c.runTotal, c.facts), c.room) << c.bytes << " " << c.runTotal;
}

// What other chains on the same TEMP have reserved counts until they have written it, and only
// while their folder is held; this chain's reservations add up over the run.
TEST(HandOffRoom, TheRoomCheckCountsWhatOtherChainsAreAboutToWrite) {
    ScratchDir dir;
    for (const char* folder : {"worker-1", "worker-2", "worker-3"}) std::filesystem::create_directory(dir / folder);
    test::WriteFile(dir / "worker-1" / kRoomReservedName, std::to_string(100 << 20));
    test::WriteFile(dir / "worker-1" / "page1.bmp", "");
    std::filesystem::resize_file(dir / "worker-1" / "page1.bmp", 30 << 20);
    test::WriteFile(dir / "worker-2" / kRoomReservedName, std::to_string(1 << 30));  // its worker died
    test::WriteFile(dir / kRoomReservedName, std::to_string(1 << 30));               // no lone driver runs
    const int held = HoldFolder((dir / "worker-1").string());
    ASSERT_GE(held, 0);
    // 100 MB reserved, 30 MB and the reservation's own nine bytes written.
    EXPECT_EQ(OthersToWrite((dir / "worker-3").string()), (70u << 20) - 9);
    close(held);
    EXPECT_EQ(OthersToWrite((dir / "worker-3").string()), 0u);

    EnvVar temp("TEMP", (dir / "worker-3").string());
    EnsureRoomForPageBitmaps(1 << 20, "page 1");
    EnsureRoomForPageBitmaps(2 << 20, "page 2");
    EXPECT_EQ(ReadFile(dir / "worker-3" / kRoomReservedName), std::to_string(3 << 20));
    try {
        EnsureRoomForPageBitmaps(*TotalBytesIn(dir.str()), "the page bitmaps of Huge.pdf");
        ADD_FAILURE() << "a document larger than the whole file system was taken";
    } catch (const TooLargeForWork& error) {
        EXPECT_NE(std::string(error.what()).find("more than its whole file system holds"), std::string::npos)
            << error.what();
    }
}

TEST(HandOffFileOrder, MissingTempFolderIsAnError) {
    ScratchDir dir;
    EnvVar temp("TEMP", (dir / "gone").string());
    EXPECT_THROW(WriteFileOrder("/srv/a.tif"), xml::XmlError);
}

}  // namespace
}  // namespace kvo::handoff
