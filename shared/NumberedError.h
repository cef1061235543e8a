#pragma once
// An error record as the programs raise it: a number, the source that raised it and a
// description. what() gives "source: description".
#include <cstdint>
#include <stdexcept>
#include <string>

namespace kvo {

class NumberedError : public std::runtime_error {
public:
    NumberedError(std::int32_t number, std::string source, std::string description)
        : std::runtime_error(source + ": " + description),
          number_(number),
          source_(std::move(source)),
          description_(std::move(description)) {}

    std::int32_t number() const { return number_; }
    const std::string& source() const { return source_; }
    const std::string& description() const { return description_; }

private:
    std::int32_t number_;
    std::string source_;
    std::string description_;
};

}  // namespace kvo
