#include "driver/pdftext/PdfTextExtractor.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <filesystem>
#include <memory>

namespace kvo::driver {

namespace {

std::string Utf8(const poppler::ustring& text) {
    const poppler::byte_array bytes = text.to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

// poppler writes a line to standard error for every flaw it meets in a file; a damaged
// attachment is an expected case here, and its outcome is the extracted text.
void IgnorePopplerMessage(const std::string&, void*) {}

}  // namespace

std::string ExtractPdfText(const std::string& pdfPath) {
    poppler::set_debug_error_function(IgnorePopplerMessage, nullptr);
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdfPath));
    if (!document || document->is_locked()) return "";

    std::string text;
    const std::vector<std::string> present = document->info_keys();
    for (const char* key : {"Author", "Creator", "CreationDate", "ModDate", "Producer"}) {
        if (std::find(present.begin(), present.end(), key) == present.end()) continue;
        text += std::string(key) + ": \t" + Utf8(document->info_key(key)) + "\t";
    }
    text += "Filename: " + std::filesystem::path(pdfPath).filename().string();
    for (int index = 0; index < document->pages(); ++index) {
        std::unique_ptr<poppler::page> page(document->create_page(index));
        if (page) text += "\n" + Utf8(page->text());
    }
    return text;
}

}  // namespace kvo::driver
