#include "driver/ClaimKeepingDisplay.h"

#include "driver/queue/WorkQueue.h"

namespace kvo::driver {

void ClaimKeepingDisplay::processMessages() {
    shown_.processMessages();
    queue_.keepClaimFresh();
}

}  // namespace kvo::driver
