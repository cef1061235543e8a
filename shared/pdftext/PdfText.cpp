#include "shared/pdftext/PdfText.h"

#include <poppler/cpp/poppler-document.h>
#include <poppler/cpp/poppler-global.h>
#include <poppler/cpp/poppler-page.h>

#include <algorithm>
#include <filesystem>
#include <memory>


namespace kvo::pdftext {

namespace {

std::string Utf8(const poppler::ustring& text) {
    const poppler::byte_array bytes = text.to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

// poppler writes a line to standard error for every flaw it meets in a file; a damaged
// attachment is an expected case here, and its outcome is the extracted text.
void IgnorePopplerMessage(const std::string&, void*) {}

std::unique_ptr<poppler::document> Load(const std::string& pdfPath) {
    poppler::set_debug_error_function(IgnorePopplerMessage, nullptr);
    return std::unique_ptr<poppler::document>(poppler::document::load_from_file(pdfPath));
}

std::unique_ptr<poppler::document> Open(const std::string& pdfPath) {
    std::unique_ptr<poppler::document> document = Load(pdfPath);
    if (!document || document->is_locked()) return nullptr;
    return document;
}

}  // namespace

bool OpensOnlyWithPassword(const std::string& pdfPath) {
    const std::unique_ptr<poppler::document> document = Load(pdfPath);
    return document && document->is_locked();
}

std::optional<TextLayer> ReadTextLayer(const std::string& pdfPath) {
    const std::unique_ptr<poppler::document> document = Open(pdfPath);
    if (!document) return std::nullopt;

    TextLayer layer;
    const std::vector<std::string> present = document->info_keys();
    for (const char* key : {"Author", "Creator", "CreationDate", "ModDate", "Producer"}) {
        if (std::find(present.begin(), present.end(), key) == present.end()) continue;
        layer.extracted += std::string(key) + ": \t" + Utf8(document->info_key(key)) + "\t";
    }
    layer.extracted += "Filename: " + std::filesystem::path(pdfPath).filename().string();
    for (int index = 0; index < document->pages(); ++index) {
        std::unique_ptr<poppler::page> page(document->create_page(index));
        layer.pages.push_back(page ? Utf8(page->text()) : "");
        layer.extracted += "\n" + layer.pages.back();
    }
    return layer;
}

bool CarriesText(std::string_view pageText) {
    return std::any_of(pageText.begin(), pageText.end(), [](char c) {
        return c != ' ' && c != '\t' && c != '\n' && c != '\v' && c != '\f' && c != '\r';
    });
}

bool EveryDrawnPageCarriesText(const std::vector<PageText>& pages) {
    return std::none_of(pages.begin(), pages.end(), NeedsRecognition);
}

std::optional<std::vector<PageText>> PagesOf(const TextLayer& text, const pdf::PdfFacts& drawn) {
    if (text.pages.size() != drawn.pages.size()) return std::nullopt;
    std::vector<PageText> pages;
    for (std::size_t index = 0; index < drawn.pages.size(); ++index)
        pages.push_back({pdf::DrawsAnything(drawn.pages[index]), CarriesText(text.pages[index])});
    return pages;
}

}  // namespace kvo::pdftext
