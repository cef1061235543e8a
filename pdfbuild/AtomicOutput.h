#pragma once
// A file written as a stream and made visible whole: the bytes go to a hidden name beside the
// target, which replaces the target only on commit(). Without commit() nothing is left behind.
#include <cstdint>
#include <string>

namespace kvo::pdfbuild {

class AtomicOutput {
public:
    // Throws std::runtime_error when the folder of `target` cannot take a new file.
    explicit AtomicOutput(const std::string& target);
    ~AtomicOutput();
    AtomicOutput(const AtomicOutput&) = delete;
    AtomicOutput& operator=(const AtomicOutput&) = delete;

    void write(const void* data, std::size_t size);
    // Appends `length` bytes of `sourcePath` from `offset`, copied inside the kernel.
    void copyFrom(const std::string& sourcePath, std::uint64_t offset, std::uint64_t length);
    // Flushes to disk and renames over the target. Throws std::runtime_error on failure.
    void commit();

private:
    std::string target_;
    std::string temporary_;
    int fd_ = -1;
};

}  // namespace kvo::pdfbuild
