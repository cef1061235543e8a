#pragma once
// The driver's lines on standard error as the journal files them. Under systemd (JOURNAL_STREAM
// names the file standard error is) every line starts with its syslog priority, "<3>" for an
// error to "<6>" for information, which journald reads and takes off; anywhere else standard
// error stays exactly as it is.
#include <string>
#include <string_view>

namespace kvo::driver {

enum class LogPriority { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// The priority of a row's report line, by its outcome: status 5 is an error, a row left pending
// (mostly a fault of the machine) or left to the worker that took its claim over a warning, an attachment not found a notice, and a conversion
// or an attachment that already carries text information.
LogPriority OutcomePriority(std::string_view outcome);

// Whether a JOURNAL_STREAM value ("device:inode", as systemd sets it) names the file with this
// device and inode number.
bool IsJournalStream(std::string_view journalStream, unsigned long long device, unsigned long long inode);

// `text` with the priority prefix before each of its lines.
std::string WithPriority(LogPriority priority, std::string_view text);

// `text` as this process's standard error should carry it: with the prefix when it is the
// journal, unchanged otherwise.
std::string ForStandardError(LogPriority priority, std::string_view text);

// One of the driver's own messages, "KVOProcess: " and `message`, on standard error.
void Report(std::string_view message, LogPriority priority = LogPriority::Error);

}  // namespace kvo::driver
