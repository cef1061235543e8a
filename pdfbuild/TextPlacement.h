#pragma once
// Where the invisible text goes: each recognised word on a box of its own over the printed
// word, standing on its line's baseline, the lines in the engine's reading order. Plain
// geometry, no I/O.
//
// A word is written level even on a skewed page, at the height its written line has at the
// word's middle: text readers take letters for one word only while they stand within half a
// point of the same height (poppler's), so a turned run of letters is cut apart on a page a
// degree or two askew; and a glyph standing for a whole word, which would keep a turned word
// whole, is read badly elsewhere (MuPDF puts each such glyph on a line of its own and drops those
// of more than eight letters; Ghostscript garbles them). A level word's box covers the printed
// word but for the slope's rise over half the word at each end.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "pdfbuild/PageDocument.h"
#include "shared/pdf/PageOverlay.h"

namespace kvo::pdfbuild {

// A `word` of the layout document, in layout units, as read from its attributes.
struct LayoutWord {
    std::string text;
    std::optional<int> line;  // the engine's line number; nullopt when it cannot be read
    int block = 0;
    int paragraph = 0;
    double top = 0, left = 0, bottom = 0, right = 0;
    // The stretch of the line's baseline under the word, x1 y1 x2 y2; nullopt when the layout
    // does not give it (the word then stands on its box's bottom edge).
    std::optional<std::array<double, 4>> baseline;
    double ascent = 0;  // the line's reach above and below its baseline; 0 when not given
    double descent = 0;
};

// A word placed on a page, in points from the shown page's top-left corner, y downward.
struct PlacedWord {
    std::string text;     // with a blank after it when another word of its line follows
    double x = 0, y = 0;  // where the word begins, on the baseline it is written on
    double length = 0;    // from where it begins to where it ends, as seen
    double ascent = 0;    // the line's reach above and below the baseline
    double descent = 0;
    double rise = 0;      // how far the printed word's baseline stands above y (below: negative)
};

// Readers that sort text by position (poppler's, for one) take words for one line only while
// their baselines lie within about half a line's height of the first word's; a line on a
// skewed page rises or falls more than that and is read in pieces, which come out of order
// (a rising line's right end before its left). So a line that rises more than kKeptWholeRise
// of its height is written levelled to rise just that much, about its middle, and each of its
// words tells its rise back to the print, which readers that take boxes from the font's ascent
// and descent use to put its box over the printed word. A levelled line is pushed down where it
// would come nearer than kLeastLineSpacing of their printed distance to a line above it that it
// shares some width with (one at most kNeighbourLines of its height above), as a short line
// under a long one would: readers would otherwise merge the two or read them out of order.
inline constexpr double kKeptWholeRise = 0.25;
inline constexpr double kLeastLineSpacing = 0.6;
inline constexpr double kNeighbourLines = 3;

// Readers put a blank between two words only where a gap lies between them: a word whose box
// reaches into the next word's (as italics and touching letters give) ends kLeastWordGap of the
// line's height before the next begins.
inline constexpr double kLeastWordGap = 0.1;

// The words of a page whose shown box is `shownWidth` x `shownHeight` points (a kept page's
// shown box, a picture page's sheet): layout units are the page image's pixels scaled to just
// fit 2480 x 3507, so they map onto the shown page by the same fit. A line's baseline runs from
// its first word's start to its last word's end (level when it rises by no more than one unit,
// the layout's rounding); each word begins where its own stretch of baseline begins and ends
// where it ends (its box's width when the stretch is missing or empty), short of kLeastWordGap
// before the next word; the words of a line running steeper than it runs across each fill their
// own box. Lines come ordered by block, paragraph and line number, their words in the layout's
// order; words without text are left out.
std::vector<PlacedWord> PlaceWords(const std::vector<LayoutWord>& words, double shownWidth, double shownHeight);

// The unframed text box of a placed word: as long as the word and as high as its line's reach,
// over the printed word, the word's text filling it from the baseline it is written on.
TextBoxShape TextBoxOf(const PlacedWord& word);

// The least horizontal scale of a word's letters fitted to its box. Text readers take a letter
// drawn almost on top of the same letter for a bold-effect copy and drop it, so a harder squeeze
// would lose letters; such a word is written smaller instead.
inline constexpr double kLeastNarrowing = 0.5;

// The run of invisible text that fills a text box: as high as the box, its advances (as
// `advanceOf` measures them) stretched or narrowed to the box's width, standing on the box's
// baseline (where the face's ascent puts it, or the baseline the box gives, the run's box then
// raised back onto the box). A word narrower than kLeastNarrowing allows is
// made smaller to fit. Blanks at its end (the break after a word) run past the box. nullopt
// for a box without area or text.
std::optional<pdf::TextRun> RunFilling(const TextBoxShape& box, const pdf::AdvanceOf& advanceOf);

}  // namespace kvo::pdfbuild
