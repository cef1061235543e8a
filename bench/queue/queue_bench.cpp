// How the work queue copes with a large host database on the embedded store: the time from
// the start of a cycle to the first pending row, claims with and without an outcome (each one
// a committed write), and the peak memory of the process. Prints figures; never fails.
//
//   queue_bench [ROWS]      (default 1000000; the database is made in a scratch folder)
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "driver/queue/WorkQueue.h"
#include "driver/store/SqliteConnection.h"

namespace {

using Clock = std::chrono::steady_clock;
using kvo::driver::SqliteConnection;
using kvo::driver::ThisWorkerName;
using kvo::driver::WorkQueue;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

struct CycleFigures {
    double secondsToFirstRow = 0;
    int pending = 0;
};

// One cycle's start: both connections opened, the queue set up, the first row at hand.
CycleFigures StartCycle(SqliteConnection& selection, SqliteConnection& updates, WorkQueue& queue) {
    const auto start = Clock::now();
    selection.open();
    updates.open();
    CycleFigures figures;
    if (!queue.setUp() || !queue.current()) {
        std::fprintf(stderr, "queue bench: the queue did not start\n");
        std::exit(0);
    }
    figures.secondsToFirstRow = SecondsSince(start);
    figures.pending = queue.pendingCount();
    return figures;
}

}  // namespace

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000000;
    const long updatedRows = std::min<long>(rows, 10000);
    const char* tmp = std::getenv("TMPDIR");
    std::string folderPattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/kvo-queue-bench-XXXXXX";
    if (!mkdtemp(folderPattern.data())) {
        std::perror(folderPattern.c_str());
        return 0;
    }
    const std::filesystem::path folder = folderPattern;
    const std::string file = (folder / "host.db").string();
    std::ofstream(file).close();

    try {
        // The host's tables: every attachment of open matters, a few closed ones.
        auto start = Clock::now();
        {
            SqliteConnection host(file);
            host.open();
            host.execute(
                "CREATE TABLE DiaryAttachments (TrackReference INTEGER PRIMARY KEY, Type TEXT, FilePath TEXT);"
                "CREATE TABLE CloseDiaryAttachments (TrackReference INTEGER PRIMARY KEY, Type TEXT, FilePath TEXT);"
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < " +
                std::to_string(rows) +
                ") INSERT INTO DiaryAttachments SELECT i, CASE i % 3 WHEN 0 THEN 'pdf' WHEN 1 THEN 'tif' ELSE 'Jpg' END,"
                " '//fileserver/matters/' || (i / 1000) || '/attachment ' || i || '.tif' FROM n;"
                "INSERT INTO CloseDiaryAttachments VALUES (-1, 'tif', '/closed/one.tif');");
        }
        std::printf("host tables: %ld attachments made in %.1f s\n", rows, SecondsSince(start));

        // First cycle: the queue is created and filled with every attachment.
        SqliteConnection selection(file), updates(file);
        WorkQueue queue(selection, updates, {ThisWorkerName(0)});
        CycleFigures first = StartCycle(selection, updates, queue);
        std::printf("first cycle (create, fill %d rows, count, select): first row after %.2f s\n", first.pending,
                    first.secondsToFirstRow);

        // The walk: updates on the second connection for the first rows, then reading only.
        start = Clock::now();
        long walked = 0;
        for (auto row = queue.current(); row && walked < updatedRows; queue.next(), row = queue.current(), ++walked)
            queue.markNoResult(row->trackReference, "bench");
        const double updateSeconds = SecondsSince(start);
        start = Clock::now();
        // Then rows claimed and released without an outcome, as rows left pending are.
        for (auto row = queue.current(); row && walked < 2 * updatedRows; queue.next(), row = queue.current())
            ++walked;
        const double readSeconds = SecondsSince(start);
        queue.closeSelection();
        selection.close();
        updates.close();
        std::printf("walk: %ld rows updated at %.0f rows/s, then %ld rows claimed and released at %.0f rows/s\n", updatedRows,
                    updatedRows / std::max(updateSeconds, 1e-9), walked - updatedRows,
                    (walked - updatedRows) / std::max(readSeconds, 1e-9));

        // Next cycle: nothing new to fill, the pending rows counted and selected again.
        SqliteConnection selection2(file), updates2(file);
        WorkQueue queue2(selection2, updates2, {ThisWorkerName(0)});
        CycleFigures second = StartCycle(selection2, updates2, queue2);
        std::printf("next cycle (fills find nothing new, %d pending): first row after %.2f s\n", second.pending,
                    second.secondsToFirstRow);
        queue2.closeSelection();

        const double peak = PeakMegabytes();
        const double slowest = std::max(first.secondsToFirstRow, second.secondsToFirstRow);
        std::printf("peak memory: %.1f MB\n", peak);
        std::printf("targets: first row within 30 s (%s, slowest %.2f s), memory under 100 MB (%s)\n",
                    slowest <= 30 ? "met" : "MISSED", slowest, peak < 100 ? "met" : "MISSED");
    } catch (const std::exception& error) {
        std::fprintf(stderr, "queue bench: %s\n", error.what());
    }
    std::filesystem::remove_all(folder);
    return 0;
}
