// Translation of the connection string into ODBC keywords, and the choice of the store.
#include <gtest/gtest.h>

#include "driver/Config.h"
#include "driver/store/DbConnection.h"
#include "driver/store/OdbcConnectionString.h"

namespace kvo::driver {
namespace {

const DbLogin kBuiltIn = LoginFrom("", "", "", std::nullopt);

std::string Translated(const std::string& server, const std::string& database, const std::string& odbcDriver = "") {
    return TranslateConnectionString(BuildConnectionString(server, database, kBuiltIn), odbcDriver).connectionString;
}

TEST(ConnectionString, TheServerFormsBecomeFreeTdsKeywords) {
    EXPECT_EQ(Translated("dbhost", "Practice"),
              "Driver={FreeTDS};Server=dbhost;Database=Practice;UID=pellmoor;PWD=7owl3;ClientCharset=UTF-8;"
              "TDS_Version=7.4");
    EXPECT_EQ(Translated("dbhost\\SQLEXPRESS", "Practice"),
              "Driver={FreeTDS};Server=dbhost\\SQLEXPRESS;Database=Practice;UID=pellmoor;PWD=7owl3;"
              "ClientCharset=UTF-8;TDS_Version=7.4");
    EXPECT_EQ(Translated("10.0.0.5, 1444", "Practice"),
              "Driver={FreeTDS};Server=10.0.0.5;Port=1444;Database=Practice;UID=pellmoor;PWD=7owl3;"
              "ClientCharset=UTF-8;TDS_Version=7.4");
    // A port wins over an instance name.
    EXPECT_EQ(Translated("dbhost\\SQLEXPRESS,1444", "P"),
              "Driver={FreeTDS};Server=dbhost;Port=1444;Database=P;UID=pellmoor;PWD=7owl3;ClientCharset=UTF-8;"
              "TDS_Version=7.4");
}

TEST(ConnectionString, EmptyValuesStayEmptyAndOddValuesReachTheDriverWhole) {
    EXPECT_EQ(Translated("", ""),
              "Driver={FreeTDS};Server=;Database=;UID=pellmoor;PWD=7owl3;ClientCharset=UTF-8;TDS_Version=7.4");
    const OdbcTarget target = TranslateConnectionString(BuildConnectionString("db;host", "Pr;act}ice", kBuiltIn), "");
    EXPECT_EQ(target.server, "db;host");
    EXPECT_EQ(target.database, "Pr;act}ice");
    EXPECT_EQ(target.connectionString,
              "Driver={FreeTDS};Server={db;host};Database={Pr;act}}ice};UID=pellmoor;PWD=7owl3;ClientCharset=UTF-8;"
              "TDS_Version=7.4");
}

// A value that could end early and add a key of its own (a password file's line above all)
// reaches the driver whole, in braces.
TEST(ConnectionString, NoValueCanAddAKeyOfItsOwn) {
    struct Case {
        std::string password, braced;
    };
    const Case cases[] = {
        {"S3cretPw;Data Source=x", "{S3cretPw;Data Source=x}"},
        {"pw}x;Server=evil", "{pw}}x;Server=evil}"},
        {"{pw}", "{{pw}}}"},
        {" pw ", "{ pw }"},
        {"p=w", "p=w"},
    };
    for (const Case& c : cases) {
        const OdbcTarget target =
            TranslateConnectionString(BuildConnectionString("dbhost", "Practice", {"svc", c.password, false, ""}), "");
        EXPECT_EQ(target.server, "dbhost") << c.password;
        EXPECT_EQ(target.password, c.password);
        EXPECT_EQ(target.connectionString, "Driver={FreeTDS};Server=dbhost;Database=Practice;UID=svc;PWD=" + c.braced +
                                               ";ClientCharset=UTF-8;TDS_Version=7.4");
    }
}

TEST(ConnectionString, ZrtIniMayNameAnotherDriver) {
    EXPECT_EQ(Translated("h", "d", "ODBC Driver 18 for SQL Server"),
              "Driver={ODBC Driver 18 for SQL Server};Server=h;Database=d;UID=pellmoor;PWD=7owl3;ClientCharset=UTF-8");
    EXPECT_NE(Translated("h", "d", "freetds").find(";TDS_Version=7.4"), std::string::npos);
}

TEST(ConnectionString, TheProviderChoosesTheStore) {
    CycleConfig config;
    config.connectionString = BuildConnectionString("h", "d", kBuiltIn);
    EXPECT_TRUE(MakeConnection(config)->isSqlServer());
    config.provider = "SQLOLEDB";
    EXPECT_TRUE(MakeConnection(config)->isSqlServer());
    config.provider = "SQLite";
    config.database = "host.db";
    EXPECT_FALSE(MakeConnection(config)->isSqlServer());
    config.provider = "msdasql";
    try {
        MakeConnection(config);
        FAIL();
    } catch (const DbError& error) {
        EXPECT_NE(std::string(error.what()).find("msdasql"), std::string::npos);
    }
}

}  // namespace
}  // namespace kvo::driver
