#include "shared/ExitStatus.h"

#include <cerrno>
#include <system_error>

namespace kvo {

int ExitStatusForError(const std::exception& error) {
    if (dynamic_cast<const EndedFromOutside*>(&error)) return kExitEndedFromOutside;
    if (dynamic_cast<const NoRoomForWork*>(&error)) return kExitNoRoom;
    if (dynamic_cast<const TooLargeForWork*>(&error)) return kExitTooLargeForWork;
    if (dynamic_cast<const NoReadablePage*>(&error)) return kExitNoReadablePage;
    if (const auto* system = dynamic_cast<const std::system_error*>(&error)) {
        const int code = system->code().value();
        if (system->code().category() == std::generic_category() && (code == ENOSPC || code == EDQUOT))
            return kExitNoRoom;
    }
    return kExitOk;
}

bool IsMachineFault(const std::exception& error) {
    const int status = ExitStatusForError(error);
    return status == kExitEndedFromOutside || status == kExitNoRoom;
}

bool SkipUnlessMachineFault(const std::function<void()>& step,
                            const std::function<void(const std::exception&)>& onSkipped) {
    try {
        step();
        return true;
    } catch (const std::exception& error) {
        if (IsMachineFault(error)) throw;
        if (onSkipped) onSkipped(error);
    } catch (...) {
        if (onSkipped) onSkipped(std::runtime_error("unknown error"));
    }
    return false;
}

}  // namespace kvo
