#include "shared/xml/HandOff.h"

#include "shared/platform/Paths.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::handoff {

namespace {

// The file name part of a path: everything after the last "/".
std::string FileNamePart(const std::string& path) {
    std::string::size_type slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string InTemp(const std::string& name) { return TempFolder() + "/" + name; }

std::string BaseName(const std::string& attachmentPath) {
    std::string name = FileNamePart(attachmentPath);
    std::string::size_type dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string UpperExtension(const std::string& attachmentPath) {
    std::string name = FileNamePart(attachmentPath);
    std::string::size_type dot = name.rfind('.');
    if (dot == std::string::npos) return "";
    std::string extension = name.substr(dot + 1);
    // ASCII letters only: bytes of multi-byte UTF-8 characters stay as they are.
    for (char& c : extension) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return extension;
}

std::string FrameTag(int frameIndex) {
    // The last six digits of the index plus 1000000, as the page files have always been named.
    std::string digits = std::to_string(static_cast<long long>(frameIndex) + 1000000);
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    return digits.substr(digits.size() - 6);
}

std::string ImagePageBitmap(const std::string& base, int frameIndex) {
    return InTemp(base + FrameTag(frameIndex) + ".bmp");
}

std::string PdfPageBitmap(const std::string& base, int pageNumber) {
    return InTemp(base + std::to_string(pageNumber) + ".bmp");
}

std::string LayoutCopyOf(const std::string& pageBitmap) { return pageBitmap + ".xml"; }

std::string PageDocumentOf(const std::string& pageBitmap) { return pageBitmap + ".doc"; }

std::string FinalResult(const std::string& base) { return InTemp(base + ".pdf"); }

void WriteFileOrder(const std::string& attachmentPath) {
    xml::Document order;
    xml::Node file = order.appendElement("KVO").appendElement("File");
    file.setAttribute("name", attachmentPath);
    file.setAttribute("processed", "0");
    order.save(InTemp(kFileOrderName));
}

}  // namespace kvo::handoff
