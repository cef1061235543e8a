#pragma once
// Helpers shared by the test suites: private folders, environment overrides, files.
#include <filesystem>
#include <optional>
#include <string>

namespace kvo::test {

namespace fs = std::filesystem;

// A fresh folder under the system temporary folder, removed with everything in it when the
// object goes away.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& label = "kvo-test");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const fs::path& path() const { return path_; }
    std::string str() const { return path_.string(); }
    fs::path operator/(const std::string& name) const { return path_ / name; }

private:
    fs::path path_;
};

// Sets (or, with nullopt, unsets) an environment variable and restores it afterwards.
class EnvVar {
public:
    EnvVar(std::string name, const std::optional<std::string>& value);
    ~EnvVar();
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

void WriteFile(const fs::path& file, const std::string& content);
// A JPEG file's bytes with an Exif block asking for `orientation` (1 to 8) put behind its start
// marker and JFIF block, as a camera writes it.
std::string WithExifOrientation(std::string jpeg, int orientation);
std::string ReadFile(const fs::path& file);

// Copies a built program into folder under the given name (the name a process is watched by),
// executable. Returns the new path.
fs::path InstallProgram(const fs::path& program, const fs::path& folder, const std::string& name);

// The hidden name a whole-file writer on this machine gives `fileName`, as one whose writing
// process has ended leaves it behind.
std::string LeftoverTemporaryName(const std::string& fileName);

// Paths of the build: deliverable programs, test helper programs, the shared corpus.
fs::path BinDir();
fs::path HelperDir();
fs::path CorpusDir();
fs::path SourceDir();

}  // namespace kvo::test
