#pragma once
// The read-only statements of the operator's reports, one set per store. Each reads the queue
// and its side table and changes nothing.
#include <string>

namespace kvo::driver {

struct ReportStatements {
    std::string statusCounts;      // Status, Total: rows per status
    std::string claims;            // Worker, TrackReference, FilePath, ClaimedAt: pending rows claimed now
    std::string finishedLastHour;  // Total, Pages: rows that left status 0 with a claim taken in the last
                                   // hour, and the pages of those converted
    std::string failures;          // TrackReference, FilePath, LastError: the 20 latest rows of status 5
};

const ReportStatements& SqlServerReportStatements();
const ReportStatements& SqliteReportStatements();

}  // namespace kvo::driver
