#include "driver/WorkerPool.h"

#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "driver/Config.h"
#include "driver/JournalLog.h"
#include "driver/LoopRules.h"
#include "driver/ProgressDisplay.h"
#include "driver/WorkerChannel.h"
#include "driver/WorkerRules.h"
#include "shared/ExitStatus.h"
#include "shared/platform/Paths.h"
#include "shared/platform/WorkFolders.h"

extern char** environ;

namespace kvo::driver {
namespace {

constexpr int kPollMs = 200;
constexpr int kStoppingDotSeconds = 2;
// Descriptors are moved this high before a start, so that placing them at 3 and 4 in the
// worker never overwrites one with the other.
constexpr int kHighFd = 10;


int MovedHigh(int fd) {
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, kHighFd);
    close(fd);
    return moved;
}

std::vector<std::string> EnvironmentWithTemp(const std::string& temp) {
    std::vector<std::string> entries;
    for (char** entry = environ; *entry; ++entry)
        if (std::strncmp(*entry, "TEMP=", 5) != 0) entries.emplace_back(*entry);
    entries.push_back("TEMP=" + temp);
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    return pointers;
}

// Starts one worker in its own process group (the terminal's Ctrl-C is the driver's to
// confirm), with its events pipe, its folder lock and the database password at the agreed
// descriptors. 0 on failure.
pid_t StartWorker(const WorkerPoolSettings& settings, int number, const HeldFolder& folder, int eventsFd,
                  int passwordFd) {
    using namespace std::chrono;
    std::vector<std::string> arguments{
        settings.program, "--worker", std::to_string(number), "--cycle-start",
        std::to_string(duration_cast<seconds>(settings.cycleStart.time_since_epoch()).count())};
    std::vector<std::string> environment = EnvironmentWithTemp(folder.path);
    std::vector<char*> argv = Pointers(arguments), envp = Pointers(environment);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, eventsFd, kWorkerEventsFd);
    posix_spawn_file_actions_adddup2(&actions, folder.lockFd, kWorkerFolderLockFd);
    posix_spawn_file_actions_adddup2(&actions, passwordFd, kWorkerPasswordFd);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults, none;
    sigemptyset(&defaults);
    for (int signalNumber : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&defaults, signalNumber);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setpgroup(&attributes, 0);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    pid_t pid = 0;
    if (posix_spawn(&pid, settings.program.c_str(), &actions, &attributes, argv.data(), envp.data()) != 0) pid = 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

struct Worker {
    int number = 0;
    pid_t pid = 0;
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
            const int readFd = MovedHigh(pipeFds[0]), writeFd = MovedHigh(pipeFds[1]);
            const int lockFd = MovedHigh(folder.lockFd);
            folder.lockFd = lockFd;
            int passwordFd = -1;
            try {
                passwordFd = MovedHigh(PasswordPipe(EnvironmentPassword()));
            } catch (const std::exception& error) {
                for (int fd : {readFd, writeFd, lockFd}) close(fd);
                Report("worker " + std::to_string(number) + " not started: " + error.what());
                break;
            }
            const pid_t pid = StartWorker(settings_, number, folder, writeFd, passwordFd);
            close(writeFd);
            close(lockFd);
            close(passwordFd);
            if (pid == 0) {
                close(readFd);
                Report("worker " + std::to_string(number) + " could not be started: " + settings_.program);
                continue;
            }
            fcntl(readFd, F_SETFL, O_NONBLOCK);
            Worker worker;
            worker.number = number;
            worker.pid = pid;
            worker.eventsFd = readFd;
            workers_.push_back(std::move(worker));
        }
    }

    bool anyLeft() const {
        for (const Worker& worker : workers_)
            if (worker.running || worker.eventsFd >= 0) return true;
        return false;
    }

    void waitForEvents() {
        std::vector<pollfd> fds;
        for (const Worker& worker : workers_)
            if (worker.eventsFd >= 0) fds.push_back({.fd = worker.eventsFd, .events = POLLIN, .revents = 0});
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
        int status = 0;
        if (waitpid(worker.pid, &status, WNOHANG) != worker.pid) return;
        worker.running = false;
        readEvents(worker);
        if (worker.eventsFd >= 0) {
            close(worker.eventsFd);
            worker.eventsFd = -1;
        }
        const std::string name = "worker " + std::to_string(worker.number);
        if (WIFSIGNALED(status)) {
            Report(name + " was ended by signal " + std::to_string(WTERMSIG(status)) +
                   (worker.attachment.empty() ? "" : " while working on " + worker.attachment +
                                                          "; that row is taken up again when its claim expires"));
        } else if (const int code = WEXITSTATUS(status); code == kExitWorkerTimeLimit) {
            end_.timeLimit = true;
        } else if (code == kExitFailure) {
            end_.databaseFailed = true;
        } else if (code != 0) {
            Report(name + " ended with status " + std::to_string(code));
        }
        worker.attachment.clear();
        changed_ = true;
    }

    void forwardStop() {
        stopForwarded_ = true;
        lastDot_ = SteadyNow();
        for (const Worker& worker : workers_)
            if (worker.running) kill(worker.pid, SIGTERM);
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
