#include "imagesplit/TemporaryName.h"

#include <atomic>
#include <filesystem>
#include <unistd.h>

namespace kvo {

std::string TemporaryNameBeside(const std::string& target, const std::string& ending) {
    static std::atomic<unsigned> counter{0};
    const std::filesystem::path path(target);
    // The target's name is shortened so that a name near the file system's limit still fits.
    const std::string name = "." + path.filename().string().substr(0, 100) + "." + std::to_string(getpid()) + "." +
                             std::to_string(counter++) + ending;
    return (path.parent_path() / name).string();
}

}  // namespace kvo
