#include "driver/store/FieldNames.h"

#include "driver/store/DbConnection.h"
#include "shared/platform/Text.h"

namespace kvo::driver {

int FieldNames::indexOf(const std::string& name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (EqualsIgnoringCase(names_[i], name)) return static_cast<int>(i);
    throw DbError("the result has no field named " + name);
}

}  // namespace kvo::driver
