#pragma once
// Putting rows back to pending once the cause of their outcome is fixed: their attempts and
// last error cleared, any claim released, and a converted row's original type and path restored
// from its side row. Pending rows are never touched (a worker may be converting them), nor,
// chosen by status, rows that hold a converted PDF.
#include <string>
#include <vector>

namespace kvo::driver {

// The queue rows chosen, as a condition on DASearchable: by status (2, 3 or 5; status 2 only
// where the row's type is not PDF, as a converted row's is), by TrackReference (whatever their
// status), or those of a condition whose type (upper case) is one of `types`.
std::string RowsOfStatus(int status);
std::string RowsNamed(const std::vector<long long>& trackReferences);
std::string RowsOfTypes(const std::string& rows, const std::vector<std::string>& types);

struct RequeueStatements {
    std::string typeCounts;  // Type (upper case), Total: the chosen rows per type
    std::string rowStates;   // TrackReference, Status, Type (upper case), OriginalType (NULL: none kept)
    std::string clearWork;   // the side rows of the chosen rows; run before `requeue`
    std::string requeue;     // the chosen rows that are not pending back to status 0, with the
                             // original type and path where their side row kept them
};

RequeueStatements SqlServerRequeue(const std::string& rows);
RequeueStatements SqliteRequeue(const std::string& rows);

}  // namespace kvo::driver
