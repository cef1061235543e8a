#include "driver/pdftext/ReplaceFile.h"

#include <sys/stat.h>

#include <filesystem>
#include <stdexcept>

#include "shared/platform/WholeFile.h"

namespace kvo::driver {

void ReplaceFileKeepingPermissions(const std::string& source, const std::string& target) {
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(target, error);
    if (error) throw std::runtime_error("cannot find " + target + ": " + error.message());
    // A link (to the file or to a folder on its way) may lead anywhere, out of the shares too.
    if (real != std::filesystem::absolute(target).lexically_normal())
        throw std::runtime_error(target + " is reached through a link and is not replaced");
    struct stat original {};
    if (::stat(real.c_str(), &original) != 0 || !S_ISREG(original.st_mode))
        throw std::runtime_error(real.string() + " is not a regular file");

    WholeFileWriter replacement(real.string());
    replacement.copyWholeFile(source);
    replacement.copyAttributesFrom(real.string());
    replacement.commit();
}

}  // namespace kvo::driver
