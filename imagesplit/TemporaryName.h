#pragma once
// Files written whole: the content goes to a hidden name beside the target and is renamed over
// it only when complete, so no reader (and no folder listing) ever sees half a file.
#include <string>

namespace kvo {

// A fresh hidden name in the folder of `target`: "." + file name (its first 100 bytes) + "." +
// pid + "." + n + ending.
std::string TemporaryNameBeside(const std::string& target, const std::string& ending);

}  // namespace kvo
