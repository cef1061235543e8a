// The progress window for real, on a private X server (Xvfb). The dialogues are answered
// through the toolkit's own calls from timers, as a click would.
#include <gtest/gtest.h>

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Multiline_Output.H>
#include <FL/Fl_Return_Button.H>
#include <FL/Fl_Window.H>
#include <FL/fl_draw.H>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>

#include <fstream>

#include "driver/ProgressWindow.h"
#include "LoopWorld.h"

namespace kvo::test {
namespace {

constexpr const char* kCaption = "Document OCR tool progress";

// Children of a window, by kind and label.
template <typename Widget>
Widget* FindChild(Fl_Window* window, const std::string& label = "") {
    for (int i = 0; window && i < window->children(); ++i) {
        auto* widget = dynamic_cast<Widget*>(window->child(i));
        if (widget && (label.empty() || (widget->label() && label == widget->label()))) return widget;
    }
    return nullptr;
}

Fl_Window* ProgressWindow() {
    for (Fl_Window* window = Fl::first_window(); window; window = Fl::next_window(window))
        if (window->label() && std::string(window->label()) == kCaption) return window;
    return nullptr;
}

// The message of a dialogue: the box that is neither the icon nor a button.
std::string DialogueText(Fl_Window* dialog) {
    for (int i = 0; i < dialog->children(); ++i) {
        Fl_Widget* child = dialog->child(i);
        if (!dynamic_cast<Fl_Button*>(child) && child->label() && std::string(child->label()).size() > 1)
            return child->label();
    }
    return "";
}

// Saves what the window shows as a PPM picture under the build folder (a test artefact).
void SaveScreenshot(Fl_Window* window, const std::string& name) {
    // The server maps and exposes the window in its own time: give it a moment, then draw
    // once more so the picture is the window's current state.
    for (int i = 0; i < 10; ++i) Fl::wait(0.05);
    window->redraw();
    Fl::flush();
    window->make_current();
    uchar* pixels = fl_read_image(nullptr, 0, 0, window->w(), window->h());
    ASSERT_NE(pixels, nullptr);
    const fs::path folder = BinDir().parent_path() / "test-artefacts";
    fs::create_directories(folder);
    std::ofstream out(folder / (name + ".ppm"), std::ios::binary);
    out << "P6\n" << window->w() << ' ' << window->h() << "\n255\n";
    out.write(reinterpret_cast<const char*>(pixels), static_cast<std::streamsize>(window->w()) * window->h() * 3);
    delete[] pixels;
}

// What a timer saw of the dialogues it answered.
struct DialogueLog {
    std::vector<std::string> titles, texts, defaults;
    std::vector<bool> stopWhileOpen;
    const bool* stop = nullptr;
    std::string answer = "Yes";
};

// Answers whatever dialogue is up: the first with `answer`, the information box with OK.
void AnswerDialogue(void* data) {
    auto* log = static_cast<DialogueLog*>(data);
    Fl_Window* dialog = Fl::modal();
    if (!dialog) {
        Fl::repeat_timeout(0.05, AnswerDialogue, data);
        return;
    }
    log->titles.push_back(dialog->label() ? dialog->label() : "");
    log->texts.push_back(DialogueText(dialog));
    Fl_Return_Button* byDefault = FindChild<Fl_Return_Button>(dialog);
    log->defaults.push_back(byDefault ? byDefault->label() : "");
    log->stopWhileOpen.push_back(log->stop && *log->stop);
    const bool question = log->titles.back() == "Stop processing?";
    if (log->titles.size() == 1) SaveScreenshot(dialog, "stop_question");
    Fl_Button* button = FindChild<Fl_Button>(dialog, question ? log->answer : "OK");
    ASSERT_NE(button, nullptr);
    if (question && log->answer == "Yes") Fl::add_timeout(0.2, AnswerDialogue, data);
    button->do_callback();
}

// Clicks Stop as soon as the button can be pressed.
void ClickStop(void* data) {
    Fl_Button* stop = FindChild<Fl_Button>(ProgressWindow(), "Stop");
    if (!stop || !stop->active()) {
        Fl::repeat_timeout(0.05, ClickStop, data);
        return;
    }
    Fl::add_timeout(0.2, AnswerDialogue, data);
    stop->do_callback();
}

class ProgressWindowTest : public ::testing::Test {
public:
    static void SetUpTestSuite() {
        if (access("/usr/bin/Xvfb", X_OK) != 0) return;
        int pipeEnds[2];
        ASSERT_EQ(pipe(pipeEnds), 0);
        const std::string fd = std::to_string(pipeEnds[1]);
        std::vector<std::string> argv{"/usr/bin/Xvfb", "-displayfd", fd, "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-noreset"};
        // The pipe's write end is inherited: the server writes its display number into it.
        server = Spawn(argv, "/dev/null", "/dev/null");
        close(pipeEnds[1]);
        ASSERT_GT(server, 0);
        pollfd ready{pipeEnds[0], POLLIN, 0};
        char number[16] = {};
        if (poll(&ready, 1, 20000) == 1 && read(pipeEnds[0], number, sizeof number - 1) > 0)
            display = ":" + std::string(number, strcspn(number, "\n"));
        // Kept open while the server runs: it writes its number again whenever it resets.
        numberPipe = pipeEnds[0];
    }
    static void TearDownTestSuite() {
        if (server > 0) {
            kill(server, SIGTERM);
            waitpid(server, nullptr, 0);
        }
        if (numberPipe >= 0) close(numberPipe);
    }

protected:
    void SetUp() override {
        if (access("/usr/bin/Xvfb", X_OK) != 0) GTEST_SKIP() << "Xvfb is not installed (Debian package xvfb)";
        ASSERT_FALSE(display.empty()) << "Xvfb did not report its display";
        displayVar_ = std::make_unique<EnvVar>("DISPLAY", display);
    }

    // A progress window showing `text`, its stop request in `stop`.
    std::unique_ptr<driver::ProgressWindow> openShowing(const std::string& text) {
        auto window = driver::ProgressWindow::Open(stop);
        if (window) window->setText(text);
        return window;
    }

    bool stop = false;
    std::unique_ptr<EnvVar> displayVar_;

    static inline pid_t server = 0;
    static inline int numberPipe = -1;
    static inline std::string display;
};

TEST_F(ProgressWindowTest, OpensWithItsLayoutAndShowsTheTexts) {
    auto window = openShowing("");
    ASSERT_NE(window, nullptr);
    Fl_Window* form = ProgressWindow();
    ASSERT_NE(form, nullptr);
    EXPECT_TRUE(form->shown());
    EXPECT_FALSE(form->modal());
    EXPECT_EQ(form->w(), 518);
    EXPECT_EQ(form->h(), 251);
    auto* text = FindChild<Fl_Multiline_Output>(form);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ((std::vector<int>{text->x(), text->y(), text->w(), text->h()}), (std::vector<int>{2, 0, 513, 209}));
    EXPECT_EQ(text->textsize(), 13);
    auto* button = FindChild<Fl_Button>(form, "Stop");
    ASSERT_NE(button, nullptr);
    EXPECT_EQ((std::vector<int>{button->x(), button->y(), button->w(), button->h()}),
              (std::vector<int>{200, 216, 105, 25}));

    const std::string row = "Pellmoor OCR utility.\r\n\r\n3 files Found.\r\n\r\nProcessing file 1 of 3:\r\n/docs/Scan.tif";
    window->setText(row);
    window->appendText("\r\n\r\nIn progress. Please wait.");
    EXPECT_EQ(window->text(), row + "\r\n\r\nIn progress. Please wait.");
    EXPECT_EQ(std::string(text->value()),
              "Pellmoor OCR utility.\n\n3 files Found.\n\nProcessing file 1 of 3:\n/docs/Scan.tif\n\nIn progress. Please wait.");
    window->setStopEnabled(false);
    EXPECT_FALSE(button->active());
    window->setStopEnabled(true);
    EXPECT_TRUE(button->active());
    window->processMessages();
    SaveScreenshot(form, "progress_window");
    EXPECT_FALSE(stop);

    window.reset();
    EXPECT_EQ(ProgressWindow(), nullptr) << "unloaded";
}

TEST_F(ProgressWindowTest, StopAnsweredNoChangesNothing) {
    auto window = openShowing("Processing");
    ASSERT_NE(window, nullptr);
    DialogueLog dialogues;
    dialogues.answer = "No";
    ClickStop(&dialogues);
    EXPECT_FALSE(stop);
    ASSERT_EQ(dialogues.titles, std::vector<std::string>{"Stop processing?"});
    Fl_Button* button = FindChild<Fl_Button>(ProgressWindow(), "Stop");
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->active());
    EXPECT_EQ(window->text(), "Processing");
}

TEST_F(ProgressWindowTest, StopAnsweredYesAsksThenInformsThenStops) {
    auto window = openShowing("Processing");
    ASSERT_NE(window, nullptr);
    DialogueLog dialogues;
    dialogues.stop = &stop;
    ClickStop(&dialogues);

    ASSERT_EQ(dialogues.titles, (std::vector<std::string>{"Stop processing?", "Process is stopping"}));
    EXPECT_EQ(dialogues.texts[0],
              "Are you sure you want to stop this process?\n\n"
              "You will not lose the documents that have already been processed.\n"
              "When you re-start the process it will continue where it left off.\n\n"
              "Stop the process now?");
    EXPECT_EQ(dialogues.texts[1], "The current file will be completed. Please be patient.");
    EXPECT_EQ(dialogues.defaults, (std::vector<std::string>{"No", "OK"}));
    EXPECT_EQ(dialogues.stopWhileOpen, (std::vector<bool>{false, false})) << "set only after the second box";
    EXPECT_TRUE(stop);
    EXPECT_EQ(window->text(), "Processing\r\nSTOPPING. Please wait");
    Fl_Button* button = FindChild<Fl_Button>(ProgressWindow(), "stopping");
    ASSERT_NE(button, nullptr);
    EXPECT_FALSE(button->active());
}

// Samples the window's text while the loop runs.
void SampleText(void* data) {
    auto* samples = static_cast<std::vector<std::string>*>(data);
    if (auto* text = FindChild<Fl_Multiline_Output>(ProgressWindow())) samples->push_back(text->value());
    Fl::repeat_timeout(0.25, SampleText, data);
}

TEST_F(ProgressWindowTest, AConfirmedStopEndsTheProgramAfterTheCurrentRow) {
    LoopWorld world;  // it clears DISPLAY: the window needs it back
    EnvVar x("DISPLAY", display);
    EnvVar slow("LOOP_SLIDES_SLEEP_MS", "4500");
    // One cycle at most, whatever happens to the stop.
    world.addAttachment(1, "TIF", (world.docs / "First.tif").string());
    world.addAttachment(2, "TIF", (world.docs / "Second.tif").string());
    world.addDocument("First.tif");
    world.addDocument("Second.tif");
    world.planResult("First.tif", "graph_ocred.pdf");

    DialogueLog dialogues;
    std::vector<std::string> samples;
    Fl::add_timeout(0.5, ClickStop, &dialogues);
    Fl::add_timeout(0.25, SampleText, &samples);
    driver::Options options;
    options.once = true;
    options.appFolder = world.app.string();  // the window is the default display here
    EXPECT_EQ(driver::RunBatch(options), 0);
    Fl::remove_timeout(SampleText, &samples);

    EXPECT_EQ(dialogues.titles.size(), 2u);
    EXPECT_EQ(world.status(1), 2);
    EXPECT_EQ(world.status(2), 0);
    EXPECT_TRUE(fs::exists(world.docs / "First.PDF"));
    bool dotted = false;
    for (const std::string& sample : samples)
        dotted = dotted || sample.find("In progress. Please wait.\nSTOPPING. Please wait.") != std::string::npos;
    EXPECT_TRUE(dotted) << "a dot about every two seconds while the pipeline runs on";
    EXPECT_EQ(ProgressWindow(), nullptr);
}

}  // namespace
}  // namespace kvo::test
