// What a file server's administrator expects of the whole chain: it reads the attachments it is
// given inside the mapped shares, writes nothing beside them but its verified results (never
// more readable than their originals), keeps nothing of a client's pages in its work folder,
// and spends a bounded effort on a file it did not make.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <set>
#include "E2eWorld.h"
#include "shared/image/RasterImage.h"
#include "support/PdfAssembly.h"

namespace kvo::test {
namespace {

constexpr int kSecret = 1, kLongName = 2, kOutside = 3, kLinkedOut = 4, kBombInTheWay = 5, kBlank = 6,
              kDestinationTooLong = 7, kBombAttachment = 8;
constexpr gid_t kOtherGroup = 8;

// 249 bytes: the page work files add their labels and endings to such a name.
std::string LongName() {
    std::string name;
    while (name.size() < 243) name += "Ä";
    return name + "n.tif";
}

class Trust : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        outside_ = new ScratchDir("kvo-private");  // before the world points TEMP into itself
        world_ = new E2eWorld("kvo-e2e-trust");
        E2eWorld& w = *world_;
        WriteFile(w.data / "ZRT.ini",
                  "[Database]\r\nProvider=sqlite\r\nDatabase=host.db\r\n[PathMap]\r\nD:\\Docs=" + w.docs.string() + "\r\n");
        const auto add = [&](int id, const std::string& hostPath) { w.addAttachment("DiaryAttachments", id, "TIF", hostPath); };

        const fs::path secret = w.makeG4Tiff("Secret fax.tif", {"ccitt.pdf"}, 100);
        chmod(secret.c_str(), 0640);
        if (chown(secret.c_str(), geteuid(), kOtherGroup) != 0) throw std::runtime_error("cannot give the fax a group");
        add(kSecret, "D:\\Docs\\Secret fax.tif");
        w.makeG4Tiff(LongName(), {"ccitt.pdf"}, 100);
        add(kLongName, "D:\\Docs\\" + LongName());

        // A file outside the share, named by its own path and reached through a link in it.
        image::WriteRasterFile(image::ReadRaster(w.docPath(LongName()).string()).value(),
                               (*outside_ / "secret.tif").string(), image::FileFormat::TiffG4);
        add(kOutside, (*outside_ / "secret.tif").string());
        fs::create_symlink(*outside_ / "secret.tif", w.docPath("Linked.tif"));
        add(kLinkedOut, "D:\\Docs\\Linked.tif");

        // 64 KB at the destination that inflates to 1 GB.
        w.makeG4Tiff("Letter.tif", {"ccitt.pdf"}, 100);
        WriteFile(w.docPath("Letter.PDF"), InflationBombPdf(64u << 20, 16));
        add(kBombInTheWay, "D:\\Docs\\Letter.tif");
        WriteFile(w.docPath("Bomb.pdf"), InflationBombPdf(64u << 20, 16));
        w.addAttachment("DiaryAttachments", kBombAttachment, "PDF", "D:\\Docs\\Bomb.pdf");

        // A page without a word, beside a user's own file of the name the engine's copy once took.
        image::Raster white{.width = 1700, .height = 2200, .bitsPerPixel = 1, .xDpi = 200, .yDpi = 200, .stride = 213,
                            .pixels = std::vector<std::uint8_t>(213 * 2200, 0)};
        image::WriteRasterFile(white, w.docPath("Blank.tif").string(), image::FileFormat::TiffG4);
        WriteFile(w.docPath("Blank.tif.TIFF"), "the user's own file");
        add(kBlank, "D:\\Docs\\Blank.tif");

        // 252 bytes, whose result would take 256.
        std::string longPdf;
        while (longPdf.size() < 248) longPdf += "Ö";
        w.copyDocument(longPdf + ".pdf", "ccitt.pdf");
        w.addAttachment("DiaryAttachments", kDestinationTooLong, "PDF", "D:\\Docs\\" + longPdf + ".pdf");

        docsBefore_ = new std::set<std::string>(Entries(w.docs));
        exitStatus_ = w.runOnce(&report_);
    }
    static void TearDownTestSuite() {
        delete world_;
        delete outside_;
        delete docsBefore_;
    }

    static std::set<std::string> Entries(const fs::path& folder) {
        std::set<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename());
        return names;
    }
    static std::optional<int> status(int id) { return world_->rows().at(id).processed; }
    // The outcome in the report line of the row, with its times; "" when there is none.
    static std::string outcomeOf(int id) {
        const std::string lead = std::to_string(id) + " " + world_->rows("DiaryAttachments").at(id).filePath.value_or("") + ": ";
        const std::size_t at = report_.find(lead);
        return at == std::string::npos ? "" : report_.substr(at + lead.size(), report_.find('\n', at) - at - lead.size());
    }
    // True when the report line of the row begins its outcome with `outcome`.
    static bool reported(int id, const std::string& outcome) { return outcomeOf(id).starts_with(outcome); }

    static E2eWorld* world_;
    static ScratchDir* outside_;
    static std::set<std::string>* docsBefore_;
    static std::string report_;
    static int exitStatus_;
};

E2eWorld* Trust::world_ = nullptr;
ScratchDir* Trust::outside_ = nullptr;
std::set<std::string>* Trust::docsBefore_ = nullptr;
std::string Trust::report_;
int Trust::exitStatus_ = -1;

TEST_F(Trust, AResultIsNoMoreReadableThanItsOriginal) {
    EXPECT_EQ(exitStatus_, 0) << report_;
    ASSERT_EQ(status(kSecret), 2) << report_;
    struct stat result {};
    ASSERT_EQ(stat(world_->docPath("Secret fax.PDF").c_str(), &result), 0);
    EXPECT_EQ(result.st_mode & 07777, 0640u);
    EXPECT_EQ(result.st_gid, kOtherGroup);
}

TEST_F(Trust, ANameNearTheFileSystemLimitIsConverted) {
    EXPECT_EQ(status(kLongName), 2) << report_;
    std::string result = LongName();
    result.replace(result.size() - 4, 4, ".PDF");
    EXPECT_TRUE(fs::exists(world_->docPath(result)));
}

TEST_F(Trust, AResultWhoseNameCouldNotBeMadeIsNotConverted) {
    EXPECT_EQ(status(kDestinationTooLong), 5) << report_;
    EXPECT_TRUE(reported(kDestinationTooLong, "status 5, the destination's name is longer than the file system's 255 bytes"))
        << report_;
}

TEST_F(Trust, NothingOutsideTheSharesIsReadOrWritten) {
    for (int id : {kOutside, kLinkedOut}) EXPECT_EQ(status(id), 5) << report_;
    EXPECT_TRUE(reported(kOutside, "status 5, the attachment lies outside the mapped shares")) << report_;
    EXPECT_EQ(Entries(outside_->path()), std::set<std::string>{"secret.tif"});
}

TEST_F(Trust, AHostilePdfAtTheDestinationCostsABoundedEffortAndStaysThere) {
    EXPECT_EQ(status(kBombInTheWay), 5) << report_;
    EXPECT_TRUE(reported(kBombInTheWay, "status 5, " + world_->docPath("Letter.PDF").string() + " (the inspection of " +
                                            world_->docPath("Letter.PDF").string() +
                                            " needed more than 1024 MB of memory) is in the way; nothing was copied"))
        << report_;
    EXPECT_EQ(ReadFile(world_->docPath("Letter.PDF")), InflationBombPdf(64u << 20, 16));
    // As an attachment, it never reaches the chain, whose programs read it without bounds.
    EXPECT_EQ(status(kBombAttachment), 5) << report_;
    const std::string bomb = world_->docPath("Bomb.pdf").string();
    EXPECT_TRUE(reported(kBombAttachment, "status 5, the inspection of " + bomb + " needed more than 1024 MB of memory ("))
        << report_;
    EXPECT_EQ(outcomeOf(kBombAttachment).find("pipeline"), std::string::npos) << report_;
}

// Beside the attachments lie only the results recorded; in the work folder nothing of a page.
TEST_F(Trust, NothingButVerifiedResultsBesideTheAttachmentsAndNoPageLeftInTheWorkFolder) {
    EXPECT_EQ(status(kBlank), 5) << report_;
    EXPECT_EQ(ReadFile(world_->docPath("Blank.tif.TIFF")), "the user's own file");
    std::set<std::string> expected = *docsBefore_;
    std::string longResult = LongName();
    longResult.replace(longResult.size() - 4, 4, ".PDF");
    expected.insert({"Secret fax.PDF", longResult});
    EXPECT_EQ(Entries(world_->docs), expected);
    for (const std::string& name : world_->tempFiles())
        EXPECT_TRUE(name == "KVOFile.xml" || name == "KVOCurr.xml") << name;
}

}  // namespace
}  // namespace kvo::test
