#include "driver/LoopRules.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace kvo::driver {

bool ClimbsOutOfItsFolder(const std::string& hostPath) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = hostPath.find_first_of("\\/", start);
        if (hostPath.compare(start, end == std::string::npos ? std::string::npos : end - start, "..") == 0) return true;
        if (end == std::string::npos) return false;
        start = end + 1;
    }
}

std::string PrintableText(const std::string& text) {
    std::string printable;
    for (const unsigned char c : text) {
        if (c >= 0x20 && c != 0x7F) {
            printable += static_cast<char>(c);
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "<%02X>", c);
        printable += code;
    }
    return printable;
}

std::string StartOfRowText(int pendingCount, int rowNumber, const std::string& filePath) {
    const std::string pending = std::to_string(pendingCount);
    return "Pellmoor OCR utility.\r\n\r\n" + pending + " files Found.\r\n\r\nProcessing file " +
           std::to_string(rowNumber) + " of " + pending + ":\r\n" + PrintableText(filePath);
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
    std::string line =
        trackReference + " " + PrintableText(path) + ": " + PrintableText(outcome) + " (" + Tenths(seconds) + " s";
    if (pipelineSeconds) line += ", pipeline " + Tenths(*pipelineSeconds) + " s";
    return line + ")";
}

}  // namespace kvo::driver
