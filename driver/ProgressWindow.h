#pragma once
// The progress window: a text box with what the driver is doing and a Stop button that asks
// twice before it sets the stop request. The only place that knows the window toolkit.
#include <memory>
#include <string>

#include "driver/ProgressDisplay.h"

namespace kvo::driver {

class ProgressWindow : public ProgressDisplay {
public:
    // Creates and shows the window, centred, not modal. nullptr when no display can be opened
    // (no DISPLAY, or the X server refuses).
    static std::unique_ptr<ProgressWindow> Open(bool& stopRequested);
    ~ProgressWindow() override;  // unloads the window

    std::string text() const override;
    void setText(const std::string& text) override;
    void setStopEnabled(bool enabled) override;
    void processMessages() override;

    struct Form;

private:
    explicit ProgressWindow(std::unique_ptr<Form> form);
    std::unique_ptr<Form> form_;
};

}  // namespace kvo::driver
