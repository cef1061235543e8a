#pragma once
// From what Tesseract tells of a word's font to the font codes of the layout document.
#include "ocrengine/EngineDocument.h"

namespace kvo::ocr {

// Tesseract's font attributes of one word (WordFontAttributes). `known` is false when the
// engine returned no font at all: its LSTM recogniser classifies no fonts, so then the flags
// are no statement about the word.
struct FontFacts {
    bool known = false;
    bool bold = false;
    bool italic = false;
    bool serif = false;
    bool monospace = false;
};

// The mapping:
//   face style: bold and italic -> 4 "bolditalic", bold -> 3 "bold", italic -> 2 "italic",
//               neither -> 1 "normal"; font not known -> 0 (empty value)
//   family:     serif -> 2 "Times"; sans serif -> 1 "Helvetica"; monospace, whose faces the
//               table has no class for -> 6 "Default"; font not known -> 6 "Default"
//   serif:      sans serif -> 1 "sans"; serif and monospace (the slab serifs of Courier and its
//               kin) -> 3 "square"; other serif faces -> 2 "thin"; font not known -> 5 "unknown"
// The point size is the engine's measure (ascender to descender height) whether or not the
// font is known.
WordFont FontCodesFor(const FontFacts& facts, double pointSize);

}  // namespace kvo::ocr
