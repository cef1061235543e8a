#include "driver/PdfInspection.h"

#include <charconv>
#include <sstream>

namespace kvo::driver {
namespace {

std::string Number(double value) {
    char digits[32];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::string(digits, end);
}

template <typename Value>
bool Parse(std::istream& in, Value& value) {
    std::string word;
    if (!(in >> word)) return false;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
    return error == std::errc() && end == word.data() + word.size();
}

std::string Megabytes(std::uint64_t bytes) { return std::to_string(bytes >> 20) + " MB"; }

}  // namespace

std::string FactsText(const pdf::PdfFacts& facts) {
    std::string text = "pages " + std::to_string(facts.pages.size()) + "\n";
    for (const pdf::PageFacts& page : facts.pages)
        text += std::to_string(page.images) + " " + (page.drawsSomething ? "1" : "0") + " " +
                Number(page.widthInches) + " " + Number(page.heightInches) + "\n";
    // Keys and values may hold any byte: each goes with its length.
    for (const auto& [key, value] : facts.info)
        text += "info " + std::to_string(key.size()) + " " + std::to_string(value.size()) + "\n" + key + value + "\n";
    return text;
}

std::optional<pdf::PdfFacts> FactsFromText(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    std::size_t pages = 0;
    if (!(in >> word) || word != "pages" || !Parse(in, pages) || pages > text.size()) return std::nullopt;
    pdf::PdfFacts facts;
    for (std::size_t i = 0; i < pages; ++i) {
        pdf::PageFacts page;
        int draws = 0;
        if (!Parse(in, page.images) || !Parse(in, draws) || !Parse(in, page.widthInches) || !Parse(in, page.heightInches))
            return std::nullopt;
        page.drawsSomething = draws != 0;
        facts.pages.push_back(page);
    }
    facts.pageCount = static_cast<int>(pages);
    while (in >> word) {
        std::size_t keySize = 0, valueSize = 0;
        if (word != "info" || !Parse(in, keySize) || !Parse(in, valueSize) || in.get() != '\n') return std::nullopt;
        std::string entry(keySize + valueSize, '\0');
        if (!in.read(entry.data(), static_cast<std::streamsize>(entry.size()))) return std::nullopt;
        facts.info[entry.substr(0, keySize)] = entry.substr(keySize);
    }
    return facts;
}

void ExpectIsolatedEnd(const IsolatedEnd& end, const IsolationLimits& limits, const std::string& what,
                       std::initializer_list<int> expected) {
    if (!end.end) throw std::runtime_error(what + " could not be started");
    if (end.end->how == ChildEnd::How::TimedOut || end.end->exitedWith(kExitOutOfMemory))
        throw PdfBreaksLimit(what + (end.end->exitedWith(kExitOutOfMemory)
                                         ? " needed more than " + Megabytes(limits.memoryBytes) + " of memory"
                                         : " " + DescribeEnd(*end.end)));
    for (int status : expected)
        if (end.end->exitedWith(status)) return;
    throw std::runtime_error(what + " " + DescribeEnd(*end.end));
}

std::optional<pdf::PdfFacts> InspectPdfIsolated(const std::string& path, std::string* error,
                                                const std::function<void()>& pumpMessages) {
    const IsolatedEnd end = RunIsolated(
        [&](std::string& output) {
            std::string why;
            const std::optional<pdf::PdfFacts> facts = pdf::InspectPdf(path, &why);
            output = facts ? FactsText(*facts) : why;
            return facts ? kExitOk : kExitNotAPdf;
        },
        kInspectionLimits, pumpMessages);
    const std::string what = "the inspection of " + path;
    ExpectIsolatedEnd(end, kInspectionLimits, what, {kExitOk, kExitNotAPdf});
    if (end.end->exitedWith(kExitNotAPdf)) {
        if (error) *error = end.output;
        return std::nullopt;
    }
    std::optional<pdf::PdfFacts> facts = FactsFromText(end.output);
    if (!facts) throw std::runtime_error(what + " gave no facts");
    return facts;
}

}  // namespace kvo::driver
