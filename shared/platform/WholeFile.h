#pragma once
// Files written whole: the bytes go to a hidden temporary name beside the target, which
// replaces the target only on commit, so no reader (and no folder listing) ever sees half a
// file. The temporary names carry the identity of their writer (ProcessIdentity), so that the
// leftovers of a killed writer can be told from everything else and removed.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace kvo {

enum class Durability {
    Flushed,  // file and folder flushed to disk: results, documents, a client's file
    Plain,    // no flush: large short-lived work files
};

// Longer than any run of one attachment through the chain; a temporary of ours older than
// this is a leftover even when its writer's process id has been reused.
inline constexpr std::chrono::hours kLongestRun{6};

class WholeFileWriter {
public:
    // Creates the temporary file beside `target` (which is used as given: callers resolve
    // names first), readable by this user only. Throws std::system_error when the folder cannot
    // take a new file.
    explicit WholeFileWriter(std::string target, Durability durability = Durability::Flushed);
    // Without a commit the temporary file is removed.
    ~WholeFileWriter();
    WholeFileWriter(const WholeFileWriter&) = delete;
    WholeFileWriter& operator=(const WholeFileWriter&) = delete;

    // The open temporary file; another writer may also write to temporaryPath() by name.
    int fd() const { return fd_; }
    const std::string& temporaryPath() const { return temporary_; }
    const std::string& target() const { return target_; }

    // Each throws std::system_error on failure (a full disk, an unreadable source).
    void write(const void* data, std::size_t size);
    void copyFrom(const std::string& source, std::uint64_t offset, std::uint64_t length);
    void copyWholeFile(const std::string& source);
    // Gives the new file the permission bits, owner and group of `file`.
    void copyAttributesFrom(const std::string& file);
    // Gives the new file the permission bits (without set-id bits) of `original`, and its group
    // where this user may; where it may not, the file's group gets only what both the group and
    // the others may do with `original`. The owner stays this user: the file is never more
    // readable than `original`.
    void takePermissionsOf(const std::string& original);

    // Renames the file over the target. Unless attributes were copied, an existing target's
    // permission bits are kept. Throws std::system_error; the target is then unchanged.
    void commit();
    // Like commit, but never replaces an existing entry: false (and the temporary removed)
    // when one is there.
    bool commitIfAbsent();

private:
    void finish();
    void flushFolder() const;

    std::string target_;
    std::string temporary_;
    Durability durability_;
    int fd_ = -1;
    bool attributesCopied_ = false;
};

// Renames `from` to `to` unless an entry named `to` exists, with no gap between a check and the
// rename: renameat2 with RENAME_NOREPLACE, or on a file system without it a hard link (which
// refuses an existing name too) and then the old name removed. 0 when renamed, else the error
// number (EEXIST when `to` exists).
int RenameWithoutReplacing(const std::string& from, const std::string& to);

// The whole content of the file at `path` (used as given); nullopt when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::string& path);

// True for a name that WholeFileWriter gives its temporary files.
bool IsOurTemporaryName(const std::string& fileName);

// Removes the temporaries of ours in `folder` that are leftovers: their writer, in this process
// list, no longer runs, or they are older than kLongestRun (a writer on another machine, or in
// another boot or PID namespace, is not judged by its process id). Nothing else is touched.
// Returns how many.
int RemoveStaleTemporaries(const std::string& folder);

}  // namespace kvo
