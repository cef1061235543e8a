// A work folder that runs out of space in the middle of a row, and one that could never hold a
// document's pages.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include "E2eWorld.h"
#include "shared/platform/WholeFile.h"

namespace kvo::test {
namespace {

// A small file system mounted over the world's work folder for as long as it lives.
class SmallTemp {
public:
    SmallTemp(const fs::path& folder, const std::string& size) : folder_(folder) {
        mounted_ = mount("kvo-small-temp", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                         ("size=" + size + ",mode=0700").c_str()) == 0;
    }
    ~SmallTemp() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    fs::path folder_;
    bool mounted_ = false;
};

// Nothing of a row is left behind in the work folder or beside the attachments, and the
// originals and host rows are as they were.
void ExpectNothingChanged(const E2eWorld& w, const std::map<std::string, std::string>& originals) {
    for (const auto& [name, content] : originals) EXPECT_EQ(ReadFile(w.docPath(name)), content) << name;
    for (const auto& [id, row] : w.rows("DiaryAttachments"))
        EXPECT_TRUE(originals.count(fs::path(row.filePath.value_or("")).filename())) << id;
    for (const std::string& name : w.tempFiles()) {
        EXPECT_FALSE(IsOurTemporaryName(name)) << name;
        EXPECT_EQ(name.find(".bmp"), std::string::npos) << name;
        EXPECT_NE(name, "KVOOCR.pdf");
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(w.docs))
        EXPECT_TRUE(originals.count(entry.path().filename())) << entry.path();
}

// A full work folder that could hold the pages once emptied is the machine's fault: the row
// stays pending for another attempt.
TEST(DiskFull, AFullWorkFolderEndsTheRowCleanlyAndLeavesItPending) {
    E2eWorld w("kvo-full");
    SmallTemp small(w.temp, "128m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system over the work folder here (needs root)";
    WriteFile(w.temp / "ballast", std::string(125u << 20, 'x'));  // about 3 MB stay free
    w.addAttachment("DiaryAttachments", 1, "TIF", w.makeG4Tiff("Fax.tif", {"ccitt.pdf"}));
    w.addAttachment("DiaryAttachments", 2, "PDF", w.copyDocument("Scan.pdf", "ccitt.pdf"));
    const std::map<std::string, std::string> originals{{"Fax.tif", ReadFile(w.docPath("Fax.tif"))},
                                                       {"Scan.pdf", ReadFile(w.docPath("Scan.pdf"))}};

    std::string report;
    EXPECT_EQ(w.runOnce(&report), 0) << report;
    const auto rows = w.rows();
    EXPECT_EQ(rows.at(1).processed, 0) << report;
    EXPECT_EQ(rows.at(2).processed, 0) << report;
    EXPECT_NE(report.find("ran out of room"), std::string::npos) << report;
    EXPECT_NE(report.find("left pending for attempt 2"), std::string::npos) << report;
    ExpectNothingChanged(w, originals);
}

// Page bitmaps larger than the whole work folder can never be made there: the document's fault,
// for good, with the reason, at once.
TEST(DiskFull, PagesLargerThanTheWholeWorkFolderAreTheDocumentsFault) {
    E2eWorld w("kvo-too-large");
    SmallTemp small(w.temp, "4m");
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system over the work folder here (needs root)";
    // Its one page takes 8 MB as a grey bitmap at 300 dpi.
    w.addAttachment("DiaryAttachments", 1, "PDF", w.copyDocument("Scan.pdf", "ccitt.pdf"));
    const std::map<std::string, std::string> originals{{"Scan.pdf", ReadFile(w.docPath("Scan.pdf"))}};

    std::string report;
    EXPECT_EQ(w.runOnce(&report), 0) << report;
    EXPECT_EQ(w.rows().at(1).processed, 5) << report;
    EXPECT_NE(report.find("status 5, its page bitmaps could never fit in the work folder " + w.temp.string()),
              std::string::npos)
        << report;
    ExpectNothingChanged(w, originals);
}

}  // namespace
}  // namespace kvo::test
