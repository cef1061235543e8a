#include "shared/platform/FileSearch.h"

#include "support/TestSupport.h"

#include <algorithm>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::UnorderedElementsAre;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;
namespace fs = std::filesystem;

std::vector<std::string> Sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

TEST(WildcardMatch, MatchesWholeNamesWithoutRegardToCase) {
    EXPECT_TRUE(WildcardMatch("*.bmp", "Scan000001.BMP"));
    EXPECT_FALSE(WildcardMatch("*.bmp", "Scan000001.bmp.xml"));
    EXPECT_TRUE(WildcardMatch("Scan??????.bmp", "scan000012.bmp"));
    EXPECT_FALSE(WildcardMatch("Scan?.bmp", "Scan.bmp"));
    EXPECT_TRUE(WildcardMatch("*a*b*", "xxAyyBzz"));
    EXPECT_TRUE(WildcardMatch("*", ""));
    EXPECT_TRUE(WildcardMatch("ÄKTE?.PDF", "äkteß.pdf"));
}

class FileSearchTest : public ::testing::Test {
protected:
    ScratchDir dir;
    std::string At(const std::string& name) const { return dir.str() + "/" + name; }
};

TEST_F(FileSearchTest, ResolvesEveryComponentWithoutRegardToCase) {
    fs::create_directories(dir / "Data/Scans");
    WriteFile(dir / "Data/Scans/KVOPdfWrite.pdf", "pdf");
    EXPECT_EQ(ResolveFile(At("data/SCANS/KVOPDFWrite.pdf")), At("Data/Scans/KVOPdfWrite.pdf"));
    EXPECT_TRUE(FileExists(At("DATA/scans/kvopdfwrite.PDF")));
    EXPECT_EQ(FileLength(At("data/scans/KVOPDFWRITE.pdf")), 3);
    EXPECT_THAT(FindFiles(At("data/scans/KVOPDFWrite.pdf")), ElementsAre("KVOPdfWrite.pdf"));
    EXPECT_FALSE(FileExists(At("Data/Scans/missing.pdf")));
    EXPECT_FALSE(FileExists(At("Nowhere/Scans/KVOPdfWrite.pdf")));
    EXPECT_EQ(FileLength(At("missing")), std::nullopt);
}

TEST_F(FileSearchTest, PrefersTheExactNameAmongCaseVariants) {
    WriteFile(dir / "scan.pdf", "lower");
    WriteFile(dir / "SCAN.pdf", "upper");
    EXPECT_EQ(ResolveFile(At("SCAN.pdf")), At("SCAN.pdf"));
    EXPECT_EQ(ResolveFile(At("scan.pdf")), At("scan.pdf"));
    EXPECT_TRUE(ResolveFile(At("Scan.PDF")).has_value());
}

TEST_F(FileSearchTest, FindsOnlyRegularVisibleFiles) {
    WriteFile(dir / ".hidden.pdf", "x");
    fs::create_directory(dir / "folder.pdf");
    ASSERT_EQ(mkfifo(At("pipe.pdf").c_str(), 0600), 0);
    WriteFile(dir / "real.pdf", "x");
    EXPECT_FALSE(FileExists(At(".hidden.pdf")));
    EXPECT_FALSE(FileExists(At("folder.pdf")));
    EXPECT_FALSE(FileExists(At("pipe.pdf")));
    EXPECT_FALSE(FileExists(At("")));
    EXPECT_THAT(FindFiles(At("*.pdf")), ElementsAre("real.pdf"));
    EXPECT_THAT(FindFiles(At("*")), ElementsAre("real.pdf"));
    EXPECT_THAT(FindFiles(At("nothing*.xyz")), IsEmpty());
    EXPECT_THAT(FindFiles(dir.str() + "/no-such-folder/*.pdf"), IsEmpty());
}

TEST_F(FileSearchTest, RelativePathsResolveFromTheCurrentFolder) {
    fs::create_directory(dir / "Sub");
    WriteFile(dir / "Sub/File.TXT", "x");
    auto old = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(ResolveFile("sub/file.txt"), "Sub/File.TXT");
    EXPECT_THAT(FindFiles("*.txt"), IsEmpty());
    EXPECT_THAT(FindFiles("SUB/*.txt"), ElementsAre("File.TXT"));
    fs::current_path(old);
}

TEST_F(FileSearchTest, DeletesByPatternWithALiteralPrefix) {
    // The base name holds a `*`: as a prefix it matches only itself.
    for (const char* name : {"a*b000000.bmp", "A*B000001.BMP", "a*b000000.bmp.xml", "axb000000.bmp",
                             "a*b.pdf", ".a*b000002.bmp"})
        WriteFile(dir / name, "x");
    EXPECT_THAT(Sorted(FindFilesWithPrefix(dir.str(), "a*b", "*.bmp")), ElementsAre("A*B000001.BMP", "a*b000000.bmp"));
    EXPECT_EQ(DeleteFilesWithPrefix(dir.str(), "a*b", "*.bmp"), 2);
    EXPECT_FALSE(fs::exists(dir / "a*b000000.bmp"));
    EXPECT_TRUE(fs::exists(dir / "a*b000000.bmp.xml"));
    EXPECT_TRUE(fs::exists(dir / "axb000000.bmp"));
    EXPECT_TRUE(fs::exists(dir / ".a*b000002.bmp"));
    EXPECT_EQ(DeleteFilesWithPrefix(dir.str(), "a*b", "*.bmp"), 0);
    EXPECT_EQ(DeleteFilesWithPrefix(dir.str() + "/gone", "a*b", "*.bmp"), 0);

    EXPECT_EQ(DeleteFiles(At("*.BMP.XML")), 1);
    EXPECT_EQ(DeleteFiles(At("*.nothing")), 0);
    EXPECT_THAT(Sorted(FindFiles(At("*"))), ElementsAre("a*b.pdf", "axb000000.bmp"));
}

TEST_F(FileSearchTest, DeleteFileTreatsAMissingFileAsDone) {
    WriteFile(dir / "Result.PDF", "x");
    EXPECT_TRUE(DeleteFile(At("result.pdf")));
    EXPECT_FALSE(fs::exists(dir / "Result.PDF"));
    EXPECT_TRUE(DeleteFile(At("result.pdf")));
}

TEST_F(FileSearchTest, RenameNeverOverwrites) {
    WriteFile(dir / "KVOOCR.pdf", "new");
    WriteFile(dir / "Scan.PDF", "old");
    EXPECT_FALSE(RenameFile(At("kvoocr.pdf"), "scan.pdf"));
    EXPECT_EQ(ReadFile(dir / "Scan.PDF"), "old");
    EXPECT_EQ(ReadFile(dir / "KVOOCR.pdf"), "new");
    fs::create_directory(dir / "taken");
    EXPECT_FALSE(RenameFile(At("KVOOCR.pdf"), "TAKEN"));
    EXPECT_FALSE(RenameFile(At("KVOOCR.pdf"), "sub/x.pdf"));
    EXPECT_FALSE(RenameFile(At("missing.pdf"), "x.pdf"));

    EXPECT_TRUE(RenameFile(At("kvoocr.PDF"), "Brief an Müller.pdf"));
    EXPECT_EQ(ReadFile(dir / "Brief an Müller.pdf"), "new");
    EXPECT_FALSE(fs::exists(dir / "KVOOCR.pdf"));
    // A change of case only is allowed.
    EXPECT_TRUE(RenameFile(At("scan.pdf"), "scan.pdf"));
    EXPECT_EQ(ReadFile(dir / "scan.pdf"), "old");
}

TEST_F(FileSearchTest, CopyReplacesWholeAndKeepsTheTargetsName) {
    std::string big(3 << 20, 'x');
    big[12345] = 'y';
    WriteFile(dir / "Source.TIF", big);
    WriteFile(dir / "TARGET.tif", "old");
    CopyFileReplace(At("source.tif"), At("target.tif"));
    EXPECT_EQ(ReadFile(dir / "TARGET.tif"), big);
    EXPECT_FALSE(fs::exists(dir / "target.tif"));
    CopyFileReplace(At("source.tif"), At("new copy.tif"));
    EXPECT_EQ(ReadFile(dir / "new copy.tif"), big);

    EXPECT_THROW(CopyFileReplace(At("missing.tif"), At("other.tif")), std::runtime_error);
    EXPECT_THROW(CopyFileReplace(At("source.tif"), At("no-folder/x.tif")), std::runtime_error);
    fs::create_directory(dir / "folder.tif");
    EXPECT_THROW(CopyFileReplace(At("source.tif"), At("folder.tif")), std::runtime_error);
    // No temporary file is left behind on any path.
    int entries = 0;
    for (auto& entry : fs::directory_iterator(dir.path())) entries += entry.path().filename().string()[0] == '.';
    EXPECT_EQ(entries, 0);
}

TEST_F(FileSearchTest, WriteFileAtomicallyReplacesOrLeavesTheOldFile) {
    WriteFileAtomically(At("KVOCurr.xml"), "<KVO/>");
    EXPECT_EQ(ReadFile(dir / "KVOCurr.xml"), "<KVO/>");
    chmod(At("KVOCurr.xml").c_str(), 0640);
    WriteFileAtomically(At("kvocurr.XML"), "<KVO a=\"1\"/>");
    EXPECT_EQ(ReadFile(dir / "KVOCurr.xml"), "<KVO a=\"1\"/>");
    struct stat info{};
    ASSERT_EQ(stat(At("KVOCurr.xml").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    if (geteuid() != 0) {  // root writes into read-only folders anyway
        chmod(dir.str().c_str(), 0500);
        EXPECT_THROW(WriteFileAtomically(At("KVOCurr.xml"), "lost"), std::runtime_error);
        chmod(dir.str().c_str(), 0700);
        EXPECT_EQ(ReadFile(dir / "KVOCurr.xml"), "<KVO a=\"1\"/>");
    }
    EXPECT_THROW(WriteFileAtomically(At("missing/KVOCurr.xml"), "x"), std::runtime_error);
    EXPECT_THAT(FindFiles(At("*")), ElementsAre("KVOCurr.xml"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace kvo
