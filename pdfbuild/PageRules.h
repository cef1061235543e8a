#pragma once
// The arithmetic of a page document: sheet sizes, the picture fit, text in characters, frame
// names and the engine's version number. No I/O.
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
