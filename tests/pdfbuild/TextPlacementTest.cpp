// Where the invisible words go: on their line's baseline, levelled where a skewed line would
// otherwise be read in pieces (their boxes kept on the print), in reading order.
#include <gtest/gtest.h>

#include <cmath>

#include "pdfbuild/PageRules.h"
#include "pdfbuild/TextPlacement.h"

namespace kvo::pdfbuild {
namespace {

constexpr double kA4Width = 595.3, kA4Height = 841.9;
const double kPointsPerUnit = kA4Height / 3507;  // A4 is fitted by its height

// Words of one line whose baseline starts at (x, y) and runs at `degrees` clockwise; each word
// is given by where it begins and ends along the baseline, in layout units. The line reaches
// `ascent` above and `descent` below its baseline.
std::vector<LayoutWord> Line(int line, double x, double y, double degrees, std::vector<std::pair<double, double>> spans,
                             double ascent, double descent) {
    const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
    std::vector<LayoutWord> words;
    for (const auto& [from, to] : spans) {
        LayoutWord word;
        word.text = "w" + std::to_string(words.size());
        word.line = line;
        word.baseline = std::array<double, 4>{x + from * c, y + from * s, x + to * c, y + to * s};
        word.left = x + from * c;
        word.right = x + to * c;
        word.top = y + from * s - ascent;
        word.bottom = y + to * s + descent;
        word.ascent = ascent;
        word.descent = descent;
        words.push_back(word);
    }
    return words;
}

double Advance(char32_t) { return 500; }

TEST(TextPlacement, WordsOfALineRisingLittleAreWrittenLevelOnTheBaselineAtTheirMiddles) {
    // A line reaching as far above and below its baseline as the runs' face does, rising less
    // than kKeptWholeRise of its height over its length: it is placed as printed, word by word.
    const double ascent = pdf::kRunAscent * 50, descent = pdf::kRunDescent * 50;
    const std::vector<LayoutWord> words = Line(0, 300, 1000, 1.5, {{0, 100}, {125, 260}, {280, 380}}, ascent, descent);
    const std::vector<PlacedWord> placed = PlaceWords(words, kA4Width, kA4Height);
    ASSERT_EQ(placed.size(), 3u);
    for (std::size_t i = 0; i < placed.size(); ++i) {
        SCOPED_TRACE(i);
        const std::array<double, 4>& base = *words[i].baseline;
        const PlacedWord& word = placed[i];
        EXPECT_EQ(word.text, i + 1 < placed.size() ? words[i].text + " " : words[i].text);
        EXPECT_NEAR(word.x, base[0] * kPointsPerUnit, 1e-9);
        EXPECT_NEAR(word.y, (base[1] + base[3]) / 2 * kPointsPerUnit, 1e-9) << "the baseline's height at its middle";
        EXPECT_NEAR(word.length, (base[2] - base[0]) * kPointsPerUnit, 1e-9) << "from its start to its end as seen";

        // Its box spans the word and the line's reach about that height; its run starts where
        // the word starts on that baseline, and its letters (blanks after it aside) span it.
        const TextBoxShape box = TextBoxOf(word);
        EXPECT_NEAR(box.left, word.x, 1e-9);
        EXPECT_NEAR(box.top, word.y - ascent * kPointsPerUnit, 1e-9);
        EXPECT_NEAR(box.width, word.length, 1e-9);
        EXPECT_NEAR(box.height, (ascent + descent) * kPointsPerUnit, 1e-9);
        EXPECT_FALSE(box.fillVisible || box.lineVisible);
        const std::optional<pdf::TextRun> run = RunFilling(box, Advance);
        ASSERT_TRUE(run);
        EXPECT_NEAR(run->left, word.x, 1e-9);
        EXPECT_NEAR(run->baseline, word.y, 1e-9);
        EXPECT_NEAR(run->size * (pdf::kRunAscent + pdf::kRunDescent), box.height, 1e-9);
        EXPECT_NEAR(2 * 0.5 * run->size * run->horizontalScale, word.length, 1e-9) << "two letters of 500";
    }
}

TEST(TextPlacement, ASkewedLineIsWrittenLevelledAndItsWordsBoxesStayOnThePrint) {
    const double ascent = 40, descent = 10, height = ascent + descent;
    const double throughMiddle = height * (pdf::kRunAscent - pdf::kRunDescent) / (2 * (pdf::kRunAscent + pdf::kRunDescent));
    struct Case {
        double rise;      // over the line, in line heights
        double endShift;  // how far its very start moves down (its end up), in line heights
        double lifted;    // how far the whole line is written above its letters' baseline
    } cases[] = {
        {0.2, 0, 0},                                                // read whole as printed
        {0.9, (0.9 - kKeptWholeRise) / 2, throughMiddle / height},  // levelled to rise kKeptWholeRise
        {2.0, (2.0 - kKeptWholeRise) / 2, throughMiddle / height},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rise);
        const double degrees = std::atan(c.rise * height / 1000) * 180 / M_PI;
        const double length = 1000 / std::cos(degrees * M_PI / 180);
        const double starts[] = {0, length / 2 - 50, length - 100};
        const std::vector<LayoutWord> words =
            Line(0, 200, 1500, degrees, {{starts[0], 100}, {starts[1], starts[1] + 100}, {starts[2], length}}, ascent, descent);
        const std::vector<PlacedWord> placed = PlaceWords(words, kA4Width, kA4Height);
        ASSERT_EQ(placed.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(i);
            // The shift shrinks evenly from the line's ends to its middle.
            const std::array<double, 4>& base = *words[i].baseline;
            const double printed = (base[1] + base[3]) / 2 * kPointsPerUnit;
            const double middle = starts[i] + (i == 2 ? length - starts[i] : 100) / 2;
            const double shift = (c.endShift * height * (1 - 2 * middle / length) - c.lifted * height) * kPointsPerUnit;
            EXPECT_NEAR(placed[i].y, printed + shift, 1e-6);
            EXPECT_NEAR(placed[i].rise, shift, 1e-6);
            EXPECT_NEAR(placed[i].x, base[0] * kPointsPerUnit, 1e-6);

            // The word's box lies over its print; the run of a levelled word stands on the
            // written baseline and tells how far its box rises from there to the print.
            const TextBoxShape box = TextBoxOf(placed[i]);
            EXPECT_NEAR(box.top, printed - ascent * kPointsPerUnit, 1e-6);
            const std::optional<pdf::TextRun> run = RunFilling(box, Advance);
            ASSERT_TRUE(run);
            if (c.endShift > 0) {
                EXPECT_NEAR(run->baseline, placed[i].y, 1e-6);
            }
            EXPECT_NEAR(run->baseline - run->boxRise, box.top + pdf::kRunAscent * run->size, 1e-6);
        }
    }
}

TEST(TextPlacement, AShortLineUnderALongOneOnASkewedPageIsPushedDownToStayBelowIt) {
    // A long line falling 5 degrees, the short end of its paragraph under its left end, and the
    // next long line. Levelled about its middle, the long line's left end comes down onto the
    // short line, which is pushed down below it; the next long line keeps its distance.
    const double ascent = 30, descent = 10, pitch = 60;
    const std::vector<std::pair<double, double>> longSpans = {{0, 250}, {300, 700}, {750, 1100}, {1150, 1500}, {1550, 1800}};
    std::vector<LayoutWord> words;
    for (const auto& [line, spans] : std::vector<std::pair<int, std::vector<std::pair<double, double>>>>{
             {0, longSpans}, {1, {{0, 250}}}, {2, longSpans}}) {
        for (LayoutWord& word : Line(line, 200, 1000 + line * pitch, 5, spans, ascent, descent)) words.push_back(word);
    }
    const std::vector<PlacedWord> placed = PlaceWords(words, kA4Width, kA4Height);
    ASSERT_EQ(placed.size(), 11u);
    // The first words of the three lines lie over one another.
    const PlacedWord &longStart = placed[0], &shortLine = placed[5], &nextStart = placed[6];
    EXPECT_GT(shortLine.rise, 0) << "written below its print";
    EXPECT_GE(shortLine.y - longStart.y, kLeastLineSpacing * pitch * kPointsPerUnit);
    EXPECT_GE(nextStart.y - shortLine.y, kLeastLineSpacing * pitch * kPointsPerUnit);
    EXPECT_NEAR(nextStart.y - longStart.y, 2 * pitch * kPointsPerUnit, 1e-6) << "long lines keep their distance";
    // Each long line is still one line for a reader: its written baseline rises no more than
    // kKeptWholeRise of its height.
    EXPECT_LE(std::fabs(placed[4].y - placed[0].y), kKeptWholeRise * (ascent + descent) * kPointsPerUnit);
}

TEST(TextPlacement, LinesComeInReadingOrderAndWordsWithoutBaselinesFillTheirBoxes) {
    std::vector<LayoutWord> words;
    const auto add = [&](const char* text, std::optional<int> line, int block, int paragraph, double left) {
        LayoutWord word;
        word.text = text;
        word.line = line;
        word.block = block;
        word.paragraph = paragraph;
        word.left = left;
        word.right = left + 100;
        word.top = 500 + 100 * line.value_or(9);
        word.bottom = word.top + 40;
        words.push_back(word);
    };
    add("second", 2, 1, 1, 100);
    add("first", 0, 0, 0, 100);
    add("", 0, 0, 0, 220);  // no text: left out
    add("line", 0, 0, 0, 340);
    add("stray", std::nullopt, 0, 0, 100);
    add("third", 1, 1, 1, 100);
    add("next", 2, 1, 1, 220);
    add("touching", 3, 1, 1, 100);
    add("italics", 3, 1, 1, 195);  // its box begins inside the one before
    std::vector<std::string> texts;
    const std::vector<PlacedWord> placed = PlaceWords(words, kA4Width, kA4Height);
    for (const PlacedWord& word : placed) texts.push_back(word.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"first ", "line", "stray", "third", "second ", "next", "touching ", "italics"}));
    EXPECT_NEAR(placed[6].x + placed[6].length, placed[7].x - kLeastWordGap * placed[6].ascent, 1e-9)
        << "a gap before the next word, for readers to see the break";
    EXPECT_NEAR(placed[0].length, 100 * kPointsPerUnit, 1e-9) << "words apart keep their length";

    // A word set upright (its baseline running down the page) fills its box as well.
    LayoutWord upright = words[1];
    upright.baseline = std::array<double, 4>{100, 500, 100, 600};
    upright.ascent = 30;
    const PlacedWord standing = PlaceWords({upright}, kA4Width, kA4Height).front();
    EXPECT_NEAR(standing.y, 540 * kPointsPerUnit, 1e-9);
    EXPECT_NEAR(standing.length, 100 * kPointsPerUnit, 1e-9);

    // Without a baseline and the line's reach, a word stands on its box's bottom edge and fills
    // its box; layout units map onto any shown page by the fit of 2480 x 3507 units.
    for (const auto& [width, height, perUnit] : {std::tuple{600.0, 1000.0, 1000 / 3507.0}, {800.0, 400.0, 800 / 2480.0}}) {
        const PlacedWord word = PlaceWords({words[1]}, width, height).front();
        EXPECT_NEAR(word.x, 100 * perUnit, 1e-9);
        EXPECT_NEAR(word.y, 540 * perUnit, 1e-9);
        EXPECT_NEAR(word.length, 100 * perUnit, 1e-9);
        EXPECT_NEAR(word.ascent, 40 * perUnit, 1e-9);
        EXPECT_EQ(word.descent, 0);
    }
}

}  // namespace
}  // namespace kvo::pdfbuild
