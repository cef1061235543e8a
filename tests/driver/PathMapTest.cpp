#include <gtest/gtest.h>

#include "driver/PathMap.h"
#include "support/TestSupport.h"

namespace kvo::driver {
namespace {

const PathMapEntries kMap = {
    {"D:\\Docs", "/srv/docs"},
    {"D:\\Docs\\Archive\\", "/mnt/archive/"},
    {"\\\\fileserver\\scans", "/mnt/scans"},
    {"E:\\", "/srv/e"},
};

TEST(PathMapTranslation, HostPathsBecomeLocalByTheLongestPrefixIgnoringCase) {
    EXPECT_EQ(ToLocalPath(kMap, "D:\\Docs\\Smith\\Scan.tif"), "/srv/docs/Smith/Scan.tif");
    EXPECT_EQ(ToLocalPath(kMap, "d:\\DOCS\\Scan.tif"), "/srv/docs/Scan.tif");
    EXPECT_EQ(ToLocalPath(kMap, "D:\\Docs\\Archive\\2019\\Old.pdf"), "/mnt/archive/2019/Old.pdf");
    EXPECT_EQ(ToLocalPath(kMap, "\\\\FileServer\\Scans\\O'Brien.tif"), "/mnt/scans/O'Brien.tif");
    EXPECT_EQ(ToLocalPath(kMap, "E:\\Letter.pdf"), "/srv/e/Letter.pdf");
    EXPECT_EQ(ToLocalPath(kMap, "D:/Docs/Forward/Slashes.tif"), "/srv/docs/Forward/Slashes.tif");
}

TEST(PathMapTranslation, PrefixesMatchWholeComponentsOnly) {
    EXPECT_EQ(ToLocalPath(kMap, "D:\\Docs2\\Scan.tif"), "D:\\Docs2\\Scan.tif");
    EXPECT_EQ(ToLocalPath(kMap, "/already/local/Scan.tif"), "/already/local/Scan.tif");
    EXPECT_EQ(ToLocalPath({}, "D:\\Docs\\Scan.tif"), "D:\\Docs\\Scan.tif");
}

TEST(PathMapTranslation, MissingTargetFoldersAreListed) {
    test::ScratchDir dir;
    const PathMapEntries map = {{"D:\\Docs", dir.str()}, {"\\\\nas\\gone", dir.str() + "/not-mounted"}};
    const PathMapEntries missing = MissingTargets(map);
    ASSERT_EQ(missing.size(), 1u);
    EXPECT_EQ(missing[0].first, "\\\\nas\\gone");
    EXPECT_TRUE(MissingTargets({}).empty());
}

}  // namespace
}  // namespace kvo::driver
