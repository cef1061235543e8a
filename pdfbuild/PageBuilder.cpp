#include "pdfbuild/PageBuilder.h"

#include "shared/image/RasterImage.h"
#include "shared/xml/LayoutUnits.h"
#include "shared/platform/FileSearch.h"

namespace kvo::pdfbuild {

namespace {

std::string AttributeText(const xml::Node& node, const char* name) {
    if (!node) return "";
    return node.attribute(name).value_or("");
}

LayoutLine LayoutLineOf(const xml::Node& line) {
    LayoutLine layout;
    layout.top = ReadNumber(AttributeText(line, "top"));
    layout.left = ReadNumber(AttributeText(line, "left"));
    layout.bottom = ReadNumber(AttributeText(line, "bottom"));
    layout.right = ReadNumber(AttributeText(line, "right"));
    return layout;
}

// A text box without fill, border or inner margins.
TextBoxShape UnframedBoxAt(const BoxFrame& frame) {
    TextBoxShape box;
    box.left = frame.left;
    box.top = frame.top;
    box.width = frame.width;
    box.height = frame.height;
    box.fillVisible = false;
    box.lineVisible = false;
    box.marginLeft = box.marginRight = box.marginTop = box.marginBottom = 0;
    return box;
}

// A page's layout document: its lines (none when it is missing or unreadable) and the turn
// that brought the page bitmap upright before recognition.
struct Layout {
    xml::Document document;
    std::vector<xml::Node> lines;
    int turn = 0;
};

void LoadLayout(Layout& layout, const std::string& layoutPath) {
    if (auto real = ResolveFile(layoutPath)) layout.document.load(*real);
    if (layout.document.xml().empty()) return;
    layout.lines = layout.document.selectNodes("pagewords/sections/section/line");
    const xml::Node root = layout.document.selectSingleNode("pagewords");
    layout.turn = handoff::LayoutTurnOf(static_cast<int>(ReadNumber(AttributeText(root, handoff::kLayoutTurnAttribute))));
}

}  // namespace

TextBoxShape TextBoxForLine(const xml::Node& line, double shownWidth, double shownHeight) {
    TextBoxShape box = UnframedBoxAt(LineFrameOf(LayoutLineOf(line), shownWidth, shownHeight));
    // One regular face for every line: the text is never seen, only its widths count.
    box.font.name = "Arial";
    box.text = AttributeText(line, "text");
    return box;
}

void BuildKeptPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                           const std::string& documentPath, const KeptPage& source, const pdf::PageFrame& frame) {
    const std::optional<image::PixelSize> rendered = image::PixelSizeOf(bitmapPath);
    if (!rendered) throw EngineError("cannot read the page rendering " + bitmapPath);
    PageDocument page = engine.newPageDocument();
    page.kept = source;
    page.kept->shownBox = pdf::RenderedBoxOf(frame, rendered->width, rendered->height);
    Layout layout;
    LoadLayout(layout, layoutPath);
    // The rendering showed the page under its own rotation; recognition saw it turned further.
    page.kept->rotate = pdf::NormalisedRotation(frame.rotate + layout.turn);
    const pdf::ShownSize shown = pdf::ShownSizeOf(page.kept->shownBox, page.kept->rotate);
    for (const xml::Node& line : layout.lines) page.textBoxes.push_back(TextBoxForLine(line, shown.width, shown.height));
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

    Layout layout;
    LoadLayout(layout, layoutPath);
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

    for (const xml::Node& line : layout.lines) page.textBoxes.push_back(TextBoxForLine(line, sheet.width, sheet.height));

    engine.savePageDocument(page, documentPath);
}

}  // namespace kvo::pdfbuild
