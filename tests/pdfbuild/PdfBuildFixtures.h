#pragma once
// Inputs of the builder written by hand: page bitmaps, layout documents, the page list; and the
// poppler tools that read its PDF back.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "shared/image/RasterImage.h"
#include "support/PdfTools.h"
#include "support/TestSupport.h"

namespace kvo::test {

struct Rgb {
    unsigned char r, g, b;
};

// A 24-bit uncompressed BMP at `dpi`, every pixel from `pixel(x, y)` (y from the top).
void WriteBmp24(const fs::path& file, int width, int height, const std::function<Rgb(int, int)>& pixel, int dpi = 300);
// A white page with black bars: a bilevel scan.
void WriteBilevelPage(const fs::path& file, int width, int height);

struct LayoutLine {
    int top, left, bottom, right;
    std::string text;
    std::string fontsize = "10";
    std::string fontfamily = "Helvetica";
    std::string fontstyle = "normal";
    // A line printed askew: its words get the engine's baselines, turned clockwise by this
    // many degrees about the line's start.
    std::optional<double> degrees = std::nullopt;
};
// A layout document with one section per line, and the line's words sharing its width by their
// letters, a quarter of its height apart. Without `degrees` a word stands on its box's bottom
// edge; with it, the line's baseline starts at its left edge, four fifths down its height, and
// reaches that far up and a fifth of its height down, and each word's box holds it turned.
void WriteLayout(const fs::path& file, const std::vector<LayoutLine>& lines);

// A 300-dpi page printing `lines` in black Liberation Sans of 18 points on white, drawn with
// cairo: a document nobody scanned, for the whole road through recognition.
image::Raster PrintedPage(const std::vector<std::string>& lines);

// "KVOCurr.xml" in `folder` listing the page bitmaps in order.
void WritePageList(const fs::path& folder, const std::vector<std::string>& pageBitmaps);


}  // namespace kvo::test
