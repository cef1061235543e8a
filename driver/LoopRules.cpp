#include "driver/LoopRules.h"

#include <charconv>
#include <cmath>

namespace kvo::driver {
namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool MatchesIgnoringCase(const std::string& text, std::size_t at, const std::string& pattern) {
    if (text.size() - at < pattern.size()) return false;
    for (std::size_t i = 0; i < pattern.size(); ++i)
        if (AsciiUpper(text[at + i]) != AsciiUpper(pattern[i])) return false;
    return true;
}

}  // namespace

TypeGroup GroupOfType(const std::string& upperType) {
    if (upperType == "PDF") return TypeGroup::Pdf;
    for (const char* image : {"BMP", "JPG", "JPEG", "GIF", "PNG", "PCX", "TIF", "TIFF", "G3N"})
        if (upperType == image) return TypeGroup::Image;
    return TypeGroup::Other;
}

std::string ReplaceTypeSuffix(const std::string& text, const std::string& type, const std::string& replacement) {
    if (type.empty()) return text;
    // The queue keeps types in three letters: a TIF row may name a ".tiff" file, a JPG row a
    // ".jpeg" one; the longer form is tried first, so that no letter of it is left over.
    std::string longer = type == "TIF" ? ".TIFF" : type == "JPG" ? ".JPEG" : "";
    const std::string pattern = "." + type;
    std::string out;
    std::size_t at = 0;
    while (at < text.size()) {
        if (!longer.empty() && MatchesIgnoringCase(text, at, longer)) {
            out += replacement;
            at += longer.size();
        } else if (MatchesIgnoringCase(text, at, pattern)) {
            out += replacement;
            at += pattern.size();
        } else {
            out += text[at++];
        }
    }
    return out;
}

std::string ResultName(const std::string& foundName, const std::string& type) {
    return ReplaceTypeSuffix(foundName, type, ".PDF");
}

std::string DestinationPath(const std::string& attachmentPath, const std::string& type, TypeGroup group) {
    return ReplaceTypeSuffix(attachmentPath, type, group == TypeGroup::Pdf ? ".PDF.PDF" : ".PDF");
}

std::string StartOfRowText(int pendingCount, int rowNumber, const std::string& filePath) {
    const std::string pending = std::to_string(pendingCount);
    return "Pellmoor OCR utility.\r\n\r\n" + pending + " files Found.\r\n\r\nProcessing file " +
           std::to_string(rowNumber) + " of " + pending + ":\r\n" + filePath;
}

namespace {

std::string Tenths(double seconds) {
    char number[32];
    auto end = std::to_chars(number, number + sizeof number, std::round(seconds * 10) / 10,
                             std::chars_format::fixed, 1).ptr;
    return std::string(number, end);
}

}  // namespace

std::string RowReportLine(const std::string& trackReference, const std::string& path,
                          const std::string& outcome, double seconds, std::optional<double> pipelineSeconds) {
    std::string line = trackReference + " " + path + ": " + outcome + " (" + Tenths(seconds) + " s";
    if (pipelineSeconds) line += ", pipeline " + Tenths(*pipelineSeconds) + " s";
    return line + ")";
}

}  // namespace kvo::driver
