#include "driver/TerminalProgress.h"

#include <unistd.h>

#include <iostream>

#include "driver/StopSignals.h"

namespace kvo::driver {

TerminalProgress::TerminalProgress(bool& stopRequested, std::ostream& out, std::istream& in, bool interactive)
    : stopRequested_(stopRequested), out_(out), in_(in), interactive_(interactive) {}

TerminalProgress::TerminalProgress(bool& stopRequested)
    : TerminalProgress(stopRequested, std::cout, std::cin, isatty(STDIN_FILENO) == 1) {}

TerminalProgress::~TerminalProgress() {
    startNewLine();
    out_.flush();
}

void TerminalProgress::startNewLine() {
    if (!atLineStart_) out_ << '\n';
    atLineStart_ = true;
}

void TerminalProgress::setText(const std::string& text) {
    if (text == text_) return;
    text_ = text;
    const std::string shown = WithLineFeeds(text);
    std::string fresh;
    if (!printed_.empty() && shown.compare(0, printed_.size(), printed_) == 0) {
        fresh = shown.substr(printed_.size());  // appended: only the new part
    } else {
        startNewLine();
        fresh = shown;
    }
    out_ << fresh;
    if (!fresh.empty()) atLineStart_ = fresh.back() == '\n';
    printed_ = shown;
    out_.flush();
}

bool TerminalProgress::operatorConfirmsStop() {
    startNewLine();
    out_ << kStopQuestionTitle << '\n' << WithLineFeeds(kStopQuestionText) << " [y/N] ";
    out_.flush();
    std::string answer;
    if (!std::getline(in_, answer)) {
        in_.clear();
        out_ << '\n';
        return false;
    }
    if (answer != "y" && answer != "Y" && answer != "yes" && answer != "Yes") return false;
    out_ << kStoppingTitle << ": " << kStoppingText << '\n';
    out_.flush();
    return true;
}

void TerminalProgress::confirmStop() {
    stopRequested_ = true;
    appendText(kStoppingAppend);
}

void TerminalProgress::processMessages() {
    const StopSignal signal = TakeStopSignal();
    if (signal == StopSignal::kNone || stopRequested_) return;
    if (signal == StopSignal::kTerminate || !interactive_ || operatorConfirmsStop()) confirmStop();
}

}  // namespace kvo::driver
