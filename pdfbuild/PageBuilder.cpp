#include "pdfbuild/PageBuilder.h"

#include "shared/platform/FileSearch.h"

namespace kvo::pdfbuild {

namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;

std::string AttributeText(const xml::Node& node, const char* name) {
    if (!node) return "";
    return node.attribute(name).value_or("");
}

}  // namespace

TextBoxShape TextBoxForLine(const xml::Node& line, int pointsPerInch) {
    const xml::Node font = line.selectSingleNode("font");
    LayoutLine layout;
    layout.top = ReadNumber(AttributeText(line, "top"));
    layout.left = ReadNumber(AttributeText(line, "left"));
    layout.bottom = ReadNumber(AttributeText(line, "bottom"));
    layout.right = ReadNumber(AttributeText(line, "right"));
    layout.fontSize = ReadNumber(AttributeText(font, "fontsize"));

    const BoxFrame frame = TextBoxFrameOf(LineFrameOf(layout, pointsPerInch));
    TextBoxShape box;
    box.left = frame.left;
    box.top = frame.top;
    box.width = frame.width;
    box.height = frame.height;
    box.fillVisible = false;
    box.lineVisible = false;
    box.font.size = BoxFontSizeOf(layout.fontSize);
    box.font.colour = kWhite;
    const FaceStyle style = FaceStyleFor(AttributeText(font, "fontstyle"));
    box.font.bold = style.bold;
    box.font.italic = style.italic;
    // The face follows from the size the box has now.
    const FontChoice choice = FontFor(AttributeText(font, "fontfamily"), box.font.size);
    box.font.name = choice.name;
    box.font.size = choice.size;
    box.marginLeft = box.marginRight = box.marginTop = box.marginBottom = 0;
    box.text = AttributeText(line, "text");
    box.behindText = true;
    return box;
}

void BuildPageDocument(DocumentEngine& engine, const std::string& bitmapPath, const std::string& layoutPath,
                       const std::string& documentPath) {
    PageDocument page = engine.newPageDocument();
    page.setup.paper = PaperSize::A4;
    page.setup.orientation = Orientation::Portrait;
    page.setup.topMargin = page.setup.bottomMargin = page.setup.leftMargin = page.setup.rightMargin = 0;
    const SheetSize sheet = page.setup.sheet();
    const int pointsPerInch = PointsPerInch(sheet.height);

    // A page without its picture would stand in for the scan while showing nothing of it.
    PictureShape picture = engine.loadPicture(bitmapPath);
    const PictureSize fitted = FitPicture(sheet, {picture.width, picture.height});
    picture.left = 0;
    picture.top = 0;
    picture.width = fitted.width;
    picture.height = fitted.height;
    page.picture = std::move(picture);

    xml::Document layout;
    if (auto real = ResolveFile(layoutPath)) layout.load(*real);
    if (!layout.xml().empty())
        for (const xml::Node& line : layout.selectNodes("pagewords/sections/section/line"))
            page.textBoxes.push_back(TextBoxForLine(line, pointsPerInch));

    engine.savePageDocument(page, documentPath);
}

}  // namespace kvo::pdfbuild
