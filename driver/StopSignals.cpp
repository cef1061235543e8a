#include "driver/StopSignals.h"

#include <csignal>

namespace kvo::driver {
namespace {

volatile std::sig_atomic_t pendingSignal = 0;

extern "C" void NoteStopSignal(int signalNumber) {
    if (signalNumber == SIGTERM || pendingSignal != SIGTERM) pendingSignal = signalNumber;
}

}  // namespace

void InstallStopSignals() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

StopSignal TakeStopSignal() {
    // Read and clear with the signals blocked, so that none slips in between.
    sigset_t block, previous;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigaddset(&block, SIGTERM);
    sigprocmask(SIG_BLOCK, &block, &previous);
    const int taken = pendingSignal;
    pendingSignal = 0;
    sigprocmask(SIG_SETMASK, &previous, nullptr);
    if (taken == SIGTERM) return StopSignal::kTerminate;
    if (taken == SIGINT) return StopSignal::kInterrupt;
    return StopSignal::kNone;
}

}  // namespace kvo::driver
