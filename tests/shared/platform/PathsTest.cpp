#include "shared/platform/Paths.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {
namespace {

using test::EnvVar;
using test::ScratchDir;
namespace fs = std::filesystem;

TEST(TempFolder, IsTheTempVariableWithoutTrailingSlash) {
    EnvVar temp("TEMP", "/some/work/folder/");
    EXPECT_EQ(TempFolder(), "/some/work/folder");
}

TEST(TempFolder, WithoutTempIsAPrivateFolderUnderTmpdir) {
    ScratchDir base;
    EnvVar temp("TEMP", std::nullopt);
    EnvVar tmpdir("TMPDIR", base.str() + "/");
    std::string expected = base.str() + "/kvo-" + std::to_string(geteuid());
    EXPECT_EQ(TempFolder(), expected);
    struct stat info{};
    ASSERT_EQ(stat(expected.c_str(), &info), 0);
    EXPECT_TRUE(S_ISDIR(info.st_mode));
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // A second call finds it again; an opened-up mode is closed again.
    chmod(expected.c_str(), 0777);
    EXPECT_EQ(TempFolder(), expected);
    ASSERT_EQ(stat(expected.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(TempFolder, RefusesAFolderOfAnotherUserOrANonFolder) {
    ScratchDir base;
    EnvVar temp("TEMP", std::nullopt);
    EnvVar tmpdir("TMPDIR", base.str());
    std::string planted = base.str() + "/kvo-" + std::to_string(geteuid());

    test::WriteFile(planted, "not a folder");
    EXPECT_THROW(TempFolder(), std::runtime_error);
    fs::remove(planted);

    fs::create_directory(base / "elsewhere");
    fs::create_directory_symlink(base / "elsewhere", planted);
    EXPECT_THROW(TempFolder(), std::runtime_error);
    fs::remove(planted);

    if (geteuid() == 0) {  // only root can plant a folder owned by someone else
        ASSERT_EQ(mkdir(planted.c_str(), 0777), 0);
        ASSERT_EQ(chown(planted.c_str(), 4242, 4242), 0);
        EXPECT_THROW(TempFolder(), std::runtime_error);
    }
}

TEST(AppFolder, IsTheFolderOfThisTestProgram) {
    std::string folder = AppFolder();
    EXPECT_NE(folder.back(), '/');
    EXPECT_TRUE(fs::exists(fs::path(folder) / "kvo_shared_tests"));
}

TEST(WindowsFolder, IsWindirElseEtcKvo) {
    {
        EnvVar windir("windir", "/opt/win/");
        EXPECT_EQ(WindowsFolder(), "/opt/win");
    }
    EnvVar windir("windir", std::nullopt);
    EXPECT_EQ(WindowsFolder(), "/etc/kvo");
}

}  // namespace
}  // namespace kvo
