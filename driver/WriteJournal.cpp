#include "driver/WriteJournal.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>
#include <vector>

#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"

namespace kvo::driver {
namespace {

constexpr const char* kJournalName = "KVOProcess.writes";

std::string JournalPath() { return TempFolder() + "/" + kJournalName; }

// Folders end with a NUL each: a folder name may hold any other byte.
std::vector<std::string> ReadNotes() {
    std::ifstream in(JournalPath(), std::ios::binary);
    std::vector<std::string> folders;
    for (std::string folder; std::getline(in, folder, '\0');)
        if (!folder.empty()) folders.push_back(folder);
    return folders;
}

void WriteNotes(const std::vector<std::string>& folders) {
    if (folders.empty()) {
        DeleteFile(JournalPath());
        return;
    }
    std::string content;
    for (const std::string& folder : folders) content += folder + '\0';
    WriteFileAtomically(JournalPath(), content);
}

}  // namespace

PendingWrite::PendingWrite(std::string folder) : folder_(std::move(folder)) {
    std::vector<std::string> folders = ReadNotes();
    folders.push_back(folder_);
    WriteNotes(folders);
}

PendingWrite::~PendingWrite() {
    try {
        std::vector<std::string> folders = ReadNotes();
        if (auto found = std::find(folders.begin(), folders.end(), folder_); found != folders.end()) folders.erase(found);
        WriteNotes(folders);
    } catch (const std::exception&) {
        // Still noted: the next start looks at the folder once more, which does no harm.
    }
}

int RemoveLeftoverTemporaries() {
    const std::string temp = TempFolder();
    int removed = RemoveStaleTemporaries(temp);
    std::vector<std::string> unreachable;
    for (const std::string& folder : ReadNotes()) {
        std::error_code error;
        if (std::filesystem::is_directory(folder, error)) removed += RemoveStaleTemporaries(folder);
        else unreachable.push_back(folder);
    }
    WriteNotes(unreachable);
    return removed;
}

}  // namespace kvo::driver
