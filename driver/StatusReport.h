#pragma once
// KVOProcess --status: what the queue holds, who works on it, how fast it empties and why rows
// failed. Reading it never changes the queue.
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvo::driver {

class DbConnection;

struct ClaimedRow {
    std::string worker, trackReference, filePath, claimedAt;  // claimedAt: UTC, "YYYY-MM-DD hh:mm:ss"
};

struct FailedRow {
    std::string trackReference, filePath, reason;  // reason "" when none was stored
};

struct StatusReport {
    std::map<int, long long> rowsByStatus;
    std::vector<ClaimedRow> claimed;
    long long finishedLastHour = 0;  // rows that got an outcome in the last hour
    long long pagesLastHour = 0;     // pages of the rows converted in the last hour
    std::vector<FailedRow> failures; // the latest first, at most 20
};

// The meaning of a status code; "unknown status" for any other.
std::string StatusMeaning(int status);
// Hours until the pending rows are done at `perHour`; nullopt when nothing is being finished.
std::optional<double> HoursToEmpty(long long pending, long long perHour);
// The report for people (control characters made printable), and the same as one JSON object.
std::string StatusText(const StatusReport& report);
std::string StatusJson(const StatusReport& report);
// The text as a JSON string literal, quotes included; a byte that is not part of well-formed
// UTF-8 (a path written in another encoding) becomes U+FFFD.
std::string JsonString(const std::string& text);

// Reads the report; throws DbError.
StatusReport ReadStatusReport(DbConnection& connection);

}  // namespace kvo::driver
