#include "driver/RowWalk.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <utility>

#include "driver/Destination.h"
#include "driver/JournalLog.h"
#include "driver/LoopRules.h"
#include "driver/PdfInspection.h"
#include "driver/PdfTextCheck.h"
#include "driver/ProgressDisplay.h"
#include "driver/ResultCheck.h"
#include "driver/RowFacts.h"
#include "driver/WriteJournal.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ChainPrograms.h"
#include "shared/ChildProcess.h"
#include "shared/ProgramWatch.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {
namespace {

constexpr int kPollMs = 50;
// The pause after "Not found" polls the display this often instead of spinning.
constexpr int kNotFoundPollMs = 20;
constexpr double kNotFoundPauseSeconds = 3;
// While stopping, a progress dot this often.
constexpr double kDotSeconds = 2;

// A pipeline that did not end by itself (killed, crashed) left its page work files, which may
// run to gigabytes, and perhaps hidden temporaries: removed once the rest of its chain, which
// dies with it, is gone.
void RemoveWorkOfDeadPipeline(const std::string& attachment) {
    for (const char* program : kChainPrograms) WaitWhileRunning(program, {.pollMs = 20});
    handoff::RemoveWorkOfCurrentOrder({attachment});
    RemoveStaleTemporaries(TempFolder());
}

// Why the work of a pipeline that did not end by itself with status 0 cannot be trusted.
std::string PipelineFault(const ChildEnd& end) {
    if (end.exitedWith(kExitTooLargeForWork))
        return "its page bitmaps could never fit in the work folder " + TempFolder() + ", whose file system holds " +
               std::to_string(TotalBytesIn(TempFolder()).value_or(0) >> 20) + " MB";
    if (end.exitedWith(kExitNoReadablePage)) return "none of its pages can be read (the file is empty or damaged)";
    if (end.exitedWith(kExitEndedFromOutside)) return "a program of its chain was ended from outside";
    if (end.exitedWith(kExitNoRoom)) return "the work folder " + TempFolder() + " ran out of room";
    return "the pipeline " + DescribeEnd(end);
}

}  // namespace

RowWalk::RowWalk(WorkQueue& queue, ProgressDisplay& display, const bool& stopRequested,
                 const PathMapEntries& pathMap, std::string appFolder)
    : queue_(queue), display_(display, queue), stopRequested_(stopRequested), pathMap_(pathMap),
      appFolder_(std::move(appFolder)) {}

RowWalk::End RowWalk::run(TimePoint runStart) {
    int rowNumber = 0;
    for (;;) {
        const std::optional<QueueRow> row = queue_.current();
        if (!row) return End::SelectionDone;
        if (stopRequested_) return End::Stopped;
        ++rowNumber;
        const SteadyPoint rowStart = SteadyNow();
        pipelineSeconds_.reset();
        Outcome outcome;
        try {
            outcome = handleRow(*row, rowNumber);
        } catch (const DbError&) {
            throw;  // the store is gone: the cycle cannot go on
        } catch (const PdfBreaksLimit& error) {
            outcome = noResult(*row, error.what());
        } catch (const std::exception& error) {
            // A file-system failure (the work folder, a length read, a deletion) spoils this
            // row only, and is the machine's fault rather than the document's.
            outcome = machineFault(*row, error.what());
        }
        std::cerr << ForStandardError(OutcomePriority(outcome.text),
                                      RowReportLine(row->trackReference, row->filePath.value_or("(no path)"),
                                                    outcome.text, SecondsSince(rowStart), pipelineSeconds_))
                  << std::endl;
        if (outcome.pipelineNotStarted) return End::PipelineNotStarted;
        if (HourCount(runStart, Now()) > 1) {
            display_.setText(kWaitText);
            display_.processMessages();
            return End::TimeLimit;
        }
        queue_.next();
    }
}

RowWalk::Outcome RowWalk::claimTakenOver(const std::string& what) {
    return {"nothing recorded, its claim was taken over by another worker (" + what + ")"};
}

RowWalk::Outcome RowWalk::statusWritten(bool written, int status, const std::string& why) const {
    if (!written && queue_.claimLost()) return claimTakenOver(why);
    if (!written) return {"left pending, status " + std::to_string(status) + " could not be recorded (" + why + ")"};
    return {"status " + std::to_string(status) + ", " + why};
}

RowWalk::Outcome RowWalk::handleRow(const QueueRow& row, int rowNumber) {
    display_.setText(StartOfRowText(queue_.pendingCount(), rowNumber, row.filePath.value_or("")));
    display_.processMessages();

    LookUp lookUp = LookUpRow(row, pathMap_);
    switch (lookUp.outcome) {
        case LookUp::Outcome::Refused: return noResult(row, lookUp.why);
        case LookUp::Outcome::Unreadable: return machineFault(row, lookUp.why);
        case LookUp::Outcome::NotFound: return pauseAfterNotFound(row);
        case LookUp::Outcome::Found: break;
    }
    display_.appendText(kInProgressAppend);
    display_.processMessages();
    try {
        handoff::WriteFileOrder(lookUp.facts->attachment);
    } catch (const std::exception& error) {
        return machineFault(row, std::string("cannot write KVOFile.xml: ") + error.what());
    }
    return handleFoundRow(*lookUp.facts);
}

RowWalk::Outcome RowWalk::pauseAfterNotFound(const QueueRow& row) {
    display_.appendText(kNotFoundAppend);
    const bool written = queue_.markNotFound(row.trackReference);
    // Elapsed time: a change of the local clock neither cuts the pause short nor stretches it.
    const SteadyPoint noted = SteadyNow();
    while (SecondsSince(noted) <= kNotFoundPauseSeconds) {
        display_.processMessages();
        SleepMs(kNotFoundPollMs);
    }
    display_.processMessages();
    return statusWritten(written, kFinished, "not found");
}

RowWalk::Outcome RowWalk::handleFoundRow(RowFacts& facts) {
    const QueueRow& row = facts.row;
    // It would only come up again every cycle.
    if (facts.group == TypeGroup::Other) return noResult(row, "the type '" + row.type + "' is not converted");
    if (facts.group == TypeGroup::Pdf) {
        std::string rewriteRefused;
        if (IsPDFSearchable(facts.attachment, [this] { pumpMessages(); }, &rewriteRefused)) {
            // The host keeps its own form of the path.
            return statusWritten(queue_.markAlreadySearchable(row.trackReference, *row.filePath),
                                 kAlreadySearchable, "already searchable");
        }
        if (!rewriteRefused.empty())
            return noResult(row, "its text is unreadable and Ghostscript's rewrite was not used: " + rewriteRefused);
        // The chain reads it with the same library, without these bounds: one that breaks them
        // (PdfBreaksLimit) goes no further. Its pages are what the result is checked against.
        facts.pdf = InspectPdfIsolated(facts.attachment, nullptr, [this] { pumpMessages(); });
    }
    // Nothing is converted that could not be stored.
    if (const std::string problem = DestinationProblem(facts.destination); !problem.empty())
        return noResult(row, problem);
    if (const std::optional<std::string> blocking = BlockingEntry(facts.destination, facts.attachment))
        return inTheWay(row, *blocking);
    // A file already lying under the result's name is not this run's product.
    const bool resultNameTaken = FileExists(facts.result);
    if (!runPipeline(facts.attachment)) {
        Outcome outcome{"left pending, " + appFolder_ + "/" + kPipelineProgram + " could not be started"};
        outcome.pipelineNotStarted = true;
        return outcome;
    }
    return pickUpResult(facts, resultNameTaken);
}

bool RowWalk::runPipeline(const std::string& attachment) {
    display_.setStopEnabled(false);
    display_.processMessages();
    pipelineFault_.clear();
    std::optional<Child> pipeline;
    try {
        pipeline.emplace(StartChild({.arguments = {appFolder_ + "/" + kPipelineProgram}}));
    } catch (const ShellError&) {
        display_.setStopEnabled(!stopRequested_);
        return false;
    }
    const SteadyPoint started = SteadyNow();
    SteadyPoint lastDot = started;
    // The pipeline limits each of its own children; its own limit only catches a hang of its own.
    const ChildEnd end = WatchChild(*pipeline, kPipelineProgram,
                                    {.pollMs = kPollMs,
                                     .limit = TimeLimit::Seconds(std::chrono::duration<double>(kLongestRun).count()),
                                     .onPoll = [&] {
                                         if (stopRequested_) {
                                             if (SecondsSince(lastDot) >= kDotSeconds) {
                                                 display_.appendText(kStoppingDot);
                                                 lastDot = SteadyNow();
                                             }
                                         } else {
                                             display_.setStopEnabled(true);
                                         }
                                         display_.processMessages();
                                     }});
    pipelineSeconds_ = SecondsSince(started);
    pipelineBlamesDocument_ = end.exitedWith(kExitTooLargeForWork) || end.exitedWith(kExitNoReadablePage);
    if (!end.exitedWith(kExitOk)) {
        pipelineFault_ = PipelineFault(end);
        RemoveWorkOfDeadPipeline(attachment);
    }
    return true;
}

RowWalk::Outcome RowWalk::pickUpResult(const RowFacts& facts, bool resultNameTaken) {
    const QueueRow& row = facts.row;
    // The pipeline renames its result into place whole and has ended: what is there is all.
    const std::optional<std::string> result = ResolveFile(facts.result);
    if (!result && pipelineBlamesDocument_) return noResult(row, pipelineFault_);
    if (!result && !pipelineFault_.empty()) return machineFault(row, "no result file, " + pipelineFault_);
    if (!result) return noResult(row, "no result file");
    if (*result == facts.attachment)
        return noResult(row, "the attachment lies in the work folder under its result's name; it is left as it is");

    Outcome outcome;
    const ResultVerdict verdict = CheckResult(*result, facts, [this] { pumpMessages(); });
    if (!verdict.machineFault.empty()) {
        outcome = machineFault(row, verdict.machineFault);  // the text check crashed or hung
    } else if (!verdict.problem.empty()) {
        outcome = noResult(row, verdict.problem);
    } else {
        try {
            outcome = copyAndRecord(facts, *result, verdict.pages);
        } catch (const PdfBreaksLimit& error) {
            outcome = noResult(row, error.what());
        } catch (const std::exception& error) {
            outcome = machineFault(row, error.what());
        }
    }
    // The driver removes what this run made and an earlier result of this attachment, never
    // another file that lay there (another attachment kept in the work folder), nor a result
    // that already lies where the host now finds it.
    if ((verdict.madeForAttachment || !resultNameTaken) && FindEntry(facts.destination.local) != result)
        DeleteFile(*result);
    return outcome;
}

RowWalk::Outcome RowWalk::inTheWay(const QueueRow& row, const std::string& entry) {
    return noResult(row, entry + " is in the way; nothing was copied");
}

RowWalk::Outcome RowWalk::machineFault(const QueueRow& row, const std::string& why) {
    const FaultRecord record = queue_.recordFault(row.trackReference, why);
    if (!record.recorded && queue_.claimLost()) return claimTakenOver(why);
    if (!record.recorded) return {"left pending, " + why + " (the attempt could not be counted)"};
    if (record.gaveUp) return {"status 5 after " + std::to_string(record.attempts) + " attempts, " + why};
    return {"left pending for attempt " + std::to_string(record.attempts + 1) + ", " + why};
}

RowWalk::Outcome RowWalk::noResult(const QueueRow& row, const std::string& why) {
    return statusWritten(queue_.markNoResult(row.trackReference, why), kNoResult, why);
}

RowWalk::Outcome RowWalk::copyAndRecord(const RowFacts& facts, const std::string& resultPath, int pages) {
    const QueueRow& row = facts.row;
    const Destination& destination = facts.destination;
    // Looked at again: something may have arrived there while the pipeline ran.
    if (const std::optional<std::string> blocking = BlockingEntry(destination, facts.attachment))
        return inTheWay(row, *blocking);
    // Only the holder of the claim copies: another worker may have converted the row meanwhile.
    const WorkQueue::Claim claim = queue_.renewClaim(row.trackReference);
    if (claim == WorkQueue::Claim::Lost) return claimTakenOver("nothing was copied");
    if (claim == WorkQueue::Claim::Unknown)
        return machineFault(row, "the claim on the row could not be confirmed; nothing was copied");
    const std::optional<std::string> existing = FindEntry(destination.local);
    if (existing != resultPath) {
        try {
            PendingWrite noted(std::filesystem::path(destination.local).parent_path().string());
            WholeFileWriter writer(existing.value_or(destination.local));
            writer.copyWholeFile(resultPath);
            // Whoever may not read the attachment may not read its text either.
            writer.takePermissionsOf(facts.attachment);
            if (existing) {
                writer.commit();
            } else if (!writer.commitIfAbsent()) {
                return noResult(row, FindEntry(destination.local).value_or(destination.local) +
                                         " appeared while the result was copied; nothing was copied");
            }
        } catch (const std::exception& error) {
            // Whatever lies at the destination now is not this result: record nothing.
            return machineFault(row, "the copy to " + destination.local + " failed: " + error.what());
        }
    }
    const NewPdfRecord record = queue_.recordNewPdf(row.trackReference, *row.filePath, destination.host, pages);
    if (record.claimLost)
        return claimTakenOver("its result was copied to " + destination.local + " before the claim was found taken over");
    std::string why = "converted to " + destination.host;
    for (const std::string& table : record.keptByUser) why += "; " + table + " was repointed by a user and kept";
    return statusWritten(record.recorded, kFinished, why);
}

}  // namespace kvo::driver
