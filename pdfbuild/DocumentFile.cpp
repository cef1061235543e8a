#include "pdfbuild/DocumentFile.h"

#include <array>
#include <charconv>
#include <cstring>
#include <filesystem>

#include "shared/platform/WholeFile.h"
#include "shared/platform/FileSearch.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::pdfbuild {

namespace {

constexpr char kHeader[] = "KVODOC1\n";
constexpr char kPageTag[] = "PAGE";
constexpr char kPictureTag[] = "PICT";
constexpr char kBreakTag[] = "BRK.";
constexpr char kEndTag[] = "END.";
constexpr std::size_t kRecordHeaderSize = 12;

struct RecordHeader {
    std::string tag;
    std::uint64_t length = 0;
};

std::string NumberText(double value) {
    std::array<char, 32> text{};
    auto end = std::to_chars(text.data(), text.data() + text.size(), value).ptr;
    return std::string(text.data(), end);
}

double NumberOf(const xml::Node& node, const char* name) {
    auto text = node.attribute(name);
    double value = 0;
    if (!text || std::from_chars(text->data(), text->data() + text->size(), value).ec != std::errc())
        throw DocumentFileError(std::string("page description lacks a number for ") + name);
    return value;
}

std::string TextOf(const xml::Node& node, const char* name) {
    auto text = node.attribute(name);
    if (!text) throw DocumentFileError(std::string("page description lacks ") + name);
    return *text;
}

std::optional<bool> FlagOf(const xml::Node& node, const char* name) {
    auto text = node.attribute(name);
    if (!text) return std::nullopt;
    return *text == "1";
}

constexpr std::array<const char*, 3> FilterNames{"dct", "ccitt", "flate"};
constexpr std::array<const char*, 4> ColourNames{"grey", "rgb", "cmyk", "indexed"};

template <std::size_t N>
std::size_t IndexOf(const std::array<const char*, N>& names, const std::string& name) {
    for (std::size_t i = 0; i < N; ++i)
        if (name == names[i]) return i;
    throw DocumentFileError("page description has an unknown value " + name);
}

std::string HexOf(const std::vector<std::uint8_t>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : bytes) hex += {kDigits[byte >> 4], kDigits[byte & 0xF]};
    return hex;
}

std::vector<std::uint8_t> BytesOfHex(const std::string& hex) {
    if (hex.size() % 2 != 0) throw DocumentFileError("page description has a broken palette");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        if (std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16).ptr != hex.data() + i + 2)
            throw DocumentFileError("page description has a broken palette");
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

void SetNumber(xml::Node& node, const char* name, double value) { node.setAttribute(name, NumberText(value)); }
void SetFlag(xml::Node& node, const char* name, bool value) { node.setAttribute(name, value ? "1" : "0"); }

std::string ResolvedOrThrow(const std::string& path) {
    auto real = ResolveFile(path);
    if (!real) throw DocumentFileError("no document " + path);
    return *real;
}

}  // namespace

std::string PageXml(const PageDocument& page) {
    xml::Document doc;
    xml::Node root = doc.appendElement("page");
    root.setAttribute("paper", "A4");
    root.setAttribute("orientation", page.setup.orientation == Orientation::Portrait ? "portrait" : "landscape");
    SetNumber(root, "topMargin", page.setup.topMargin);
    SetNumber(root, "bottomMargin", page.setup.bottomMargin);
    SetNumber(root, "leftMargin", page.setup.leftMargin);
    SetNumber(root, "rightMargin", page.setup.rightMargin);
    if (const auto& kept = page.kept) {
        xml::Node node = root.appendElement("kept");
        node.setAttribute("source", kept->sourcePdf);
        SetNumber(node, "page", kept->sourcePage);
        SetNumber(node, "x0", kept->shownBox.x0);
        SetNumber(node, "y0", kept->shownBox.y0);
        SetNumber(node, "x1", kept->shownBox.x1);
        SetNumber(node, "y1", kept->shownBox.y1);
        SetNumber(node, "rotate", kept->rotate);
    }
    if (const auto& picture = page.picture) {
        xml::Node node = root.appendElement("picture");
        SetNumber(node, "pixelWidth", picture->pixelWidth);
        SetNumber(node, "pixelHeight", picture->pixelHeight);
        const image::EncodedPicture& encoded = picture->encoded;
        node.setAttribute("filter", FilterNames[static_cast<int>(encoded.filter)]);
        node.setAttribute("colours", ColourNames[static_cast<int>(encoded.colours)]);
        SetNumber(node, "codedWidth", encoded.width);
        SetNumber(node, "codedHeight", encoded.height);
        SetNumber(node, "bitsPerComponent", encoded.bitsPerComponent);
        SetNumber(node, "ccittK", encoded.ccittK);
        SetFlag(node, "byteAligned", encoded.ccittByteAligned);
        SetFlag(node, "pngPredicted", encoded.pngPredicted);
        SetFlag(node, "inverted", encoded.inverted);
        SetNumber(node, "clockwise", encoded.clockwise);
        SetFlag(node, "mirrored", encoded.mirrored);
        node.setAttribute("palette", HexOf(encoded.palette));
        SetNumber(node, "left", picture->left);
        SetNumber(node, "top", picture->top);
        SetNumber(node, "width", picture->width);
        SetNumber(node, "height", picture->height);
    }
    for (const TextBoxShape& box : page.textBoxes) {
        xml::Node node = root.appendElement("textbox");
        SetNumber(node, "left", box.left);
        SetNumber(node, "top", box.top);
        SetNumber(node, "width", box.width);
        SetNumber(node, "height", box.height);
        SetFlag(node, "fill", box.fillVisible);
        SetFlag(node, "line", box.lineVisible);
        SetNumber(node, "marginLeft", box.marginLeft);
        SetNumber(node, "marginRight", box.marginRight);
        SetNumber(node, "marginTop", box.marginTop);
        SetNumber(node, "marginBottom", box.marginBottom);
        SetFlag(node, "behindText", box.behindText);
        node.setAttribute("font", box.font.name);
        SetNumber(node, "size", box.font.size);
        if (box.font.bold) SetFlag(node, "bold", *box.font.bold);
        if (box.font.italic) SetFlag(node, "italic", *box.font.italic);
        SetNumber(node, "colour", box.font.colour);
        if (box.baseline) SetNumber(node, "baseline", *box.baseline);
        node.setAttribute("text", box.text);
    }
    return doc.xml();
}

PageDocument PageFromXml(const std::string& text, bool& hasPicture) {
    xml::Document doc;
    if (!doc.loadText(text)) throw DocumentFileError("page description is not well-formed");
    xml::Node root = doc.selectSingleNode("page");
    if (!root) throw DocumentFileError("page description has no page");
    PageDocument page;
    page.setup.orientation = TextOf(root, "orientation") == "landscape" ? Orientation::Landscape : Orientation::Portrait;
    page.setup.topMargin = NumberOf(root, "topMargin");
    page.setup.bottomMargin = NumberOf(root, "bottomMargin");
    page.setup.leftMargin = NumberOf(root, "leftMargin");
    page.setup.rightMargin = NumberOf(root, "rightMargin");
    hasPicture = false;
    if (xml::Node node = root.selectSingleNode("kept")) {
        KeptPage kept;
        kept.sourcePdf = TextOf(node, "source");
        kept.sourcePage = static_cast<int>(NumberOf(node, "page"));
        kept.shownBox = {NumberOf(node, "x0"), NumberOf(node, "y0"), NumberOf(node, "x1"), NumberOf(node, "y1")};
        kept.rotate = static_cast<int>(NumberOf(node, "rotate"));
        page.kept = std::move(kept);
    }
    if (xml::Node node = root.selectSingleNode("picture")) {
        PictureShape picture;
        picture.pixelWidth = static_cast<int>(NumberOf(node, "pixelWidth"));
        picture.pixelHeight = static_cast<int>(NumberOf(node, "pixelHeight"));
        image::EncodedPicture& encoded = picture.encoded;
        encoded.filter = static_cast<image::EncodedPicture::Filter>(IndexOf(FilterNames, TextOf(node, "filter")));
        encoded.colours = static_cast<image::EncodedPicture::Colours>(IndexOf(ColourNames, TextOf(node, "colours")));
        encoded.width = static_cast<int>(NumberOf(node, "codedWidth"));
        encoded.height = static_cast<int>(NumberOf(node, "codedHeight"));
        encoded.bitsPerComponent = static_cast<int>(NumberOf(node, "bitsPerComponent"));
        encoded.ccittK = static_cast<int>(NumberOf(node, "ccittK"));
        encoded.ccittByteAligned = FlagOf(node, "byteAligned").value_or(false);
        encoded.pngPredicted = FlagOf(node, "pngPredicted").value_or(false);
        encoded.inverted = FlagOf(node, "inverted").value_or(false);
        encoded.clockwise = static_cast<int>(NumberOf(node, "clockwise"));
        encoded.mirrored = FlagOf(node, "mirrored").value_or(false);
        encoded.palette = BytesOfHex(TextOf(node, "palette"));
        picture.left = NumberOf(node, "left");
        picture.top = NumberOf(node, "top");
        picture.width = NumberOf(node, "width");
        picture.height = NumberOf(node, "height");
        page.picture = std::move(picture);
        hasPicture = true;
    }
    for (const xml::Node& node : root.selectNodes("textbox")) {
        TextBoxShape box;
        box.left = NumberOf(node, "left");
        box.top = NumberOf(node, "top");
        box.width = NumberOf(node, "width");
        box.height = NumberOf(node, "height");
        box.fillVisible = FlagOf(node, "fill").value_or(true);
        box.lineVisible = FlagOf(node, "line").value_or(true);
        box.marginLeft = NumberOf(node, "marginLeft");
        box.marginRight = NumberOf(node, "marginRight");
        box.marginTop = NumberOf(node, "marginTop");
        box.marginBottom = NumberOf(node, "marginBottom");
        box.behindText = FlagOf(node, "behindText").value_or(false);
        box.font.name = TextOf(node, "font");
        box.font.size = NumberOf(node, "size");
        box.font.bold = FlagOf(node, "bold");
        box.font.italic = FlagOf(node, "italic");
        box.font.colour = static_cast<std::uint32_t>(NumberOf(node, "colour"));
        box.text = TextOf(node, "text");
        if (node.attribute("baseline")) box.baseline = NumberOf(node, "baseline");
        page.textBoxes.push_back(std::move(box));
    }
    return page;
}

// Page and assembled documents are work files the builder remakes after any crash: written
// whole, but not waited for on disk.
DocumentWriter::DocumentWriter(const std::string& target)
    : out_(std::make_unique<WholeFileWriter>(target, Durability::Plain)) {
    out_->write(kHeader, kDocumentHeaderSize);
}

DocumentWriter::~DocumentWriter() = default;

void DocumentWriter::writeRecord(const char (&tag)[5], const void* data, std::uint64_t size) {
    unsigned char header[kRecordHeaderSize];
    std::memcpy(header, tag, 4);
    for (int i = 0; i < 8; ++i) header[4 + i] = static_cast<unsigned char>(size >> (8 * i));
    out_->write(header, sizeof header);
    if (size > 0) out_->write(data, size);
}

void DocumentWriter::copyItemsOf(const std::string& documentPath) {
    DocumentReader existing(documentPath);
    out_->copyFrom(ResolvedOrThrow(documentPath), kDocumentHeaderSize, existing.itemBytes());
}

void DocumentWriter::write(const DocumentItem& item) {
    if (std::holds_alternative<PageBreak>(item)) {
        writeRecord(kBreakTag, nullptr, 0);
        return;
    }
    const PageDocument& page = std::get<PageDocument>(item);
    std::string xml = PageXml(page);
    writeRecord(kPageTag, xml.data(), xml.size());
    if (page.picture) writeRecord(kPictureTag, page.picture->encoded.data.data(), page.picture->encoded.data.size());
}

void DocumentWriter::commit() {
    writeRecord(kEndTag, nullptr, 0);
    out_->commit();
}

namespace {

std::optional<RecordHeader> ReadRecordHeader(std::ifstream& in) {
    unsigned char bytes[kRecordHeaderSize];
    if (!in.read(reinterpret_cast<char*>(bytes), sizeof bytes)) return std::nullopt;
    RecordHeader header;
    header.tag.assign(reinterpret_cast<char*>(bytes), 4);
    for (int i = 7; i >= 0; --i) header.length = (header.length << 8) | bytes[4 + i];
    return header;
}

std::string ReadPayload(std::ifstream& in, std::uint64_t length, const std::string& path) {
    std::string payload(static_cast<std::size_t>(length), '\0');
    if (!in.read(payload.data(), static_cast<std::streamsize>(length)))
        throw DocumentFileError("cannot read " + path);
    return payload;
}

}  // namespace

DocumentReader::DocumentReader(const std::string& path) : path_(ResolvedOrThrow(path)) {
    in_.open(path_, std::ios::binary);
    const std::uint64_t size = std::filesystem::file_size(path_);
    char header[kDocumentHeaderSize];
    if (!in_ || !in_.read(header, sizeof header) || std::memcmp(header, kHeader, sizeof header) != 0)
        throw DocumentFileError("not a document file: " + path);
    // Walk the record chain once so that a damaged file is refused before any page is used.
    std::uint64_t at = kDocumentHeaderSize;
    for (;;) {
        auto record = ReadRecordHeader(in_);
        if (!record) throw DocumentFileError("document file is incomplete: " + path);
        at += kRecordHeaderSize;
        if (record->tag == kEndTag) {
            if (at != size || record->length != 0) throw DocumentFileError("document file is damaged: " + path);
            itemBytes_ = at - kRecordHeaderSize - kDocumentHeaderSize;
            break;
        }
        if (record->tag != kPageTag && record->tag != kPictureTag && record->tag != kBreakTag)
            throw DocumentFileError("document file is damaged: " + path);
        if (record->length > size - at) throw DocumentFileError("document file is incomplete: " + path);
        at += record->length;
        in_.seekg(static_cast<std::streamoff>(at));
    }
    in_.seekg(static_cast<std::streamoff>(kDocumentHeaderSize));
    position_ = 0;
}

std::optional<DocumentItem> DocumentReader::next() {
    if (position_ >= itemBytes_) return std::nullopt;
    auto record = ReadRecordHeader(in_);
    if (!record) throw DocumentFileError("cannot read " + path_);
    position_ += kRecordHeaderSize + record->length;
    if (record->tag == kBreakTag) return PageBreak{};
    if (record->tag != kPageTag) throw DocumentFileError("picture without a page in " + path_);
    bool hasPicture = false;
    PageDocument page = PageFromXml(ReadPayload(in_, record->length, path_), hasPicture);
    if (hasPicture) {
        auto picture = ReadRecordHeader(in_);
        if (!picture || picture->tag != kPictureTag) throw DocumentFileError("page without its picture in " + path_);
        position_ += kRecordHeaderSize + picture->length;
        std::vector<std::uint8_t>& data = page.picture->encoded.data;
        data.resize(static_cast<std::size_t>(picture->length));
        if (!in_.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(picture->length)))
            throw DocumentFileError("cannot read " + path_);
    }
    return page;
}

void SavePageFile(const PageDocument& page, const std::string& path) {
    DocumentWriter writer(path);
    writer.write(page);
    writer.commit();
}

PageDocument LoadPageFile(const std::string& path) {
    DocumentReader reader(path);
    auto item = reader.next();
    if (!item || !std::holds_alternative<PageDocument>(*item) || reader.next())
        throw DocumentFileError("not a page document: " + path);
    return std::get<PageDocument>(std::move(*item));
}

}  // namespace kvo::pdfbuild
