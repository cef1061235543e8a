#include "shared/pdftext/PdfText.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "shared/pdf/PdfFile.h"

namespace kvo::pdftext {

namespace {

std::string Utf8(const poppler::ustring& text) {
    const poppler::byte_array bytes = text.to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

// poppler writes a line to standard error for every flaw it meets in a file; a damaged
// attachment is an expected case here, and its outcome is the extracted text.
void IgnorePopplerMessage(const std::string&, void*) {}

std::unique_ptr<poppler::document> Open(const std::string& pdfPath) {
    poppler::set_debug_error_function(IgnorePopplerMessage, nullptr);
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(pdfPath));
    if (!document || document->is_locked()) return nullptr;
    return document;
}

std::string PageTextOf(poppler::document& document, int index) {
    std::unique_ptr<poppler::page> page(document.create_page(index));
    return page ? Utf8(page->text()) : "";
}

}  // namespace

std::string ExtractPdfText(const std::string& pdfPath) {
    const std::unique_ptr<poppler::document> document = Open(pdfPath);
    if (!document) return "";

    std::string text;
    const std::vector<std::string> present = document->info_keys();
    for (const char* key : {"Author", "Creator", "CreationDate", "ModDate", "Producer"}) {
        if (std::find(present.begin(), present.end(), key) == present.end()) continue;
        text += std::string(key) + ": \t" + Utf8(document->info_key(key)) + "\t";
    }
    text += "Filename: " + std::filesystem::path(pdfPath).filename().string();
    for (int index = 0; index < document->pages(); ++index) text += "\n" + PageTextOf(*document, index);
    return text;
}

bool CarriesText(std::string_view pageText) {
    return std::any_of(pageText.begin(), pageText.end(), [](char c) {
        return c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r';
    });
}

bool EveryDrawnPageCarriesText(const std::vector<PageText>& pages) {
    return std::none_of(pages.begin(), pages.end(), NeedsRecognition);
}

std::optional<std::vector<PageText>> ExaminePages(const std::string& pdfPath) {
    const std::unique_ptr<poppler::document> document = Open(pdfPath);
    const std::optional<pdf::PdfFacts> facts = document ? pdf::InspectPdf(pdfPath) : std::nullopt;
    // The two readers must agree on the pages, or neither's count can be trusted.
    if (!facts || facts->pageCount != document->pages()) return std::nullopt;
    std::vector<PageText> pages;
    for (int index = 0; index < document->pages(); ++index) {
        const pdf::PageFacts& drawn = facts->pages[static_cast<std::size_t>(index)];
        pages.push_back({drawn.images > 0 || drawn.drawsSomething, CarriesText(PageTextOf(*document, index))});
    }
    return pages;
}

}  // namespace kvo::pdftext
