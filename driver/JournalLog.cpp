#include "driver/JournalLog.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "shared/platform/Text.h"

namespace kvo::driver {

namespace {

bool StandardErrorIsJournal() {
    const char* journalStream = std::getenv("JOURNAL_STREAM");
    struct stat file {};
    return journalStream && fstat(STDERR_FILENO, &file) == 0 &&
           IsJournalStream(journalStream, file.st_dev, file.st_ino);
}

}  // namespace

LogPriority OutcomePriority(std::string_view outcome) {
    if (outcome.starts_with("status 5")) return LogPriority::Error;
    if (outcome.starts_with("left pending") || outcome.starts_with("nothing recorded")) return LogPriority::Warning;
    if (outcome.starts_with("status 2, not found")) return LogPriority::Notice;
    return LogPriority::Info;
}

bool IsJournalStream(std::string_view journalStream, unsigned long long device, unsigned long long inode) {
    const auto colon = journalStream.find(':');
    return colon != std::string_view::npos &&
           WholeNumber<unsigned long long>(journalStream.substr(0, colon)) == device &&
           WholeNumber<unsigned long long>(journalStream.substr(colon + 1)) == inode;
}

std::string WithPriority(LogPriority priority, std::string_view text) {
    const std::string prefix = "<" + std::to_string(static_cast<int>(priority)) + ">";
    std::string prefixed = prefix;
    for (std::size_t i = 0; i < text.size(); ++i) {
        prefixed += text[i];
        if (text[i] == '\n' && i + 1 < text.size()) prefixed += prefix;
    }
    return prefixed;
}

std::string ForStandardError(LogPriority priority, std::string_view text) {
    // Standard error is the journal for the whole life of the process, or never.
    static const bool journal = StandardErrorIsJournal();
    return journal ? WithPriority(priority, text) : std::string(text);
}

void Report(std::string_view message, LogPriority priority) {
    std::cerr << ForStandardError(priority, "KVOProcess: " + std::string(message)) << std::endl;
}

}  // namespace kvo::driver
