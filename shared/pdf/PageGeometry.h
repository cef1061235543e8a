#pragma once
// Where a page is shown and how its rendering maps back onto it: boxes, /Rotate, and the
// matrix that lays a drawing made in the page's shown coordinates over the page itself.
// Plain arithmetic, no I/O.
#include <array>

namespace kvo::pdf {

// A rectangle in the page's default user space, corners in any order as PDF allows.
struct Box {
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;

    double width() const;
    double height() const;
    Box normalised() const;  // x0 <= x1, y0 <= y1
};

// What the page dictionary says about its geometry (inherited values resolved).
struct PageFrame {
    Box mediaBox;
    Box cropBox;   // the media box when the page has none
    int rotate = 0;
};

// /Rotate as 0, 90, 180 or 270 (clockwise when shown); a value that is not a multiple of 90
// counts as 0, as viewers take it.
int NormalisedRotation(int rotate);

// The crop box as viewers show it: cut to the media box (the media box when they do not meet).
Box VisibleBox(const PageFrame& frame);

// Width and height of `box` as shown under `rotate` (swapped for a quarter turn).
struct ShownSize {
    double width = 0;
    double height = 0;
};
ShownSize ShownSizeOf(const Box& box, int rotate);

// The box a rendering of `pixelWidth` x `pixelHeight` shows: renderers draw either the media
// box or the visible crop box, so the one whose shown proportions are nearer the bitmap's.
Box RenderedBoxOf(const PageFrame& frame, int pixelWidth, int pixelHeight);

// The matrix [a b c d e f] taking a drawing whose own page is `box` shown under `rotate`
// (origin at its lower-left corner, as a PDF page of ShownSizeOf(box, rotate)) onto the page's
// user space, so that it lies where the shown page shows it.
using Matrix = std::array<double, 6>;
Matrix ShownToUserSpace(const Box& box, int rotate);

// The matrix that draws an image (its unit square, first row at the top) into `shown`, a
// rectangle of the page's user space, mirrored left to right first when `mirrored`, then turned
// clockwise by `clockwise` degrees (0, 90, 180, 270), so that the turned picture fills it.
Matrix PictureMatrix(const Box& shown, int clockwise, bool mirrored);

}  // namespace kvo::pdf
