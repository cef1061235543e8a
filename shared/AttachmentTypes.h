#pragma once
// The attachment types the system converts: one table that the queue's fill, the row walk, the
// pipeline's choice of splitter, the result check and the requeue all read. Types are compared
// exactly, as upper-case text. No I/O.
//
// PNG and PCX are not among them: the host's fill has always given them status 5, and the
// splitters were never asked to read them.
#include <string_view>
#include <vector>

namespace kvo {

// How an attachment is converted: a PDF keeps its own pages and is split by the PDF splitter
// (its result goes to ".PDF.PDF"); an image becomes the pictures of its frames, split by the
// image splitter (".PDF"); anything else is not converted.
enum class TypeGroup { Pdf, Image, Other };

struct AttachmentType {
    std::string_view name;    // as the host tables write it, in upper case
    std::string_view stored;  // as the queue's Type column (three letters) keeps it
    TypeGroup group;
    bool framed;              // its pages are the frames of a TIFF or fax file
};

// The converted types, in the order the queue's fill lists them.
inline constexpr AttachmentType kAttachmentTypes[] = {
    {"PDF", "PDF", TypeGroup::Pdf, false},   {"BMP", "BMP", TypeGroup::Image, false},
    {"TIF", "TIF", TypeGroup::Image, true},  {"TIFF", "TIF", TypeGroup::Image, true},
    {"JPG", "JPG", TypeGroup::Image, false}, {"JPEG", "JPG", TypeGroup::Image, false},
    {"G3N", "G3N", TypeGroup::Image, true},  {"GIF", "GIF", TypeGroup::Image, false},
};

// The group of an upper-case type or extension; Other for one the table does not hold.
TypeGroup GroupOfType(std::string_view upperType);

// True when the pages of an attachment of that type are the frames of its file.
bool IsFramedType(std::string_view upperType);

// The spellings the queue stores for the converted types, each once, in table order.
std::vector<std::string_view> StoredConvertedTypes();

}  // namespace kvo
