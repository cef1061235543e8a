#pragma once
// What a page of the document engine holds: the sheet, a picture with its compressed pixels,
// and text boxes. Positions and sizes are in points from the sheet's top-left corner.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pdfbuild/PageRules.h"
#include "shared/image/EncodedPicture.h"
#include "shared/pdf/PageGeometry.h"

namespace kvo::pdfbuild {

struct PageSetup {
    PaperSize paper = PaperSize::A4;
    Orientation orientation = Orientation::Portrait;
    // The engine's defaults for a new document: one inch above and below, 1.25 at the sides.
    double topMargin = 72;
    double bottomMargin = 72;
    double leftMargin = 90;
    double rightMargin = 90;

    SheetSize sheet() const { return SheetSizeOf(paper, orientation); }
};

// A picture floating over the sheet, kept in the encoding its page will embed it in.
struct PictureShape {
    int pixelWidth = 0;
    int pixelHeight = 0;
    image::EncodedPicture encoded;
    double left = 0;
    double top = 0;
    double width = 0;   // points
    double height = 0;
};

// A page of a PDF attachment that the result keeps as it is. Its sheet is the box its text
// layer covers, as shown under the page's rotation; text boxes are placed on that sheet.
struct KeptPage {
    std::string sourcePdf;
    int sourcePage = 0;  // from 1
    pdf::Box shownBox;
    int rotate = 0;
};

struct FontSettings {
    std::string name = "Times New Roman";
    double size = 12;
    std::optional<bool> bold;    // unset: the face's own weight
    std::optional<bool> italic;  // unset: the face's own slant
    std::uint32_t colour = 0;    // 0xRRGGBB
};

struct TextBoxShape {
    double left = 0;
    double top = 0;
    double width = 0;
    double height = 0;
    bool fillVisible = true;
    bool lineVisible = true;
    // Inner margins of the frame, the engine's defaults for a new box.
    double marginLeft = 7.2;
    double marginRight = 7.2;
    double marginTop = 3.6;
    double marginBottom = 3.6;
    bool behindText = false;
    FontSettings font;
    std::string text;
    // Where the text stands, in points from the page's top, when not where the face's ascent
    // puts it in the box (a word written on a levelled line stands off its print).
    std::optional<double> baseline;
};

struct PageDocument {
    PageSetup setup;
    std::optional<KeptPage> kept;
    std::optional<PictureShape> picture;
    std::vector<TextBoxShape> textBoxes;
};

}  // namespace kvo::pdfbuild
