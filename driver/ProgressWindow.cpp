#include "driver/ProgressWindow.h"

#include <FL/Fl.H>
#include <FL/Fl_Box.H>
#include <FL/Fl_Button.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Multiline_Output.H>
#include <FL/Fl_Return_Button.H>
#include <FL/fl_draw.H>
#include <FL/x.H>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "driver/JournalLog.h"
#include "driver/StopSignals.h"

namespace kvo::driver {
namespace {

// The form is laid out in twips, 15 to the pixel.
constexpr int Px(int twips) { return twips / 15; }
// Trebuchet MS, 9.75 points at 96 dots per inch; fontconfig picks the nearest installed face.
constexpr Fl_Font kProgressFont = FL_FREE_FONT;
constexpr const char* kProgressFontName = " Trebuchet MS";
constexpr int kProgressFontPixels = 13;

constexpr const char* kCaption = "Document OCR tool progress";

struct DisplayRefused {
    std::string reason;
};
[[noreturn]] void RefuseDisplay(const char* format, ...) {
    char reason[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(reason, sizeof reason, format, arguments);
    va_end(arguments);
    throw DisplayRefused{reason};
}

bool EnvironmentNamesDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value && *value) return true;
    }
    return false;
}

// Opens the toolkit's display connection once per process. The toolkit ends the program when
// the server refuses, so its fatal-error hook is turned into an exception for the attempt.
bool DisplayOpen() {
    if (!EnvironmentNamesDisplay()) return false;
    static int opened = -1;
    if (opened >= 0) return opened == 1;
    auto previousFatal = Fl::fatal;
    Fl::fatal = RefuseDisplay;
    try {
        fl_open_display();
        opened = 1;
    } catch (const DisplayRefused& refused) {
        Report(refused.reason + "; progress goes to standard output", LogPriority::Notice);
        opened = 0;
    }
    Fl::fatal = previousFatal;
    if (opened == 1) Fl::set_font(kProgressFont, kProgressFontName);
    return opened == 1;
}

// A modal message box: an icon, the text, and buttons laid out left to right. Returns the
// index of the button pressed; Escape and the close box give `cancelButton`.
int MessageBox(const char* title, const std::string& message, const char* icon,
               const std::vector<const char*>& buttons, int defaultButton, int cancelButton) {
    const std::string text = WithLineFeeds(message);
    fl_font(FL_HELVETICA, FL_NORMAL_SIZE);
    int textW = 0, textH = 0;
    fl_measure(text.c_str(), textW, textH, 0);
    constexpr int kIcon = 50, kMargin = 10, kButtonW = 90, kButtonH = 25;
    const int buttonsW = static_cast<int>(buttons.size()) * (kButtonW + kMargin) - kMargin;
    const int w = std::max(kMargin + kIcon + kMargin + textW + kMargin, buttonsW + 2 * kMargin);
    const int h = kMargin + std::max(kIcon, textH) + kMargin + kButtonH + kMargin;

    int answer = cancelButton;
    Fl_Window window(w, h, title);
    auto* iconBox = new Fl_Box(kMargin, kMargin, kIcon, kIcon, icon);
    iconBox->box(FL_THIN_UP_BOX);
    iconBox->labelfont(FL_TIMES_BOLD);
    iconBox->labelsize(34);
    iconBox->color(FL_WHITE);
    iconBox->labelcolor(FL_BLUE);
    auto* textBox = new Fl_Box(2 * kMargin + kIcon, kMargin, textW, std::max(kIcon, textH));
    textBox->copy_label(text.c_str());
    textBox->align(FL_ALIGN_LEFT | FL_ALIGN_INSIDE | FL_ALIGN_TOP);

    struct Choice { int* answer; int index; Fl_Window* window; };
    std::vector<Choice> choices;
    choices.reserve(buttons.size() + 1);
    auto pick = [](Fl_Widget*, void* data) {
        auto* choice = static_cast<Choice*>(data);
        *choice->answer = choice->index;
        choice->window->hide();
    };
    std::vector<Fl_Button*> made;
    int x = (w - buttonsW) / 2;
    for (std::size_t i = 0; i < buttons.size(); ++i, x += kButtonW + kMargin) {
        Fl_Button* button = static_cast<int>(i) == defaultButton
                                ? new Fl_Return_Button(x, h - kMargin - kButtonH, kButtonW, kButtonH, buttons[i])
                                : new Fl_Button(x, h - kMargin - kButtonH, kButtonW, kButtonH, buttons[i]);
        choices.push_back({&answer, static_cast<int>(i), &window});
        button->callback(pick, &choices.back());
        made.push_back(button);
    }
    choices.push_back({&answer, cancelButton, &window});
    window.callback(pick, &choices.back());
    window.end();
    window.set_modal();
    window.position((Fl::w() - w) / 2, (Fl::h() - h) / 2);
    window.show();
    made[defaultButton]->take_focus();
    while (window.shown()) Fl::wait();
    return answer;
}

}  // namespace

struct ProgressWindow::Form {
    bool& stopRequested;
    std::string text;
    std::unique_ptr<Fl_Double_Window> window;
    Fl_Multiline_Output* txtProgress = nullptr;  // owned by the window
    Fl_Button* cmdStop = nullptr;                // owned by the window

    explicit Form(bool& stop) : stopRequested(stop) {
        window = std::make_unique<Fl_Double_Window>(Px(7770), Px(3765), kCaption);
        txtProgress = new Fl_Multiline_Output(Px(30), Px(0), Px(7695), Px(3135));
        txtProgress->textfont(kProgressFont);
        txtProgress->textsize(kProgressFontPixels);
        txtProgress->wrap(1);
        cmdStop = new Fl_Button(Px(3000), Px(3240), Px(1575), Px(375), "Stop");
        cmdStop->callback([](Fl_Widget*, void* form) { static_cast<Form*>(form)->onStop(); }, this);
        window->end();
        // The close box asks like the Stop button, and only while the button may be pressed.
        window->callback([](Fl_Widget*, void* form) {
            auto* self = static_cast<Form*>(form);
            if (self->cmdStop->active()) self->onStop();
        }, this);
        window->position((Fl::w() - window->w()) / 2, (Fl::h() - window->h()) / 2);
    }

    void show(const std::string& newText) {
        text = newText;
        txtProgress->value(WithLineFeeds(text).c_str());
    }

    void confirmStop() {
        cmdStop->label("stopping");
        cmdStop->deactivate();
    }

    void onStop() {
        const int yes = 0, no = 1;
        if (MessageBox(kStopQuestionTitle, kStopQuestionText, "?", {"Yes", "No"}, no, no) != yes) return;
        confirmStop();
        MessageBox(kStoppingTitle, kStoppingText, "i", {"OK"}, 0, 0);
        stopRequested = true;
        show(text + kStoppingAppend);
    }
};

std::unique_ptr<ProgressWindow> ProgressWindow::Open(bool& stopRequested) {
    if (!DisplayOpen()) return nullptr;
    auto form = std::make_unique<Form>(stopRequested);
    form->window->show();
    return std::unique_ptr<ProgressWindow>(new ProgressWindow(std::move(form)));
}

ProgressWindow::ProgressWindow(std::unique_ptr<Form> form) : form_(std::move(form)) {}

ProgressWindow::~ProgressWindow() {
    form_->window->hide();
    Fl::flush();  // takes the window off the screen without handling any event
}

std::string ProgressWindow::text() const { return form_->text; }

void ProgressWindow::setText(const std::string& text) { form_->show(text); }

void ProgressWindow::setStopEnabled(bool enabled) {
    if (enabled) form_->cmdStop->activate();
    else form_->cmdStop->deactivate();
}

void ProgressWindow::processMessages() {
    Fl::check();
    // A signal is a stop the operator has confirmed already: no dialogue.
    if (TakeStopSignal() != StopSignal::kNone && !form_->stopRequested) {
        form_->confirmStop();
        form_->stopRequested = true;
        form_->show(form_->text + kStoppingAppend);
    }
}

}  // namespace kvo::driver
