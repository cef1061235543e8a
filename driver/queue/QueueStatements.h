#pragma once
// The statement texts of the work queue and its side table of claims, one set per store. A
// statement is its lines joined by CR LF, with nothing after the last line.
//
// DASearchableWork holds one row per queue row: which worker holds the row (Worker, NULL when
// none) since when (ClaimedAt, the store's UTC clock, renewed while the worker works on it), how
// often a machine fault ended its conversion (Attempts) and the last error, or the reason its
// status became 5 (LastError); once the row is recorded, the pages of its searchable PDF (Pages)
// and the row's type and path before it was recorded (OriginalType, OriginalPath), from which a
// converted row can be converted again.
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kvo::driver {

// How a claim is taken: by whom, when claims expire, the store's clock at the start of the
// cycle (rows claimed since then were tried in this cycle already and wait for the next), and
// the TrackReference the worker claimed last in this cycle (rows come in TrackReference order;
// "" before the first), so that no claim reads the rows done before it again.
struct ClaimTerms {
    std::string worker;
    int expirySeconds;  // since the claim was taken or last renewed
    std::string cycleStart;  // "YYYY-MM-DD hh:mm:ss.fff", as the store's clock gave it
    std::string after;
};

// A column DASearchableWork gained after it was first made, and the statement that adds it to a
// table made without it.
struct AddedColumn {
    std::string name;
    std::string add;
};

struct QueueStatements {
    std::string existence;     // S1: count of tables named DASearchable, as Total
    std::string createTable;   // S2
    std::string primaryKey;    // S3
    std::string longPaths;     // count of host rows not queued yet whose path is too long, as Total
    std::string unstorablePaths;  // count of host rows not queued yet whose path FilePath would change, as Total
    std::string fillOpen;      // S4: from DiaryAttachments
    std::string fillClosed;    // S5: from CloseDiaryAttachments
    std::string pendingCount;  // S6: count of status 0, as Total
    std::string workExistence; // count of tables named DASearchableWork, as Total
    std::string createWork;    // DASearchableWork with its primary key
    std::string (*columnCount)(const std::string& column);  // DASearchableWork's columns so named, as Total
    std::vector<AddedColumn> addedColumns;
    std::string workRows;      // a side row for every queue row without one
    std::string storeClock;    // the store's UTC clock, as Now
    // Claims. {id} is a selected TrackReference; texts are quoted by the store's literal rule.
    std::string (*claimNext)(const ClaimTerms& terms);
    std::string (*heldRow)(const std::string& worker);          // TrackReference, FilePath, Type
    std::string (*workersOfHost)(const std::string& hostPrefix); // Worker of every claim so named
    std::string (*releaseWorker)(const std::string& worker);
    std::string (*release)(const std::string& id, const std::string& worker);
    std::string (*releaseWithReason)(const std::string& id, const std::string& worker, const std::string& reason);
    std::string (*raiseAttempts)(const std::string& id, const std::string& worker, const std::string& error);
    std::string (*attempts)(const std::string& id);             // as Total
    std::string (*renewClaim)(const std::string& id, const std::string& worker);
    // The row's original type and path, and the pages of its searchable PDF (0: NULL).
    std::string (*recordOriginal)(const std::string& id, const std::string& worker, int pages, const std::string& type,
                                  const std::optional<std::string>& path);
    // Status updates; each moves only a row whose status is 0 and whose claim `worker` holds.
    std::string (*notFound)(const std::string& id, const std::string& worker);                          // U1
    std::string (*alreadySearchable)(const std::string& id, const std::string& worker, const std::string& path); // U2
    std::string (*noResult)(const std::string& id, const std::string& worker);                          // U3
    std::string (*newPdf)(const std::string& id, const std::string& worker, const std::string& path);   // U6
    // Host rows (U4, U5), changed only while they still name `original` (or `path` already, as
    // after an earlier conversion of the row); and their count.
    std::string (*openMatter)(const std::string& id, const std::string& original, const std::string& path);
    std::string (*closedMatter)(const std::string& id, const std::string& original, const std::string& path);
    std::string (*openMatterRows)(const std::string& id);       // as Total
    std::string (*closedMatterRows)(const std::string& id);     // as Total
};

const QueueStatements& SqlServerStatements();
const QueueStatements& SqliteStatements();

// The lines joined by CR LF.
std::string JoinLines(std::initializer_list<std::string_view> lines);
std::string JoinLines(const std::vector<std::string>& lines);

// The fill in a store's words, its type lists made from the table of attachment types: `head`,
// the `case` lines that store a host type in the queue's three letters ("WHEN 'TIFF' Then
// 'TIF'"), `middle`, the `case` lines that queue a converted type with status 0 ("WHEN 'PDF'
// Then 0"), `tail`.
std::string FillStatement(std::vector<std::string> head, const std::vector<std::string>& middle,
                          const std::vector<std::string>& tail);
// The columns DASearchableWork gained after it was first made, in the order they came, each with
// the statement `add` makes of its name and type ("int null").
std::vector<AddedColumn> AddedColumns(std::string (*add)(const std::string& column, const std::string& type));
// The stored spellings of the converted types as an IN list: "('PDF', 'BMP', …)".
std::string StoredConvertedTypeList();
// Every "'" doubled; nothing else escaped.
std::string DoubleApostrophes(std::string_view path);

// The widest path the queue's FilePath column holds, in characters.
inline constexpr std::size_t kFilePathWidth = 255;

}  // namespace kvo::driver
