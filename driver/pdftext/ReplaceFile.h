#pragma once
// Replacing a client's file in place without ever leaving it half written.
#include <string>

namespace kvo::driver {

// Replaces the content of `target` (which must exist, and not be reached through a symbolic
// link) with a copy of `source`: the copy is written to a temporary name in the target's
// folder, given the target's permission bits, owner and group, flushed to disk and renamed over
// the target.
// Throws std::runtime_error on any failure, leaving the target exactly as it was and no
// temporary file behind.
void ReplaceFileKeepingPermissions(const std::string& source, const std::string& target);

}  // namespace kvo::driver
