#include "ocrsave/KVOOCRSaveMod.h"

#include "ocrengine/EngineDocument.h"
#include "ocrsave/LayoutGrouping.h"
#include "ocrsave/LayoutRules.h"
#include "shared/ExitStatus.h"
#include "shared/xml/LayoutUnits.h"
#include "shared/platform/FileSearch.h"
#include "shared/xml/HandOff.h"

#include <type_traits>

namespace kvo::KVOOCRSaveMod {

namespace {

// The engine's value, or nullopt when it cannot deliver it.
template <typename Read>
auto Guarded(Read read) -> std::optional<std::decay_t<decltype(read())>> {
    try {
        return read();
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

// One `word` element with its `font` and `RECT`. A word the engine cannot deliver still gets
// every attribute, empty, and so belongs to no line.
void AppendWord(xml::Node& pagewords, const ocr::EngineDocument& engine, int index, double scale) {
    xml::Node word = pagewords.appendElement("word");
    xml::Node font = word.appendElement("font");
    const std::optional<ocr::Word> value = Guarded([&] { return engine.WordAt(index); });

    font.setAttribute("fontstyle", value ? ocrsave::FaceStyleName(value->font.faceStyle) : "");
    font.setAttribute("fontfamily", value ? ocrsave::FontFamilyName(value->font.family) : "");
    font.setAttribute("fontsize", value ? ocrsave::FontSizeText(value->font.fontSize, scale) : "");
    font.setAttribute("fontserif", value ? ocrsave::FontSerifName(value->font.serif) : "");
    word.setAttribute("text", value ? value->text : "");

    xml::Node rect = word.appendElement("RECT");
    rect.setAttribute("line", value ? std::to_string(value->lineId) : "");
    rect.setAttribute("top", value ? ocrsave::EdgeText(value->rect.top, scale) : "");
    rect.setAttribute("left", value ? ocrsave::EdgeText(value->rect.left, scale) : "");
    rect.setAttribute("bottom", value ? ocrsave::EdgeText(value->rect.bottom, scale) : "");
    rect.setAttribute("right", value ? ocrsave::EdgeText(value->rect.right, scale) : "");

    // What the engine tells of the word's line: where it stands in the reading order, its
    // baseline under the word, and how far its letters reach above and below that.
    const std::optional<ocr::TextLine> line =
        value ? Guarded([&] { return engine.LineAt(value->lineId); }) : std::nullopt;
    rect.setAttribute("block", line ? std::to_string(line->block) : "");
    rect.setAttribute("paragraph", line ? std::to_string(line->paragraph) : "");
    rect.setAttribute("baseline", value ? ocrsave::EdgeText(value->baseStart.x, scale) + " " +
                                              ocrsave::EdgeText(value->baseStart.y, scale) + " " +
                                              ocrsave::EdgeText(value->baseEnd.x, scale) + " " +
                                              ocrsave::EdgeText(value->baseEnd.y, scale)
                                        : "");
    rect.setAttribute("ascent", line ? ocrsave::EdgeText(line->ascent, scale) : "");
    rect.setAttribute("descent", line ? ocrsave::EdgeText(line->descent, scale) : "");
}

}  // namespace

std::optional<xml::Document> BuildLayoutDocument(const ocr::EngineDocument& engine) {
    const std::optional<std::optional<long>> lines = Guarded([&] { return engine.NumberOfLines(); });
    if (!lines || !*lines || **lines == 0) return std::nullopt;

    xml::Document layout;
    xml::Node pagewords = layout.appendElement("pagewords");
    xml::Node sections = pagewords.appendElement("sections");
    // The boxes below belong to the image as recognised; the builder turns the page to match.
    if (const int turn = handoff::LayoutTurnOf(engine.Turn()); turn != 0)
        pagewords.setAttribute(handoff::kLayoutTurnAttribute, std::to_string(turn));

    const std::optional<int> count = Guarded([&] { return engine.WordCount(); });
    if (!count) {
        pagewords.setAttribute("text", "");
        return layout;
    }
    const double scale = handoff::PageScale(Guarded([&] { return engine.PixelWidth(); }),
                                            Guarded([&] { return engine.PixelHeight(); }));
    for (int index = 0; index < *count; ++index) AppendWord(pagewords, engine, index, scale);
    pagewords.setAttribute("text", Guarded([&] { return engine.LayoutText(); }).value_or(""));
    try {
        ocrsave::GroupIntoSections(pagewords, sections);
    } catch (const std::exception&) {
        // The words stay listed; the sections hold what was grouped.
    }
    return layout;
}

int Main() {
    try {
        const std::optional<std::string> enginePath = ResolveFile(handoff::InTemp(handoff::kOcrEngineDocName));
        if (!enginePath) return kExitOk;
        DeleteFile(handoff::InTemp(handoff::kOcrLayoutName));

        ocr::EngineDocument engine;
        try {
            engine.Create(*enginePath);
        } catch (const std::exception&) {
            // Then the document carries no result, and no layout document is written.
        }
        std::optional<xml::Document> layout = BuildLayoutDocument(engine);
        engine.Close();
        if (layout) layout->save(handoff::InTemp(handoff::kOcrLayoutName));
    } catch (const std::exception& error) {
        // The callers judge the run by the presence of the layout document, and by a fault of
        // the machine.
        return ExitStatusForError(error);
    }
    return kExitOk;
}

}  // namespace kvo::KVOOCRSaveMod
