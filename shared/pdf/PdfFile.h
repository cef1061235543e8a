#pragma once
// Reading a PDF's structure and marking the searchable PDFs this system makes (qpdf).
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvo::pdf {

// The document information that marks a PDF as this system's result for one attachment.
inline constexpr const char* kProducer = "KVO searchable attachments";
inline constexpr const char* kAttachmentKey = "KVOAttachment";

struct PageFacts {
    int images = 0;               // image XObjects in the page's resources, also inside its forms
    bool drawsSomething = false;  // its content stream holds more than white space
    // The media box, which renderers draw, in inches (its /UserUnit applied); 0 when unknown.
    double widthInches = 0;
    double heightInches = 0;
};

// The page paints an image or has a content stream that is not blank.
inline bool DrawsAnything(const PageFacts& page) { return page.images > 0 || page.drawsSomething; }

struct PdfFacts {
    int pageCount = 0;
    std::vector<PageFacts> pages;
    std::map<std::string, std::string> info;  // document information, keys without "/", text as UTF-8
};

// Nullopt, with the reason in `error`, when the file cannot be opened as a PDF.
std::optional<PdfFacts> InspectPdf(const std::string& path, std::string* error = nullptr);

// The value of the attachment key for an attachment path: a SHA-256 digest in hex, so that
// the result does not carry the firm's folder names.
std::string AttachmentDigest(const std::string& attachmentPath);

// Rewrites the PDF whole with the producer and the attachment key set. Throws
// std::runtime_error when it cannot be read or written; the file is then unchanged.
void MarkAsResultFor(const std::string& pdfPath, const std::string& attachmentPath);

// True when the facts carry this system's producer, for whichever attachment.
bool IsMadeByThisSystem(const PdfFacts& facts);

// True when the facts carry this system's mark for that attachment.
bool IsResultFor(const PdfFacts& facts, const std::string& attachmentPath);

}  // namespace kvo::pdf
