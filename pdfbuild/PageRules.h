#pragma once
// The arithmetic of a page document: sheet sizes, layout units to points, text-box frames,
// font sizes and faces, the picture fit, and the engine's version number. No I/O.
#include <optional>
#include <string>

#include "shared/platform/Numbers.h"

namespace kvo::pdfbuild {

// A number read from an attribute text in the "C" locale: leading blanks, a sign, digits and
// one "." are read as far as they go; a text that does not start with a finite number gives 0.
double ReadNumber(const std::string& text);

enum class PaperSize { A4 };
enum class Orientation { Portrait, Landscape };

struct SheetSize {
    double height = 0;  // points
    double width = 0;
};

// The sheet a page set-up gives: A4 is 841.9 x 595.3 points upright.
SheetSize SheetSizeOf(PaperSize paper, Orientation orientation);

// Points per inch of a sheet whose full height spans 3508 layout units at 300 units per inch:
// round(pageHeight / 3508 * 300), which is 72 for A4.
int PointsPerInch(double pageHeight);

// A `line` of the layout document, in layout units, as read from its attributes.
struct LayoutLine {
    double top = 0;
    double left = 0;
    double bottom = 0;
    double right = 0;
    double fontSize = 0;
};

// The line's rectangle in points, each value rounded half to even.
struct LineFrame {
    double top = 0;
    double left = 0;
    double height = 0;
    double width = 0;
};
LineFrame LineFrameOf(const LayoutLine& line, int pointsPerInch);

// The text box drawn for a line: anchored at the line's top-left corner, 10 % larger both ways.
struct BoxFrame {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
};
BoxFrame TextBoxFrameOf(const LineFrame& line);

// The whole-point size of a line (its `fontsize` rounded half to even) and the size set on its
// text box before the face is chosen: that size x 0.9.
double LineSizeOf(double layoutFontSize);
double BoxFontSizeOf(double layoutFontSize);

// The face name for a layout family and the size that goes with it, from the size the box
// currently has (unrounded).
struct FontChoice {
    std::string name;
    double size = 0;
};
FontChoice FontFor(const std::string& family, double currentSize);

// Bold and italic for a layout style; an empty or unknown style sets neither.
struct FaceStyle {
    std::optional<bool> bold;
    std::optional<bool> italic;
};
FaceStyle FaceStyleFor(const std::string& style);

// The picture's size on the sheet, keeping its proportions: fitted to the sheet width when the
// sheet is taller in proportion than the picture, else to the sheet height.
struct PictureSize {
    double width = 0;
    double height = 0;
};
PictureSize FitPicture(const SheetSize& sheet, const PictureSize& picture);

// The size in points of a picture of `pixelWidth` x `pixelHeight` on paper: pixels over dots
// per inch on each axis (a fax page's rows are twice as coarse as its columns at 204 x 98 dpi).
// A resolution the file does not give (0) is taken as the other axis's, or kDefaultDpi for both.
inline constexpr double kDefaultDpi = 96;
PictureSize PaperSizeOf(int pixelWidth, int pixelHeight, double xDpi, double yDpi);
// The size with its sides swapped when `clockwise` is a quarter turn.
PictureSize TurnedSize(const PictureSize& size, int clockwise);
// Whether two pictures have the same proportions, within kShapeTolerance (1 %).
inline constexpr double kShapeTolerance = 0.01;
bool SameShape(const PictureSize& a, const PictureSize& b);

// The horizontal scale for a line of text `textWidth` wide in a box with `room` across: 1 when
// it fits, else narrowed to fit, but never below half its width. Text reader programs take a
// letter drawn almost on top of the same letter for a bold-effect copy and drop it, so a
// harder squeeze would lose letters; such a line runs past the box's edge instead.
double NarrowingOf(double textWidth, double room);
inline constexpr double kLeastNarrowing = 0.5;

// A line on a kept page of `shown` points: layout units are the rendering's pixels scaled to
// just fit 2480 x 3507, whatever the resolution, so they map onto the page's shown box by the
// same fit. Unrounded points from the box's top-left corner.
BoxFrame KeptLineFrameOf(const LayoutLine& line, double shownWidth, double shownHeight);

// The characters of a UTF-8 text; each byte that does not start a valid sequence becomes
// U+FFFD. And one character as UTF-8.
std::u32string CodePointsOf(const std::string& utf8);
std::string Utf8Of(char32_t c);

// The frame index of an image splitter's page bitmap (base name, six digits, ".bmp"), or
// nullopt for any other name.
std::optional<int> FrameIndexOf(const std::string& pageBitmap);

// The major version of a version text: the text before its first "." (all of it when there is
// none), read as a whole number; 0 when it holds none.
int MajorVersion(const std::string& versionText);

// Major version from which the engine writes PDF itself; older ones take the plainer route.
inline constexpr int kDirectExportVersion = 12;

}  // namespace kvo::pdfbuild
