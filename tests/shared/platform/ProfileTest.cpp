#include "shared/platform/Profile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kvo {
namespace {

using test::ScratchDir;
using test::WriteFile;

TEST(GetIniString, GivesTheValueOrEmptyText) {
    ScratchDir dir;
    std::string file = dir.str() + "/ZRT.ini";
    WriteFile(file,
              "; the data base\n"
              "[Other]\nServer=wrong\n"
              "[ Database ]\n"
              "  Server  =  SQL01\\OFFICE  \n"
              ";Database=commented\n"
              "Quoted=\"  spaced  \"\n"
              "Semi=a;b\n"
              "Empty=\n"
              "novalue\n"
              "[database]\nDatabase=second section is not read\n");
    EXPECT_EQ(GetIniString("Database", "Server", file), "SQL01\\OFFICE");
    EXPECT_EQ(GetIniString("DATABASE", "server", file), "SQL01\\OFFICE");
    EXPECT_EQ(GetIniString("Database", "Quoted", file), "  spaced  ");
    EXPECT_EQ(GetIniString("Database", "Semi", file), "a;b");
    EXPECT_EQ(GetIniString("Database", "Empty", file), "");
    EXPECT_EQ(GetIniString("Database", "Database", file), "");
    EXPECT_EQ(GetIniString("Database", "novalue", file), "");
    EXPECT_EQ(GetIniString("Missing", "Server", file), "");
    EXPECT_EQ(GetIniString("Database", "Server", dir.str() + "/missing.ini"), "");
    EXPECT_EQ(GetIniString("Database", "Server", dir.str()), "");
    // The file name itself is found without regard to case.
    EXPECT_EQ(GetIniString("Database", "Server", dir.str() + "/zrt.INI"), "SQL01\\OFFICE");
}

TEST(GetIniString, CutsLongValuesTo254Characters) {
    ScratchDir dir;
    std::string file = dir.str() + "/console.ini";
    std::string value(300, 'p');
    value[253] = 'L';
    // 127 two-byte letters and one more: the cut falls inside the last one and steps back.
    std::string umlauts;
    for (int i = 0; i < 128; ++i) umlauts += "ü";
    WriteFile(file, "[console]\nPath=" + value + "\nWide=" + umlauts + "\n");
    std::string read = GetIniString("console", "Path", file);
    EXPECT_EQ(read.size(), 254u);
    EXPECT_EQ(read, value.substr(0, 254));
    EXPECT_EQ(GetIniString("console", "Wide", file), umlauts.substr(0, 254));
}

TEST(GetIniString, AcceptsFilesWrittenOnWindows) {
    ScratchDir dir;
    std::string file = dir.str() + "/console.ini";
    WriteFile(file, "\xEF\xBB\xBF[console]\r\nPath=D:\\Data\\\r\nOther=x\r\n");
    EXPECT_EQ(GetIniString("console", "Path", file), "D:\\Data\\");
    EXPECT_EQ(GetIniString("Console", "OTHER", file), "x");
}

TEST(IniSectionEntries, KeysAndValuesAreTrimmedAndOnlyTheFirstSectionCounts) {
    const auto entries = IniSectionEntries("[a]\nx=1\n[B]\r\n  k =  v = w \r\nno equals\n=empty key\n[b]\ny=2\n", "b");
    EXPECT_EQ(entries, (IniEntries{{"k", "v = w"}}));
    EXPECT_TRUE(IniSectionEntries("", "b").empty());
}

}  // namespace
}  // namespace kvo
