#include "driver/WorkerChannel.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <iostream>
#include <stdexcept>

#include "driver/Config.h"
#include "driver/StopSignals.h"
#include "driver/WorkerRules.h"
#include "driver/PdfInspection.h"

namespace kvo::driver {
namespace {

// Writes all of `data` in as few writes as the descriptor takes; a driver that is gone is
// not the worker's concern.
void WriteAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t written = write(fd, data.data() + done, data.size() - done);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

}  // namespace

// Collects standard error's text line by line and writes each line in one piece.
class WorkerChannel::LineWriter : public std::streambuf {
public:
    explicit LineWriter(WorkerChannel& channel) : channel_(channel) {}
    ~LineWriter() override {
        if (!line_.empty()) WriteAll(STDERR_FILENO, line_);
    }

protected:
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        line_ += traits_type::to_char_type(c);
        if (line_.back() == '\n') {
            WriteAll(STDERR_FILENO, line_);
            line_.pop_back();
            channel_.onReportLine(line_);
            line_.clear();
        }
        return c;
    }
    std::streamsize xsputn(const char* text, std::streamsize count) override {
        for (std::streamsize i = 0; i < count; ++i) overflow(traits_type::to_int_type(text[i]));
        return count;
    }

private:
    WorkerChannel& channel_;
    std::string line_;
};

WorkerChannel::WorkerChannel(bool& stopRequested, int eventsFd, PathMapEntries pathMap)
    : stopRequested_(stopRequested), eventsFd_(eventsFd), pathMap_(std::move(pathMap)),
      lineWriter_(std::make_unique<LineWriter>(*this)) {
    previousErrorBuffer_ = std::cerr.rdbuf(lineWriter_.get());
}

WorkerChannel::~WorkerChannel() { std::cerr.rdbuf(previousErrorBuffer_); }

void WorkerChannel::setText(const std::string& text) {
    const bool appended = !text_.empty() && text.rfind(text_, 0) == 0;
    text_ = text;
    if (appended) return;
    if (auto attachment = AttachmentOfRowText(text)) {
        currentAttachment_ = attachment;
        send(WorkerEvent::Started(*attachment));
    }
}

void WorkerChannel::processMessages() {
    // Only the driver signals a worker, and only for a stop the operator has confirmed.
    if (TakeStopSignal() != StopSignal::kNone) stopRequested_ = true;
}

void WorkerChannel::onReportLine(const std::string& line) {
    if (!currentAttachment_) return;
    const auto outcome = OutcomeOfReportLine(line, *currentAttachment_);
    if (!outcome) return;
    int pages = 0;
    if (const auto destination = ConvertedDestination(*outcome)) try {
            if (const auto facts = InspectPdfIsolated(ToLocalPath(pathMap_, *destination))) pages = facts->pageCount;
        } catch (const std::exception&) {
            // The count is for the display only.
        }
    currentAttachment_.reset();
    send(WorkerEvent::Ended(*outcome, pages));
}

void WorkerChannel::send(const WorkerEvent& event) const { WriteAll(eventsFd_, EncodeEvent(event) + '\n'); }

// The pipe holds nothing without a password, else "=" and the password.
int PasswordPipe(const std::optional<std::string>& password) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        throw std::runtime_error(std::string("no pipe for the database password: ") + std::strerror(errno));
    const std::string content = password ? "=" + *password : "";
    const ssize_t written = content.empty() ? 0 : write(fds[1], content.data(), content.size());
    close(fds[1]);
    if (written != static_cast<ssize_t>(content.size())) {
        close(fds[0]);
        throw std::runtime_error("the database password does not fit the pipe to a worker");
    }
    return fds[0];
}

std::optional<std::string> ReadPassword(int fd) {
    std::string content;
    char buffer[4096];
    for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) break;
        content.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    if (content.empty()) return std::nullopt;
    return content.substr(1);
}

void BindWorkerToDriver() {
    AdoptEnvironmentPassword(ReadPassword(kWorkerPasswordFd));
    for (int fd : {kWorkerEventsFd, kWorkerFolderLockFd}) fcntl(fd, F_SETFD, FD_CLOEXEC);
    std::signal(SIGPIPE, SIG_IGN);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

}  // namespace kvo::driver
