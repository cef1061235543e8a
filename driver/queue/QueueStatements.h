#pragma once
// The statement texts of the work queue, one set per store. A statement is its lines joined
// by CR LF, with nothing after the last line.
#include <initializer_list>
#include <string>
#include <string_view>

namespace kvo::driver {

struct QueueStatements {
    std::string existence;     // S1: count of tables named DASearchable, as Total
    std::string createTable;   // S2
    std::string primaryKey;    // S3
    std::string fillOpen;      // S4: from DiaryAttachments
    std::string fillClosed;    // S5: from CloseDiaryAttachments
    std::string pendingCount;  // S6: count of status 0, as Total
    std::string selection;     // S7: TrackReference, FilePath, Type of status 0
    // Updates; {id} is the selected text, {path} is quoted by DoubleApostrophes.
    std::string (*notFound)(const std::string& id);                                  // U1
    std::string (*alreadySearchable)(const std::string& id, const std::string& path); // U2
    std::string (*noResult)(const std::string& id);                                  // U3
    std::string (*openMatter)(const std::string& id, const std::string& path);        // U4
    std::string (*closedMatter)(const std::string& id, const std::string& path);      // U5
    std::string (*newPdf)(const std::string& id, const std::string& path);            // U6
};

const QueueStatements& SqlServerStatements();
const QueueStatements& SqliteStatements();

// The lines joined by CR LF.
std::string JoinLines(std::initializer_list<std::string_view> lines);
// Every "'" doubled; nothing else escaped.
std::string DoubleApostrophes(std::string_view path);

}  // namespace kvo::driver
