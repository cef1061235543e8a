#pragma once
// KVOOCRSave: turns the engine document "KVOOCR.mdi" of the temporary folder into the layout
// document "KVOOCR.mdi.xml" there.
//
// The layout document:
//   <pagewords text="page text">
//     <sections>
//       <section>                      one per engine line number 0, 1, 2, … up to the first gap
//         <line top left bottom right text><font …/></line>   words of one height band
//       </section>
//     </sections>
//     <word text="…">                  one per engine word, in the engine's order
//       <font fontstyle fontfamily fontsize fontserif/>
//       <RECT line top left bottom right block paragraph baseline ascent descent/>
//     </word>
//   </pagewords>
// Coordinates are in layout units: image pixels times the page scale, rounded half to even.
// Beside the word's upright box, RECT carries what the engine tells of the word's line: its
// block and paragraph (counted from 0 over the page, in reading order), the stretch of the
// line's baseline under the word ("x1 y1 x2 y2", from where the word begins to where it ends,
// as askew as the line on a skewed page), and how far the line's letters reach above (ascent)
// and below (descent) the baseline.
//
// Outcomes:
//   no "KVOOCR.mdi": nothing is deleted or written;
//   an engine document without recognition result, or with no lines: no layout document;
//   a word list that cannot be read: <pagewords text=""><sections/></pagewords>;
//   otherwise the full document. Saving writes the file whole.
#include "shared/xml/XmlDocument.h"

#include <optional>

namespace kvo::ocr { class EngineDocument; }

namespace kvo::KVOOCRSaveMod {

// Returns 0, or the exit status of a fault of the machine (a full work folder).
int Main();

// The layout document of an opened engine document, or nullopt when it gets none (no
// recognition result, no lines). Every step is guarded: a value the engine cannot deliver is
// skipped and the run goes on.
std::optional<xml::Document> BuildLayoutDocument(const ocr::EngineDocument& engine);

}  // namespace kvo::KVOOCRSaveMod
