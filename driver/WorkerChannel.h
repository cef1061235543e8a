#pragma once
// The worker's side of the pool: the progress display of a worker process. It turns what the
// row walk shows and reports into event lines for the driver, and takes a signal from the
// driver as a confirmed stop.
#include <memory>
#include <optional>
#include <streambuf>
#include <string>

#include "driver/PathMap.h"
#include "driver/ProgressDisplay.h"

namespace kvo::driver {

struct WorkerEvent;

// The descriptor on which a worker process finds its event pipe to the driver.
inline constexpr int kWorkerEventsFd = 3;
// And the one that holds the lock on its work folder for as long as it runs.
inline constexpr int kWorkerFolderLockFd = 4;
// And the one it reads the database password from (never its environment, which the programs it
// starts would inherit).
inline constexpr int kWorkerPasswordFd = 5;

class WorkerChannel : public ProgressDisplay {
public:
    // Takes over standard error for as long as it lives, so that every report line leaves whole
    // (workers share the driver's standard error) and ends the row it names.
    WorkerChannel(bool& stopRequested, int eventsFd, PathMapEntries pathMap);
    ~WorkerChannel() override;

    std::string text() const override { return text_; }
    void setText(const std::string& text) override;
    void setStopEnabled(bool) override {}
    void processMessages() override;

private:
    class LineWriter;
    void onReportLine(const std::string& line);
    void send(const WorkerEvent& event) const;

    bool& stopRequested_;
    int eventsFd_;
    PathMapEntries pathMap_;
    std::string text_;
    std::optional<std::string> currentAttachment_;
    std::unique_ptr<LineWriter> lineWriter_;
    std::streambuf* previousErrorBuffer_ = nullptr;
};

// Makes this process a worker of the driver that started it: it takes over the database
// password its driver handed on, the inherited descriptors are not passed on, a closed pipe does
// not end it, and the driver's death is a stop (the current row is finished).
void BindWorkerToDriver();

// The database password handed to a worker: the driver's side makes a pipe that holds it
// (nullopt: none) and gives its read end (throws std::runtime_error when it cannot); the
// worker's side reads it to its end and closes it.
int PasswordPipe(const std::optional<std::string>& password);
std::optional<std::string> ReadPassword(int fd);

}  // namespace kvo::driver
