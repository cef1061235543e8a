#pragma once
// The display as the row walk sees it: every wait of the walk (the pipeline, the text check,
// Ghostscript's rewrite) pumps it, so each pump also keeps the claim on the row in hand fresh.
// The claim then never expires while this process lives, however long the row takes.
#include "driver/ProgressDisplay.h"

namespace kvo::driver {

class WorkQueue;

class ClaimKeepingDisplay : public ProgressDisplay {
public:
    ClaimKeepingDisplay(ProgressDisplay& shown, WorkQueue& queue) : shown_(shown), queue_(queue) {}

    std::string text() const override { return shown_.text(); }
    void setText(const std::string& text) override { shown_.setText(text); }
    void setStopEnabled(bool enabled) override { shown_.setStopEnabled(enabled); }
    void processMessages() override;

private:
    ProgressDisplay& shown_;
    WorkQueue& queue_;
};

}  // namespace kvo::driver
