#pragma once
// The batch driver KVOProcess: reads its command line and does what it asks, run cycles over the
// work queue (Cycle) or one of the operator's commands (OperatorCommands).
namespace kvo::driver::KVOProcessModule {

// The program: "KVOProcess", "KVOProcess --once", "KVOProcess --workers N", an operator's
// command or "KVOProcess --help". Returns the exit status; a command line it cannot follow is
// told on standard error and ends it with kExitUsage.
int Main(int argc, char** argv);

}  // namespace kvo::driver::KVOProcessModule
