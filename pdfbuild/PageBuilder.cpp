#include "pdfbuild/PageBuilder.h"

#include "pdfbuild/TextPlacement.h"
#include "shared/image/RasterImage.h"
#include "shared/xml/LayoutUnits.h"
#include "shared/xml/XmlDocument.h"
#include "shared/platform/FileSearch.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace kvo::pdfbuild {

namespace {

std::string AttributeText(const xml::Node& node, const char* name) {
    if (!node) return "";
    return node.attribute(name).value_or("");
}

// "x1 y1 x2 y2", four finite numbers; nullopt for anything else.
std::optional<std::array<double, 4>> BaselineOf(const std::string& text) {
    std::array<double, 4> values{};
    std::istringstream in(text);
    in.imbue(std::locale::classic());
    for (double& value : values)
        if (!(in >> value) || !std::isfinite(value)) return std::nullopt;
    std::string rest;
    if (in >> rest) return std::nullopt;
    return values;
}

LayoutWord LayoutWordOf(const xml::Node& word) {
    const xml::Node rect = word.selectSingleNode("RECT");
    LayoutWord layout;
    layout.text = AttributeText(word, "text");
    const std::string line = AttributeText(rect, "line");
    if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos && line.size() < 10)
        layout.line = std::stoi(line);
    layout.block = static_cast<int>(ReadNumber(AttributeText(rect, "block")));
    layout.paragraph = static_cast<int>(ReadNumber(AttributeText(rect, "paragraph")));
    layout.top = ReadNumber(AttributeText(rect, "top"));
    layout.left = ReadNumber(AttributeText(rect, "left"));
    layout.bottom = ReadNumber(AttributeText(rect, "bottom"));
    layout.right = ReadNumber(AttributeText(rect, "right"));
    layout.baseline = BaselineOf(AttributeText(rect, "baseline"));
    layout.ascent = ReadNumber(AttributeText(rect, "ascent"));
    layout.descent = ReadNumber(AttributeText(rect, "descent"));
    return layout;
}

// A page's layout document: its words (none when it is missing or unreadable) and the turn
// that brought the page bitmap upright before recognition.
struct Layout {
    std::vector<LayoutWord> words;
    int turn = 0;
};

Layout LoadLayout(const std::string& layoutPath) {
    Layout layout;
    xml::Document document;
    if (auto real = ResolveFile(layoutPath)) document.load(*real);
    if (document.xml().empty()) return layout;
    for (const xml::Node& word : document.selectNodes("pagewords/word")) layout.words.push_back(LayoutWordOf(word));
    const xml::Node root = document.selectSingleNode("pagewords");
    layout.turn = handoff::LayoutTurnOf(static_cast<int>(ReadNumber(AttributeText(root, handoff::kLayoutTurnAttribute))));
    return layout;
}

void AddTextBoxes(PageDocument& page, const Layout& layout, double shownWidth, double shownHeight) {
    for (const PlacedWord& word : PlaceWords(layout.words, shownWidth, shownHeight)) page.textBoxes.push_back(TextBoxOf(word));
}

}  // namespace

void BuildKeptPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                           const std::string& documentPath, const KeptPage& source, const pdf::PageFrame& frame) {
    const std::optional<image::PixelSize> rendered = image::PixelSizeOf(bitmapPath);
    if (!rendered) throw EngineError("cannot read the page rendering " + bitmapPath);
    PageDocument page = engine.newPageDocument();
    page.kept = source;
    page.kept->shownBox = pdf::RenderedBoxOf(frame, rendered->width, rendered->height);
    const Layout layout = LoadLayout(layoutPath);
    // The rendering showed the page under its own rotation; recognition saw it turned further.
    page.kept->rotate = pdf::NormalisedRotation(frame.rotate + layout.turn);
    const pdf::ShownSize shown = pdf::ShownSizeOf(page.kept->shownBox, page.kept->rotate);
    AddTextBoxes(page, layout, shown.width, shown.height);
    engine.savePageDocument(page, documentPath);
}

void BuildUntouchedPageDocument(DocumentEngine& engine, const std::string& documentPath, const KeptPage& source,
                                const pdf::PageFrame& frame) {
    PageDocument page = engine.newPageDocument();
    page.kept = source;
    page.kept->shownBox = pdf::VisibleBox(frame);
    page.kept->rotate = frame.rotate;
    engine.savePageDocument(page, documentPath);
}

void BuildPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                       const std::string& documentPath, const std::optional<PictureSource>& source) {
    PageDocument page = engine.newPageDocument();
    page.setup.paper = PaperSize::A4;
    page.setup.orientation = Orientation::Portrait;
    page.setup.topMargin = page.setup.bottomMargin = page.setup.leftMargin = page.setup.rightMargin = 0;
    const SheetSize sheet = page.setup.sheet();

    const Layout layout = LoadLayout(layoutPath);
    // A page without its picture would stand in for the scan while showing nothing of it.
    PictureShape picture = engine.loadPicture(bitmapPath, source);
    // Shown as it was recognised: turned by the layout's turn too.
    picture.encoded.clockwise = pdf::NormalisedRotation(picture.encoded.clockwise + layout.turn);
    const PictureSize fitted = FitPicture(sheet, TurnedSize({picture.width, picture.height}, layout.turn));
    picture.left = 0;
    picture.top = 0;
    picture.width = fitted.width;
    picture.height = fitted.height;
    page.picture = std::move(picture);

    AddTextBoxes(page, layout, sheet.width, sheet.height);

    engine.savePageDocument(page, documentPath);
}

}  // namespace kvo::pdfbuild
