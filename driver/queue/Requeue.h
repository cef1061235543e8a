#pragma once
// The operator's requeue: which rows go back to pending, which are left out and why, and the
// change itself.
#include <optional>
#include <string>
#include <vector>

namespace kvo::driver {

class DbConnection;

// By status (--requeue) or by TrackReference (--requeue-ref).
struct RequeueChoice {
    std::optional<int> status;
    std::vector<long long> references;
};

struct RequeuePlan {
    std::string rows;                  // the condition on DASearchable of the rows to put back
    long long chosen = 0;              // how many
    std::vector<std::string> notes;    // rows left out, and why, one line each
    std::vector<std::string> refusals; // rows named that cannot be put back, one line each
};

// Chosen by status, rows of a type the walk does not convert are left out (a note counts them):
// they would only get the same status again. Chosen by TrackReference, a reference the queue
// does not hold and a converted row whose original is not known are refused, and a pending row
// is left as it is. Reads only. Throws DbError.
RequeuePlan PlanRequeue(DbConnection& connection, const RequeueChoice& choice);

// Puts the planned rows back; the count of rows changed. Throws DbError.
long long CarryOut(DbConnection& connection, const RequeuePlan& plan);

}  // namespace kvo::driver
