#include "driver/WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <vector>

#include "driver/Config.h"
#include "driver/JournalLog.h"
#include "driver/LoopRules.h"
#include "driver/ProgressDisplay.h"
#include "driver/WorkerChannel.h"
#include "driver/WorkerRules.h"
#include "shared/ChildProcess.h"
#include "shared/ExitStatus.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WholeFile.h"
#include "shared/platform/WorkFolders.h"

namespace kvo::driver {
namespace {

constexpr int kPollMs = 200;
constexpr int kStoppingDotSeconds = 2;
// A worker takes rows until its cycle's time limit (the second clock hour) and then finishes
// the row in hand, whose pipeline has kLongestRun; one still running an hour after that hangs.
constexpr double kWorkerSeconds = 3 * 3600 + std::chrono::duration<double>(kLongestRun).count();

// Starts one worker with its events pipe, its folder lock and the database password at the
// agreed descriptors, in its own work folder. Throws ShellError when it cannot be started.
Child StartWorker(const WorkerPoolSettings& settings, int number, const HeldFolder& folder, int eventsFd,
                  int passwordFd) {
    using namespace std::chrono;
    return StartChild({.arguments = {settings.program, "--worker", std::to_string(number), "--cycle-start",
                                     std::to_string(duration_cast<seconds>(settings.cycleStart.time_since_epoch()).count())},
                       .workFolder = folder.path,
                       .discardOutput = false,
                       .descriptors = {{eventsFd, kWorkerEventsFd},
                                       {folder.lockFd, kWorkerFolderLockFd},
                                       {passwordFd, kWorkerPasswordFd}}});
}

struct Worker {
    int number = 0;
    std::optional<Child> child;
    int eventsFd = -1;  // read end; -1 once closed
    std::string partialLine;
    std::string attachment;  // the row it works on; "" between rows
    bool running = true;
};

class Pool {
public:
    Pool(const WorkerPoolSettings& settings, ProgressDisplay& display, const bool& stopRequested)
        : settings_(settings), display_(display), stopRequested_(stopRequested) {}

    WorkerPoolEnd run() {
        startWorkers();
        if (workers_.empty()) {
            end_.databaseFailed = true;  // nothing could run: treated like a cycle that cannot work
            return end_;
        }
        show();
        while (anyLeft()) {
            waitForEvents();
            for (Worker& worker : workers_) {
                readEvents(worker);
                reap(worker);
            }
            if (stopRequested_ && !stopForwarded_) forwardStop();
            if (stopRequested_ && SecondsSince(lastDot_) >= kStoppingDotSeconds) {
                dots_ += kStoppingDot;
                lastDot_ = SteadyNow();
                changed_ = true;
            }
            if (changed_) show();
            display_.processMessages();
        }
        return end_;
    }

private:
    void startWorkers() {
        int nextFolder = 1;
        for (int number = 1; number <= settings_.workers; ++number) {
            HeldFolder folder;
            try {
                folder = TakeWorkerFolder(settings_.workFolder, nextFolder);
            } catch (const std::exception& error) {
                Report(std::string("worker ") + std::to_string(number) + " not started: " + error.what());
                break;
            }
            int pipeFds[2];
            if (pipe2(pipeFds, O_CLOEXEC) != 0) {
                close(folder.lockFd);
                Report("worker " + std::to_string(number) + " not started: no pipe: " + std::strerror(errno));
                break;
            }
            const int readFd = pipeFds[0], writeFd = pipeFds[1];
            int passwordFd = -1;
            try {
                passwordFd = PasswordPipe(EnvironmentPassword());
            } catch (const std::exception& error) {
                for (int fd : {readFd, writeFd, folder.lockFd}) close(fd);
                Report("worker " + std::to_string(number) + " not started: " + error.what());
                break;
            }
            Worker worker;
            worker.number = number;
            try {
                worker.child.emplace(StartWorker(settings_, number, folder, writeFd, passwordFd));
            } catch (const ShellError&) {
            }
            for (int fd : {writeFd, folder.lockFd, passwordFd}) close(fd);
            if (!worker.child) {
                close(readFd);
                Report("worker " + std::to_string(number) + " could not be started: " + settings_.program);
                continue;
            }
            fcntl(readFd, F_SETFL, O_NONBLOCK);
            worker.eventsFd = readFd;
            workers_.push_back(std::move(worker));
        }
    }

    bool anyLeft() const {
        for (const Worker& worker : workers_)
            if (worker.running || worker.eventsFd >= 0) return true;
        return false;
    }

    // Until a worker says something or ends, or the poll's time is up.
    void waitForEvents() {
        std::vector<pollfd> fds;
        for (const Worker& worker : workers_) {
            if (worker.eventsFd >= 0) fds.push_back({.fd = worker.eventsFd, .events = POLLIN, .revents = 0});
            if (worker.running && worker.child->descriptor() >= 0)
                fds.push_back({.fd = worker.child->descriptor(), .events = POLLIN, .revents = 0});
        }
        poll(fds.data(), fds.size(), kPollMs);
    }

    void readEvents(Worker& worker) {
        char buffer[4096];
        while (worker.eventsFd >= 0) {
            const ssize_t got = read(worker.eventsFd, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0 && errno == EAGAIN) return;
            if (got <= 0) {
                close(worker.eventsFd);
                worker.eventsFd = -1;
                return;
            }
            worker.partialLine.append(buffer, static_cast<std::size_t>(got));
            for (auto lineEnd = worker.partialLine.find('\n'); lineEnd != std::string::npos;
                 lineEnd = worker.partialLine.find('\n')) {
                if (const auto event = DecodeEvent(worker.partialLine.substr(0, lineEnd))) apply(worker, *event);
                worker.partialLine.erase(0, lineEnd + 1);
            }
        }
    }

    void apply(Worker& worker, const WorkerEvent& event) {
        if (event.kind == WorkerEvent::Kind::RowStarted) {
            worker.attachment = event.attachment;
        } else {
            worker.attachment.clear();
            ++rowsDone_;
            pagesDone_ += event.pages;
        }
        changed_ = true;
    }

    // Collects an ended worker; once it has ended, what is left in its pipe is read without
    // waiting for the pipe to close.
    void reap(Worker& worker) {
        if (!worker.running) return;
        std::optional<ChildEnd> end = worker.child->poll();
        if (!end && limit_.reached()) end = worker.child->stop(limit_);
        if (!end) return;
        worker.running = false;
        readEvents(worker);
        if (worker.eventsFd >= 0) {
            close(worker.eventsFd);
            worker.eventsFd = -1;
        }
        const std::string name = "worker " + std::to_string(worker.number);
        if (end->how != ChildEnd::How::Exited) {
            Report(name + " " + DescribeEnd(*end) +
                   (worker.attachment.empty() ? "" : " while working on " + worker.attachment +
                                                          "; that row is taken up again when its claim expires"));
        } else if (end->code == kExitWorkerTimeLimit) {
            end_.timeLimit = true;
        } else if (end->code == kExitFailure) {
            end_.databaseFailed = true;
        } else if (end->code != kExitOk) {
            Report(name + " " + DescribeEnd(*end));
        }
        worker.attachment.clear();
        changed_ = true;
    }

    void forwardStop() {
        stopForwarded_ = true;
        lastDot_ = SteadyNow();
        for (const Worker& worker : workers_)
            if (worker.running) kill(worker.child->pid(), SIGTERM);
    }

    void show() {
        std::vector<std::string> attachments;
        for (const Worker& worker : workers_) attachments.push_back(worker.attachment);
        const std::string progress = ProgressLine({.pendingAtStart = settings_.pendingAtStart,
                                                   .rowsDone = rowsDone_,
                                                   .pagesDone = pagesDone_,
                                                   .elapsedSeconds = SecondsSince(started_)});
        std::string text = WorkersText(settings_.pendingAtStart, attachments, progress);
        if (stopRequested_) text += kStoppingAppend + dots_;
        display_.setText(text);
        changed_ = false;
    }

    const WorkerPoolSettings& settings_;
    ProgressDisplay& display_;
    const bool& stopRequested_;
    std::vector<Worker> workers_;
    TimeLimit limit_ = TimeLimit::Seconds(kWorkerSeconds);
    WorkerPoolEnd end_;
    SteadyPoint started_ = SteadyNow();
    SteadyPoint lastDot_ = SteadyNow();
    std::string dots_;
    int rowsDone_ = 0;
    int pagesDone_ = 0;
    bool stopForwarded_ = false;
    bool changed_ = false;
};

}  // namespace

WorkerPoolEnd RunWorkerPool(const WorkerPoolSettings& settings, ProgressDisplay& display, const bool& stopRequested) {
    return Pool(settings, display, stopRequested).run();
}

LoneWorkFolder::LoneWorkFolder() : temp_(std::getenv("TEMP") ? std::optional<std::string>(std::getenv("TEMP")) : std::nullopt) {
    const std::string base = TempFolder();
    if (const int fd = HoldFolder(base); fd >= 0) {
        folder_ = {base, fd};
        return;
    }
    int next = 1;
    folder_ = TakeWorkerFolder(base, next);
    setenv("TEMP", folder_.path.c_str(), 1);
}

LoneWorkFolder::~LoneWorkFolder() {
    close(folder_.lockFd);
    if (temp_) setenv("TEMP", temp_->c_str(), 1);
    else unsetenv("TEMP");
}

int CoreCount() {
    cpu_set_t cpus;
    CPU_ZERO(&cpus);
    if (sched_getaffinity(0, sizeof cpus, &cpus) != 0) return 1;
    return std::max(1, CPU_COUNT(&cpus));
}

}  // namespace kvo::driver
