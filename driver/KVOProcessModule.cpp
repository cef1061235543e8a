#include "driver/KVOProcessModule.h"

#include <iostream>

#include "driver/Cycle.h"
#include "driver/JournalLog.h"
#include "driver/OperatorCommands.h"
#include "driver/Options.h"
#include "shared/ExitStatus.h"

namespace kvo::driver::KVOProcessModule {

int Main(int argc, char** argv) {
    try {
        const Options options = ParseOptions(argc, argv);
        switch (options.command) {
            case Command::Help: std::cout << kUsage; return kExitOk;
            case Command::Check: return CheckCommand();
            case Command::ShowStatus: return StatusCommand(options.json);
            case Command::Requeue: return RequeueCommand(*options.requeue, options.yes);
            case Command::RunCycles:
            case Command::Worker: return RunBatch(options);
        }
    } catch (const UsageError& error) {
        Report(error.what());
        return kExitUsage;
    } catch (const std::exception& error) {
        Report(std::string("stopped by an unexpected error: ") + error.what());
    }
    return kExitFailure;
}

}  // namespace kvo::driver::KVOProcessModule
