// A work folder that runs out of space in the middle of a row.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include "E2eWorld.h"
#include "shared/platform/WholeFile.h"

namespace kvo::test {
namespace {

// A small file system mounted over the world's work folder for as long as it lives.
class SmallTemp {
public:
    explicit SmallTemp(const fs::path& folder) : folder_(folder) {
        mounted_ = mount("kvo-small-temp", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "size=4m,mode=0700") == 0;
    }
    ~SmallTemp() {
        if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    fs::path folder_;
    bool mounted_ = false;
};

// A full work folder is the machine's fault: the row stays pending for another attempt.
TEST(DiskFull, AFullWorkFolderEndsTheRowCleanlyAndLeavesItPending) {
    E2eWorld w("kvo-full");
    SmallTemp small(w.temp);
    if (!small.mounted()) GTEST_SKIP() << "cannot mount a small file system over the work folder here (needs root)";
    // Each needs page bitmaps far larger than 4 MB.
    w.addAttachment("DiaryAttachments", 1, "TIF", w.makeG4Tiff("Fax.tif", {"ccitt.pdf"}));
    w.addAttachment("DiaryAttachments", 2, "PDF", w.copyDocument("Scan.pdf", "ccitt.pdf"));
    const std::string fax = ReadFile(w.docPath("Fax.tif")), scan = ReadFile(w.docPath("Scan.pdf"));

    std::string report;
    EXPECT_EQ(w.runOnce(&report), 0) << report;
    const auto rows = w.rows();
    EXPECT_EQ(rows.at(1).processed, 0) << report;
    EXPECT_EQ(rows.at(2).processed, 0) << report;
    EXPECT_NE(report.find("ran out of room"), std::string::npos) << report;
    EXPECT_NE(report.find("left pending for attempt 2"), std::string::npos) << report;
    EXPECT_EQ(ReadFile(w.docPath("Fax.tif")), fax);
    EXPECT_EQ(ReadFile(w.docPath("Scan.pdf")), scan);
    for (const auto& [id, row] : w.rows("DiaryAttachments")) EXPECT_EQ(row.type, id == 1 ? "TIF" : "PDF");
    for (const std::string& name : w.tempFiles()) {
        EXPECT_FALSE(IsOurTemporaryName(name)) << name;
        EXPECT_TRUE(name.find(".bmp") == std::string::npos || name == "KVOOCR.bmp") << name;
        EXPECT_NE(name, "KVOOCR.pdf");
    }
    for (const fs::directory_entry& entry : fs::directory_iterator(w.docs))
        EXPECT_TRUE(entry.path().filename() == "Fax.tif" || entry.path().filename() == "Scan.pdf") << entry.path();
}

}  // namespace
}  // namespace kvo::test
