#pragma once
// The plain rules of the worker pool: the worker count, the event lines a worker sends its
// driver, and the progress text the driver shows for all its workers. No I/O.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kvo::driver {

inline constexpr int kMaxWorkers = 64;

// "1" .. "64", digits only; nullopt for anything else.
std::optional<int> ParseWorkerCount(std::string_view text);

// The count a cycle uses: the --workers option, else console.ini's Workers= (an empty setting
// means the default), else the number of cores. Nullopt when the setting is not a count.
std::optional<int> ChooseWorkerCount(std::optional<int> option, const std::string& setting, int cores);

// One line a worker sends: a row started (its attachment), or a row ended (the report line's
// outcome and the pages of the searchable PDF it made).
struct WorkerEvent {
    enum class Kind { RowStarted, RowEnded } kind = Kind::RowStarted;
    std::string attachment;  // RowStarted
    std::string outcome;     // RowEnded
    int pages = 0;           // RowEnded

    static WorkerEvent Started(std::string attachment) { return {Kind::RowStarted, std::move(attachment), "", 0}; }
    static WorkerEvent Ended(std::string outcome, int pages) { return {Kind::RowEnded, "", std::move(outcome), pages}; }
};

// One line without its line feed; CR, LF, tab and backslash in the texts are escaped.
std::string EncodeEvent(const WorkerEvent& event);
std::optional<WorkerEvent> DecodeEvent(const std::string& line);

// The walk's start-of-row text gives the attachment it starts on (the text after the last line
// break), when the text is one.
std::optional<std::string> AttachmentOfRowText(const std::string& text);
// The outcome of a report line for that attachment ("{id} {path}: {outcome} (1.2 s)").
std::optional<std::string> OutcomeOfReportLine(const std::string& line, const std::string& attachment);
// The host path an outcome says the attachment was converted to.
std::optional<std::string> ConvertedDestination(const std::string& outcome);

// The cycle's figures as the progress line states them.
struct CycleProgress {
    int pendingAtStart = 0;
    int rowsDone = 0;
    int pagesDone = 0;
    double elapsedSeconds = 0;
};
// "{left} pending, {done} done this cycle, {n} pages per minute, about {t} left"; the estimate
// assumes the rows left take as long as those done.
std::string ProgressLine(const CycleProgress& progress);

// The driver's text: the pending count, one line per worker (its current attachment; empty:
// none), then the progress line.
std::string WorkersText(int pendingAtStart, const std::vector<std::string>& currentAttachments,
                        const std::string& progressLine);

}  // namespace kvo::driver
