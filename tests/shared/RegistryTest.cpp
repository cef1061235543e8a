#include "shared/clsRegistry.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

namespace kvo {
namespace {

namespace fs = std::filesystem;
using test::EnvVar;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

const std::string kGsKeyLine =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GPL Ghostscript Lite_is1]";

// What the Windows registry editor writes: UTF-16LE with a byte-order mark, CR LF line ends.
std::string Utf16Export(const std::string& asciiText) {
    std::string out = "\xFF\xFE";
    for (char c : asciiText) {
        out += c;
        out += '\0';
    }
    return out;
}

std::string LastSource(const std::function<void()>& action, std::int32_t& number, std::string& description) {
    try {
        action();
    } catch (const RegistryError& error) {
        number = error.number();
        description = error.description();
        return error.source();
    }
    return "<nothing raised>";
}

clsRegistry At(const fs::path& hive, std::int32_t root, const std::string& section, const std::string& value = "") {
    clsRegistry registry(hive.string());
    registry.ClassKey = root;
    registry.SectionKey = section;
    registry.ValueKey = value;
    return registry;
}

TEST(Registry, GhostscriptFolderFromAHiveFileAsTheRegistryEditorWritesIt) {
    ScratchDir windows;
    EnvVar windir("windir", windows.str());
    EnvVar path("PATH", "/nonexistent");
    WriteFile(windows / "registry.reg",
              Utf16Export("Windows Registry Editor Version 5.00\r\n\r\n" + kGsKeyLine +
                          "\r\n\"DisplayName\"=\"GPL Ghostscript Lite 8.64\"\r\n"
                          "\"Inno Setup: App Path\"=\"C:\\\\Program Files\\\\gs \\\"lite\\\"\"\r\n\r\n"));
    EXPECT_EQ(GhostscriptFolder(), "C:\\Program Files\\gs \"lite\"");

    // An empty folder value, or no key at all, gives "".
    WriteFile(windows / "registry.reg", "Windows Registry Editor Version 5.00\n\n" + kGsKeyLine + "\n\"Inno Setup: App Path\"=\"\"\n");
    EXPECT_EQ(GhostscriptFolder(), "");
    WriteFile(windows / "registry.reg", "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n");
    EXPECT_EQ(GhostscriptFolder(), "");
}

TEST(Registry, WithoutAHiveFileGhostscriptOnPathIsTheInstallation) {
    ScratchDir windows;
    ScratchDir bin;
    ScratchDir empty;
    EnvVar windir("windir", windows.str());
    WriteFile(bin / "gs", "#!/bin/sh\n");

    {
        EnvVar path("PATH", empty.str() + ":" + bin.str() + "/");
        EXPECT_EQ(GhostscriptFolder(), "") << "a gs that cannot be run does not count";
        fs::permissions(bin / "gs", fs::perms::owner_all);
        EXPECT_EQ(GhostscriptFolder(), bin.str());
        clsRegistry registry;
        registry.ClassKey = HKEY_LOCAL_MACHINE_VALUE;
        registry.SectionKey = "SOFTWARE\\Microsoft\\Windows";
        EXPECT_TRUE(registry.KeyExists()) << "the parents of the key exist too";
    }
    {
        EnvVar path("PATH", empty.str());
        EXPECT_EQ(GhostscriptFolder(), "");
        clsRegistry registry;
        registry.ClassKey = HKEY_LOCAL_MACHINE_VALUE;
        registry.SectionKey = kGhostscriptUninstallKey;
        EXPECT_FALSE(registry.KeyExists());
        registry.ValueKey = kGhostscriptAppPathValue;
        EXPECT_TRUE(std::holds_alternative<std::monostate>(registry.Value()));
    }
    EXPECT_FALSE(fs::exists(windows / "registry.reg")) << "reading never creates the hive";
}

TEST(Registry, ValuesReadByTheirType) {
    ScratchDir dir;
    EnvVar home("KVO_REG_TEST_DIR", "/srv/kvo");
    const fs::path hive = dir / "registry.reg";
    WriteFile(hive,
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; a comment\r\n"
              "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kvo\\Settings]\r\n"
              "@=\"the default\"\r\n"
              "\"Text\"=\"Müller \\\\ Söhne\"\r\n"
              "\"Count\"=dword:0000002a\r\n"
              "\"Negative\"=dword:ffffffff\r\n"
              "\"Blob\"=hex:de,ad,\\\r\n"
              "  be,ef\r\n"
              "\"Expand\"=hex(2):25,00,4b,00,56,00,4f,00,5f,00,52,00,45,00,47,00,5f,00,54,00,45,00,53,00,54,00,5f,00,44,\\\r\n"
              "  00,49,00,52,00,25,00,2f,00,25,00,4e,00,4f,00,5f,00,53,00,55,00,43,00,48,00,25,00,00,00\r\n"
              "\"Big\"=hex(5):00,00,01,02\r\n"
              "\"List\"=hex(7):61,00,00,00,62,00,63,00,00,00,00,00\r\n"
              "\"Quad\"=hex(b):01,00,00,00,00,00,00,00\r\n"
              "\"NoTerminator\"=hex(1):41,00,42,00\r\n");

    clsRegistry reg = At(hive, HKEY_LOCAL_MACHINE_VALUE, "software\\KVO\\settings");
    EXPECT_TRUE(reg.KeyExists()) << "key names ignore case";
    EXPECT_EQ(std::get<std::string>(reg.Value()), "the default");
    EXPECT_EQ(reg.ValueType, 1);
    reg.ValueKey = "text";
    EXPECT_EQ(std::get<std::string>(reg.Value()), "Müller \\ Söhne") << "stored with its terminator, read without";
    reg.ValueKey = "Count";
    EXPECT_EQ(std::get<std::int32_t>(reg.Value()), 42);
    EXPECT_EQ(reg.ValueType, 4);
    reg.ValueKey = "Negative";
    EXPECT_EQ(reg.ValueText(), "-1");
    reg.ValueKey = "Blob";
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(reg.Value()), (std::vector<std::uint8_t>{0xde, 0xad, 0xbe, 0xef}));
    EXPECT_EQ(reg.ValueType, 3);
    reg.ValueKey = "Expand";
    EXPECT_EQ(std::get<std::string>(reg.Value()), "/srv/kvo/%NO_SUCH%");
    EXPECT_EQ(reg.ValueType, 2);
    reg.ValueKey = "Big";
    EXPECT_EQ(std::get<std::int32_t>(reg.Value()), 0x0102);
    EXPECT_EQ(reg.ValueType, 5);
    reg.ValueKey = "List";
    EXPECT_EQ(std::get<std::string>(reg.Value()), std::string("a\0bc\0", 5));
    reg.ValueKey = "Quad";
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(reg.Value()).size(), 8u);
    EXPECT_EQ(reg.ValueType, 11);
    reg.ValueKey = "NoTerminator";
    EXPECT_EQ(reg.ValueText(), "AB") << "no character is lost when the terminator is missing";

    // Absent values and keys read as Default, which is empty unless set; nothing raises.
    reg.ValueType = 0;
    reg.ValueKey = "Missing";
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reg.Value()));
    EXPECT_EQ(reg.ValueType, 0);
    reg.Default = std::string("fallback");
    EXPECT_EQ(reg.ValueText(), "fallback");
    reg.SectionKey = "SOFTWARE\\Kvo\\Nothing";
    reg.ValueKey = "Count";
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_EQ(reg.ValueText(), "fallback");
    reg.ClassKey = 12345;
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_EQ(reg.ValueText(), "fallback");

    EXPECT_EQ(reg.GetRegistrySetting(HKEY_LOCAL_MACHINE_VALUE, "SOFTWARE\\Kvo\\Settings", "Count", std::monostate{}, 0), "42");
    EXPECT_EQ(reg.ValueType, 4);
}

TEST(Registry, AFileNotInRegistryFormatReadsAsEmptyAndIsNeverOverwritten) {
    ScratchDir dir;
    const fs::path hive = dir / "registry.reg";
    const std::string garbage = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kvo]\n\"a\"=\"b\"\n";  // no header line
    WriteFile(hive, garbage);
    clsRegistry reg = At(hive, HKEY_LOCAL_MACHINE_VALUE, "SOFTWARE\\Kvo", "a");
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(reg.Value()));
    std::vector<std::string> names;
    int count = -1;
    EXPECT_FALSE(reg.EnumerateValues(names, count));
    EXPECT_EQ(count, 0);
    EXPECT_THROW(reg.CreateKey(), RegistryError);
    reg.ValueType = 1;
    EXPECT_THROW(reg.SetValue(std::string("x")), RegistryError);
    EXPECT_EQ(ReadFile(hive), garbage);

    // A hive with a line that cannot be understood is read around that line but not rewritten.
    const std::string damaged = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Kvo]\n\"a\"=\"b\"\nrubbish\n";
    WriteFile(hive, damaged);
    reg.ClassKey = HKEY_CURRENT_USER_VALUE;
    reg.SectionKey = "Kvo";
    EXPECT_EQ(reg.ValueText(), "b");
    EXPECT_THROW(reg.SetValue(std::string("c")), RegistryError);
    EXPECT_EQ(ReadFile(hive), damaged);
}

TEST(Registry, WritesReplaceTheHiveWholeAndKeepEverythingElse) {
    ScratchDir dir;
    EnvVar home("KVO_REG_HOME", "/home/kvo");
    const fs::path hive = dir / "registry.reg";
    WriteFile(hive, Utf16Export("Windows Registry Editor Version 5.00\r\n\r\n" + kGsKeyLine +
                                "\r\n\"Inno Setup: App Path\"=\"/opt/gs\"\r\n\r\n"));

    clsRegistry reg = At(hive, HKEY_CURRENT_USER_VALUE, "Software\\Kvo\\Ärger");
    EXPECT_FALSE(reg.KeyExists());
    EXPECT_TRUE(reg.CreateKey());
    EXPECT_TRUE(reg.KeyExists());
    reg.ValueKey = "Path";
    reg.ValueType = 1;
    reg.SetValue(std::string("%KVO_REG_HOME%/x"));
    reg.ValueKey = "Plain";
    reg.SetValue(std::string("100% sure"));
    reg.ValueKey = "Number";
    reg.ValueType = 5;
    reg.SetValue(std::int32_t{7});
    reg.ValueKey = "Bytes";
    reg.ValueType = 3;
    reg.SetValue(std::vector<std::uint8_t>{1, 2, 255});
    reg.SetRegistrySetting(HKEY_CURRENT_USER_VALUE, "Software\\Kvo\\Ärger", "Plain", std::string("replaced"), 1);

    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1) << "no temporary file left";
    const std::string file = ReadFile(hive);
    EXPECT_EQ(file.substr(0, 2), "\xFF\xFE") << "a UTF-16 hive stays UTF-16";

    clsRegistry fresh = At(hive, HKEY_CURRENT_USER_VALUE, "SOFTWARE\\KVO\\Ärger", "Path");
    EXPECT_EQ(fresh.ValueText(), "/home/kvo/x");
    EXPECT_EQ(fresh.ValueType, 2) << "text with two % signs is stored expandable";
    fresh.ValueKey = "Plain";
    EXPECT_EQ(fresh.ValueText(), "replaced");
    EXPECT_EQ(fresh.ValueType, 1);
    fresh.ValueKey = "Number";
    EXPECT_EQ(std::get<std::int32_t>(fresh.Value()), 7);
    EXPECT_EQ(fresh.ValueType, 4) << "type 5 is written as type 4";
    fresh.ValueKey = "Bytes";
    EXPECT_EQ(std::get<std::vector<std::uint8_t>>(fresh.Value()), (std::vector<std::uint8_t>{1, 2, 255}));

    std::vector<std::string> names;
    int count = 0;
    EXPECT_TRUE(fresh.EnumerateValues(names, count));
    EXPECT_EQ(names, (std::vector<std::string>{"Path", "Plain", "Number", "Bytes"}));
    EXPECT_EQ(count, 4);

    fresh.ValueKey = "Plain";
    EXPECT_TRUE(fresh.DeleteValue());
    EXPECT_TRUE(std::holds_alternative<std::monostate>(fresh.Value()));
    EXPECT_TRUE(fresh.DeleteKey());
    EXPECT_FALSE(fresh.KeyExists());

    clsRegistry gs = At(hive, HKEY_LOCAL_MACHINE_VALUE, kGhostscriptUninstallKey, kGhostscriptAppPathValue);
    EXPECT_EQ(gs.ValueText(), "/opt/gs") << "other keys survive every rewrite";
}

TEST(Registry, FileAssociationAndEnumerations) {
    ScratchDir dir;
    const fs::path hive = dir / "sub" / "registry.reg";
    fs::create_directories(hive.parent_path());
    clsRegistry reg(hive.string());
    reg.CreateEXEAssociation("/opt/kvo/KVOProcess", "Kvo.Document", "KVO document", "kvo", 2);

    clsRegistry command = At(hive, HKEY_CLASSES_ROOT_VALUE, "Kvo.Document\\shell\\open\\command");
    EXPECT_EQ(command.ValueText(), "/opt/kvo/KVOProcess \"%1\"");
    EXPECT_EQ(command.ValueType, 1);
    EXPECT_EQ(At(hive, HKEY_CLASSES_ROOT_VALUE, ".kvo").ValueText(), "Kvo.Document");
    EXPECT_EQ(At(hive, HKEY_CLASSES_ROOT_VALUE, "Kvo.Document").ValueText(), "KVO document");
    EXPECT_EQ(At(hive, HKEY_CLASSES_ROOT_VALUE, "Kvo.Document\\DefaultIcon").ValueText(), "/opt/kvo/KVOProcess,2");

    std::vector<std::string> sections;
    int count = 0;
    clsRegistry document = At(hive, HKEY_CLASSES_ROOT_VALUE, "kvo.document");
    EXPECT_TRUE(document.EnumerateSections(sections, count));
    EXPECT_EQ(sections, (std::vector<std::string>{"shell", "DefaultIcon"}));
    EXPECT_EQ(count, 2);
    clsRegistry root = At(hive, HKEY_CLASSES_ROOT_VALUE, "");
    EXPECT_TRUE(root.EnumerateSections(sections, count));
    EXPECT_EQ(sections, (std::vector<std::string>{".kvo", "Kvo.Document"}));
}

TEST(Registry, WritingMembersRaiseTheNumberedErrors) {
    ScratchDir dir;
    const fs::path hive = dir / "registry.reg";
    WriteFile(hive, "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kvo]\n\"a\"=\"b\"\n\n"
                    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kvo\\Child]\n");
    const std::string before = ReadFile(hive);
    const std::string source = fs::read_symlink("/proc/self/exe").filename().string() + ".cRegistry";
    std::int32_t number = 0;
    std::string text;

    clsRegistry reg = At(hive, HKEY_LOCAL_MACHINE_VALUE, "SOFTWARE\\Missing", "Name");
    EXPECT_EQ(LastSource([&] { reg.DeleteKey(); }, number, text), source);
    EXPECT_EQ(number, 26001);
    EXPECT_EQ(text, "Failed to delete registry Key: ' *** -2147483646' *** ,Section: ' *** SOFTWARE\\Missing");

    LastSource([&] { reg.DeleteValue(); }, number, text);
    EXPECT_EQ(number, 26001);
    EXPECT_EQ(text, "Failed to open key ' *** -2147483646' *** ,Section: ' *** SOFTWARE\\Missing' ***  for delete access");

    reg.SectionKey = "SOFTWARE\\Kvo";
    LastSource([&] { reg.DeleteValue(); }, number, text);
    EXPECT_EQ(number, 26001);
    EXPECT_EQ(text, "Failed to delete registry Key: ' *** -2147483646' *** ,Section: ' *** SOFTWARE\\Kvo' *** ,Key: ' *** Name");

    LastSource([&] { reg.DeleteKey(); }, number, text);
    EXPECT_EQ(number, 26001) << "a key with subkeys is not deleted";

    reg.ValueType = 6;
    LastSource([&] { reg.SetValue(std::string("v")); }, number, text);
    EXPECT_EQ(number, static_cast<std::int32_t>(0x800469A9u));
    EXPECT_EQ(text, "Failed to set registry value Key: ' *** -2147483646' *** ,Section: ' *** SOFTWARE\\Kvo' *** ,Key: ' *** "
                    "Name' ***  to value: ' *** v' *** ");
    reg.ValueType = 4;
    LastSource([&] { reg.SetValue(std::string("not a number")); }, number, text);
    EXPECT_EQ(number, static_cast<std::int32_t>(0x800469A9u));

    reg.ClassKey = 42;
    reg.ValueType = 1;
    LastSource([&] { reg.SetValue(std::string("v")); }, number, text);
    EXPECT_EQ(number, 26001);
    EXPECT_EQ(text, "Failed to set registry value Key: ' *** 42' *** ,Section: ' *** SOFTWARE\\Kvo' *** ,Key: ' *** "
                    "Name' ***  to value: ' *** v' *** ");
    LastSource([&] { reg.CreateKey(); }, number, text);
    EXPECT_EQ(number, 26001);
    EXPECT_EQ(text, "Failed to create registry Key: ' *** SOFTWARE\\Kvo");

    reg.ClassKey = HKEY_LOCAL_MACHINE_VALUE;
    reg.SectionKey = "SOFTWARE\\Nope";
    std::vector<std::string> sections;
    int count = 0;
    LastSource([&] { reg.EnumerateSections(sections, count); }, number, text);
    EXPECT_EQ(number, static_cast<std::int32_t>(0x800469AAu));
    EXPECT_EQ(text, "The system cannot find the file specified.");
    EXPECT_FALSE(reg.KeyExists()) << "nothing was created on the way";
    EXPECT_EQ(ReadFile(hive), before);

    // A hive that cannot be replaced: the value is reported as not written.
    reg.SectionKey = "SOFTWARE\\Kvo";
    reg.ValueType = 1;
    clsRegistry unwritable = At(dir / "no folder" / "registry.reg", HKEY_LOCAL_MACHINE_VALUE, "SOFTWARE\\Kvo", "a");
    unwritable.ValueType = 1;
    LastSource([&] { unwritable.SetValue(std::string("v")); }, number, text);
    EXPECT_EQ(number, static_cast<std::int32_t>(0x800469A9u));
}

}  // namespace
}  // namespace kvo
