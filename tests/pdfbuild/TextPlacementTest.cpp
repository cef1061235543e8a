// Where the invisible words go: on their line's baseline, turned with it, levelled only where
// that keeps a skewed line whole for text readers, in reading order.
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

TEST(TextPlacement, WordsOfALineAt3DegreesAreWrittenLevelOnTheBaselineAtTheirMiddles) {
    // A line reaching as far above and below its baseline as the runs' face does, rising less
    // than half its height over its length: it is placed as printed, word by word.
    const double ascent = pdf::kRunAscent * 50, descent = pdf::kRunDescent * 50;
    const std::vector<LayoutWord> words = Line(0, 300, 1000, 3, {{0, 100}, {125, 260}, {280, 380}}, ascent, descent);
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

TEST(TextPlacement, ASkewedLineIsLevelledOnlyWhereThatKeepsItWholeAndItsWordsOnThePrint) {
    const double height = 50;
    struct Case {
        double rise;      // over the line, in line heights
        double endShift;  // how far its very start moves down (its end up), in line heights
    } cases[] = {
        {0.4, 0},                           // read whole as printed
        {0.9, (0.9 - kKeptWholeRise) / 2},  // levelled to rise kKeptWholeRise about its middle
        {2.0, 0},                           // would need more than kMostLevelling: as printed
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rise);
        EXPECT_LE(c.endShift, kMostLevelling);
        const double degrees = std::atan(c.rise * height / 1000) * 180 / M_PI;
        const double length = 1000 / std::cos(degrees * M_PI / 180);
        const double starts[] = {0, length / 2 - 50, length - 100};
        const std::vector<LayoutWord> words =
            Line(0, 200, 1500, degrees, {{starts[0], 100}, {starts[1], starts[1] + 100}, {starts[2], length}}, 40, 10);
        const std::vector<PlacedWord> placed = PlaceWords(words, kA4Width, kA4Height);
        ASSERT_EQ(placed.size(), 3u);
        for (int i = 0; i < 3; ++i) {
            // The shift shrinks evenly from the line's ends to its middle.
            const std::array<double, 4>& base = *words[i].baseline;
            const double middle = starts[i] + (i == 2 ? length - starts[i] : 100) / 2;
            const double shift = c.endShift * height * (1 - 2 * middle / length);
            EXPECT_NEAR(placed[i].y, ((base[1] + base[3]) / 2 + shift) * kPointsPerUnit, 1e-6) << i;
            EXPECT_NEAR(placed[i].x, base[0] * kPointsPerUnit, 1e-6) << i;
        }
    }
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
