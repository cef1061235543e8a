#include "ocrengine/EngineFile.h"

#include "ocrengine/DecimalText.h"
#include "shared/xml/LayoutUnits.h"
#include "shared/xml/XmlDocument.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>
#include <tuple>

namespace kvo::ocr {

namespace {

constexpr const char* kPageQuery = "html/body/div[@class='ocr_page']";
constexpr const char* kLineQuery = ".//span[@class='ocr_line']";
constexpr const char* kWordQuery = "span[@class='ocrx_word']";

// ---- the `title` properties: "bbox 0 0 10 20; x_fsize 10.5" ----

using Properties = std::map<std::string, std::vector<std::string>>;

Properties ParseTitle(const std::string& title) {
    Properties properties;
    std::istringstream parts(title);
    std::string part;
    while (std::getline(parts, part, ';')) {
        std::istringstream tokens(part);
        std::string name, token;
        if (!(tokens >> name)) continue;
        std::vector<std::string>& values = properties[name];
        while (tokens >> token) values.push_back(token);
    }
    return properties;
}

std::optional<double> NumberProperty(const Properties& properties, const std::string& name) {
    auto found = properties.find(name);
    if (found == properties.end() || found->second.size() != 1) return std::nullopt;
    return ParseDecimal(found->second.front());
}

// x0 y0 x1 y1
std::optional<WordRect> BoxProperty(const Properties& properties) {
    auto found = properties.find("bbox");
    if (found == properties.end() || found->second.size() != 4) return std::nullopt;
    double edges[4];
    for (int i = 0; i < 4; ++i) {
        std::optional<double> edge = ParseDecimal(found->second[i]);
        if (!edge) return std::nullopt;
        edges[i] = *edge;
    }
    WordRect rect;
    rect.left = edges[0];
    rect.top = edges[1];
    rect.right = edges[2];
    rect.bottom = edges[3];
    return rect;
}

// The stretch of baseline under a word: "x_baseline x1 y1 x2 y2"; without it, the bottom edge
// of its box.
std::pair<PagePoint, PagePoint> BaselineProperty(const Properties& properties, const WordRect& box) {
    const std::pair<PagePoint, PagePoint> bottomEdge{{box.left, box.bottom}, {box.right, box.bottom}};
    auto found = properties.find("x_baseline");
    if (found == properties.end() || found->second.size() != 4) return bottomEdge;
    double v[4];
    for (int i = 0; i < 4; ++i) {
        std::optional<double> value = ParseDecimal(found->second[i]);
        if (!value) return bottomEdge;
        v[i] = *value;
    }
    return {{v[0], v[1]}, {v[2], v[3]}};
}

std::string BoxText(const WordRect& rect) {
    return "bbox " + DecimalText(rect.left) + " " + DecimalText(rect.top) + " " + DecimalText(rect.right) + " " +
           DecimalText(rect.bottom);
}

Properties TitleOf(const xml::Node& node) { return ParseTitle(node.attribute("title").value_or("")); }

// A whole number that fits an int, else nullopt.
std::optional<int> WholeNumber(std::optional<double> value) {
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max() ||
        *value != std::floor(*value))
        return std::nullopt;
    return static_cast<int>(*value);
}

int CodeProperty(const Properties& properties, const std::string& name) {
    return WholeNumber(NumberProperty(properties, name)).value_or(0);
}

// ---- writing ----

WordRect UnionOf(const std::vector<const Word*>& words) {
    WordRect box = words.front()->rect;
    for (const Word* word : words) {
        box.top = std::min(box.top, word->rect.top);
        box.left = std::min(box.left, word->rect.left);
        box.bottom = std::max(box.bottom, word->rect.bottom);
        box.right = std::max(box.right, word->rect.right);
    }
    return box;
}

void AppendWord(xml::Node& line, const Word& word) {
    xml::Node span = line.appendElement("span");
    span.setAttribute("class", "ocrx_word");
    span.setAttribute("title", BoxText(word.rect) + "; x_baseline " + DecimalText(word.baseStart.x) + " " +
                                   DecimalText(word.baseStart.y) + " " + DecimalText(word.baseEnd.x) + " " +
                                   DecimalText(word.baseEnd.y) + "; x_fsize " + DecimalText(word.font.fontSize) +
                                   "; x_fstyle " + std::to_string(word.font.faceStyle) + "; x_ffamily " +
                                   std::to_string(word.font.family) + "; x_fserif " +
                                   std::to_string(word.font.serif));
    span.setAttribute("data-text", word.text);
}

}  // namespace

bool LooksLikeEngineFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    char head[64] = {};
    in.read(head, sizeof head);
    std::string_view start(head, static_cast<std::size_t>(in.gcount()));
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    std::size_t first = start.find_first_not_of(" \t\r\n");
    return first != std::string_view::npos && start[first] == '<';
}

void WriteEngineFile(const PageLayout& page, const std::string& path) {
    std::vector<std::vector<const Word*>> wordsOfLine(page.lines.size());
    for (const Word& word : page.words) {
        if (word.lineId < 0 || static_cast<std::size_t>(word.lineId) >= wordsOfLine.size())
            throw EngineError("word \"" + word.text + "\" lies on no line of the page");
        wordsOfLine[word.lineId].push_back(&word);
    }

    xml::Document document;
    xml::Node html = document.appendElement("html");
    html.setAttribute("xmlns", "http://www.w3.org/1999/xhtml");
    xml::Node head = html.appendElement("head");
    head.appendElement("title");
    xml::Node system = head.appendElement("meta");
    system.setAttribute("name", "ocr-system");
    system.setAttribute("content", "tesseract");
    xml::Node capabilities = head.appendElement("meta");
    capabilities.setAttribute("name", "ocr-capabilities");
    capabilities.setAttribute("content", "ocr_page ocr_par ocr_line ocrx_word ocrp_fsize");

    xml::Node div = html.appendElement("body").appendElement("div");
    div.setAttribute("class", "ocr_page");
    std::string pageTitle = "ppageno 0";
    if (page.pixelWidth > 0 && page.pixelHeight > 0)
        pageTitle = "bbox 0 0 " + std::to_string(page.pixelWidth) + " " + std::to_string(page.pixelHeight) + "; " +
                    pageTitle;
    if (page.resolution > 0)
        pageTitle += "; scan_res " + std::to_string(page.resolution) + " " + std::to_string(page.resolution);
    if (page.turn != 0) pageTitle += "; x_turn " + std::to_string(page.turn);
    div.setAttribute("title", pageTitle);

    xml::Node block, paragraph;
    for (std::size_t line = 0; line < wordsOfLine.size(); ++line) {
        const TextLine& facts = page.lines[line];
        const bool newBlock = line == 0 || facts.block != page.lines[line - 1].block;
        if (newBlock) {
            block = div.appendElement("div");
            block.setAttribute("class", "ocr_carea");
        }
        if (newBlock || facts.paragraph != page.lines[line - 1].paragraph) {
            paragraph = block.appendElement("p");
            paragraph.setAttribute("class", "ocr_par");
        }
        xml::Node span = paragraph.appendElement("span");
        span.setAttribute("class", "ocr_line");
        // hOCR's own measures of a line: its whole height and the part below the baseline.
        std::string title = "x_size " + DecimalText(facts.ascent + facts.descent) + "; x_descenders " +
                            DecimalText(facts.descent);
        if (!wordsOfLine[line].empty()) title = BoxText(UnionOf(wordsOfLine[line])) + "; " + title;
        span.setAttribute("title", title);
        for (const Word* word : wordsOfLine[line]) AppendWord(span, *word);
    }

    try {
        document.save(path);
    } catch (const xml::XmlError& error) {
        throw EngineError(error.what());
    }
}

EngineFile ReadEngineFile(const std::string& path) {
    xml::Document document;
    if (!document.load(path)) throw EngineError("cannot read the engine document " + path);
    xml::Node div = document.selectSingleNode(kPageQuery);
    if (!div) throw EngineError(path + " holds no OCR page");

    EngineFile file;
    Properties pageTitle = TitleOf(div);
    if (std::optional<WordRect> box = BoxProperty(pageTitle)) {
        file.page.pixelWidth = WholeNumber(box->right - box->left).value_or(0);
        file.page.pixelHeight = WholeNumber(box->bottom - box->top).value_or(0);
    }
    if (auto found = pageTitle.find("scan_res"); found != pageTitle.end() && !found->second.empty())
        file.page.resolution = WholeNumber(ParseDecimal(found->second.front())).value_or(0);

    file.page.turn = handoff::LayoutTurnOf(WholeNumber(NumberProperty(pageTitle, "x_turn")).value_or(0));

    // A paragraph ends with the last line among its siblings, a block with the last paragraph
    // among its siblings.
    const std::vector<xml::Node> lines = div.selectNodes(kLineQuery);
    int block = 0, paragraph = 0;
    for (const xml::Node& line : lines) {
        const Properties title = TitleOf(line);
        const double size = NumberProperty(title, "x_size").value_or(0);
        const double descent = NumberProperty(title, "x_descenders").value_or(0);
        file.page.lines.push_back({block, paragraph, std::max(0.0, size - descent), std::max(0.0, descent)});
        if (line.selectSingleNode("following-sibling::span[@class='ocr_line']")) continue;
        ++paragraph;
        if (!line.selectSingleNode("../following-sibling::p[@class='ocr_par']")) ++block;
    }

    for (std::size_t lineId = 0; lineId < lines.size(); ++lineId) {
        for (const xml::Node& span : lines[lineId].selectNodes(kWordQuery)) {
            Properties title = TitleOf(span);
            std::optional<WordRect> rect = BoxProperty(title);
            if (!rect) {
                file.wordListError = "a word of line " + std::to_string(lineId) + " has no readable bbox";
                file.page.words.clear();
                return file;
            }
            Word word;
            word.text = span.attribute("data-text").value_or("");
            word.lineId = static_cast<int>(lineId);
            word.rect = *rect;
            std::tie(word.baseStart, word.baseEnd) = BaselineProperty(title, *rect);
            word.font.fontSize = NumberProperty(title, "x_fsize").value_or(0);
            word.font.faceStyle = CodeProperty(title, "x_fstyle");
            word.font.family = CodeProperty(title, "x_ffamily");
            word.font.serif = CodeProperty(title, "x_fserif");
            file.page.words.push_back(std::move(word));
        }
    }
    return file;
}

}  // namespace kvo::ocr
