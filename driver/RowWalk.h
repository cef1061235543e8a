#pragma once
// The walk over the pending queue rows of one run cycle: for each row the look-up, the hand-off,
// the pipeline run, the result's pick-up, its copy and the record in the queue and the host
// tables. What is decided along the way has its own home: the row's facts (RowFacts), the
// destination (Destination), the claims (WorkQueue), the result check (ResultCheck).
#include <optional>
#include <string>

#include "driver/ClaimKeepingDisplay.h"
#include "driver/PathMap.h"
#include "shared/platform/Clock.h"

namespace kvo::driver {

class ProgressDisplay;
class WorkQueue;
struct QueueRow;
struct RowFacts;

class RowWalk {
public:
    enum class End {
        SelectionDone,       // no pending row left
        Stopped,             // the stop request was set
        TimeLimit,           // more than one clock hour crossed since the run start
        PipelineNotStarted,  // KVOProcessSlides could not be started; the row stays pending
    };

    RowWalk(WorkQueue& queue, ProgressDisplay& display, const bool& stopRequested,
            const PathMapEntries& pathMap, std::string appFolder);

    End run(TimePoint runStart);

private:
    // What became of one row, for the report line.
    struct Outcome {
        std::string text;
        bool pipelineNotStarted = false;
    };

    Outcome handleRow(const QueueRow& row, int rowNumber);
    Outcome handleFoundRow(RowFacts& facts);
    Outcome pauseAfterNotFound(const QueueRow& row);
    // Runs the pipeline for the attachment; false when it cannot be started.
    bool runPipeline(const std::string& attachment);
    Outcome pickUpResult(const RowFacts& facts, bool resultNameTaken);
    Outcome copyAndRecord(const RowFacts& facts, const std::string& resultPath, int pages);
    // Status 5 for a row whose destination holds a file that may not be replaced.
    Outcome inTheWay(const QueueRow& row, const std::string& entry);
    // A fault of the machine rather than of the document (the chain was killed or crashed): the
    // attempt is counted and the row stays pending until its attempts run out.
    Outcome machineFault(const QueueRow& row, const std::string& why);
    // Status 5, with its reason kept in the queue.
    Outcome noResult(const QueueRow& row, const std::string& why);
    Outcome statusWritten(bool written, int status, const std::string& why) const;
    // A row whose claim another worker took over meanwhile: nothing of it is this worker's.
    static Outcome claimTakenOver(const std::string& what);
    void pumpMessages() { display_.processMessages(); }

    WorkQueue& queue_;
    ClaimKeepingDisplay display_;
    const bool& stopRequested_;
    const PathMapEntries& pathMap_;
    std::string appFolder_;
    std::string pipelineFault_;              // how the current row's pipeline ended, when not by itself with 0
    bool pipelineBlamesDocument_ = false;    // it ended so for the document's fault
    std::optional<double> pipelineSeconds_;  // how long the current row's pipeline ran, when it ran
};

}  // namespace kvo::driver
