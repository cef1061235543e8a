#pragma once
// The registry, kept as a hive file in the registry editor's text export format
// ("Windows Registry Editor Version 5.00", UTF-8 or UTF-16LE) at {WindowsFolder}/registry.reg.
// Without that file, the Ghostscript uninstall key exists exactly when `gs` is on PATH, with
// "Inno Setup: App Path" its folder.
//
// Key and value names are compared without regard to case; a key exists when it has its own
// section or a section lies below it. Reads never change the file. A file that does not start
// with the format's header reads as empty; a file with lines that cannot be understood is read
// around them. Neither is ever rewritten: the writing members raise instead, so that nothing in
// it is lost. A write without a hive file creates one holding what the reads saw (the
// Ghostscript key when `gs` is on PATH) plus the change. Writes keep the file's encoding.
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

#include "shared/NumberedError.h"

namespace kvo {

constexpr std::int32_t HKEY_CLASSES_ROOT_VALUE = static_cast<std::int32_t>(0x80000000);
constexpr std::int32_t HKEY_CURRENT_USER_VALUE = static_cast<std::int32_t>(0x80000001);
constexpr std::int32_t HKEY_LOCAL_MACHINE_VALUE = static_cast<std::int32_t>(0x80000002);

inline constexpr const char* kGhostscriptUninstallKey =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GPL Ghostscript Lite_is1";
inline constexpr const char* kGhostscriptAppPathValue = "Inno Setup: App Path";

// A registry value: empty, text (types 1, 2, 7), a 32-bit number (4, 5) or bytes (3).
using RegistryValue = std::variant<std::monostate, std::string, std::int32_t, std::vector<std::uint8_t>>;

// A numbered error raised by the writing members.
class RegistryError : public NumberedError {
public:
    using NumberedError::NumberedError;
};

class clsRegistry {
public:
    // The hive file used; defaults to {WindowsFolder}/registry.reg.
    explicit clsRegistry(std::string hiveFile = "");

    std::int32_t ClassKey = 0;
    std::string SectionKey;
    std::string ValueKey;
    std::int32_t ValueType = 0;
    RegistryValue Default;

    bool KeyExists() const;           // never throws
    // Never throws; sets ValueType; Default when unreadable. Text types lose one trailing
    // terminator (a text stored without one keeps its last character); type 2 is expanded.
    RegistryValue Value();
    std::string ValueText();          // Value() as text ("" for none, decimal for numbers, raw bytes)
    void SetValue(const RegistryValue& value);  // throws RegistryError
    bool CreateKey();                 // throws RegistryError on failure
    bool DeleteKey();
    bool DeleteValue();
    bool EnumerateValues(std::vector<std::string>& sKeyNames, int& iKeyCount) const;
    bool EnumerateSections(std::vector<std::string>& sSect, int& iSectCount) const;
    void CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                              const std::string& sClassDescription, const std::string& sAssociation,
                              std::int32_t lDefaultIconIndex);
    std::string GetRegistrySetting(std::int32_t nKeyRoot, const std::string& sKeyName,
                                   const std::string& sSubKeyRef, const RegistryValue& sDefault,
                                   std::int32_t vValueType);
    void SetRegistrySetting(std::int32_t nKeyRoot, const std::string& sKeyName, const std::string& sSubKeyRef,
                            const RegistryValue& value, std::int32_t valueType);

private:
    std::string hiveFile_;
};

// The Ghostscript look-up the PDF programs share: the folder holding `gs`, or "" when the
// installation key is missing or its folder value is empty.
std::string GhostscriptFolder();

}  // namespace kvo
