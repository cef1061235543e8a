#pragma once
// Where the system's folders are on this machine.
#include <string>
#include <sys/types.h>

namespace kvo {

// The work folder shared by the programs of one chain: $TEMP when set; otherwise a private
// folder "kvo-<uid>" under $TMPDIR (else /tmp), created with mode 0700 and refused (an
// exception) when another user owns it. Read afresh on every call; no trailing "/".
std::string TempFolder();

// Creates (or checks) a private work folder: a real directory owned by this user, mode 0700.
// Anything else there (another user's folder, a link, a file) is refused with an exception.
void EnsurePrivateFolder(const std::string& folder);

// Why `folder` cannot be trusted as the work folder, or "" when it can: it must be a folder
// owned by this user that neither its group nor others may write (they could plant links to
// where this user's writes would land, or swap work files).
std::string WorkFolderFault(const std::string& folder);

// The work folder named by the values of TEMP and TMPDIR of a process of user `uid`, by the rule
// above, without touching the file system.
std::string WorkFolderFor(const std::string& temp, const std::string& tmpdir, uid_t uid);

// The folder of the running executable (from /proc/self/exe), no trailing "/".
std::string AppFolder();

// The file name of the running executable, as error records name their source; "" when it
// cannot be read.
std::string ExecutableName();

// The folder that holds console.ini and registry.reg: $windir, else /etc/kvo.
std::string WindowsFolder();

}  // namespace kvo
