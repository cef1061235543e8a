#pragma once
// The OCR engine document: a page image with its recognition result, kept on disk as the
// system's engine document file ("KVOOCR.mdi", hOCR with the image size). Opened from such a
// file or from a raster image (then it holds the image and no recognition result).
//
// Every accessor that cannot deliver throws EngineError, so that callers which guard each
// step can skip exactly that step.
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace kvo::ocr {

class EngineError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Font codes as the layout document's tables number them; 0 = not known.
struct WordFont {
    int faceStyle = 0;   // 1 normal, 2 italic, 3 bold, 4 bolditalic
    int family = 0;      // 1 Helvetica, 2 Times, 3 Century, 4 TimesCentury, 5 HelveticaCentury, 6 Default
    double fontSize = 0; // points
    int serif = 0;       // 1 sans, 2 thin, 3 square, 4 round, 5 unknown
};

// Edges in image pixels, y growing downward.
struct WordRect {
    double top = 0, left = 0, bottom = 0, right = 0;
};

struct Word {
    std::string text;
    int lineId = 0;      // 0, 1, 2, … in reading order
    WordFont font;
    WordRect rect;
};

class EngineDocument {
public:
    EngineDocument();
    ~EngineDocument();
    EngineDocument(const EngineDocument&) = delete;
    EngineDocument& operator=(const EngineDocument&) = delete;

    // Opens an engine document file or a raster image. Throws EngineError.
    void Create(const std::string& path);

    // "Number of Lines" of the built-in document properties; nullopt when the document carries
    // no recognition result.
    std::optional<long> NumberOfLines() const;

    // Images(0): the page.
    int PixelWidth() const;
    int PixelHeight() const;
    int WordCount() const;
    const Word& WordAt(int index) const;
    std::string LayoutText() const;

    // Writes the document's page images as a multi-page TIFF (file format 1). Throws EngineError.
    void SaveAs(const std::string& path, int fileFormat, int compressionLevel);
    // Closes without saving.
    void Close(bool saveChanges = false);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kvo::ocr
