#include "shared/platform/WholeFile.h"
#include "shared/platform/ProcessIdentity.h"
#include "shared/platform/Text.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <system_error>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo {

namespace {

constexpr const char* kMarker = ".kvotmp.";
// A name near the file system's limit still leaves room for the marker and the writer; it is cut
// between UTF-8 characters, as a share that checks names may insist.
constexpr std::size_t kKeptNameBytes = 100;

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::system_error(error ? error : EIO, std::generic_category(), what + " " + path);
}

// The writer's identity in its temporaries' names: host, boot, PID namespace, start, pid.
std::string WriterPart(const ProcessIdentity& writer) {
    return writer.host + "." + writer.boot + "." + writer.pidNamespace + "." + std::to_string(writer.start) + "." +
           std::to_string(writer.pid);
}

// The last field of `text` after its last '.', taken off it; nullopt when there is no '.'.
std::optional<std::string_view> TakeLastField(std::string_view& text) {
    const std::size_t dot = text.rfind('.');
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view field = text.substr(dot + 1);
    text = text.substr(0, dot);
    return field;
}

// Who wrote a temporary of ours: ".{name}.kvotmp.{host}.{boot}.{pidns}.{start}.{pid}.{n}", read
// from the end as the host may hold dots. The form of earlier versions, ".{name}.kvotmp.{host}.
// {pid}.{n}", is still known as ours, with its writer unknown.
struct TemporaryOwner {
    std::optional<ProcessIdentity> writer;
};

std::optional<TemporaryOwner> OwnerOf(const std::string& fileName) {
    if (fileName.empty() || fileName[0] != '.') return std::nullopt;
    const std::size_t marker = fileName.rfind(kMarker);
    if (marker == std::string::npos || marker == 0) return std::nullopt;
    std::string_view rest = std::string_view(fileName).substr(marker + std::strlen(kMarker));
    const auto counter = TakeLastField(rest);
    const auto pid = TakeLastField(rest);
    if (!counter || !pid || !AllDigits(*counter) || !AllDigits(*pid) || pid->size() > 9 || rest.empty())
        return std::nullopt;
    std::string_view host = rest;
    const auto start = TakeLastField(host);
    const auto pidNamespace = TakeLastField(host);
    const auto boot = TakeLastField(host);
    const bool identified = start && pidNamespace && boot && !host.empty() && AllDigits(*start) &&
                            (pidNamespace->empty() || AllDigits(*pidNamespace)) &&
                            (boot->empty() || (boot->size() == 8 && boot->find_first_not_of("0123456789abcdef") ==
                                                                        std::string_view::npos));
    // A start too large for any clock names no process: such a writer is judged by age only.
    const std::optional<unsigned long long> started = identified ? WholeNumber<unsigned long long>(*start) : std::nullopt;
    if (!started) return TemporaryOwner{};
    return TemporaryOwner{ProcessIdentity{std::string(host), std::string(*boot), std::string(*pidNamespace),
                                          *WholeNumber<pid_t>(*pid), *started}};
}

void WriteAll(int fd, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Fail("cannot write", path, written < 0 ? errno : ENOSPC);
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

}  // namespace

WholeFileWriter::WholeFileWriter(std::string target, Durability durability)
    : target_(std::move(target)), durability_(durability) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path(target_);
    const std::string prefix = "." + WholeCharactersWithin(path.filename().string(), kKeptNameBytes) + kMarker +
                               WriterPart(ThisProcess()) + ".";
    for (int attempt = 0; fd_ < 0 && attempt < 100; ++attempt) {
        temporary_ = (path.parent_path() / (prefix + std::to_string(counter++))).string();
        // Never through a link, never over an entry; private until given other bits.
        fd_ = ::open(temporary_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        const int error = errno;
        temporary_.clear();
        Fail("cannot write", target_, error);
    }
}

WholeFileWriter::~WholeFileWriter() {
    if (fd_ >= 0) ::close(fd_);
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
}

void WholeFileWriter::write(const void* data, std::size_t size) {
    WriteAll(fd_, static_cast<const char*>(data), size, target_);
}

void WholeFileWriter::copyFrom(const std::string& source, std::uint64_t offset, std::uint64_t length) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) Fail("cannot read", source, errno);
    off_t from = static_cast<off_t>(offset);
    int error = 0;
    while (length > 0 && error == 0) {
        ssize_t copied = copy_file_range(in, &from, fd_, nullptr, length, 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            // A file system without in-kernel copies: through a buffer instead.
            char buffer[1 << 16];
            copied = pread(in, buffer, std::min<std::uint64_t>(sizeof buffer, length), from);
            if (copied > 0) {
                try {
                    write(buffer, static_cast<std::size_t>(copied));
                } catch (...) {
                    ::close(in);
                    throw;
                }
                from += copied;
            }
        }
        if (copied < 0) error = errno;
        else if (copied == 0) error = EIO;  // the source is shorter than asked
        else length -= static_cast<std::uint64_t>(copied);
    }
    ::close(in);
    if (error) Fail("cannot copy", source, error);
}

void WholeFileWriter::copyWholeFile(const std::string& source) {
    struct stat info {};
    if (::stat(source.c_str(), &info) != 0) Fail("cannot read", source, errno);
    if (!S_ISREG(info.st_mode)) Fail("cannot read", source, EISDIR);
    copyFrom(source, 0, static_cast<std::uint64_t>(info.st_size));
}

void WholeFileWriter::copyAttributesFrom(const std::string& file) {
    struct stat original {};
    if (::stat(file.c_str(), &original) != 0) Fail("cannot examine", file, errno);
    if (::fchmod(fd_, original.st_mode & 07777) != 0) Fail("cannot set the permissions of", temporary_, errno);
    struct stat made {};
    if (::fstat(fd_, &made) != 0) Fail("cannot examine", temporary_, errno);
    if ((made.st_uid != original.st_uid || made.st_gid != original.st_gid) &&
        ::fchown(fd_, original.st_uid, original.st_gid) != 0)
        Fail("cannot give the owner of " + file + " to", temporary_, errno);
    // fchown may clear set-id bits: the mode once more.
    if (::fchmod(fd_, original.st_mode & 07777) != 0) Fail("cannot set the permissions of", temporary_, errno);
    attributesCopied_ = true;
}

void WholeFileWriter::takePermissionsOf(const std::string& original) {
    struct stat source {}, made {};
    if (::stat(original.c_str(), &source) != 0) Fail("cannot examine", original, errno);
    if (::fstat(fd_, &made) != 0) Fail("cannot examine", temporary_, errno);
    mode_t mode = source.st_mode & 0777;
    // The members of another group were among the others for the original.
    if (made.st_gid != source.st_gid && ::fchown(fd_, static_cast<uid_t>(-1), source.st_gid) != 0)
        mode = (mode & ~static_cast<mode_t>(070)) | (mode & (mode << 3) & 070);
    if (::fchmod(fd_, mode) != 0) Fail("cannot set the permissions of", temporary_, errno);
    attributesCopied_ = true;
}

void WholeFileWriter::finish() {
    struct stat old {};
    if (!attributesCopied_ && ::stat(target_.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        ::fchmod(fd_, old.st_mode & 07777);
    if (durability_ == Durability::Flushed && ::fsync(fd_) != 0) Fail("cannot write", target_, errno);
    const int closed = ::close(fd_);
    fd_ = -1;
    if (closed != 0) Fail("cannot write", target_, errno);
}

void WholeFileWriter::flushFolder() const {
    if (durability_ != Durability::Flushed) return;
    const std::string folder = std::filesystem::path(target_).parent_path().string();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

void WholeFileWriter::commit() {
    finish();
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) Fail("cannot write", target_, errno);
    temporary_.clear();
    flushFolder();
}

bool WholeFileWriter::commitIfAbsent() {
    finish();
    const auto refused = [this] {
        ::unlink(temporary_.c_str());
        temporary_.clear();
        return false;
    };
    if (const int error = RenameWithoutReplacing(temporary_, target_); error == EEXIST) return refused();
    else if (error != 0) Fail("cannot write", target_, error);
    temporary_.clear();
    flushFolder();
    return true;
}

int RenameWithoutReplacing(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) return std::nullopt;
    return content;
}

bool IsOurTemporaryName(const std::string& fileName) { return OwnerOf(fileName).has_value(); }

int RemoveStaleTemporaries(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return 0;
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        const std::optional<TemporaryOwner> owner = OwnerOf(name);
        if (!owner) continue;
        const std::string path = folder + "/" + name;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        const auto modified = std::chrono::system_clock::from_time_t(info.st_mtime);
        // A writer on another machine, in another boot or PID namespace is not judged here.
        const bool writerGone = owner->writer && StillRuns(*owner->writer) == false;
        if ((writerGone || now - modified > kLongestRun) && ::unlink(path.c_str()) == 0) ++removed;
    }
    ::closedir(dir);
    return removed;
}

}  // namespace kvo
