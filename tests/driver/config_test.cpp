// The configuration a cycle reads from console.ini and ZRT.ini.
#include <gtest/gtest.h>

#include "driver/Config.h"
#include "shared/platform/Paths.h"
#include "support/TestSupport.h"

namespace kvo::test {
namespace {

using driver::ReadCycleConfig;

class CycleConfiguration : public ::testing::Test {
protected:
    void writeConsoleIni(const std::string& dataPath) {
        WriteFile(windows_ / "console.ini", "[console]\r\nPath=" + dataPath + "\r\n");
    }

    ScratchDir windows_{"kvo-windir"};
    ScratchDir data_{"kvo-data"};
    EnvVar windir_{"windir", windows_.str()};
};

TEST_F(CycleConfiguration, WithoutConsoleIniTheApplicationFolderHoldsZrtIni) {
    EXPECT_EQ(ReadCycleConfig().dataFolder, AppFolder());
    writeConsoleIni("");
    EXPECT_EQ(ReadCycleConfig().dataFolder, AppFolder());
}

TEST_F(CycleConfiguration, OneTrailingSeparatorIsRemovedAndOnlyOne) {
    WriteFile(data_ / "ZRT.ini", "[Database]\nServer=dbhost\nDatabase=Practice\n");
    writeConsoleIni(data_.str() + "/");
    auto config = ReadCycleConfig();
    EXPECT_EQ(config.dataFolder, data_.str());
    EXPECT_EQ(config.server, "dbhost");

    // A doubled separator keeps one of them; the profile path then has "//" before ZRT.ini,
    // which still names the same file.
    writeConsoleIni(data_.str() + "//");
    config = ReadCycleConfig();
    EXPECT_EQ(config.dataFolder, data_.str() + "/");
    EXPECT_EQ(config.database, "Practice");
    EXPECT_EQ(driver::DataFolderFrom("/", "/app"), "");
}

TEST_F(CycleConfiguration, ZrtIniWithoutADatabaseSectionLeavesServerAndDatabaseEmpty) {
    WriteFile(data_ / "ZRT.ini", "[Other]\nServer=elsewhere\n");
    writeConsoleIni(data_.str());
    auto config = ReadCycleConfig();
    EXPECT_EQ(config.server, "");
    EXPECT_EQ(config.database, "");
    EXPECT_EQ(config.provider, "");
    EXPECT_EQ(config.connectionString,
              "Provider=sqloledb;Data Source=;Initial Catalog=;User Id=pellmoor;Password=7owl3");
}

TEST_F(CycleConfiguration, ValuesAreCutTo254CharactersAndPlacedUnchanged) {
    const std::string longName(300, 's');
    WriteFile(data_ / "ZRT.ini", "\xEF\xBB\xBF[database]\r\nserver=" + longName +
                                     "\r\nDatabase=Prac;tice\r\nProvider=sqlite\r\nDriver=FreeTDS 1\r\n");
    writeConsoleIni(data_.str());
    auto config = ReadCycleConfig();
    EXPECT_EQ(config.server, std::string(254, 's'));
    EXPECT_EQ(config.database, "Prac;tice");
    EXPECT_EQ(config.provider, "sqlite");
    EXPECT_EQ(config.odbcDriver, "FreeTDS 1");
    EXPECT_EQ(config.connectionString, "Provider=sqloledb;Data Source=" + std::string(254, 's') +
                                           ";Initial Catalog=Prac;tice;User Id=pellmoor;Password=7owl3");
}

TEST_F(CycleConfiguration, ThePathMapIsReadInFileOrderAndAfreshEachCycle) {
    writeConsoleIni(data_.str());
    WriteFile(data_ / "ZRT.ini",
              "[Database]\nServer=s\n[PathMap]\n; host share\nD:\\Docs = /srv/docs\n\\\\fs\\scans\\=/mnt/scans/\n"
              "C:\\=/srv/c\n[Later]\nX:\\=/nowhere\n");
    auto config = ReadCycleConfig();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"D:\\Docs", "/srv/docs"}, {"\\\\fs\\scans\\", "/mnt/scans/"}, {"C:\\", "/srv/c"}};
    EXPECT_EQ(config.pathMap, expected);

    WriteFile(data_ / "ZRT.ini", "[Database]\nServer=t\n");
    config = ReadCycleConfig();
    EXPECT_EQ(config.server, "t");
    EXPECT_TRUE(config.pathMap.empty());
}

TEST(IniSection, KeysAndValuesAreTrimmedAndLinesWithoutEqualsSkipped) {
    const auto entries = driver::ParseIniSection("[a]\nx=1\n[B]\r\n  k =  v = w \r\nno equals\n=empty key\n", "b");
    EXPECT_EQ(entries, (std::vector<std::pair<std::string, std::string>>{{"k", "v = w"}}));
    EXPECT_TRUE(driver::ParseIniSection("", "b").empty());
}

}  // namespace
}  // namespace kvo::test
