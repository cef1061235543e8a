#include "driver/RowWalk.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <utility>

#include "driver/ProgressDisplay.h"
#include "driver/modPDFSearchable.h"
#include "driver/queue/QueueStatements.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ProgramWatch.h"
#include "shared/ShellModule.h"
#include "shared/platform/CommandLine.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {
namespace {

constexpr const char* kPipelineProgram = "KVOProcessSlides";
constexpr const char* kPipelineImageName = "KVOProcessSlides.exe";
constexpr int kPollMs = 50;
// The pause after "Not found" polls the display this often instead of spinning.
constexpr int kNotFoundPollMs = 20;

double SecondsBetween(TimePoint from, TimePoint to) {
    return std::chrono::duration<double>(to - from).count();
}

}  // namespace

RowWalk::RowWalk(WorkQueue& queue, ProgressDisplay& display, const bool& stopRequested,
                 const PathMapEntries& pathMap, std::string appFolder)
    : queue_(queue), display_(display), stopRequested_(stopRequested), pathMap_(pathMap),
      appFolder_(std::move(appFolder)) {}

RowWalk::End RowWalk::run(TimePoint runStart) {
    int rowNumber = 0;
    for (;;) {
        const std::optional<QueueRow> row = queue_.current();
        if (!row) return End::SelectionDone;
        if (stopRequested_) return End::Stopped;
        ++rowNumber;
        const TimePoint rowStart = Now();
        pipelineSeconds_.reset();
        Outcome outcome;
        try {
            outcome = handleRow(*row, rowNumber);
        } catch (const DbError&) {
            throw;  // the store is gone: the cycle cannot go on
        } catch (const std::exception& error) {
            // A file-system failure (the work folder, a length read, a deletion) spoils this
            // row only; it stays pending for a later cycle.
            outcome.text = std::string("left pending, ") + error.what();
        }
        std::cerr << RowReportLine(row->trackReference, row->filePath.value_or("(no path)"), outcome.text,
                                   SecondsBetween(rowStart, Now()), pipelineSeconds_)
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

RowWalk::Outcome RowWalk::statusWritten(bool written, int status, const std::string& why) const {
    if (!written) return {"left pending, status " + std::to_string(status) + " could not be recorded (" + why + ")"};
    return {"status " + std::to_string(status) + ", " + why};
}

RowWalk::Outcome RowWalk::handleRow(const QueueRow& row, int rowNumber) {
    display_.setText(StartOfRowText(queue_.pendingCount(), rowNumber, row.filePath.value_or("")));
    display_.processMessages();

    // A NULL path, an unreachable folder or a malformed name all count as "not found".
    std::string localPath, resolvedPath;
    try {
        if (row.filePath && !row.filePath->empty()) {
            localPath = ToLocalPath(pathMap_, *row.filePath);
            resolvedPath = ResolveFile(localPath).value_or("");
        }
    } catch (const std::exception&) {
        resolvedPath.clear();
    }
    if (resolvedPath.empty()) return pauseAfterNotFound(row);

    display_.appendText(kInProgressAppend);
    display_.processMessages();
    try {
        handoff::WriteFileOrder(resolvedPath);
    } catch (const std::exception& error) {
        return {std::string("left pending, cannot write KVOFile.xml: ") + error.what()};
    }
    return handleFoundRow(row, localPath, resolvedPath);
}

RowWalk::Outcome RowWalk::pauseAfterNotFound(const QueueRow& row) {
    display_.appendText(kNotFoundAppend);
    const bool written = queue_.markNotFound(row.trackReference);
    const TimePoint noted = Now();
    while (SecondCount(noted, Now()) <= 3) {
        display_.processMessages();
        SleepMs(kNotFoundPollMs);
    }
    display_.processMessages();
    return statusWritten(written, kFinished, "not found");
}

RowWalk::Outcome RowWalk::handleFoundRow(const QueueRow& row, const std::string& localPath,
                                         const std::string& resolvedPath) {
    const TypeGroup group = GroupOfType(row.type);
    if (group == TypeGroup::Other) return {"left pending, type '" + row.type + "' is not converted"};
    if (group == TypeGroup::Pdf && IsPDFSearchable(resolvedPath, [this] { display_.processMessages(); })) {
        // The host keeps its own form of the path.
        return statusWritten(queue_.markAlreadySearchable(row.trackReference, *row.filePath), kAlreadySearchable,
                             "already searchable");
    }
    if (!runPipeline()) {
        Outcome outcome{"left pending, " + appFolder_ + "/" + kPipelineProgram + " could not be started"};
        outcome.pipelineNotStarted = true;
        return outcome;
    }
    return pickUpResult(row, localPath, resolvedPath, group);
}

bool RowWalk::runPipeline() {
    display_.setStopEnabled(false);
    display_.processMessages();
    if (StartProgram(QuoteArgument(appFolder_ + "/" + kPipelineProgram), kWindowHidden) == 0) {
        display_.setStopEnabled(!stopRequested_);
        return false;
    }
    const SteadyPoint started = SteadyNow();
    TimePoint lastDot = Now();
    // No time limit here: the pipeline limits each of its own children.
    WatchProgram(kPipelineImageName, {.pollMs = kPollMs, .hourLimit = false, .onPoll = [&] {
                     if (stopRequested_) {
                         if (SecondCount(lastDot, Now()) >= 2) {
                             display_.appendText(kStoppingDot);
                             lastDot = Now();
                         }
                     } else {
                         display_.setStopEnabled(true);
                     }
                     display_.processMessages();
                 }});
    pipelineSeconds_ = SecondsSince(started);
    return true;
}

RowWalk::Outcome RowWalk::pickUpResult(const QueueRow& row, const std::string& localPath,
                                       const std::string& resolvedPath, TypeGroup group) {
    const std::string foundName = std::filesystem::path(resolvedPath).filename().string();
    const std::string resultPath = TempFolder() + "/" + ResultName(foundName, row.type);
    // The pipeline renames its result into place whole and has ended: what is there is all.
    if (!FileExists(resultPath)) {
        const std::string why = "no result file";
        return statusWritten(queue_.markNoResult(row.trackReference, why), kNoResult, why);
    }

    Outcome outcome;
    // The destination is the row's own FilePath with "." + type replaced: the host tables get
    // that text, in the host's own spelling, and the copy goes to its local form.
    const std::string hostDestination = DestinationPath(*row.filePath, row.type, group);
    const std::string destination = ToLocalPath(pathMap_, hostDestination);
    if (group == TypeGroup::Image && !IsPDFSearchable(resultPath, [this] { display_.processMessages(); })) {
        outcome = statusWritten(queue_.markNoResult(row.trackReference, "the result carries no text"), kNoResult,
                                "the result carries no text");
    } else if (destination == localPath || ResolveFile(destination) == resolvedPath) {
        // The name lacks "." + type: the copy would overwrite the attachment itself.
        const std::string why = "the destination would replace the attachment";
        outcome = statusWritten(queue_.markNoResult(row.trackReference, why), kNoResult, why);
    } else if (!FitsFilePath(hostDestination)) {
        // The queue could never record it, and the row would be converted again every cycle.
        const std::string why = "the destination " + hostDestination + " does not fit FilePath";
        outcome = statusWritten(queue_.markNoResult(row.trackReference, why), kNoResult, why);
    } else {
        outcome = copyAndRecord(row, resultPath, destination, hostDestination);
    }
    DeleteFile(resultPath);
    return outcome;
}

RowWalk::Outcome RowWalk::copyAndRecord(const QueueRow& row, const std::string& resultPath,
                                        const std::string& destination, const std::string& hostDestination) {
    try {
        CopyFileReplace(resultPath, destination);
    } catch (const std::exception& error) {
        // Whatever lies at the destination now is not this result: record nothing.
        return {"left pending, the copy to " + destination + " failed: " + error.what()};
    }
    // The copy was renamed into place whole.
    if (!FileExists(destination)) return {"left pending, the copy to " + destination + " is not visible"};
    const NewPdfRecord record = queue_.recordNewPdf(row.trackReference, *row.filePath, hostDestination);
    std::string why = "converted to " + hostDestination;
    for (const std::string& table : record.keptByUser) why += "; " + table + " was repointed by a user and kept";
    return statusWritten(record.recorded, kFinished, why);
}

}  // namespace kvo::driver
