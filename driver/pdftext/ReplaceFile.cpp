#include "driver/pdftext/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace kvo::driver {

namespace {

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

[[noreturn]] void Fail(const std::string& what, const std::string& path) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

void CopyAll(int from, int to, const std::string& source, const std::string& temporary) {
    char buffer[1 << 16];
    for (;;) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got == 0) return;
        if (got < 0) {
            if (errno == EINTR) continue;
            Fail("cannot read", source);
        }
        for (ssize_t written = 0; written < got;) {
            const ssize_t put = ::write(to, buffer + written, static_cast<std::size_t>(got - written));
            if (put < 0) {
                if (errno == EINTR) continue;
                Fail("cannot write", temporary);
            }
            written += put;
        }
    }
}

}  // namespace

void ReplaceFileKeepingPermissions(const std::string& source, const std::string& target) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(target, error);
    if (error) throw std::runtime_error("cannot find " + target + ": " + error.message());
    struct stat original {};
    if (::stat(real.c_str(), &original) != 0) Fail("cannot examine", real);
    if (!S_ISREG(original.st_mode)) throw std::runtime_error(real.string() + " is not a regular file");

    FileDescriptor input(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (input.get() < 0) Fail("cannot open", source);

    std::string temporary = (real.parent_path() / ("." + real.filename().string() + ".KVOReplace-XXXXXX")).string();
    FileDescriptor output(::mkostemp(temporary.data(), O_CLOEXEC));
    if (output.get() < 0) Fail("cannot create a temporary file beside", real);
    try {
        CopyAll(input.get(), output.get(), source, temporary);
        if (::fchmod(output.get(), original.st_mode & 07777) != 0) Fail("cannot set the permissions of", temporary);
        struct stat made {};
        if (::fstat(output.get(), &made) != 0) Fail("cannot examine", temporary);
        if ((made.st_uid != original.st_uid || made.st_gid != original.st_gid) &&
            ::fchown(output.get(), original.st_uid, original.st_gid) != 0)
            Fail("cannot give the owner of the original to", temporary);
        // fchown may clear set-id bits; set the mode once more after it.
        if (::fchmod(output.get(), original.st_mode & 07777) != 0) Fail("cannot set the permissions of", temporary);
        if (::fsync(output.get()) != 0) Fail("cannot flush", temporary);
        if (::close(output.release()) != 0) Fail("cannot close", temporary);
        if (::rename(temporary.c_str(), real.c_str()) != 0) Fail("cannot rename over", real);
    } catch (...) {
        ::unlink(temporary.c_str());
        throw;
    }
    // Make the rename itself durable; the replacement is already complete if this fails.
    FileDescriptor folder(::open(real.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) ::fsync(folder.get());
}

}  // namespace kvo::driver
