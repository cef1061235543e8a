#pragma once
// The progress display without a window: every text goes to an output stream as it changes,
// and the operator's signals stand in for the Stop button.
#include <iosfwd>
#include <string>

#include "driver/ProgressDisplay.h"

namespace kvo::driver {

class TerminalProgress : public ProgressDisplay {
public:
    // `interactive`: an operator sits at `in`/`out`, so SIGINT asks before it stops.
    TerminalProgress(bool& stopRequested, std::ostream& out, std::istream& in, bool interactive);
    // Standard output and input; interactive when standard input is a terminal.
    explicit TerminalProgress(bool& stopRequested);
    ~TerminalProgress() override;

    std::string text() const override { return text_; }
    void setText(const std::string& text) override;
    void setStopEnabled(bool) override {}
    void processMessages() override;

private:
    bool operatorConfirmsStop();
    void confirmStop();
    void startNewLine();

    bool& stopRequested_;
    std::ostream& out_;
    std::istream& in_;
    bool interactive_;
    std::string text_;
    std::string printed_;   // what the current text put on the output (line feeds only)
    bool atLineStart_ = true;
};

}  // namespace kvo::driver
