// The configuration a cycle reads from console.ini and ZRT.ini.
#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST_F(CycleConfiguration, ValuesAreCutTo254CharactersAndQuotedByTheOdbcRule) {
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
                                           ";Initial Catalog={Prac;tice};User Id=pellmoor;Password=7owl3");
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

// Every way of configuring the login, with real password files; no refusal shows the password.
TEST_F(CycleConfiguration, TheLoginComesFromAPrivatePasswordFileOrTheEnvironmentElseTheBuiltInOne) {
    const std::string secret = "s3cr;et}";
    auto passwordFile = [&](const std::string& name, const std::string& content, mode_t mode) {
        WriteFile(data_ / name, content);
        chmod((data_ / name).c_str(), mode);
        return name;
    };
    const std::string good = passwordFile("db.pw", secret + "\r\nsecond line\n", 0600);
    const std::string open = passwordFile("open.pw", secret, 0640);
    const std::string groupWritable = passwordFile("group.pw", secret, 0620);
    const std::string othersWritable = passwordFile("others.pw", secret, 0602);
    const std::string empty = passwordFile("empty.pw", "", 0600);
    struct Case {
        std::string user, file;
        std::optional<std::string> environment;
        std::string user_, password;  // expected; "" password with a refusal
        bool builtIn;
        std::string refusal;          // a part of it
    };
    const Case cases[] = {
        {"", "", std::nullopt, "pellmoor", "7owl3", true, ""},
        {"svc", good, std::nullopt, "svc", secret, false, ""},
        {"svc", data_.str() + "/" + good, "other", "svc", secret, false, ""},
        {"svc", "", secret, "svc", secret, false, ""},
        {"svc", open, std::nullopt, "svc", "", false, "group or others"},
        {"svc", groupWritable, std::nullopt, "svc", "", false, "changed by group or others; allow only its owner"},
        {"svc", othersWritable, std::nullopt, "svc", "", false, "changed by group or others; allow only its owner"},
        {"svc", "absent.pw", std::nullopt, "svc", "", false, "does not exist"},
        {"svc", empty, std::nullopt, "svc", "", false, "holds no password"},
        {"", good, std::nullopt, "", "", false, "names no User"},
        {"", "", secret, "", "", false, "names no User"},
        {"svc", "", std::nullopt, "svc", "", false, "has no password"},
    };
    for (const Case& c : cases) {
        const driver::DbLogin login = driver::LoginFrom(c.user, c.file, data_.str(), c.environment);
        const std::string label = c.user + "/" + c.file + "/" + c.environment.value_or("-");
        EXPECT_EQ(login.user, c.user_) << label;
        EXPECT_EQ(login.password, c.password) << label;
        EXPECT_EQ(login.builtIn, c.builtIn) << label;
        if (c.refusal.empty()) EXPECT_EQ(login.refusal, "") << label;
        else EXPECT_NE(login.refusal.find(c.refusal), std::string::npos) << label << ": " << login.refusal;
        EXPECT_EQ(login.refusal.find(secret), std::string::npos) << label;
    }

    // Through ZRT.ini, with the password file named relative to the data folder.
    writeConsoleIni(data_.str());
    WriteFile(data_ / "ZRT.ini", "[Database]\nServer=h\nDatabase=d\nUser=svc\nPasswordFile=" + good + "\n");
    EXPECT_EQ(ReadCycleConfig().connectionString,
              "Provider=sqloledb;Data Source=h;Initial Catalog=d;User Id=svc;Password={s3cr;et}}}");
}

TEST_F(CycleConfiguration, ClaimHoursAndMaxAttemptsComeFromConsoleIni) {
    WriteFile(windows_ / "console.ini", "[console]\r\nClaimHours=0.5\r\nMaxAttempts=5\r\n");
    auto config = ReadCycleConfig();
    EXPECT_EQ(config.claimHours, 0.5);
    EXPECT_EQ(config.maxAttempts, 5);

    WriteFile(windows_ / "console.ini", "[console]\r\nClaimHours=-1\r\nMaxAttempts=2.5\r\n");
    testing::internal::CaptureStderr();
    config = ReadCycleConfig();
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_EQ(config.claimHours, driver::kDefaultClaimHours);
    EXPECT_EQ(config.maxAttempts, driver::kDefaultMaxAttempts);
    EXPECT_NE(errors.find("ClaimHours=-1"), std::string::npos) << errors;
    EXPECT_NE(errors.find("MaxAttempts=2.5"), std::string::npos) << errors;
}

}  // namespace
}  // namespace kvo::test
