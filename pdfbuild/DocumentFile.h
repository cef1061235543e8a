#pragma once
// The document engine's own file: a header line, then records, then an end mark.
//   header   "KVODOC1\n"
//   record   4-byte tag, 8-byte little-endian payload length, payload
//   "PAGE"   a page's sheet, shapes and fonts as XML; followed by "PICT" when it has a picture
//   "PICT"   the picture's PNG bytes
//   "BRK."   a page break: the next page starts a new sheet
//   "END."   the end mark (empty); a file without it, or with bytes after it, is refused
// A page document holds one page; the assembled document any sequence of pages and breaks.
// Files are written whole (WholeFileWriter) and read one page at a time.
#include <cstdint>
#include <fstream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <variant>

#include "pdfbuild/PageDocument.h"
#include "shared/platform/WholeFile.h"

namespace kvo::pdfbuild {


class DocumentFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct PageBreak {};
using DocumentItem = std::variant<PageBreak, PageDocument>;

class DocumentWriter {
public:
    // Starts a new file for `target`; nothing is visible at `target` before commit().
    explicit DocumentWriter(const std::string& target);
    ~DocumentWriter();

    // Appends the items of an existing document file (checked first).
    void copyItemsOf(const std::string& documentPath);
    void write(const DocumentItem& item);
    void commit();

private:
    void writeRecord(const char (&tag)[5], const void* data, std::uint64_t size);
    std::unique_ptr<WholeFileWriter> out_;
};

class DocumentReader {
public:
    // Opens and checks the whole record chain. Throws DocumentFileError when the file is
    // missing or not a complete document file.
    explicit DocumentReader(const std::string& path);

    // The items in order, one page in memory at a time; nullopt after the last.
    std::optional<DocumentItem> next();

    // Bytes from the end of the header to the end mark.
    std::uint64_t itemBytes() const { return itemBytes_; }

private:
    std::string path_;
    std::ifstream in_;
    std::uint64_t itemBytes_ = 0;
    std::uint64_t position_ = 0;
};

inline constexpr std::uint64_t kDocumentHeaderSize = 8;

// The XML text of a page without its picture bytes, and back (throws DocumentFileError).
std::string PageXml(const PageDocument& page);
PageDocument PageFromXml(const std::string& xml, bool& hasPicture);

// A document file holding exactly one page (a page document).
void SavePageFile(const PageDocument& page, const std::string& path);
PageDocument LoadPageFile(const std::string& path);

}  // namespace kvo::pdfbuild
