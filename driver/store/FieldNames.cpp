#include "driver/store/FieldNames.h"

#include <strings.h>

#include "driver/store/DbConnection.h"

namespace kvo::driver {

int FieldNames::indexOf(const std::string& name) const {
    for (std::size_t i = 0; i < names_.size(); ++i)
        if (strcasecmp(names_[i].c_str(), name.c_str()) == 0) return static_cast<int>(i);
    throw DbError("the result has no field named " + name);
}

}  // namespace kvo::driver
