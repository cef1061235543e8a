#pragma once
// The folders in which the driver is writing a file whole, noted in the work folder, so that
// the hidden temporaries of a driver that was killed mid-write are found at its next start.
#include <string>

namespace kvo::driver {

// Notes `folder` for as long as it lives. Throws std::runtime_error when the note cannot be
// written (the write is then not begun).
class PendingWrite {
public:
    explicit PendingWrite(std::string folder);
    ~PendingWrite();
    PendingWrite(const PendingWrite&) = delete;
    PendingWrite& operator=(const PendingWrite&) = delete;

private:
    std::string folder_;
};

// At the driver's start: removes the stale temporaries of ours in the work folder and in every
// folder noted by an earlier run, then forgets the folders it could look at (one that is not
// reachable now, an unmounted share, stays noted). Returns the number of files removed.
int RemoveLeftoverTemporaries();

}  // namespace kvo::driver
