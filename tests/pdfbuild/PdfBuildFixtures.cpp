#include "pdfbuild/PdfBuildFixtures.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "shared/xml/XmlDocument.h"

#include <cairo.h>

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
    xml::Node sections = root.appendElement("sections");
    const auto setFont = [](xml::Node font, const LayoutLine& line) {
        font.setAttribute("fontstyle", line.fontstyle);
        font.setAttribute("fontfamily", line.fontfamily);
        font.setAttribute("fontsize", line.fontsize);
        font.setAttribute("fontserif", "sans");
    };
    const auto number = [](double value) { return std::to_string(std::llround(value)); };
    struct Word {
        std::string text;
        std::size_t line;
        std::vector<std::pair<const char*, std::string>> rect;
    };
    std::vector<Word> words;
    for (std::size_t n = 0; n < lines.size(); ++n) {
        const LayoutLine& line = lines[n];
        xml::Node node = sections.appendElement("section").appendElement("line");
        node.setAttribute("top", std::to_string(line.top));
        node.setAttribute("left", std::to_string(line.left));
        node.setAttribute("bottom", std::to_string(line.bottom));
        node.setAttribute("right", std::to_string(line.right));
        node.setAttribute("text", line.text);
        setFont(node.appendElement("font"), line);
        std::vector<std::string> parts;
        std::istringstream split(line.text);
        for (std::string part; split >> part;) parts.push_back(part);
        std::size_t letters = 0;
        for (const std::string& part : parts) letters += part.size();
        const double height = static_cast<double>(line.bottom) - line.top, gap = height / 4;
        const double widths = static_cast<double>(line.right) - line.left - gap * (parts.empty() ? 0 : parts.size() - 1);
        const double perLetter = letters ? widths / letters : 0;
        const double radians = line.degrees.value_or(0) * M_PI / 180, c = std::cos(radians), s = std::sin(radians);
        const double ascent = 0.8 * height, descent = 0.2 * height;
        const double baseX = line.left, baseY = line.top + ascent;
        double at = 0;
        for (const std::string& part : parts) {
            const double end = at + perLetter * part.size();
            Word word{part, n, {{"line", std::to_string(n)}}};
            if (!line.degrees) {
                for (const auto& [name, value] : {std::pair{"top", line.top + 0.0}, {"left", line.left + at},
                                                  {"bottom", line.bottom + 0.0}, {"right", line.left + end}})
                    word.rect.emplace_back(name, number(value));
            } else {
                // The upright box around the word turned about the line's start.
                double top = 1e300, left = 1e300, bottom = -1e300, right = -1e300;
                for (double along : {at, end})
                    for (double across : {-ascent, descent}) {
                        const double x = baseX + along * c - across * s, y = baseY + along * s + across * c;
                        top = std::min(top, y), left = std::min(left, x), bottom = std::max(bottom, y), right = std::max(right, x);
                    }
                for (const auto& [name, value] : {std::pair{"top", top}, {"left", left}, {"bottom", bottom}, {"right", right}})
                    word.rect.emplace_back(name, number(value));
                word.rect.emplace_back("baseline", number(baseX + at * c) + " " + number(baseY + at * s) + " " +
                                                       number(baseX + end * c) + " " + number(baseY + end * s));
                word.rect.emplace_back("ascent", number(ascent));
                word.rect.emplace_back("descent", number(descent));
            }
            words.push_back(std::move(word));
            at = end + gap;
        }
    }
    for (const Word& word : words) {
        xml::Node node = root.appendElement("word");
        node.setAttribute("text", word.text);
        setFont(node.appendElement("font"), lines[word.line]);
        xml::Node rect = node.appendElement("RECT");
        for (const auto& [name, value] : word.rect) rect.setAttribute(name, value);
    }
    doc.save(file.string());
}

// A 300-dpi page printing `lines` in Liberation Sans, drawn with cairo.
image::Raster PrintedPage(const std::vector<std::string>& lines) {
    constexpr int kWidth = 1400, kLineHeight = 160;
    const int height = kLineHeight * static_cast<int>(lines.size() + 1);
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, kWidth, height);
    cairo_t* cr = cairo_create(surface);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "Liberation Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, 75);  // 18 points at 300 dpi
    for (std::size_t i = 0; i < lines.size(); ++i) {
        cairo_move_to(cr, 120, kLineHeight * (i + 1));
        cairo_show_text(cr, lines[i].c_str());
    }
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    image::Raster page{kWidth, height, 24, 300, 300, static_cast<std::size_t>(kWidth) * 3, {}};
    const unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < kWidth; ++x) {
            std::uint32_t pixel;
            std::memcpy(&pixel, data + y * stride + 4 * x, 4);
            page.pixels.push_back(static_cast<std::uint8_t>(pixel >> 16));
            page.pixels.push_back(static_cast<std::uint8_t>(pixel >> 8));
            page.pixels.push_back(static_cast<std::uint8_t>(pixel));
        }
    cairo_surface_destroy(surface);
    return page;
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
