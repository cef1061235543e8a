#include "driver/RowWalk.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <utility>

#include "driver/JournalLog.h"
#include "driver/PdfInspection.h"
#include "driver/ProgressDisplay.h"
#include "driver/ResultCheck.h"
#include "driver/WriteJournal.h"
#include "driver/modPDFSearchable.h"
#include "driver/queue/QueueStatements.h"
#include "driver/queue/WorkQueue.h"
#include "driver/store/DbConnection.h"
#include "shared/ChainPrograms.h"
#include "shared/ChildProcess.h"
#include "shared/ProgramWatch.h"
#include "shared/platform/FileSearch.h"
#include "shared/pdf/PdfFile.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"
#include "shared/xml/HandOff.h"

namespace kvo::driver {
namespace {

constexpr const char* kPipelineImageName = "KVOProcessSlides.exe";
constexpr int kPollMs = 50;
// The pause after "Not found" polls the display this often instead of spinning.
constexpr int kNotFoundPollMs = 20;
constexpr double kNotFoundPauseSeconds = 3;
// While stopping, a progress dot this often.
constexpr double kDotSeconds = 2;
constexpr const char* kOutsideTheShares = "the attachment lies outside the mapped shares; nothing is read or written there";

// The pipeline names its result after the attachment's base name.
std::string ResultPathFor(const std::string& attachmentPath) {
    return handoff::FinalResult(handoff::BaseName(attachmentPath));
}

// The entry at the destination (found without regard to case) that may not be replaced: any
// but a plain file (never a link, which could lead anywhere) holding a searchable PDF made
// earlier for this same attachment.
std::optional<std::string> BlockingEntry(const std::string& destination, const std::string& attachmentPath) {
    const std::optional<std::string> entry = FindEntry(destination);
    if (!entry) return std::nullopt;
    struct stat info {};
    if (lstat(entry->c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
        try {
            const std::optional<pdf::PdfFacts> facts = InspectPdfIsolated(*entry);
            if (facts && pdf::IsResultFor(*facts, attachmentPath)) return std::nullopt;
        } catch (const PdfBreaksLimit& error) {
            return *entry + " (" + error.what() + ")";
        }
    }
    return entry;
}

// Why the folder of a file that was not found cannot be listed; "" when it can, or when it does
// not exist at all (the attachment went with its folder).
std::string FolderFault(const std::string& localPath) {
    if (localPath.empty()) return "";
    const std::string folder = std::filesystem::path(localPath).parent_path().string();
    const std::string real = FindEntry(folder.empty() ? "." : folder).value_or(folder.empty() ? "." : folder);
    if (DIR* listing = opendir(real.c_str())) {
        closedir(listing);
        return "";
    }
    if (errno == ENOENT || errno == ENOTDIR) return "";
    return "the folder " + real + " cannot be read: " + std::strerror(errno);
}

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

    if (row.filePath && ClimbsOutOfItsFolder(*row.filePath))
        return noResult(row, "the path has a \"..\" component; it is not followed");
    // A NULL path or a malformed name count as "not found"; so does a file missing from a folder
    // that could be read, but not one behind a folder that cannot (a share gone away).
    std::string resolvedPath, localPath;
    if (row.filePath && !row.filePath->empty()) localPath = ToLocalPath(pathMap_, *row.filePath);
    // With shares mapped, nothing outside them is looked at, and no link leads out of them.
    if (!pathMap_.empty() && !localPath.empty() && !NamedInsideTheShares(pathMap_, localPath))
        return noResult(row, kOutsideTheShares);
    try {
        if (!localPath.empty()) resolvedPath = ResolveFile(localPath).value_or("");
    } catch (const std::exception&) {
        resolvedPath.clear();
    }
    if (resolvedPath.empty()) {
        if (const std::string fault = FolderFault(localPath); !fault.empty()) return machineFault(row, fault);
        return pauseAfterNotFound(row);
    }
    if (!pathMap_.empty() && !ReallyInsideTheShares(pathMap_, resolvedPath)) return noResult(row, kOutsideTheShares);

    display_.appendText(kInProgressAppend);
    display_.processMessages();
    try {
        handoff::WriteFileOrder(resolvedPath);
    } catch (const std::exception& error) {
        return machineFault(row, std::string("cannot write KVOFile.xml: ") + error.what());
    }
    return handleFoundRow(row, resolvedPath);
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

RowWalk::Outcome RowWalk::handleFoundRow(const QueueRow& row, const std::string& resolvedPath) {
    const TypeGroup group = GroupOfType(row.type);
    // It would only come up again every cycle.
    if (group == TypeGroup::Other) return noResult(row, "the type '" + row.type + "' is not converted");
    if (group == TypeGroup::Pdf) {
        std::string rewriteRefused;
        if (IsPDFSearchable(resolvedPath, [this] { display_.processMessages(); }, &rewriteRefused)) {
            // The host keeps its own form of the path.
            return statusWritten(queue_.markAlreadySearchable(row.trackReference, *row.filePath),
                                 kAlreadySearchable, "already searchable");
        }
        if (!rewriteRefused.empty())
            return noResult(row, "its text is unreadable and Ghostscript's rewrite was not used: " + rewriteRefused);
        // The chain reads it with the same library, without these bounds: one that breaks them
        // (PdfBreaksLimit) goes no further.
        InspectPdfIsolated(resolvedPath, nullptr, [this] { display_.processMessages(); });
    }
    // Nothing is converted that could not be stored.
    const Destination destination = destinationFor(row, resolvedPath, group);
    // The queue could never record it, and the row would be converted again every cycle.
    if (!FitsFilePath(destination.host))
        return noResult(row, "the destination " + destination.host + " does not fit FilePath");
    if (std::filesystem::path(destination.local).filename().string().size() > NAME_MAX)
        return noResult(row, "the destination's name is longer than the file system's " + std::to_string(NAME_MAX) +
                                 " bytes");
    if (const std::optional<std::string> blocking = BlockingEntry(destination.local, resolvedPath))
        return inTheWay(row, *blocking);
    // A file already lying under the result's name is not this run's product.
    const bool resultNameTaken = FileExists(ResultPathFor(resolvedPath));
    if (!runPipeline(resolvedPath)) {
        Outcome outcome{"left pending, " + appFolder_ + "/" + kPipelineProgram + " could not be started"};
        outcome.pipelineNotStarted = true;
        return outcome;
    }
    return pickUpResult(row, resolvedPath, group, destination, resultNameTaken);
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
    const ChildEnd end = WatchChild(*pipeline, kPipelineImageName,
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
    pipelineBlamesDocument_ = end.exitedWith(kExitTooLargeForWork);
    if (!end.exitedWith(kExitOk)) {
        pipelineFault_ = PipelineFault(end);
        RemoveWorkOfDeadPipeline(attachment);
    }
    return true;
}

RowWalk::Outcome RowWalk::pickUpResult(const QueueRow& row, const std::string& resolvedPath, TypeGroup group,
                                       const Destination& destination, bool resultNameTaken) {
    const std::string expected = ResultPathFor(resolvedPath);
    // The pipeline renames its result into place whole and has ended: what is there is all.
    const std::optional<std::string> result = ResolveFile(expected);
    if (!result && pipelineBlamesDocument_) return noResult(row, pipelineFault_);
    if (!result && !pipelineFault_.empty()) return machineFault(row, "no result file, " + pipelineFault_);
    if (!result) return noResult(row, "no result file");
    if (*result == resolvedPath)
        return noResult(row, "the attachment lies in the work folder under its result's name; it is left as it is");

    Outcome outcome;
    const ResultVerdict verdict = CheckResult(*result, resolvedPath, row.type);
    if (!verdict.problem.empty()) {
        outcome = noResult(row, verdict.problem);
    } else {
        try {
            if (group == TypeGroup::Image && !IsPDFSearchable(*result, [this] { display_.processMessages(); }))
                outcome = noResult(row, "the result carries no text");
            else
                outcome = copyAndRecord(row, *result, resolvedPath, destination, verdict.pages);
        } catch (const PdfBreaksLimit& error) {
            outcome = noResult(row, error.what());
        } catch (const std::exception& error) {
            outcome = machineFault(row, error.what());  // the text check crashed or hung
        }
    }
    // The driver removes what this run made and an earlier result of this attachment, never
    // another file that lay there (another attachment kept in the work folder), nor a result
    // that already lies where the host now finds it.
    if ((verdict.madeForAttachment || !resultNameTaken) && FindEntry(destination.local) != result)
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

RowWalk::Destination RowWalk::destinationFor(const QueueRow& row, const std::string& resolvedPath,
                                             TypeGroup group) const {
    // The host tables get the row's own path with the name's extension changed, in the host's
    // own spelling; the copy goes beside the attachment as it really lies.
    Destination destination;
    destination.host = DestinationPath(*row.filePath, group);
    destination.local = (std::filesystem::path(resolvedPath).parent_path() /
                         std::filesystem::path(ToLocalPath(pathMap_, destination.host)).filename())
                            .string();
    return destination;
}

RowWalk::Outcome RowWalk::copyAndRecord(const QueueRow& row, const std::string& resultPath,
                                        const std::string& resolvedPath, const Destination& destination,
                                        int pages) {
    // Looked at again: something may have arrived there while the pipeline ran.
    if (const std::optional<std::string> blocking = BlockingEntry(destination.local, resolvedPath))
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
            writer.copyFrom(resultPath, 0, static_cast<std::uint64_t>(std::filesystem::file_size(resultPath)));
            // Whoever may not read the attachment may not read its text either.
            writer.takePermissionsOf(resolvedPath);
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
