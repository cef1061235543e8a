// The one table of attachment types, as each of its readers asks it.
#include <gtest/gtest.h>

#include "shared/AttachmentTypes.h"

namespace kvo {
namespace {

TEST(AttachmentTypes, EachTypeHasOneGroupAndFramesOnlyForTiffAndFax) {
    const struct {
        const char* type;
        TypeGroup group;
        bool framed;
    } cases[] = {
        {"PDF", TypeGroup::Pdf, false},    {"BMP", TypeGroup::Image, false},  {"TIF", TypeGroup::Image, true},
        {"TIFF", TypeGroup::Image, true},  {"G3N", TypeGroup::Image, true},   {"JPG", TypeGroup::Image, false},
        {"JPEG", TypeGroup::Image, false}, {"GIF", TypeGroup::Image, false},  {"PNG", TypeGroup::Other, false},
        {"PCX", TypeGroup::Other, false},  {"DOC", TypeGroup::Other, false},  {"pdf", TypeGroup::Other, false},
        {"TIF ", TypeGroup::Other, false}, {"", TypeGroup::Other, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(GroupOfType(c.type), c.group) << c.type;
        EXPECT_EQ(IsFramedType(c.type), c.framed) << c.type;
    }
}

TEST(AttachmentTypes, TheQueueStoresEachConvertedTypeInThreeLettersOnce) {
    EXPECT_EQ(StoredConvertedTypes(), (std::vector<std::string_view>{"PDF", "BMP", "TIF", "JPG", "G3N", "GIF"}));
    for (const AttachmentType& type : kAttachmentTypes) {
        EXPECT_EQ(type.stored.size(), 3u) << type.name;
        EXPECT_EQ(GroupOfType(type.stored), type.group) << type.name;
    }
}

}  // namespace
}  // namespace kvo
