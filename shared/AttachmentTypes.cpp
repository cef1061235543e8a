#include "shared/AttachmentTypes.h"

#include <algorithm>

namespace kvo {

namespace {

const AttachmentType* Find(std::string_view upperType) {
    for (const AttachmentType& type : kAttachmentTypes)
        if (type.name == upperType) return &type;
    return nullptr;
}

}  // namespace

TypeGroup GroupOfType(std::string_view upperType) {
    const AttachmentType* type = Find(upperType);
    return type ? type->group : TypeGroup::Other;
}

bool IsFramedType(std::string_view upperType) {
    const AttachmentType* type = Find(upperType);
    return type && type->framed;
}

std::vector<std::string_view> StoredConvertedTypes() {
    std::vector<std::string_view> stored;
    for (const AttachmentType& type : kAttachmentTypes)
        if (std::find(stored.begin(), stored.end(), type.stored) == stored.end()) stored.push_back(type.stored);
    return stored;
}

}  // namespace kvo
