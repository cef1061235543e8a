#pragma once
// The driver's run: cycles over the queue until the operator stops it (one, with --once), each
// set up by the driver, walked by the driver itself or by its worker processes, and followed by
// the wait for the 18 o'clock hour; and a worker's share of its driver's cycle.
namespace kvo::driver {

struct Options;

// Runs cycles as `options` say, or (Command::Worker) one worker's share of its driver's cycle.
// Returns the exit status: kExitOk after a stop or a single cycle; kExitFailure when the
// configuration or the database cannot be used or, with `once`, when a mapped folder is missing;
// kExitUsage when the Workers= setting is not a count; a worker kExitWorkerTimeLimit when its
// cycle reached its time limit.
int RunBatch(const Options& options);

}  // namespace kvo::driver
