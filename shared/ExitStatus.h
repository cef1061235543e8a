#pragma once
// How the programs of this system end: the one table of exit statuses, each with its meaning,
// and the faults that carry a status to a program's end.
#include <functional>
#include <stdexcept>
#include <string>

namespace kvo {

enum ExitStatus : int {
    kExitOk = 0,                 // done; a program of the chain: its caller judges the work by its files
    kExitFailure = 1,            // KVOProcess: its configuration or database cannot be used, an operator's
                                 // command found a fault, or a worker's database failed
    kExitUsage = 2,              // KVOProcess: a bad option or setting, or a change nobody confirmed
    kExitWorkerTimeLimit = 3,    // a worker stopped taking rows at its cycle's time limit
    kExitTextMissing = 10,       // the isolated text check: the PDF carries no text (kExitOk: it does)
    kExitTextUnreadable = 11,    // the isolated text check: the text extractor cannot read the PDF
    kExitNotAPdf = 12,           // the isolated inspection: the file does not open as a PDF
    kExitTextLocked = 13,        // the isolated text check: the PDF opens only with a password
    kExitNoReadablePage = 72,    // a program of the chain: the attachment holds no page it can read
                                 // (the document's fault, for good)
    kExitTooLargeForWork = 73,   // a program of the chain: the page bitmaps would need more than the work
                                 // folder's whole file system (the document's fault, for good)
    kExitNoRoom = 74,            // a program of the chain: its work folder had no room (the machine's fault)
    kExitEndedFromOutside = 75,  // a program of the chain: a program it ran was ended from outside or
                                 // stopped at its time limit (the machine's fault)
    kExitOutOfMemory = 76,       // an isolated inspection or check needed more memory than its bounds
    kExitNotStarted = 127,       // a child between its start and its program, which could not be run
};

// The faults that end a program of the chain with their status (ExitStatusForError).
class EndedFromOutside : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class NoRoomForWork : public std::runtime_error {  // so is a std::system_error with ENOSPC or EDQUOT
public:
    using std::runtime_error::runtime_error;
};
class TooLargeForWork : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class NoReadablePage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The exit status a program of the chain ends with after `error`: kExitEndedFromOutside or
// kExitNoRoom for a fault of the machine, kExitTooLargeForWork or kExitNoReadablePage for a
// document that can never be split here, kExitOk for any other (the caller judges the run by the
// files it left).
int ExitStatusForError(const std::exception& error);

// True for a fault of the machine: the work may succeed when it is tried again.
bool IsMachineFault(const std::exception& error);

// Runs one step of a program that goes on after a failing step: true when the step completed,
// false when it failed (`onSkipped` is told why, when given). A fault of the machine is not
// skipped but passed on: the program ends with its status.
bool SkipUnlessMachineFault(const std::function<void()>& step,
                            const std::function<void(const std::exception&)>& onSkipped = {});

}  // namespace kvo
