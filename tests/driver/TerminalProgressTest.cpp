#include <gtest/gtest.h>

#include <csignal>
#include <sstream>

#include "driver/StopSignals.h"
#include "driver/TerminalProgress.h"

namespace kvo::driver {
namespace {

class TerminalProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        InstallStopSignals();
        TakeStopSignal();
    }
    bool stop = false;
    std::ostringstream out;
};

TEST_F(TerminalProgressTest, TextsAreWrittenAsTheyChangeWithLineFeeds) {
    std::istringstream in;
    {
        TerminalProgress display(stop, out, in, false);
        display.setText("Pellmoor OCR utility.\r\n\r\n2 files Found.");
        display.appendText("\r\n\r\nIn progress. Please wait.");
        display.appendText(".");
        display.setText(display.text());  // unchanged: nothing written
        display.setText("Wait until 18:00 to re-start.");
        EXPECT_EQ(display.text(), "Wait until 18:00 to re-start.");
    }
    EXPECT_EQ(out.str(),
              "Pellmoor OCR utility.\n\n2 files Found.\n\nIn progress. Please wait..\n"
              "Wait until 18:00 to re-start.\n");
}

TEST_F(TerminalProgressTest, NothingPendingMeansNoStop) {
    std::istringstream in("y\n");
    TerminalProgress display(stop, out, in, true);
    display.processMessages();
    EXPECT_FALSE(stop);
    EXPECT_EQ(out.str(), "");
}

TEST_F(TerminalProgressTest, TerminateIsAConfirmedStopAtOnce) {
    std::istringstream in;
    TerminalProgress display(stop, out, in, true);
    display.setText("In progress. Please wait.");
    raise(SIGTERM);
    EXPECT_FALSE(stop) << "the handler only notes the signal";
    display.processMessages();
    EXPECT_TRUE(stop);
    EXPECT_EQ(display.text(), "In progress. Please wait.\r\nSTOPPING. Please wait");
    EXPECT_EQ(out.str(), "In progress. Please wait.\nSTOPPING. Please wait");
}

TEST_F(TerminalProgressTest, InterruptAsksTheOperatorOnATerminal) {
    std::istringstream in("n\ny\n");
    TerminalProgress display(stop, out, in, true);
    display.setText("Processing");
    raise(SIGINT);
    display.processMessages();
    EXPECT_FALSE(stop);
    EXPECT_NE(out.str().find("\nStop processing?\nAre you sure you want to stop this process?\n\n"
                             "You will not lose the documents that have already been processed.\n"
                             "When you re-start the process it will continue where it left off.\n\n"
                             "Stop the process now? [y/N] "),
              std::string::npos);
    EXPECT_EQ(out.str().find("Process is stopping"), std::string::npos);

    raise(SIGINT);
    display.processMessages();
    EXPECT_TRUE(stop);
    EXPECT_NE(out.str().find("Process is stopping: The current file will be completed. Please be patient.\n"),
              std::string::npos);
    EXPECT_EQ(display.text(), "Processing\r\nSTOPPING. Please wait");
}

TEST_F(TerminalProgressTest, InterruptWithoutAnswerOrWithoutTerminal) {
    std::istringstream closed;
    {
        TerminalProgress display(stop, out, closed, true);
        raise(SIGINT);
        display.processMessages();
        EXPECT_FALSE(stop) << "end of input is a No";
    }
    TerminalProgress unattended(stop, out, closed, false);
    raise(SIGINT);
    unattended.processMessages();
    EXPECT_TRUE(stop);
    EXPECT_EQ(unattended.text(), "\r\nSTOPPING. Please wait");
}

}  // namespace
}  // namespace kvo::driver
