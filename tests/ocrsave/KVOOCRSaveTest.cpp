// KVOOCRSave on engine documents written by hand: every document form it can leave, the
// scaling of boxes and sizes, and the grouping into sections and lines.
#include "ocrsave/KVOOCRSaveMod.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace kvo::KVOOCRSaveMod {
namespace {

namespace fs = std::filesystem;
using test::EnvVar;
using test::ReadFile;
using test::ScratchDir;
using test::WriteFile;

const std::string kFont = "; x_fsize 10; x_fstyle 1; x_ffamily 2; x_fserif 1";

// One ocrx_word; `text` is written as it stands, so a test may put entities in it.
std::string Word(const std::string& text, int left, int top, int right, int bottom, const std::string& font = kFont) {
    return "<span class=\"ocrx_word\" title=\"bbox " + std::to_string(left) + " " + std::to_string(top) + " " +
           std::to_string(right) + " " + std::to_string(bottom) + font + "\" data-text=\"" + text + "\"/>";
}

std::string Line(const std::string& words = "", const std::string& title = "") {
    return "<span class=\"ocr_line\" title=\"" + title + "\">" + words + "</span>";
}

std::string Page(const std::string& lines, const std::string& title = "bbox 0 0 2480 3507") {
    return "<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title/></head><body><div class=\"ocr_page\" title=\"" +
           title + "\">" + lines + "</div></body></html>";
}

class KVOOCRSaveRun : public ::testing::Test {
protected:
    ScratchDir temp{"kvo-ocrsave"};
    EnvVar tempVariable{"TEMP", temp.str()};
    fs::path engineFile = temp / "KVOOCR.mdi";
    fs::path layoutFile = temp / "KVOOCR.mdi.xml";

    // Runs the program's work on the engine document and loads what it wrote.
    xml::Document Run(const std::string& engineDocument) {
        WriteFile(engineFile, engineDocument);
        Main();
        xml::Document layout;
        if (fs::exists(layoutFile)) {
            EXPECT_TRUE(layout.load(layoutFile.string()));
        }
        return layout;
    }

    // Per section, the text of each line.
    static std::vector<std::vector<std::string>> Sections(const xml::Document& layout) {
        std::vector<std::vector<std::string>> sections;
        for (const xml::Node& section : layout.selectNodes("pagewords/sections/section")) {
            sections.emplace_back();
            for (const xml::Node& line : section.selectNodes("line"))
                sections.back().push_back(line.attribute("text").value_or("<none>"));
        }
        return sections;
    }

    static std::string Box(const xml::Node& node) {
        return node.attribute("top").value_or("?") + " " + node.attribute("left").value_or("?") + " " +
               node.attribute("bottom").value_or("?") + " " + node.attribute("right").value_or("?");
    }
};

TEST_F(KVOOCRSaveRun, WritesTheWholeTreeWithItsAttributeOrders) {
    // "Hello" stands on the engine's baseline, "world" on its box's bottom edge.
    const xml::Document layout = Run(Page(Line(Word("Hello", 10, 20, 60, 40, "; x_baseline 10 38 60 39" + kFont) +
                                                   Word("world", 70, 22, 130, 42),
                                               "x_size 30; x_descenders 6")));
    const std::string font = "<font fontstyle=\"normal\" fontfamily=\"Times\" fontsize=\"10\" fontserif=\"sans\"/>";
    const std::string line = "block=\"0\" paragraph=\"0\"";
    EXPECT_EQ(layout.xml(),
              "<pagewords text=\"Hello world&#10;&#10;\">"
              "<sections><section>"
              "<line top=\"20\" left=\"10\" bottom=\"42\" right=\"130\" text=\"Hello world\">" + font + "</line>"
              "</section></sections>"
              "<word text=\"Hello\">" + font + "<RECT line=\"0\" top=\"20\" left=\"10\" bottom=\"40\" right=\"60\" " + line +
              " baseline=\"10 38 60 39\" ascent=\"24\" descent=\"6\"/></word>"
              "<word text=\"world\">" + font + "<RECT line=\"0\" top=\"22\" left=\"70\" bottom=\"42\" right=\"130\" " + line +
              " baseline=\"70 42 130 42\" ascent=\"24\" descent=\"6\"/></word>"
              "</pagewords>");
}

// A page the OCR program turned before recognising it says so on the layout's root, in the
// engine document's own page property; any other value is no turn.
TEST_F(KVOOCRSaveRun, ATurnedPageCarriesItsTurn) {
    const struct {
        const char* title;
        const char* turn;
    } cases[] = {{"bbox 0 0 2480 3507; x_turn 90", "90"}, {"bbox 0 0 2480 3507; x_turn 180", "180"},
                 {"bbox 0 0 2480 3507; x_turn 45", nullptr}, {"bbox 0 0 2480 3507", nullptr}};
    for (const auto& c : cases) {
        const xml::Document layout = Run(Page(Line(Word("Hello", 10, 20, 60, 40)), c.title));
        const std::optional<std::string> turn = layout.selectSingleNode("pagewords").attribute("turn");
        EXPECT_EQ(turn, c.turn ? std::optional<std::string>(c.turn) : std::nullopt) << c.title;
    }
}

TEST_F(KVOOCRSaveRun, SectionsStopAtTheFirstMissingLineNumber) {
    // Lines 0, 1 and 3 carry words; line 2 is empty.
    const xml::Document layout = Run(Page(Line(Word("zero", 10, 10, 50, 30)) + Line(Word("one", 10, 50, 50, 70)) +
                                          Line() + Line(Word("three", 10, 130, 50, 150))));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"zero"}, {"one"}}));
    ASSERT_EQ(layout.selectNodes("pagewords/word").size(), 3u) << "line 3 still has its word element";
    EXPECT_EQ(layout.selectSingleNode("pagewords/word[3]/RECT").attribute("line"), "3");
}

TEST_F(KVOOCRSaveRun, OneEngineLineAtTwoHeightsGivesTwoLinesInOneSection) {
    const xml::Document layout = Run(Page(Line(Word("left", 10, 100, 50, 120) + Word("high", 60, 300, 90, 320) +
                                               Word("again", 100, 105, 150, 125) + Word("low", 160, 310, 190, 330))));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"left again", "high low"}}));
    const std::vector<xml::Node> lines = layout.selectNodes("pagewords/sections/section/line");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(Box(lines[0]), "100 10 125 150") << "the union of the boxes";
    EXPECT_EQ(Box(lines[1]), "300 60 330 190");
}

TEST_F(KVOOCRSaveRun, OverlapIsStrict) {
    // "touch" begins exactly where the first line ends: it opens a line of its own.
    const xml::Document layout = Run(Page(Line(Word("first", 10, 100, 50, 120) + Word("touch", 60, 120, 90, 140) +
                                               Word("inside", 100, 119, 150, 121))));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"first inside", "touch"}}));
}

TEST_F(KVOOCRSaveRun, AWordOverlappingTwoLinesJoinsTheFirstOnly) {
    const xml::Document layout = Run(Page(Line(Word("upper", 10, 100, 50, 120) + Word("lower", 60, 130, 90, 150) +
                                               Word("both", 100, 110, 150, 140))));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"upper both", "lower"}}));
    const std::vector<xml::Node> lines = layout.selectNodes("pagewords/sections/section/line");
    EXPECT_EQ(Box(lines[0]), "100 10 140 150");
    EXPECT_EQ(Box(lines[1]), "130 60 150 90") << "the other line is not changed";
}

TEST_F(KVOOCRSaveRun, AGrownLineCatchesWordsNoEarlierWordAloneWouldHave) {
    // "tall" stretches the line down to 200; "late" overlaps only that stretch.
    const xml::Document layout = Run(Page(Line(Word("short", 10, 100, 50, 120) + Word("tall", 60, 110, 90, 200) +
                                               Word("late", 100, 180, 150, 195))));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"short tall late"}}));
}

TEST_F(KVOOCRSaveRun, GroupingNeverCrossesSections) {
    std::string lines;
    for (int n = 0; n < 4; ++n) lines += Line(Word("w" + std::to_string(n), 10, 10 + 40 * n, 50, 30 + 40 * n));
    lines += Line(Word("four", 10, 500, 50, 520)) + Line(Word("five", 60, 500, 100, 520));
    const xml::Document layout = Run(Page(lines));
    EXPECT_EQ(Sections(layout),
              (std::vector<std::vector<std::string>>{{"w0"}, {"w1"}, {"w2"}, {"w3"}, {"four"}, {"five"}}));
}

TEST_F(KVOOCRSaveRun, ScalesBoxesAndSizesToTheA4Box) {
    const std::string font = "; x_fsize 10.1; x_fstyle 3; x_ffamily 1; x_fserif 2";
    // 1240 x 1754: scale 3507 / 1754 = 1.99943.
    xml::Document layout = Run(Page(Line(Word("a", 100, 1754, 1240, 1755, font)), "bbox 0 0 1240 1754"));
    xml::Node word = layout.selectSingleNode("pagewords/word");
    EXPECT_EQ(Box(word.selectSingleNode("RECT")), "3507 200 3509 2479");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontsize"), "20.25") << "80.78 quarters";
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontstyle"), "bold");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontfamily"), "Helvetica");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontserif"), "thin");

    // 4960 x 3507: scale 0.5, halves go to the even neighbour.
    layout = Run(Page(Line(Word("b", 101, 103, 105, 107, "; x_fsize 20.75")), "bbox 0 0 4960 3507"));
    word = layout.selectSingleNode("pagewords/word");
    EXPECT_EQ(Box(word.selectSingleNode("RECT")), "52 50 54 52");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontsize"), "10.5") << "41.5 quarters go to 42";

    // A size that is no whole number: scale 1. Codes outside the tables leave the values empty.
    layout = Run(Page(Line(Word("c", 101, 103, 105, 107, "; x_fsize 10.125; x_fstyle 1e300")), "bbox 0 0 1e300 3507"));
    word = layout.selectSingleNode("pagewords/word");
    EXPECT_EQ(Box(word.selectSingleNode("RECT")), "103 101 107 105");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontsize"), "10");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontstyle"), "");
    EXPECT_EQ(word.selectSingleNode("font").attribute("fontfamily"), "");
}

TEST_F(KVOOCRSaveRun, KeepsMarkupCharactersInTextsUnchanged) {
    const xml::Document layout = Run(Page(Line(Word("a&lt;b", 10, 10, 40, 30) + Word("&amp;", 50, 10, 60, 30) +
                                               Word("&quot;q&quot;'s", 70, 10, 90, 30))));
    EXPECT_EQ(layout.selectSingleNode("pagewords/word[1]").attribute("text"), "a<b");
    EXPECT_EQ(layout.selectSingleNode("pagewords/word[2]").attribute("text"), "&");
    EXPECT_EQ(layout.selectSingleNode("pagewords/word[3]").attribute("text"), "\"q\"'s");
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"a<b & \"q\"'s"}}));
    EXPECT_EQ(layout.documentElement().attribute("text"), "a<b & \"q\"'s\n\n");
}

TEST_F(KVOOCRSaveRun, ParagraphsAreSeparatedInThePageTextAndNumberedWithTheirBlocks) {
    // Two blocks: the first with two paragraphs, the second with one.
    const std::string paragraphOne = "<p class=\"ocr_par\">" + Line(Word("one", 10, 10, 40, 30)) +
                                     Line(Word("two", 10, 40, 40, 60)) + "</p>";
    const std::string paragraphTwo = "<p class=\"ocr_par\">" + Line(Word("three", 10, 90, 40, 110)) + "</p>";
    const std::string paragraphThree = "<p class=\"ocr_par\">" + Line(Word("four", 10, 190, 40, 210)) + "</p>";
    const xml::Document layout = Run(Page("<div class=\"ocr_carea\">" + paragraphOne + paragraphTwo + "</div>" +
                                          "<div class=\"ocr_carea\">" + paragraphThree + "</div>"));
    EXPECT_EQ(layout.documentElement().attribute("text"), "one\ntwo\n\nthree\n\nfour\n\n");
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"one"}, {"two"}, {"three"}, {"four"}}));
    std::vector<std::string> numbers;
    for (const xml::Node& rect : layout.selectNodes("pagewords/word/RECT"))
        numbers.push_back(*rect.attribute("block") + "/" + *rect.attribute("paragraph"));
    EXPECT_EQ(numbers, (std::vector<std::string>{"0/0", "0/0", "0/1", "1/2"}));
}

TEST_F(KVOOCRSaveRun, LinesWithoutWordsGiveTheEmptyForm) {
    EXPECT_EQ(Run(Page(Line() + Line())).xml(), "<pagewords text=\"\"><sections/></pagewords>");
}

TEST_F(KVOOCRSaveRun, AnUnreadableWordListGivesTheEmptyForm) {
    const std::string noBox = "<span class=\"ocrx_word\" title=\"x_fsize 10\" data-text=\"lost\"/>";
    EXPECT_EQ(Run(Page(Line(Word("fine", 10, 10, 40, 30)) + Line(noBox))).xml(),
              "<pagewords text=\"\"><sections/></pagewords>");
}

TEST_F(KVOOCRSaveRun, NoLinesOrNoResultLeavesNoDocument) {
    for (const std::string& engine : {Page(""), std::string("<html><body/></html>"), std::string("<html><body"),
                                      std::string("not an engine document")}) {
        WriteFile(layoutFile, "<old/>");
        Run(engine);
        EXPECT_FALSE(fs::exists(layoutFile)) << engine;
        EXPECT_TRUE(fs::exists(engineFile)) << "the engine document is never removed";
    }
}

TEST_F(KVOOCRSaveRun, WithoutAnEngineDocumentNothingIsTouched) {
    WriteFile(layoutFile, "<old/>");
    Main();
    EXPECT_EQ(ReadFile(layoutFile), "<old/>");
}

TEST_F(KVOOCRSaveRun, FindsTheEngineDocumentWithoutRegardToCase) {
    WriteFile(temp / "kvoocr.MDI", Page(Line(Word("case", 10, 10, 40, 30))));
    Main();
    xml::Document layout;
    ASSERT_TRUE(layout.load(layoutFile.string()));
    EXPECT_EQ(Sections(layout), (std::vector<std::vector<std::string>>{{"case"}}));
}

}  // namespace
}  // namespace kvo::KVOOCRSaveMod
