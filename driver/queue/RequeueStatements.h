#pragma once
// Putting rows back to pending once the cause of their outcome is fixed: their attempts and
// last error cleared and any claim released. Pending rows are never touched (a worker may be
// converting them), nor, chosen by status, rows that hold a converted PDF.
#include <string>
#include <vector>

namespace kvo::driver {

// The queue rows chosen, as a condition on DASearchable: by status (2, 3 or 5; status 2 only
// where the row's type is not PDF, as a converted row's is), or by TrackReference (any
// outcome).
std::string RowsOfStatus(int status);
std::string RowsNamed(const std::vector<long long>& trackReferences);

struct RequeueStatements {
    std::string count;      // as Total
    std::string clearWork;  // the side rows of the chosen rows; run before `requeue`
    std::string requeue;    // the chosen rows back to status 0
};

RequeueStatements SqlServerRequeue(const std::string& rows);
RequeueStatements SqliteRequeue(const std::string& rows);

}  // namespace kvo::driver
