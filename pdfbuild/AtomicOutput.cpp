#include "pdfbuild/AtomicOutput.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace kvo::pdfbuild {

namespace {

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error) {
    throw std::runtime_error(what + " " + path + ": " + std::strerror(error));
}

}  // namespace

AtomicOutput::AtomicOutput(const std::string& target) : target_(target) {
    std::filesystem::path path(target);
    std::string pattern = (path.parent_path() / ("." + path.filename().string() + ".XXXXXX")).string();
    fd_ = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ < 0) Fail("cannot write", target, errno);
    temporary_ = pattern;
}

AtomicOutput::~AtomicOutput() {
    if (fd_ >= 0) close(fd_);
    if (!temporary_.empty()) unlink(temporary_.c_str());
}

void AtomicOutput::write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        ssize_t written = ::write(fd_, bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) Fail("cannot write", target_, written < 0 ? errno : EIO);
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

void AtomicOutput::copyFrom(const std::string& sourcePath, std::uint64_t offset, std::uint64_t length) {
    int source = open(sourcePath.c_str(), O_RDONLY | O_CLOEXEC);
    if (source < 0) Fail("cannot read", sourcePath, errno);
    off_t from = static_cast<off_t>(offset);
    while (length > 0) {
        ssize_t copied = copy_file_range(source, &from, fd_, nullptr, length, 0);
        if (copied < 0 && errno == EINTR) continue;
        if (copied < 0 && (errno == EXDEV || errno == ENOSYS || errno == EOPNOTSUPP || errno == EINVAL)) {
            // A file system without in-kernel copies: through a buffer instead.
            char buffer[1 << 16];
            copied = pread(source, buffer, std::min<std::uint64_t>(sizeof buffer, length), from);
            if (copied > 0) {
                write(buffer, static_cast<std::size_t>(copied));
                from += copied;
            }
        }
        if (copied <= 0) {
            int error = copied < 0 ? errno : EIO;
            close(source);
            Fail("cannot copy", sourcePath, error);
        }
        length -= static_cast<std::uint64_t>(copied);
    }
    close(source);
}

void AtomicOutput::commit() {
    if (fchmod(fd_, 0644) != 0 || fsync(fd_) != 0) Fail("cannot write", target_, errno);
    int closed = close(fd_);
    fd_ = -1;
    if (closed != 0) Fail("cannot write", target_, errno);
    if (rename(temporary_.c_str(), target_.c_str()) != 0) Fail("cannot write", target_, errno);
    temporary_.clear();
}

}  // namespace kvo::pdfbuild
