#pragma once
// The operator's commands: each does its one thing on the queue and ends with its status
// (kExitOk, kExitFailure when something is wrong, kExitUsage for a change nobody confirmed).
namespace kvo::driver {

struct RequeueChoice;

// --check: one line per check of what a cycle needs; kExitOk only when all pass.
int CheckCommand();
// --status [--json]: the queue's rows, claims, rate and latest failures. Reads only.
int StatusCommand(bool json);
// --requeue / --requeue-ref: puts the chosen rows back to pending, after asking on a terminal
// unless `yes`. Throws UsageError without a terminal and without `yes`.
int RequeueCommand(const RequeueChoice& choice, bool yes);

}  // namespace kvo::driver
