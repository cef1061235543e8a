// The clean-up after the builder, on real files in a private TEMP.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "pipeline/KVOProcessSlidesMod.h"
#include "support/TestSupport.h"

namespace kvo::test {
namespace {

using ::testing::ElementsAre;

class CleanUpTest : public ::testing::Test {
protected:
    void Create(std::initializer_list<const char*> names) {
        for (const char* name : names) WriteFile(temp_ / name, name);
    }
    std::vector<std::string> Left() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(temp_.path())) names.push_back(entry.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

    ScratchDir temp_{"kvo-cleanup"};
    EnvVar tempVar_{"TEMP", temp_.str()};
};

TEST_F(CleanUpTest, PageWorkFilesGoWithoutRegardToCaseAndTheResultTakesTheBaseName) {
    Create({"Scan1.bmp", "Scan1.bmp.xml", "Scan1.bmp.doc", "scan000002.BMP", "Scanner7.bmp", "Scanner7.bmp.xml",
            "Other1.bmp", "Other1.bmp.xml", "Scan1.png", "KVOOCR.bmp", "KVOOCR.tif", "KVORoom.txt", "KVOOCR.mdi",
            "KVOOCR.mdi.xml", "KVOOCR.pdf", "KVOOCR.doc", "KVOCurr.xml"});
    KVOProcessSlidesMod::CleanUp("Scan", "/docs/Scan.tif");

    // Scanner7 only shares the prefix: another attachment's file. Nothing of the client's pages
    // stays: not the last page's picture, not the engine's copy of the attachment.
    EXPECT_THAT(Left(), ElementsAre("KVOCurr.xml", "Other1.bmp", "Other1.bmp.xml", "Scan.pdf", "Scan1.png",
                                    "Scanner7.bmp", "Scanner7.bmp.xml"));
    EXPECT_EQ(ReadFile(temp_ / "Scan.pdf"), "KVOOCR.pdf");
}

TEST_F(CleanUpTest, WildcardCharactersInTheBaseNameMatchOnlyThemselves) {
    Create({"a*b1.bmp", "axb1.bmp", "a?c1.bmp.xml", "abc1.bmp.xml"});
    KVOProcessSlidesMod::CleanUp("a*b", "/docs/a*b.pdf");
    KVOProcessSlidesMod::CleanUp("a?c", "/docs/a?c.pdf");
    EXPECT_THAT(Left(), ElementsAre("abc1.bmp.xml", "axb1.bmp"));
}

TEST_F(CleanUpTest, TheRenameNeverOverwritesAnExistingResultAndTheLaterStepsStillRun) {
    WriteFile(temp_ / "Scan.PDF", "earlier result");
    WriteFile(temp_ / "KVOOCR.pdf", "new result");
    Create({"KVOOCR.doc", "Scan1.bmp"});
    KVOProcessSlidesMod::CleanUp("Scan", "/docs/Scan.tif");

    EXPECT_THAT(Left(), ElementsAre("KVOOCR.pdf", "Scan.PDF"));
    EXPECT_EQ(ReadFile(temp_ / "Scan.PDF"), "earlier result");
    EXPECT_EQ(ReadFile(temp_ / "KVOOCR.pdf"), "new result");
}

}  // namespace
}  // namespace kvo::test
