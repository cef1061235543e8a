#include "pdfbuild/PdfBuildFixtures.h"

#include <cstdio>
#include <stdexcept>

#include "shared/xml/XmlDocument.h"

namespace kvo::test {

namespace {

void PutLittleEndian(std::string& out, unsigned value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void WriteBmp24(const fs::path& file, int width, int height, const std::function<Rgb(int, int)>& pixel, int dpi) {
    const unsigned rowBytes = (static_cast<unsigned>(width) * 3 + 3) & ~3u;
    const unsigned imageBytes = rowBytes * static_cast<unsigned>(height);
    const unsigned pixelsPerMetre = static_cast<unsigned>(dpi / 0.0254 + 0.5);
    std::string bmp = "BM";
    PutLittleEndian(bmp, 54 + imageBytes, 4);
    PutLittleEndian(bmp, 0, 4);
    PutLittleEndian(bmp, 54, 4);
    PutLittleEndian(bmp, 40, 4);
    PutLittleEndian(bmp, static_cast<unsigned>(width), 4);
    PutLittleEndian(bmp, static_cast<unsigned>(height), 4);  // bottom-up rows
    PutLittleEndian(bmp, 1, 2);
    PutLittleEndian(bmp, 24, 2);
    PutLittleEndian(bmp, 0, 4);
    PutLittleEndian(bmp, imageBytes, 4);
    PutLittleEndian(bmp, pixelsPerMetre, 4);
    PutLittleEndian(bmp, pixelsPerMetre, 4);
    PutLittleEndian(bmp, 0, 4);
    PutLittleEndian(bmp, 0, 4);
    for (int y = height - 1; y >= 0; --y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            Rgb c = pixel(x, y);
            row += static_cast<char>(c.b);
            row += static_cast<char>(c.g);
            row += static_cast<char>(c.r);
        }
        row.resize(rowBytes, '\0');
        bmp += row;
    }
    WriteFile(file, bmp);
}

void WriteBilevelPage(const fs::path& file, int width, int height) {
    WriteBmp24(file, width, height, [&](int x, int y) {
        bool black = (y / 20) % 3 == 0 && x > width / 10 && x < width * 9 / 10;
        return black ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
    });
}

void WriteLayout(const fs::path& file, const std::vector<LayoutLine>& lines) {
    xml::Document doc;
    xml::Node root = doc.appendElement("pagewords");
    root.setAttribute("text", "");
    xml::Node section = root.appendElement("sections").appendElement("section");
    for (const LayoutLine& line : lines) {
        xml::Node node = section.appendElement("line");
        node.setAttribute("top", std::to_string(line.top));
        node.setAttribute("left", std::to_string(line.left));
        node.setAttribute("bottom", std::to_string(line.bottom));
        node.setAttribute("right", std::to_string(line.right));
        node.setAttribute("text", line.text);
        xml::Node font = node.appendElement("font");
        font.setAttribute("fontstyle", line.fontstyle);
        font.setAttribute("fontfamily", line.fontfamily);
        font.setAttribute("fontsize", line.fontsize);
        font.setAttribute("fontserif", "sans");
    }
    doc.save(file.string());
}

void WritePageList(const fs::path& folder, const std::vector<std::string>& pageBitmaps) {
    xml::Document doc;
    xml::Node file = doc.appendElement("File");
    file.setAttribute("name", (folder / "Scan.tif").string());
    file.setAttribute("processed", "1");
    for (const std::string& page : pageBitmaps) {
        xml::Node image = file.appendElement("image");
        image.setAttribute("path", page);
        image.setAttribute("processed", "0");
    }
    doc.save((folder / "KVOCurr.xml").string());
}

}  // namespace kvo::test
