#include "pdfbuild/TextPlacement.h"

#include "shared/xml/LayoutUnits.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <limits>
#include <map>
#include <tuple>

namespace kvo::pdfbuild {

namespace {

struct Point {
    double x = 0, y = 0;
};

Point StartOf(const LayoutWord& word) {
    if (word.baseline) return {(*word.baseline)[0], (*word.baseline)[1]};
    return {word.left, word.bottom};
}

Point EndOf(const LayoutWord& word) {
    if (word.baseline) return {(*word.baseline)[2], (*word.baseline)[3]};
    return {word.right, word.bottom};
}

// The words of one line, in the layout's order.
using Line = std::vector<const LayoutWord*>;

// Lines in reading order: words of one engine line together, ordered by block, paragraph and
// line number; a word without a line number is a line of its own where it stands.
std::vector<Line> LinesOf(const std::vector<LayoutWord>& words) {
    using Key = std::tuple<int, int, int, std::size_t>;
    std::map<Key, Line> lines;
    std::map<int, Key> keyOfLine;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const LayoutWord& word = words[i];
        if (word.text.empty()) continue;
        Key key{word.block, word.paragraph, word.line.value_or(std::numeric_limits<int>::max()), i};
        if (word.line) key = keyOfLine.emplace(*word.line, key).first->second;
        lines[key].push_back(&word);
    }
    std::vector<Line> ordered;
    for (auto& [key, line] : lines) ordered.push_back(std::move(line));
    return ordered;
}

// A line as it is written: its printed baseline (a straight line from its first word's start
// to its last word's end) and the baseline it is written on, levelled to rise no more than
// kKeptWholeRise of its height, through the middle of its letters' reach, crossing the printed
// one at the line's middle, and pushed down where that keeps it below the lines above it.
struct WrittenLine {
    Line words;
    Point first;
    double ux = 1, uy = 0;
    double ascent = 0, descent = 0;
    double left = 0, right = 0;  // the words' reach across, in layout units
    double middleAlong = 0, flattening = 1, pushed = 0;

    double height() const { return ascent + descent; }
    // A reader's box for a word reaches the baseline it is written on: a levelled line is
    // written through the middle of its letters' reach, so that the words' boxes lie on their
    // print as far as half that reach above or below it.
    double throughMiddle() const {
        return flattening < 1 ? height() * (pdf::kRunAscent - pdf::kRunDescent) / (2 * (pdf::kRunAscent + pdf::kRunDescent))
                              : 0;
    }
    double alongAt(double x) const { return (x - first.x) / ux; }
    double printedAt(double x) const { return first.y + alongAt(x) * uy; }
    // How far below its print the line is written where it is `along` along its baseline.
    double shiftAlong(double along) const { return (along - middleAlong) * uy * (flattening - 1) - throughMiddle() + pushed; }
    double writtenAt(double x) const { return printedAt(x) + shiftAlong(alongAt(x)); }
};

WrittenLine Levelled(Line line) {
    WrittenLine written;
    written.words = std::move(line);
    written.first = StartOf(*written.words.front());
    const Point last = EndOf(*written.words.back());
    // The layout's coordinates are whole units: a line rising by no more than one is level.
    const double dx = last.x - written.first.x, dy = std::fabs(last.y - written.first.y) <= 1 ? 0 : last.y - written.first.y;
    const double span = std::hypot(dx, dy);
    if (span > 0) {
        written.ux = dx / span;
        written.uy = dy / span;
    }
    written.left = std::numeric_limits<double>::max();
    written.right = std::numeric_limits<double>::lowest();
    for (const LayoutWord* word : written.words) {
        written.ascent = std::max(written.ascent, word->ascent);
        written.descent = std::max(written.descent, word->descent);
        written.left = std::min(written.left, word->left);
        written.right = std::max(written.right, word->right);
    }
    if (!(written.height() > 0)) {
        // Without the line's reach, each word fills its own box above its baseline.
        for (const LayoutWord* word : written.words) written.ascent = std::max(written.ascent, word->bottom - word->top);
        written.descent = 0;
    }
    written.middleAlong = span / 2;
    const double rise = std::fabs(span * written.uy), keptRise = kKeptWholeRise * written.height();
    if (rise > keptRise) written.flattening = keptRise / rise;
    return written;
}

// Pushes each line down as far as it must go to stay kLeastLineSpacing of its printed distance
// below each line above it that it shares some width with: lines levelled about their own
// middles would otherwise cross where a short line lies under a long one.
void KeepLinesApart(std::vector<WrittenLine>& lines) {
    // Top to bottom as the lines lie on the page, each taken where it crosses the same upright
    // (a short line at the left of a falling page lies above a long line's middle).
    std::vector<WrittenLine*> downward;
    double left = std::numeric_limits<double>::max(), right = std::numeric_limits<double>::lowest();
    for (WrittenLine& line : lines) {
        downward.push_back(&line);
        left = std::min(left, line.left);
        right = std::max(right, line.right);
    }
    const double upright = (left + right) / 2;
    std::stable_sort(downward.begin(), downward.end(), [&](const WrittenLine* a, const WrittenLine* b) {
        return a->printedAt(upright) < b->printedAt(upright);
    });
    for (std::size_t i = 0; i < downward.size(); ++i) {
        WrittenLine& line = *downward[i];
        for (std::size_t k = 0; k < i; ++k) {
            const WrittenLine& above = *downward[k];
            const double from = std::max(line.left, above.left), to = std::min(line.right, above.right);
            if (!(to > from)) continue;
            const double apart = line.printedAt((from + to) / 2) - above.printedAt((from + to) / 2);
            if (!(apart > 0) || apart > kNeighbourLines * line.height()) continue;
            for (const double x : {from, to}) {
                const double short_ = kLeastLineSpacing * apart - (line.writtenAt(x) - above.writtenAt(x));
                if (short_ > 0) line.pushed += short_;
            }
        }
    }
}

void PlaceLine(const WrittenLine& line, double pointsPerUnit, std::vector<PlacedWord>& placed) {
    const Line& words = line.words;
    const double height = line.height();
    const auto along = [&](const Point& p) { return (p.x - line.first.x) * line.ux + (p.y - line.first.y) * line.uy; };
    for (std::size_t i = 0; i < words.size(); ++i) {
        const LayoutWord& word = *words[i];
        const double from = along(StartOf(word));
        double length = along(EndOf(word)) - from;
        if (!(length > 0)) length = word.right - word.left;
        if (i + 1 < words.size()) {
            const double room = along(StartOf(*words[i + 1])) - kLeastWordGap * height - from;
            if (room > 0) length = std::min(length, room);
        }
        // The word is written level, from where it begins to where it ends as seen, on the
        // written line's height at its middle, rising back to the printed baseline there.
        const double middle = from + length / 2;
        const double shift = line.shiftAlong(middle);
        PlacedWord out;
        out.text = word.text + (i + 1 < words.size() ? " " : "");
        out.x = (line.first.x + from * line.ux) * pointsPerUnit;
        out.y = (line.first.y + middle * line.uy + shift) * pointsPerUnit;
        out.rise = shift * pointsPerUnit;
        out.length = length * std::fabs(line.ux) * pointsPerUnit;
        out.ascent = line.ascent * pointsPerUnit;
        out.descent = line.descent * pointsPerUnit;
        placed.push_back(std::move(out));
    }
}

}  // namespace

std::vector<PlacedWord> PlaceWords(const std::vector<LayoutWord>& words, double shownWidth, double shownHeight) {
    const double pointsPerUnit = 1 / handoff::PageScale(shownWidth, shownHeight);
    std::vector<WrittenLine> written;
    // Words of lines set upright, each a line of its own; a deque keeps them where the lines
    // point at them.
    std::deque<LayoutWord> uprightWords;
    for (Line& line : LinesOf(words)) {
        const Point first = StartOf(*line.front()), last = EndOf(*line.back());
        if (std::fabs(last.y - first.y) <= std::fabs(last.x - first.x)) {
            written.push_back(Levelled(std::move(line)));
            continue;
        }
        // A line running steeper than it runs across (text set upright in a margin) cannot be
        // written level along its baseline: each of its words fills its own box.
        for (const LayoutWord* word : line) {
            LayoutWord& upright = uprightWords.emplace_back(*word);
            upright.baseline.reset();
            upright.ascent = upright.descent = 0;
            written.push_back(Levelled({&upright}));
        }
    }
    KeepLinesApart(written);
    std::vector<PlacedWord> placed;
    for (const WrittenLine& line : written) PlaceLine(line, pointsPerUnit, placed);
    return placed;
}

TextBoxShape TextBoxOf(const PlacedWord& word) {
    TextBoxShape box;
    box.left = word.x;
    box.top = word.y - word.rise - word.ascent;
    box.width = word.length;
    box.height = word.ascent + word.descent;
    if (word.rise != 0) box.baseline = word.y;
    box.fillVisible = false;
    box.lineVisible = false;
    box.marginLeft = box.marginRight = box.marginTop = box.marginBottom = 0;
    // One regular face for every word: the text is never seen, only its widths count.
    box.font.name = "Arial";
    box.text = word.text;
    return box;
}

std::optional<pdf::TextRun> RunFilling(const TextBoxShape& box, const pdf::AdvanceOf& advanceOf) {
    pdf::TextRun run;
    run.text = CodePointsOf(box.text);
    const std::size_t printed = run.text.find_last_not_of(U' ');
    double advance = 0;
    for (std::size_t i = 0; printed != std::u32string::npos && i <= printed; ++i) advance += advanceOf(run.text[i]) / 1000;
    if (!(box.height > 0 && box.width > 0 && advance > 0)) return std::nullopt;
    const double size = box.height / (pdf::kRunAscent + pdf::kRunDescent);
    run.horizontalScale = std::max(box.width / (advance * size), kLeastNarrowing);
    // Letters that would have to be squeezed harder are made smaller instead, on the same
    // baseline, so that the word still ends in its box, before the next word.
    run.size = std::min(size, box.width / (advance * kLeastNarrowing));
    run.left = box.left;
    const double printedBaseline = box.top + pdf::kRunAscent * size;
    run.baseline = box.baseline.value_or(printedBaseline);
    run.boxRise = run.baseline - printedBaseline;
    return run;
}

}  // namespace kvo::pdfbuild
