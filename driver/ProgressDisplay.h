#pragma once
// What the batch loop shows the operator, and where the operator's stop comes in. Two
// implementations: the progress window (ProgressWindow) and the terminal (TerminalProgress).
#include <string>

namespace kvo::driver {

class ProgressDisplay {
public:
    virtual ~ProgressDisplay() = default;

    virtual std::string text() const = 0;
    // Texts carry CR LF line breaks.
    virtual void setText(const std::string& text) = 0;
    void appendText(const std::string& more) { setText(text() + more); }
    virtual void setStopEnabled(bool enabled) = 0;
    // Handles what is pending (window events, the Stop button, the operator's signals). Only
    // here can the stop request become true.
    virtual void processMessages() = 0;
};

// The stop dialogue.
inline constexpr const char* kStopQuestionTitle = "Stop processing?";
inline constexpr const char* kStopQuestionText =
    "Are you sure you want to stop this process?\r\n\r\n"
    "You will not lose the documents that have already been processed.\r\n"
    "When you re-start the process it will continue where it left off.\r\n\r\n"
    "Stop the process now?";
inline constexpr const char* kStoppingTitle = "Process is stopping";
inline constexpr const char* kStoppingText = "The current file will be completed. Please be patient.";
inline constexpr const char* kStoppingAppend = "\r\nSTOPPING. Please wait";

// CR LF (and a lone CR) as plain line feeds, for outputs that break lines with "\n".
std::string WithLineFeeds(const std::string& text);

}  // namespace kvo::driver
