#pragma once
// The OCR engine document: a page image with its recognition result, kept on disk as the
// system's engine document file ("KVOOCR.mdi", hOCR with the image size). Opened from such a
// file or from a raster image (then it holds the image and no recognition result until OCR
// is called).
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

// Recognition was asked for a language whose data is not installed.
class LanguageMissingError : public EngineError {
public:
    using EngineError::EngineError;
};

// Font codes as the layout document's tables number them; 0 = outside every table.
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

// A point of the page image, in pixels, y growing downward.
struct PagePoint {
    double x = 0, y = 0;
};

struct Word {
    std::string text;
    int lineId = 0;      // 0, 1, 2, … in reading order
    WordFont font;
    WordRect rect;       // the upright box around the word's ink
    // The stretch of its line's baseline (where the letters stand) under the word, from where
    // the word begins to where it ends; on a skewed page it runs as askew as the line.
    PagePoint baseStart, baseEnd;
};

// One line of the page as the engine reads it.
struct TextLine {
    int block = 0;       // the page's blocks and paragraphs, counted from 0 in reading order
    int paragraph = 0;
    double ascent = 0;   // how far the line's letters reach above the baseline (x-height and
    double descent = 0;  // ascenders) and below it (descenders), in pixels
};

// A recognised page: its words and lines in reading order.
struct PageLayout {
    int pixelWidth = 0;   // 0 when not known
    int pixelHeight = 0;
    int resolution = 0;   // dots per inch the engine worked with; 0 when not known
    // Degrees clockwise (0, 90, 180, 270) the image was turned to be upright before it was
    // recognised; the size and the word boxes are those of the turned image.
    int turn = 0;
    // The engine's mean confidence in the page's words, 0 to 100 (0 without words); not kept
    // in the engine document.
    int meanConfidence = 0;
    std::vector<Word> words;      // lineId indexes lines
    std::vector<TextLine> lines;  // paragraphs and blocks non-decreasing
};

// The page text as the engine gives it: the words of a line joined by one blank, every line
// ended by a line feed, and one more line feed after the last line of a paragraph.
std::string LayoutTextOf(const std::vector<Word>& words, const std::vector<TextLine>& lines);

// File formats of SaveAs.
inline constexpr int kFileFormatTiff = 1;
inline constexpr int kFileFormatEngineDocument = 4;

class EngineDocument {
public:
    EngineDocument();
    ~EngineDocument();
    EngineDocument(const EngineDocument&) = delete;
    EngineDocument& operator=(const EngineDocument&) = delete;

    // Opens an engine document file or a raster image. Throws EngineError.
    void Create(const std::string& path);

    // Recognises the first image of a document opened from a raster image, in the languages
    // given as Tesseract names them ("eng", "eng+deu"), turned upright first when the engine
    // is sure it lies on its side or upside down, and straightened when it is skewed (the
    // boxes are those of the image as it lies all the same). Throws LanguageMissingError when one of
    // them is not installed, EngineError otherwise.
    void OCR(const std::string& languages);

    // "Number of Lines" of the built-in document properties; nullopt when the document carries
    // no recognition result. Throws EngineError when no document is open.
    std::optional<long> NumberOfLines() const;

    // Images(0): the page, as recognised.
    int PixelWidth() const;
    int PixelHeight() const;
    // The clockwise turn the page was recognised in (PageLayout::turn); 0 before OCR.
    int Turn() const;
    int WordCount() const;
    const Word& WordAt(int index) const;
    // The line a word's lineId names.
    const TextLine& LineAt(int lineId) const;
    std::string LayoutText() const;

    // kFileFormatTiff: the document's page images as a multi-page TIFF (the compression level
    // is not used: G4 for bilevel pages, deflate otherwise). kFileFormatEngineDocument: the
    // recognition result as an engine document file. Written whole. Throws EngineError.
    void SaveAs(const std::string& path, int fileFormat, int compressionLevel);
    // Closes without saving.
    void Close(bool saveChanges = false);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kvo::ocr
