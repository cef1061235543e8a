#pragma once
// SIGINT and SIGTERM as the operator's stop. The handler only notes the signal; the progress
// display acts on it at its next message-processing point.
namespace kvo::driver {

enum class StopSignal { kNone, kInterrupt, kTerminate };

// Installs the handlers (once per process; later calls do nothing).
void InstallStopSignals();
// The signal noted since the last call (SIGTERM wins over SIGINT), and forgets it.
StopSignal TakeStopSignal();

}  // namespace kvo::driver
