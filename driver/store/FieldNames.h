#pragma once
// The column names of a result, looked up without regard to case.
#include <string>
#include <vector>

namespace kvo::driver {

class FieldNames {
public:
    FieldNames() = default;
    explicit FieldNames(std::vector<std::string> names) : names_(std::move(names)) {}

    std::size_t size() const { return names_.size(); }
    // The column index of `name`; throws DbError naming the field when there is none.
    int indexOf(const std::string& name) const;

private:
    std::vector<std::string> names_;
};

}  // namespace kvo::driver
