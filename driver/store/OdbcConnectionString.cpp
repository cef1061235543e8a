#include "driver/store/OdbcConnectionString.h"

#include <string>
#include <utility>
#include <vector>

#include "shared/platform/Text.h"

namespace kvo::driver {

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The pairs of a connection string quoted by ConnectionStringValue, in their order.
Pairs ParsePairs(const std::string& text) {
    Pairs values;
    std::size_t position = 0;
    while (position < text.size()) {
        const std::size_t equals = text.find('=', position);
        if (equals == std::string::npos) break;
        std::string key = Trim(text.substr(position, equals - position));
        std::string value;
        position = equals + 1;
        if (position < text.size() && text[position] == '{') {
            // Braced: everything up to the "}" that is not doubled.
            for (++position; position < text.size(); ++position) {
                if (text[position] == '}' && (position + 1 >= text.size() || text[position + 1] != '}')) break;
                if (text[position] == '}') ++position;
                value += text[position];
            }
            position = text.find(';', position);
        } else {
            const std::size_t end = text.find(';', position);
            value = text.substr(position, end == std::string::npos ? std::string::npos : end - position);
            position = end;
        }
        values.emplace_back(std::move(key), std::move(value));
        if (position == std::string::npos) break;
        ++position;
    }
    return values;
}

// The value of the last pair whose key matches without regard to case; "" when none does.
std::string ValueOf(const Pairs& pairs, const std::string& key) {
    for (auto pair = pairs.rbegin(); pair != pairs.rend(); ++pair)
        if (EqualsIgnoringCase(pair->first, key)) return pair->second;
    return "";
}

}  // namespace

std::string ConnectionStringValue(const std::string& value) {
    if (value.find_first_of(";{}") == std::string::npos && Trim(value) == value) return value;
    std::string braced = "{";
    for (char c : value) {
        braced += c;
        if (c == '}') braced += '}';
    }
    return braced + "}";
}

OdbcTarget TranslateConnectionString(const std::string& connectionString, const std::string& odbcDriver) {
    const Pairs values = ParsePairs(connectionString);
    OdbcTarget target;
    target.server = ValueOf(values, "data source");
    target.database = ValueOf(values, "initial catalog");
    target.password = ValueOf(values, "password");

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
    out = "Driver={" + driver + "};Server=" + ConnectionStringValue(host);
    if (!port.empty()) out += ";Port=" + ConnectionStringValue(port);
    out += ";Database=" + ConnectionStringValue(target.database);
    out += ";UID=" + ConnectionStringValue(ValueOf(values, "user id")) + ";PWD=" + ConnectionStringValue(target.password);
    out += ";ClientCharset=UTF-8";
    // FreeTDS's automatic version probe never gives up on a server that accepts the connection
    // but does not answer, login timeout or not; SQL Server answers a 7.4 login with the
    // version it speaks itself.
    if (EqualsIgnoringCase(driver, kDefaultOdbcDriver)) out += ";TDS_Version=7.4";
    return target;
}

}  // namespace kvo::driver
