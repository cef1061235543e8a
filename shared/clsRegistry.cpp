#include "shared/clsRegistry.h"

#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Text.h"
#include "shared/platform/WholeFile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {

namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";
constexpr std::int32_t kErrorNumber = 26001;
const std::int32_t kValueNotWritten = static_cast<std::int32_t>(0x800469A9u);
const std::int32_t kEnumerateFailed = static_cast<std::int32_t>(0x800469AAu);

constexpr std::int32_t kTypeString = 1;
constexpr std::int32_t kTypeExpandString = 2;
constexpr std::int32_t kTypeBinary = 3;
constexpr std::int32_t kTypeDword = 4;
constexpr std::int32_t kTypeDwordBigEndian = 5;
constexpr std::int32_t kTypeMultiString = 7;

// ---- text helpers ----

void AppendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (code >> 18));
        out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// UTF-16LE bytes to UTF-8; an unpaired surrogate becomes U+FFFD.
std::string Utf16ToUtf8(const std::uint8_t* data, std::size_t size) {
    std::string out;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        std::uint32_t unit = data[i] | data[i + 1] << 8;
        if (unit >= 0xD800 && unit < 0xDC00 && i + 3 < size) {
            const std::uint32_t low = data[i + 2] | data[i + 3] << 8;
            if (low >= 0xDC00 && low < 0xE000) {
                AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, unit >= 0xD800 && unit < 0xE000 ? 0xFFFD : unit);
    }
    return out;
}

// UTF-8 to UTF-16LE bytes; a byte that does not start a valid sequence becomes U+FFFD.
std::vector<std::uint8_t> Utf8ToUtf16(const std::string& text) {
    std::vector<std::uint8_t> out;
    auto put = [&out](std::uint32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        const int length = lead < 0x80 ? 1 : (lead >> 5) == 6 ? 2 : (lead >> 4) == 14 ? 3 : (lead >> 3) == 30 ? 4 : 0;
        std::uint32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
        bool valid = length > 0 && i + length <= text.size();
        for (int k = 1; valid && k < length; ++k) {
            const auto next = static_cast<std::uint8_t>(text[i + k]);
            valid = (next & 0xC0) == 0x80;
            code = code << 6 | (next & 0x3F);
        }
        if (!valid) {
            put(0xFFFD);
            ++i;
            continue;
        }
        i += length;
        if (code >= 0x10000) {
            put(0xD800 + ((code - 0x10000) >> 10));
            put(0xDC00 + ((code - 0x10000) & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

bool IsTextType(std::int32_t type) {
    return type == kTypeString || type == kTypeExpandString || type == kTypeMultiString;
}

// Replaces %NAME% with the environment variable's value; unknown names stay as written.
std::string ExpandEnvironment(const std::string& text) {
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t open = text.find('%', at);
        const std::size_t close = open == std::string::npos ? std::string::npos : text.find('%', open + 1);
        if (close == std::string::npos) break;
        out.append(text, at, open - at);
        const std::string name = text.substr(open + 1, close - open - 1);
        const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
        out += value ? std::string(value) : text.substr(open, close - open + 1);
        at = close + 1;
    }
    out.append(text, at, std::string::npos);
    return out;
}

std::int32_t ByteSwap(std::int32_t value) {
    const auto bits = static_cast<std::uint32_t>(value);
    return static_cast<std::int32_t>((bits >> 24) | ((bits >> 8) & 0xFF00) | ((bits << 8) & 0xFF0000) | (bits << 24));
}

// ---- the hive in memory ----

struct HiveValue {
    std::string name;  // "" is the key's default value
    std::int32_t type = 0;
    // As the 8-bit interface hands it out: text types in UTF-8 with their terminators.
    std::vector<std::uint8_t> data;
};

struct HiveKey {
    std::string path;  // with the root's name, e.g. "HKEY_LOCAL_MACHINE\SOFTWARE\x"
    std::vector<HiveValue> values;
};

struct Hive {
    bool unicode = true;     // written as version 5.00 in UTF-16LE with byte-order mark
    bool utf16File = false;  // the file was UTF-16LE
    bool complete = true;    // false when lines were skipped: such a hive is never rewritten
    std::vector<HiveKey> keys;
};

enum class HiveState { Missing, NotRegistryFormat, Loaded };

std::string RootName(std::int32_t classKey) {
    switch (static_cast<std::uint32_t>(classKey)) {
        case 0x80000000u: return "HKEY_CLASSES_ROOT";
        case 0x80000001u: return "HKEY_CURRENT_USER";
        case 0x80000002u: return "HKEY_LOCAL_MACHINE";
        case 0x80000003u: return "HKEY_USERS";
        case 0x80000005u: return "HKEY_CURRENT_CONFIG";
        default: return "";
    }
}

// The full path of a key, or nullopt when the root is unknown or the path has empty parts.
std::optional<std::string> FullPath(std::int32_t classKey, const std::string& sectionKey) {
    const std::string root = RootName(classKey);
    if (root.empty()) return std::nullopt;
    std::string section = sectionKey;
    while (!section.empty() && section.back() == '\\') section.pop_back();
    if (section.empty()) return root;
    if (section.front() == '\\' || section.find("\\\\") != std::string::npos) return std::nullopt;
    return root + "\\" + section;
}

bool IsRootPath(const std::string& path) { return path.find('\\') == std::string::npos; }

bool IsBelow(const std::string& path, const std::string& ancestor) {
    return path.size() > ancestor.size() + 1 && path[ancestor.size()] == '\\' &&
           EqualsIgnoringCase(path.substr(0, ancestor.size()), ancestor);
}

HiveKey* FindKey(Hive& hive, const std::string& path) {
    for (HiveKey& key : hive.keys)
        if (EqualsIgnoringCase(key.path, path)) return &key;
    return nullptr;
}

// A key exists when it has its own section, is a parent of one, or is a root.
bool KeyPresent(const Hive& hive, const std::string& path) {
    if (IsRootPath(path)) return true;
    for (const HiveKey& key : hive.keys)
        if (EqualsIgnoringCase(key.path, path) || IsBelow(key.path, path)) return true;
    return false;
}

std::vector<std::string> SubkeyNames(const Hive& hive, const std::string& path) {
    std::vector<std::string> names;
    for (const HiveKey& key : hive.keys) {
        if (!IsBelow(key.path, path)) continue;
        const std::string rest = key.path.substr(path.size() + 1);
        const std::string name = rest.substr(0, rest.find('\\'));
        bool known = false;
        for (const std::string& seen : names) known = known || EqualsIgnoringCase(seen, name);
        if (!known) names.push_back(name);
    }
    return names;
}

HiveValue* FindValue(HiveKey& key, const std::string& name) {
    for (HiveValue& value : key.values)
        if (EqualsIgnoringCase(value.name, name)) return &value;
    return nullptr;
}

HiveKey& EnsureKey(Hive& hive, const std::string& path) {
    if (HiveKey* key = FindKey(hive, path)) return *key;
    hive.keys.push_back(HiveKey{path, {}});
    return hive.keys.back();
}

void PutValue(HiveKey& key, HiveValue value) {
    if (HiveValue* existing = FindValue(key, value.name)) *existing = std::move(value);
    else key.values.push_back(std::move(value));
}

std::vector<std::uint8_t> TextData(const std::string& text) {
    std::vector<std::uint8_t> data(text.begin(), text.end());
    data.push_back(0);
    return data;
}

// ---- the registry editor's export format ----

// Reads a double-quoted string with \\ and \" escapes starting at `at`; moves `at` past it.
std::optional<std::string> ParseQuoted(const std::string& line, std::size_t& at) {
    if (at >= line.size() || line[at] != '"') return std::nullopt;
    std::string text;
    for (++at; at < line.size(); ++at) {
        if (line[at] == '\\' && at + 1 < line.size()) text += line[++at];
        else if (line[at] == '"') {
            ++at;
            return text;
        } else text += line[at];
    }
    return std::nullopt;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(const std::string& text) {
    std::vector<std::uint8_t> bytes;
    std::stringstream items(text);
    std::string item;
    while (std::getline(items, item, ',')) {
        item = Trim(item);
        if (item.empty() && items.eof() && bytes.empty()) break;
        if (item.empty() || item.size() > 2 || item.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(item, nullptr, 16)));
    }
    return bytes;
}

// One value line ("name"=data or @=data). nullopt when the line is not understood; a value
// whose data is "-" (a deletion in an import file) gives a value with type -1.
std::optional<HiveValue> ParseValueLine(const std::string& line, bool unicode) {
    HiveValue value;
    std::size_t at = 0;
    if (line[0] == '@') {
        at = 1;
    } else {
        std::optional<std::string> name = ParseQuoted(line, at);
        if (!name) return std::nullopt;
        value.name = *name;
    }
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t')) ++at;
    if (at >= line.size() || line[at] != '=') return std::nullopt;
    const std::string data = Trim(line.substr(at + 1));
    if (data == "-") {
        value.type = -1;
        return value;
    }
    if (!data.empty() && data[0] == '"') {
        std::size_t pos = 0;
        std::optional<std::string> text = ParseQuoted(data, pos);
        if (!text || pos != data.size()) return std::nullopt;
        value.type = kTypeString;
        value.data = TextData(*text);
        return value;
    }
    if (data.rfind("dword:", 0) == 0) {
        const std::string digits = data.substr(6);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        const auto number = static_cast<std::uint32_t>(std::stoul(digits, nullptr, 16));
        value.type = kTypeDword;
        value.data = {static_cast<std::uint8_t>(number), static_cast<std::uint8_t>(number >> 8),
                      static_cast<std::uint8_t>(number >> 16), static_cast<std::uint8_t>(number >> 24)};
        return value;
    }
    std::string bytesText;
    if (data.rfind("hex:", 0) == 0) {
        value.type = kTypeBinary;
        bytesText = data.substr(4);
    } else if (data.rfind("hex(", 0) == 0) {
        const std::size_t close = data.find("):");
        const std::string digits = close == std::string::npos ? "" : data.substr(4, close - 4);
        if (digits.empty() || digits.size() > 8 || digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
            return std::nullopt;
        value.type = static_cast<std::int32_t>(std::stoul(digits, nullptr, 16));
        bytesText = data.substr(close + 2);
    } else {
        return std::nullopt;
    }
    std::optional<std::vector<std::uint8_t>> bytes = ParseHexBytes(bytesText);
    if (!bytes) return std::nullopt;
    if (IsTextType(value.type) && unicode) {
        const std::string text = Utf16ToUtf8(bytes->data(), bytes->size());
        value.data.assign(text.begin(), text.end());
    } else {
        value.data = std::move(*bytes);
    }
    return value;
}

// The file's text in UTF-8, and whether it was UTF-16LE.
std::string DecodeFile(const std::string& raw, bool& utf16) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(raw.data());
    utf16 = false;
    if (raw.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        utf16 = true;
        return Utf16ToUtf8(bytes + 2, raw.size() - 2);
    }
    if (raw.size() >= 2 && bytes[0] != 0 && bytes[1] == 0) {  // UTF-16LE without a mark
        utf16 = true;
        return Utf16ToUtf8(bytes, raw.size());
    }
    if (raw.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return raw.substr(3);
    return raw;
}

// Parses the export format. nullopt when the text does not start with the format's header.
std::optional<Hive> ParseHive(const std::string& raw) {
    Hive hive;
    std::istringstream text(DecodeFile(raw, hive.utf16File));
    std::vector<std::string> lines;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    std::size_t i = 0;
    while (i < lines.size() && Trim(lines[i]).empty()) ++i;
    if (i == lines.size()) return std::nullopt;
    const std::string header = Trim(lines[i++]);
    if (header == kHeader5) hive.unicode = true;
    else if (header == kHeader4) hive.unicode = false;
    else return std::nullopt;

    HiveKey* current = nullptr;
    bool inDeletedKey = false;
    for (; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        if (line.empty() || line[0] == ';') continue;
        if (line.front() == '[' && line.back() == ']') {
            const std::string path = line.substr(1, line.size() - 2);
            // A deletion ("[-key]") belongs in an import file, not in a hive: read around it,
            // but never rewrite such a file.
            inDeletedKey = !path.empty() && path[0] == '-';
            if (inDeletedKey) hive.complete = false;
            current = inDeletedKey ? nullptr : &EnsureKey(hive, path);
            continue;
        }
        // Hex data may run on over lines that end in a backslash.
        while (line.back() == '\\' && line.find("=hex") != std::string::npos && i + 1 < lines.size()) {
            line.pop_back();
            line += Trim(lines[++i]);
        }
        std::optional<HiveValue> value = (line[0] == '"' || line[0] == '@') ? ParseValueLine(line, hive.unicode)
                                                                           : std::nullopt;
        if (!value || (!current && !inDeletedKey)) {
            hive.complete = false;
            continue;
        }
        if (value->type < 0) hive.complete = false;
        else if (current) PutValue(*current, std::move(*value));
    }
    return hive;
}

std::string Quote(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char item[4];
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(item, sizeof item, i ? ",%02x" : "%02x", bytes[i]);
        out += item;
    }
    return out;
}

std::string FormatValue(const HiveValue& value, bool unicode) {
    std::string line = (value.name.empty() ? "@" : Quote(value.name)) + "=";
    const auto& data = value.data;
    const bool plainText = value.type == kTypeString && !data.empty() && data.back() == 0 &&
                           std::find(data.begin(), data.end() - 1, 0) == data.end() - 1 &&
                           std::find(data.begin(), data.end(), '\n') == data.end();
    if (plainText) return line + Quote(std::string(data.begin(), data.end() - 1));
    if (value.type == kTypeDword && data.size() == 4) {
        char digits[16];
        std::snprintf(digits, sizeof digits, "dword:%08x",
                      static_cast<unsigned>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<unsigned>(data[3]) << 24));
        return line + digits;
    }
    if (value.type == kTypeBinary) return line + "hex:" + HexBytes(data);
    char type[16];
    std::snprintf(type, sizeof type, "hex(%x):", static_cast<unsigned>(value.type));
    if (IsTextType(value.type) && unicode) return line + type + HexBytes(Utf8ToUtf16(std::string(data.begin(), data.end())));
    return line + type + HexBytes(data);
}

std::string FormatHive(const Hive& hive) {
    std::string text = std::string(hive.unicode ? kHeader5 : kHeader4) + "\r\n\r\n";
    for (const HiveKey& key : hive.keys) {
        text += "[" + key.path + "]\r\n";
        for (const HiveValue& value : key.values) text += FormatValue(value, hive.unicode) + "\r\n";
        text += "\r\n";
    }
    if (!hive.utf16File) return text;
    std::vector<std::uint8_t> utf16 = Utf8ToUtf16(text);
    return std::string("\xFF\xFE", 2) + std::string(utf16.begin(), utf16.end());
}

// ---- Ghostscript on PATH stands in for its installation key ----

std::optional<std::string> GhostscriptOnPath() {
    const char* pathVariable = std::getenv("PATH");
    if (!pathVariable) return std::nullopt;
    std::stringstream entries(pathVariable);
    for (std::string folder; std::getline(entries, folder, ':');) {
        if (folder.empty()) folder = ".";
        const std::string candidate = folder + "/gs";
        struct stat info {};
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0) {
            std::error_code error;
            std::string absolute = std::filesystem::absolute(folder, error).lexically_normal().string();
            if (error) absolute = folder;
            while (absolute.size() > 1 && absolute.back() == '/') absolute.pop_back();
            return absolute;
        }
    }
    return std::nullopt;
}

Hive HiveWithoutFile() {
    Hive hive;
    if (std::optional<std::string> folder = GhostscriptOnPath()) {
        HiveKey& key = EnsureKey(hive, std::string("HKEY_LOCAL_MACHINE\\") + kGhostscriptUninstallKey);
        PutValue(key, HiveValue{kGhostscriptAppPathValue, kTypeString, TextData(*folder)});
    }
    return hive;
}

[[noreturn]] void Raise(std::int32_t number, const std::string& description) {
    throw RegistryError(number, ExecutableName() + ".cRegistry", description);
}

std::string ValueAsText(const RegistryValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) return *text;
    if (const auto* number = std::get_if<std::int32_t>(&value)) return std::to_string(*number);
    if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) return std::string(bytes->begin(), bytes->end());
    return "";
}

std::optional<std::int32_t> ValueAsNumber(const RegistryValue& value) {
    if (const auto* number = std::get_if<std::int32_t>(&value)) return *number;
    if (const auto* text = std::get_if<std::string>(&value)) {
        const std::string trimmed = Trim(*text);
        if (trimmed.empty()) return std::nullopt;
        try {
            std::size_t used = 0;
            const long long parsed = std::stoll(trimmed, &used, 10);
            if (used == trimmed.size() && parsed >= INT32_MIN && parsed <= INT32_MAX) return static_cast<std::int32_t>(parsed);
        } catch (const std::exception&) {
        }
    }
    return std::nullopt;
}

// The data a write stores for `value` under `type`, or nullopt when it cannot be stored so.
std::optional<HiveValue> StoredValue(const std::string& name, std::int32_t type, const RegistryValue& value) {
    switch (type) {
        case kTypeString:
        case kTypeExpandString: {
            if (std::holds_alternative<std::monostate>(value) || std::holds_alternative<std::vector<std::uint8_t>>(value))
                return std::nullopt;
            const std::string text = ValueAsText(value);
            // Text holding "%", and a second "%" at least two characters later, is expandable.
            const std::size_t first = text.find('%');
            const bool expandable = first != std::string::npos && text.find('%', first + 2) != std::string::npos;
            return HiveValue{name, expandable ? kTypeExpandString : kTypeString, TextData(text)};
        }
        case kTypeBinary:
            if (const auto* bytes = std::get_if<std::vector<std::uint8_t>>(&value)) return HiveValue{name, kTypeBinary, *bytes};
            return std::nullopt;
        case kTypeDword:
        case kTypeDwordBigEndian: {
            const std::optional<std::int32_t> number = ValueAsNumber(value);
            if (!number) return std::nullopt;
            const auto bits = static_cast<std::uint32_t>(*number);
            return HiveValue{name, kTypeDword,
                             {static_cast<std::uint8_t>(bits), static_cast<std::uint8_t>(bits >> 8),
                              static_cast<std::uint8_t>(bits >> 16), static_cast<std::uint8_t>(bits >> 24)}};
        }
        default: return std::nullopt;
    }
}

}  // namespace

// ---- the hive file ----

namespace {

struct LoadedHive {
    HiveState state = HiveState::Missing;
    std::string file;  // the path to write back to
    Hive hive;
};

LoadedHive LoadHive(const std::string& hiveFile) {
    LoadedHive loaded;
    const std::optional<std::string> real = ResolveFile(hiveFile);
    loaded.file = real.value_or(hiveFile);
    if (!real) {
        loaded.hive = HiveWithoutFile();
        return loaded;
    }
    const std::optional<std::string> raw = ReadWholeFile(*real);
    std::optional<Hive> parsed = raw ? ParseHive(*raw) : std::nullopt;
    loaded.state = parsed ? HiveState::Loaded : HiveState::NotRegistryFormat;
    if (parsed) loaded.hive = std::move(*parsed);
    return loaded;
}

// A hive that may be rewritten: read in full (or not there yet), so that nothing is lost.
bool Writable(const LoadedHive& loaded) {
    return loaded.state == HiveState::Missing || (loaded.state == HiveState::Loaded && loaded.hive.complete);
}

bool SaveHive(const LoadedHive& loaded) {
    try {
        WriteFileAtomically(loaded.file, FormatHive(loaded.hive));
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

}  // namespace

clsRegistry::clsRegistry(std::string hiveFile)
    : hiveFile_(hiveFile.empty() ? WindowsFolder() + "/registry.reg" : std::move(hiveFile)) {}

bool clsRegistry::KeyExists() const {
    try {
        const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
        if (!path) return false;
        const LoadedHive loaded = LoadHive(hiveFile_);
        return KeyPresent(loaded.hive, *path);
    } catch (...) {
        return false;
    }
}

RegistryValue clsRegistry::Value() {
    try {
        const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
        if (!path) return Default;
        LoadedHive loaded = LoadHive(hiveFile_);
        HiveKey* key = FindKey(loaded.hive, *path);
        const HiveValue* value = key ? FindValue(*key, ValueKey) : nullptr;
        if (!value) return Default;
        ValueType = value->type;
        const std::vector<std::uint8_t>& data = value->data;
        if (IsTextType(value->type)) {
            // The stored text without its terminator.
            std::string text(data.begin(), data.end());
            if (!text.empty() && text.back() == '\0') text.pop_back();
            return value->type == kTypeExpandString ? ExpandEnvironment(text) : text;
        }
        if (value->type == kTypeDword || value->type == kTypeDwordBigEndian) {
            std::uint32_t bits = 0;
            for (std::size_t i = 0; i < 4 && i < data.size(); ++i) bits |= static_cast<std::uint32_t>(data[i]) << (8 * i);
            const auto number = static_cast<std::int32_t>(bits);
            return value->type == kTypeDword ? number : ByteSwap(number);
        }
        return data;
    } catch (...) {
        return Default;
    }
}

std::string clsRegistry::ValueText() { return ValueAsText(Value()); }

void clsRegistry::SetValue(const RegistryValue& value) {
    const std::string description = "Failed to set registry value Key: ' *** " + std::to_string(ClassKey) +
                                    "' *** ,Section: ' *** " + SectionKey + "' *** ,Key: ' *** " + ValueKey +
                                    "' ***  to value: ' *** " + ValueAsText(value) + "' *** ";
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    LoadedHive loaded = LoadHive(hiveFile_);
    if (!path || IsRootPath(*path) || !Writable(loaded)) Raise(kErrorNumber, description);
    std::optional<HiveValue> stored = StoredValue(ValueKey, ValueType, value);
    if (!stored) Raise(kValueNotWritten, description);
    PutValue(EnsureKey(loaded.hive, *path), std::move(*stored));
    if (!SaveHive(loaded)) Raise(kValueNotWritten, description);
}

bool clsRegistry::CreateKey() {
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    LoadedHive loaded = LoadHive(hiveFile_);
    const std::string description = "Failed to create registry Key: ' *** " + SectionKey;
    if (!path || !Writable(loaded)) Raise(kErrorNumber, description);
    if (KeyPresent(loaded.hive, *path)) return true;
    EnsureKey(loaded.hive, *path);
    if (!SaveHive(loaded)) Raise(kErrorNumber, description);
    return true;
}

bool clsRegistry::DeleteKey() {
    const std::string description = "Failed to delete registry Key: ' *** " + std::to_string(ClassKey) +
                                    "' *** ,Section: ' *** " + SectionKey;
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    LoadedHive loaded = LoadHive(hiveFile_);
    // Like the registry itself: only an existing key without subkeys, never a root.
    if (!path || IsRootPath(*path) || !Writable(loaded) || !FindKey(loaded.hive, *path) ||
        !SubkeyNames(loaded.hive, *path).empty())
        Raise(kErrorNumber, description);
    std::erase_if(loaded.hive.keys, [&](const HiveKey& key) { return EqualsIgnoringCase(key.path, *path); });
    if (!SaveHive(loaded)) Raise(kErrorNumber, description);
    return true;
}

bool clsRegistry::DeleteValue() {
    const std::string where = std::to_string(ClassKey) + "' *** ,Section: ' *** " + SectionKey;
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    LoadedHive loaded = LoadHive(hiveFile_);
    if (!path || !Writable(loaded) || !KeyPresent(loaded.hive, *path))
        Raise(kErrorNumber, "Failed to open key ' *** " + where + "' ***  for delete access");
    const std::string description = "Failed to delete registry Key: ' *** " + where + "' *** ,Key: ' *** " + ValueKey;
    HiveKey* key = FindKey(loaded.hive, *path);
    if (!key || !FindValue(*key, ValueKey)) Raise(kErrorNumber, description);
    std::erase_if(key->values, [&](const HiveValue& value) { return EqualsIgnoringCase(value.name, ValueKey); });
    if (!SaveHive(loaded)) Raise(kErrorNumber, description);
    return true;
}

bool clsRegistry::EnumerateValues(std::vector<std::string>& sKeyNames, int& iKeyCount) const {
    sKeyNames.clear();
    iKeyCount = 0;
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    if (!path) return false;
    LoadedHive loaded = LoadHive(hiveFile_);
    if (!KeyPresent(loaded.hive, *path)) return false;
    if (HiveKey* key = FindKey(loaded.hive, *path))
        for (const HiveValue& value : key->values) sKeyNames.push_back(value.name);
    iKeyCount = static_cast<int>(sKeyNames.size());
    return true;
}

bool clsRegistry::EnumerateSections(std::vector<std::string>& sSect, int& iSectCount) const {
    sSect.clear();
    iSectCount = 0;
    const std::optional<std::string> path = FullPath(ClassKey, SectionKey);
    if (!path) Raise(kEnumerateFailed, "The handle is invalid.");
    LoadedHive loaded = LoadHive(hiveFile_);
    if (!KeyPresent(loaded.hive, *path)) Raise(kEnumerateFailed, "The system cannot find the file specified.");
    sSect = SubkeyNames(loaded.hive, *path);
    iSectCount = static_cast<int>(sSect.size());
    return true;
}

void clsRegistry::CreateEXEAssociation(const std::string& sExePath, const std::string& sClassName,
                                       const std::string& sClassDescription, const std::string& sAssociation,
                                       std::int32_t lDefaultIconIndex) {
    const std::string extension = !sAssociation.empty() && sAssociation[0] == '.' ? sAssociation.substr(1) : sAssociation;
    // All four keys go into the hive in one rewrite, so that none is left half-registered.
    const std::vector<std::pair<std::string, std::string>> entries = {
        {"." + extension, sClassName},
        {sClassName, sClassDescription},
        {sClassName + "\\shell\\open\\command", sExePath + " \"%1\""},
        {sClassName + "\\DefaultIcon", sExePath + "," + std::to_string(lDefaultIconIndex)}};
    LoadedHive loaded = LoadHive(hiveFile_);
    for (const auto& [section, text] : entries) {
        const std::optional<std::string> path = FullPath(HKEY_CLASSES_ROOT_VALUE, section);
        if (!path || IsRootPath(*path) || !Writable(loaded)) Raise(kErrorNumber, "Failed to create registry Key: ' *** " + section);
        PutValue(EnsureKey(loaded.hive, *path), *StoredValue("", kTypeString, text));
    }
    if (!SaveHive(loaded)) Raise(kErrorNumber, "Failed to create registry Key: ' *** " + sClassName);
}

std::string clsRegistry::GetRegistrySetting(std::int32_t nKeyRoot, const std::string& sKeyName,
                                            const std::string& sSubKeyRef, const RegistryValue& sDefault,
                                            std::int32_t vValueType) {
    ClassKey = nKeyRoot;
    SectionKey = sKeyName;
    ValueKey = sSubKeyRef;
    Default = sDefault;
    ValueType = vValueType;
    return ValueText();
}

void clsRegistry::SetRegistrySetting(std::int32_t nKeyRoot, const std::string& sKeyName, const std::string& sSubKeyRef,
                                     const RegistryValue& value, std::int32_t valueType) {
    ClassKey = nKeyRoot;
    SectionKey = sKeyName;
    ValueKey = sSubKeyRef;
    ValueType = valueType;
    SetValue(value);
}

std::string GhostscriptFolder() {
    clsRegistry registry;
    registry.ClassKey = HKEY_LOCAL_MACHINE_VALUE;
    registry.SectionKey = kGhostscriptUninstallKey;
    if (!registry.KeyExists()) return "";
    registry.ValueKey = kGhostscriptAppPathValue;
    return registry.ValueText();
}

}  // namespace kvo
