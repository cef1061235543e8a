#pragma once
// The grouping of a layout document's words into sections and lines.
#include "shared/xml/XmlDocument.h"

namespace kvo::ocrsave {

// For n = 0, 1, 2, … as long as some word's RECT has line="n": appends a `section` to
// `sections` and places the words of line n, in document order, into its lines. A word joins
// the first line (in document order) whose extent it overlaps strictly in height, and the line
// grows to the union of the boxes and gets " " and the word's text appended; a word that
// overlaps no line opens a new one, with a copy of the word's font.
void GroupIntoSections(const xml::Node& pagewords, xml::Node sections);

}  // namespace kvo::ocrsave
