#include "support/TestSupport.h"

#include "shared/platform/WholeFile.h"

#include <cstdint>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <fstream>
#include <stdexcept>

namespace kvo::test {

ScratchDir::ScratchDir(const std::string& label) {
    std::string pattern = (fs::temp_directory_path() / (label + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create scratch folder " + pattern);
    path_ = pattern;
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

EnvVar::EnvVar(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
    if (const char* old = std::getenv(name_.c_str())) old_ = old;
    if (value) setenv(name_.c_str(), value->c_str(), 1);
    else unsetenv(name_.c_str());
}

EnvVar::~EnvVar() {
    if (old_) setenv(name_.c_str(), old_->c_str(), 1);
    else unsetenv(name_.c_str());
}

void WriteFile(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) throw std::runtime_error("cannot write " + file.string());
    out << content;
}

std::string WithExifOrientation(std::string jpeg, int orientation) {
    // APP1, 34 bytes: "Exif", a big-endian TIFF header and one directory of one entry, the
    // orientation as a SHORT.
    std::string exif("\xFF\xE1\x00\x22"
                     "Exif\0\0MM\x00\x2A\x00\x00\x00\x08"
                     "\x00\x01\x01\x12\x00\x03\x00\x00\x00\x01\x00\x00\x00\x00"
                     "\x00\x00\x00\x00",
                     36);
    exif[29] = static_cast<char>(orientation);
    const bool jfif = jpeg.size() > 6 && jpeg.compare(2, 2, "\xFF\xE0") == 0;
    const std::size_t at = jfif ? 4 + (std::size_t(std::uint8_t(jpeg[4])) << 8 | std::uint8_t(jpeg[5])) : 2;
    return jpeg.insert(at, exif);
}

std::string ReadFile(const fs::path& file) { return ReadWholeFile(file.string()).value_or(""); }

fs::path InstallProgram(const fs::path& program, const fs::path& folder, const std::string& name) {
    fs::create_directories(folder);
    fs::path target = folder / name;
    fs::copy_file(program, target, fs::copy_options::overwrite_existing);
    fs::permissions(target, fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    return target;
}

fs::path BinDir() { return KVO_BIN_DIR; }
fs::path HelperDir() { return KVO_TEST_HELPER_DIR; }
fs::path CorpusDir() { return KVO_CORPUS_DIR; }
fs::path SourceDir() { return KVO_SOURCE_DIR; }

std::string LeftoverTemporaryName(const std::string& fileName) {
    // A writer that ends without committing or cleaning up, as a killed one does.
    ScratchDir folder("kvo-leftover");
    const pid_t writer = fork();
    if (writer == 0) {
        new WholeFileWriter((folder.path() / fileName).string(), Durability::Plain);
        _exit(0);
    }
    waitpid(writer, nullptr, 0);
    for (const fs::directory_entry& entry : fs::directory_iterator(folder.path())) return entry.path().filename();
    throw std::runtime_error("no temporary was left for " + fileName);
}

}  // namespace kvo::test
