#include "ocrsave/LayoutGrouping.h"

#include "ocrengine/DecimalText.h"

#include <string>

namespace kvo::ocrsave {

namespace {

std::string Value(const xml::Node& node, const char* attribute) { return node.attribute(attribute).value_or(""); }

// The stored edges are whole numbers; a value that does not read as a number compares false.
bool LessThan(const std::string& a, const std::string& b) {
    std::optional<double> x = ocr::ParseDecimal(a), y = ocr::ParseDecimal(b);
    return x && y && *x < *y;
}

void PlaceWord(const xml::Node& word, xml::Node& section) {
    const xml::Node rect = word.selectSingleNode("RECT");
    const std::string top = Value(rect, "top"), left = Value(rect, "left");
    const std::string bottom = Value(rect, "bottom"), right = Value(rect, "right");
    const std::string text = Value(word, "text");

    xml::Node line = section.selectSingleNode("line[@top < " + bottom + "][@bottom > " + top + "]");
    if (!line) {
        line = section.appendElement("line");
        line.setAttribute("top", top);
        line.setAttribute("left", left);
        line.setAttribute("bottom", bottom);
        line.setAttribute("right", right);
        line.setAttribute("text", text);
        line.appendCopy(word.selectSingleNode("font"));
        return;
    }
    if (LessThan(top, Value(line, "top"))) line.setAttribute("top", top);
    if (LessThan(left, Value(line, "left"))) line.setAttribute("left", left);
    if (LessThan(Value(line, "bottom"), bottom)) line.setAttribute("bottom", bottom);
    if (LessThan(Value(line, "right"), right)) line.setAttribute("right", right);
    line.setAttribute("text", Value(line, "text") + " " + text);
}

}  // namespace

void GroupIntoSections(const xml::Node& pagewords, xml::Node sections) {
    for (long n = 0;; ++n) {
        const std::string number = "\"" + std::to_string(n) + "\"";
        if (!pagewords.selectSingleNode("word/RECT[@line=" + number + "]")) return;
        xml::Node section = sections.appendElement("section");
        for (const xml::Node& word : pagewords.selectNodes("word[RECT[@line=" + number + "]]")) PlaceWord(word, section);
    }
}

}  // namespace kvo::ocrsave
