#include "pdfbuild/TextPlacement.h"

#include "shared/xml/LayoutUnits.h"

#include <algorithm>
#include <cmath>
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

void PlaceLine(const Line& line, double pointsPerUnit, std::vector<PlacedWord>& placed) {
    const Point first = StartOf(*line.front()), last = EndOf(*line.back());
    // The layout's coordinates are whole units: a line rising by no more than one is level.
    const double dx = last.x - first.x, dy = std::fabs(last.y - first.y) <= 1 ? 0 : last.y - first.y;
    const double span = std::hypot(dx, dy);
    const double ux = span > 0 ? dx / span : 1, uy = span > 0 ? dy / span : 0;

    double ascent = 0, descent = 0;
    for (const LayoutWord* word : line) {
        ascent = std::max(ascent, word->ascent);
        descent = std::max(descent, word->descent);
    }
    if (!(ascent + descent > 0)) {
        // Without the line's reach, each word fills its own box above its baseline.
        for (const LayoutWord* word : line) ascent = std::max(ascent, word->bottom - word->top);
        descent = 0;
    }
    const double height = ascent + descent;

    // The levelled line runs through the line's middle and rises kKeptWholeRise of its height;
    // it is used only when no word has to move further than kMostLevelling of that height.
    const double rise = span * uy, keptRise = kKeptWholeRise * height;
    const bool levelled = std::fabs(rise) > keptRise && std::fabs(rise) - keptRise <= 2 * kMostLevelling * height;
    const double flattening = levelled ? keptRise / std::fabs(rise) : 1;

    // Where each word begins along the line.
    const auto along = [&](const Point& p) { return (p.x - first.x) * ux + (p.y - first.y) * uy; };
    for (std::size_t i = 0; i < line.size(); ++i) {
        const LayoutWord& word = *line[i];
        const double from = along(StartOf(word));
        double length = along(EndOf(word)) - from;
        if (!(length > 0)) length = word.right - word.left;
        if (i + 1 < line.size()) {
            const double room = along(StartOf(*line[i + 1])) - kLeastWordGap * height - from;
            if (room > 0) length = std::min(length, room);
        }
        // The word is written level, from where it begins to where it ends as seen, on the
        // baseline's height at its middle (levelled where that keeps the line whole).
        const double middle = from + length / 2;
        const double shift = (middle - span / 2) * uy * (flattening - 1);
        PlacedWord out;
        out.text = word.text + (i + 1 < line.size() ? " " : "");
        out.x = (first.x + from * ux) * pointsPerUnit;
        out.y = (first.y + middle * uy + shift) * pointsPerUnit;
        out.length = length * std::fabs(ux) * pointsPerUnit;
        out.ascent = ascent * pointsPerUnit;
        out.descent = descent * pointsPerUnit;
        placed.push_back(std::move(out));
    }
}

}  // namespace

std::vector<PlacedWord> PlaceWords(const std::vector<LayoutWord>& words, double shownWidth, double shownHeight) {
    const double pointsPerUnit = 1 / handoff::PageScale(shownWidth, shownHeight);
    std::vector<PlacedWord> placed;
    for (const Line& line : LinesOf(words)) {
        const Point first = StartOf(*line.front()), last = EndOf(*line.back());
        if (std::fabs(last.y - first.y) <= std::fabs(last.x - first.x)) {
            PlaceLine(line, pointsPerUnit, placed);
            continue;
        }
        // A line running steeper than it runs across (text set upright in a margin) cannot be
        // written level along its baseline: each of its words fills its own box.
        for (const LayoutWord* word : line) {
            LayoutWord upright = *word;
            upright.baseline.reset();
            upright.ascent = upright.descent = 0;
            PlaceLine({&upright}, pointsPerUnit, placed);
        }
    }
    return placed;
}

TextBoxShape TextBoxOf(const PlacedWord& word) {
    TextBoxShape box;
    box.left = word.x;
    box.top = word.y - word.ascent;
    box.width = word.length;
    box.height = word.ascent + word.descent;
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
    run.baseline = box.top + pdf::kRunAscent * size;
    return run;
}

}  // namespace kvo::pdfbuild
