#include "driver/store/OdbcConnectionString.h"

#include <strings.h>

#include <array>
#include <cctype>
#include <map>
#include <string>

namespace kvo::driver {

namespace {

// The keys the connection string is built from. It is assembled by plain concatenation, so a
// value may itself hold ";": a ";" only ends a value where one of these keys follows.
constexpr std::array<const char*, 5> kKeys = {"Provider", "Data Source", "Initial Catalog", "User Id", "Password"};

std::size_t KeyLengthAt(const std::string& text, std::size_t position) {
    for (const char* key : kKeys) {
        const std::size_t length = std::char_traits<char>::length(key);
        if (text.size() >= position + length + 1 && strncasecmp(text.c_str() + position, key, length) == 0 &&
            text[position + length] == '=')
            return length;
    }
    return 0;
}

std::map<std::string, std::string> ParsePairs(const std::string& text) {
    std::map<std::string, std::string> values;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t keyLength = KeyLengthAt(text, position);
        if (keyLength == 0) {  // not one of ours: skip to the next ";"
            const auto next = text.find(';', position);
            if (next == std::string::npos) break;
            position = next + 1;
            continue;
        }
        std::string key = text.substr(position, keyLength);
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        const std::size_t valueStart = position + keyLength + 1;
        std::size_t valueEnd = valueStart;
        while (valueEnd < text.size() && !(text[valueEnd] == ';' && KeyLengthAt(text, valueEnd + 1) > 0)) ++valueEnd;
        values[key] = text.substr(valueStart, valueEnd - valueStart);
        position = valueEnd + 1;
    }
    return values;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// An ODBC attribute value: braced (with "}" doubled) when it could otherwise be cut short.
std::string OdbcValue(const std::string& value) {
    if (value.find_first_of(";{}") == std::string::npos && Trim(value) == value) return value;
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}') braced += '}';
    }
    return braced + "}";
}

}  // namespace

OdbcTarget TranslateConnectionString(const std::string& connectionString, const std::string& odbcDriver) {
    auto values = ParsePairs(connectionString);
    OdbcTarget target;
    target.server = values["data source"];
    target.database = values["initial catalog"];
    target.password = values["password"];

    std::string host = Trim(target.server);
    std::string port;
    if (const auto comma = host.find(','); comma != std::string::npos) {
        port = Trim(host.substr(comma + 1));
        host = Trim(host.substr(0, comma));
        // An explicit port wins over an instance name, as with the Windows clients.
        if (const auto backslash = host.find('\\'); backslash != std::string::npos) host.resize(backslash);
    }

    const std::string driver = Trim(odbcDriver).empty() ? kDefaultOdbcDriver : Trim(odbcDriver);
    std::string& out = target.connectionString;
    out = "Driver={" + driver + "};Server=" + OdbcValue(host);
    if (!port.empty()) out += ";Port=" + OdbcValue(port);
    out += ";Database=" + OdbcValue(target.database);
    out += ";UID=" + OdbcValue(values["user id"]) + ";PWD=" + OdbcValue(values["password"]);
    out += ";ClientCharset=UTF-8";
    // FreeTDS's automatic version probe never gives up on a server that accepts the connection
    // but does not answer, login timeout or not; SQL Server answers a 7.4 login with the
    // version it speaks itself.
    if (strcasecmp(driver.c_str(), kDefaultOdbcDriver) == 0) out += ";TDS_Version=7.4";
    return target;
}

}  // namespace kvo::driver
