#include "support/PdfTools.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <stdexcept>

namespace kvo::test {

std::string CommandOutput(const std::string& command) {
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) throw std::runtime_error("cannot run " + command);
    std::string output;
    char buffer[4096];
    while (std::size_t got = fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::string ShellQuoted(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string PdfText(const fs::path& pdf, int page) {
    const std::string range = page > 0 ? " -f " + std::to_string(page) + " -l " + std::to_string(page) : "";
    return CommandOutput("pdftotext -enc UTF-8" + range + " " + ShellQuoted(pdf.string()) + " - 2>/dev/null");
}

int PdfPageCount(const fs::path& pdf) {
    const std::string info = CommandOutput("pdfinfo " + ShellQuoted(pdf.string()) + " 2>/dev/null");
    const auto at = info.find("Pages:");
    return at == std::string::npos ? 0 : std::stoi(info.substr(at + 6));
}

WordBag WordsOf(const std::string& text) {
    WordBag bag;
    std::string word;
    for (char c : text + " ") {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (!word.empty()) {
            ++bag[word];
            word.clear();
        }
    }
    return bag;
}

double Recall(const WordBag& reference, const std::string& text) {
    const WordBag found = WordsOf(text);
    int total = 0, matched = 0;
    for (const auto& [word, count] : reference) {
        total += count;
        auto hit = found.find(word);
        if (hit != found.end()) matched += std::min(count, hit->second);
    }
    return total ? static_cast<double>(matched) / total : 0;
}

}  // namespace kvo::test
