#include "driver/StatusReport.h"

#include <cstdio>

#include "driver/LoopRules.h"
#include "driver/queue/ReportStatements.h"
#include "driver/store/DbConnection.h"

namespace kvo::driver {

namespace {

long long Pending(const StatusReport& report) {
    const auto found = report.rowsByStatus.find(0);
    return found == report.rowsByStatus.end() ? 0 : found->second;
}

std::string Hours(double hours) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", hours);
    return text;
}

std::string Field(const Recordset& row, const char* name) { return row.field(name).value_or(""); }

// The length of the well-formed UTF-8 sequence of a character from U+0080 up that begins at
// `at`; 0 when none does (a stray, overlong or surrogate sequence, or one cut short).
std::size_t Utf8SequenceAt(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;  // the second byte's range
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) low = 0xA0;   // overlong
        if (lead == 0xED) high = 0x9F;  // surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) low = 0x90;   // overlong
        if (lead == 0xF4) high = 0x8F;  // beyond U+10FFFF
    }
    if (length == 0 || at + length > text.size() || byte(at + 1) < low || byte(at + 1) > high) return 0;
    for (std::size_t i = at + 2; i < at + length; ++i)
        if (byte(i) < 0x80 || byte(i) > 0xBF) return 0;
    return length;
}

}  // namespace

std::string StatusMeaning(int status) {
    switch (status) {
        case 0: return "pending";
        case 2: return "converted or not found";
        case 3: return "already searchable";
        case 5: return "no usable result";
        default: return "unknown status";
    }
}

std::optional<double> HoursToEmpty(long long pending, long long perHour) {
    if (pending == 0) return 0.0;
    if (perHour <= 0) return std::nullopt;
    return static_cast<double>(pending) / static_cast<double>(perHour);
}

std::string StatusText(const StatusReport& report) {
    std::string text = "Rows by status:\n";
    if (report.rowsByStatus.empty()) text += "  (the queue is empty)\n";
    for (const auto& [status, rows] : report.rowsByStatus)
        text += "  " + std::to_string(status) + " " + StatusMeaning(status) + ": " + std::to_string(rows) + "\n";
    text += "Claimed now: " + std::to_string(report.claimed.size()) + "\n";
    for (const ClaimedRow& row : report.claimed)
        text += "  " + PrintableText(row.worker) + " " + row.trackReference + " " + PrintableText(row.filePath) +
                " since " + row.claimedAt + " UTC\n";
    text += "Pages converted in the last hour: " + std::to_string(report.pagesLastHour) + " (" +
            std::to_string(report.finishedLastHour) + " rows finished)\n";
    const auto hours = HoursToEmpty(Pending(report), report.finishedLastHour);
    text += "Time to empty the queue at that rate: " + (hours ? Hours(*hours) + " hours" : std::string("unknown (nothing finished in the last hour)")) + "\n";
    text += "Latest failures (status 5): " + std::to_string(report.failures.size()) + "\n";
    for (const FailedRow& row : report.failures)
        text += "  " + row.trackReference + " " + PrintableText(row.filePath) + ": " +
                (row.reason.empty() ? "no reason stored" : PrintableText(row.reason)) + "\n";
    return text;
}

std::string JsonString(const std::string& text) {
    std::string json = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            json += escaped;
        } else if (c < 0x80) {
            json += static_cast<char>(c);
        } else if (const std::size_t length = Utf8SequenceAt(text, i); length > 0) {
            json.append(text, i, length);
            i += length;
            continue;
        } else {
            json += "\\ufffd";  // a byte that is not UTF-8
        }
        ++i;
    }
    return json + "\"";
}

std::string StatusJson(const StatusReport& report) {
    std::string json = "{\"rowsByStatus\":[";
    const char* separator = "";
    for (const auto& [status, rows] : report.rowsByStatus) {
        json += separator;
        json += "{\"status\":" + std::to_string(status) + ",\"meaning\":" + JsonString(StatusMeaning(status)) +
                ",\"rows\":" + std::to_string(rows) + "}";
        separator = ",";
    }
    json += "],\"claimed\":[";
    separator = "";
    for (const ClaimedRow& row : report.claimed) {
        json += separator;
        json += "{\"worker\":" + JsonString(row.worker) + ",\"trackReference\":" + row.trackReference +
                ",\"filePath\":" + JsonString(row.filePath) + ",\"since\":" + JsonString(row.claimedAt) + "}";
        separator = ",";
    }
    const auto hours = HoursToEmpty(Pending(report), report.finishedLastHour);
    json += "],\"pagesConvertedLastHour\":" + std::to_string(report.pagesLastHour) +
            ",\"rowsFinishedLastHour\":" + std::to_string(report.finishedLastHour) +
            ",\"hoursToEmpty\":" + (hours ? Hours(*hours) : "null") +
            ",\"failures\":[";
    separator = "";
    for (const FailedRow& row : report.failures) {
        json += separator;
        json += "{\"trackReference\":" + row.trackReference + ",\"filePath\":" + JsonString(row.filePath) +
                ",\"reason\":" + (row.reason.empty() ? std::string("null") : JsonString(row.reason)) + "}";
        separator = ",";
    }
    return json + "]}\n";
}

StatusReport ReadStatusReport(DbConnection& connection) {
    const ReportStatements& statements =
        connection.isSqlServer() ? SqlServerReportStatements() : SqliteReportStatements();
    StatusReport report;
    for (auto row = connection.query(statements.statusCounts); !row->eof(); row->moveNext())
        if (const std::string status = Field(*row, "Status"); true)
            report.rowsByStatus[status.empty() ? -1 : std::stoi(status)] = std::stoll(Field(*row, "Total"));
    for (auto row = connection.query(statements.claims); !row->eof(); row->moveNext())
        report.claimed.push_back({Field(*row, "Worker"), Field(*row, "TrackReference"), Field(*row, "FilePath"),
                                  Field(*row, "ClaimedAt")});
    if (auto row = connection.query(statements.finishedLastHour); !row->eof()) {
        report.finishedLastHour = std::stoll(Field(*row, "Total"));
        report.pagesLastHour = std::stoll(Field(*row, "Pages"));
    }
    for (auto row = connection.query(statements.failures); !row->eof(); row->moveNext())
        report.failures.push_back({Field(*row, "TrackReference"), Field(*row, "FilePath"), Field(*row, "LastError")});
    return report;
}

}  // namespace kvo::driver
