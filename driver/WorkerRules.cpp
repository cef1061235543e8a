#include "driver/WorkerRules.h"

#include <algorithm>
#include <cmath>

#include "driver/LoopRules.h"

namespace kvo::driver {
namespace {

constexpr const char* kStartedTag = "started";
constexpr const char* kEndedTag = "ended";
constexpr std::string_view kConvertedTo = "status 2, converted to ";

std::string Escaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default: out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescaped(std::string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        switch (text[i]) {
            case '\\': out += '\\'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            default: return std::nullopt;
        }
    }
    return out;
}

std::vector<std::string_view> TabFields(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// Digits only, at most `maxDigits` of them.
std::optional<int> DigitsValue(std::string_view text, std::size_t maxDigits) {
    if (text.empty() || text.size() > maxDigits) return std::nullopt;
    int count = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        count = count * 10 + (c - '0');
    }
    return count;
}

std::string TimeLeft(double seconds) {
    const long long minutes = std::llround(seconds / 60);
    if (minutes < 1) return "less than a minute left";
    if (minutes < 60) return "about " + std::to_string(minutes) + " min left";
    const long long rest = minutes % 60;
    return "about " + std::to_string(minutes / 60) + " h " + (rest < 10 ? "0" : "") + std::to_string(rest) + " min left";
}

}  // namespace

std::optional<int> ParseWorkerCount(std::string_view text) {
    const auto count = DigitsValue(text, 2);
    if (!count || *count < 1 || *count > kMaxWorkers) return std::nullopt;
    return count;
}

std::optional<int> ChooseWorkerCount(std::optional<int> option, const std::string& setting, int cores) {
    if (option) return option;
    if (!setting.empty()) return ParseWorkerCount(setting);
    return std::clamp(cores, 1, kMaxWorkers);
}

std::string EncodeEvent(const WorkerEvent& event) {
    if (event.kind == WorkerEvent::Kind::RowStarted) return std::string(kStartedTag) + '\t' + Escaped(event.attachment);
    return std::string(kEndedTag) + '\t' + std::to_string(event.pages) + '\t' + Escaped(event.outcome);
}

std::optional<WorkerEvent> DecodeEvent(const std::string& line) {
    const std::vector<std::string_view> fields = TabFields(line);
    WorkerEvent event;
    if (fields.size() == 2 && fields[0] == kStartedTag) {
        const auto attachment = Unescaped(fields[1]);
        if (!attachment) return std::nullopt;
        event.attachment = *attachment;
        return event;
    }
    if (fields.size() == 3 && fields[0] == kEndedTag) {
        const auto pages = DigitsValue(fields[1], 6);
        const auto outcome = Unescaped(fields[2]);
        if (!pages || !outcome) return std::nullopt;
        event.kind = WorkerEvent::Kind::RowEnded;
        event.pages = *pages;
        event.outcome = *outcome;
        return event;
    }
    return std::nullopt;
}

std::optional<std::string> AttachmentOfRowText(const std::string& text) {
    if (text.rfind("Pellmoor OCR utility.\r\n", 0) != 0 || text.find("\r\nProcessing file ") == std::string::npos)
        return std::nullopt;
    // The path follows "Processing file {n} of {count}:" on the last line; anything appended
    // to the text (its progress, the stop) adds lines after it.
    const auto pathStart = text.find(":\r\n", text.find("\r\nProcessing file "));
    if (pathStart == std::string::npos) return std::nullopt;
    const std::string path = text.substr(pathStart + 3);
    if (path.find("\r\n") != std::string::npos) return std::nullopt;
    return path;
}

std::optional<std::string> OutcomeOfReportLine(const std::string& line, const std::string& attachment) {
    const std::string marker = " " + attachment + ": ";
    const auto at = line.find(marker);
    const auto seconds = line.rfind(" (");
    if (at == std::string::npos || seconds == std::string::npos || seconds < at + marker.size() ||
        line.size() < 3 || line.compare(line.size() - 3, 3, " s)") != 0)
        return std::nullopt;
    return line.substr(at + marker.size(), seconds - at - marker.size());
}

std::optional<std::string> ConvertedDestination(const std::string& outcome) {
    if (outcome.rfind(kConvertedTo, 0) != 0) return std::nullopt;
    std::string destination = outcome.substr(kConvertedTo.size());
    // Notes about the host rows follow the path.
    constexpr std::string_view kNote = " was repointed by a user and kept";
    while (destination.size() > kNote.size() &&
           destination.compare(destination.size() - kNote.size(), kNote.size(), kNote) == 0) {
        const auto noteStart = destination.rfind("; ");
        if (noteStart == std::string::npos) break;
        destination.resize(noteStart);
    }
    return destination;
}

std::string ProgressLine(const CycleProgress& progress) {
    const int left = std::max(0, progress.pendingAtStart - progress.rowsDone);
    const double minutes = progress.elapsedSeconds / 60;
    const long long pagesPerMinute = minutes > 0 ? std::llround(progress.pagesDone / minutes) : 0;
    std::string line = std::to_string(left) + " pending, " + std::to_string(progress.rowsDone) +
                       " done this cycle, " + std::to_string(pagesPerMinute) + " pages per minute, ";
    if (left == 0) return line + "nothing left";
    if (progress.rowsDone == 0 || progress.elapsedSeconds <= 0) return line + "time left not known yet";
    return line + TimeLeft(left * progress.elapsedSeconds / progress.rowsDone);
}

std::string WorkersText(int pendingAtStart, const std::vector<std::string>& currentAttachments,
                        const std::string& progressLine) {
    std::string text = "Pellmoor OCR utility.\r\n\r\n" + std::to_string(pendingAtStart) + " files Found.\r\n";
    for (std::size_t i = 0; i < currentAttachments.size(); ++i) {
        text += "\r\nWorker " + std::to_string(i + 1) + ": ";
        text += currentAttachments[i].empty() ? std::string("waiting") : "Processing file " + currentAttachments[i];
    }
    return text + "\r\n\r\n" + progressLine;
}

}  // namespace kvo::driver
