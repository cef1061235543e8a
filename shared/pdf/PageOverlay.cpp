#include "shared/pdf/PageOverlay.h"

#include <qpdf/Pl_Flate.hh>
#include <qpdf/Pl_Function.hh>
#include <qpdf/QPDF.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>
#include <qpdf/QPDFWriter.hh>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>

namespace kvo::pdf {

namespace {

using image::EncodedPicture;

// Numbers in content streams: plain decimals, never exponents, in the "C" locale.
std::string Num(double value, int decimals = 4) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    std::string s(text);
    if (s.find('.') != std::string::npos) {
        while (s.back() == '0') s.pop_back();
        if (s.back() == '.') s.pop_back();
    }
    return s == "-0" ? "0" : s;
}

std::string MatrixText(const Matrix& m) {
    return Num(m[0]) + " " + Num(m[1]) + " " + Num(m[2]) + " " + Num(m[3]) + " " + Num(m[4]) + " " + Num(m[5]);
}

Box BoxOf(QPDFObjectHandle array) {
    if (!array.isArray() || array.getArrayNItems() != 4) return {};
    double v[4];
    for (int i = 0; i < 4; ++i) {
        QPDFObjectHandle item = array.getArrayItem(i);
        if (!item.isNumber()) return {};
        v[i] = item.getNumericValue();
    }
    return {v[0], v[1], v[2], v[3]};
}

PageFrame FrameOf(QPDFPageObjectHelper& page) {
    PageFrame frame;
    frame.mediaBox = BoxOf(page.getMediaBox());
    frame.cropBox = BoxOf(page.getCropBox());
    if (frame.cropBox.width() <= 0 || frame.cropBox.height() <= 0) frame.cropBox = frame.mediaBox;
    QPDFObjectHandle rotate = page.getAttribute("/Rotate", false);
    frame.rotate = rotate.isInteger() ? NormalisedRotation(rotate.getIntValueAsInt()) : 0;
    return frame;
}

void Open(QPDF& pdf, const std::string& path) {
    pdf.setSuppressWarnings(true);
    pdf.processFile(path.c_str());
}

QPDFObjectHandle ColourSpaceOf(const EncodedPicture& picture) {
    switch (picture.colours) {
        case EncodedPicture::Colours::Grey: return QPDFObjectHandle::newName("/DeviceGray");
        case EncodedPicture::Colours::Rgb: return QPDFObjectHandle::newName("/DeviceRGB");
        case EncodedPicture::Colours::Cmyk: return QPDFObjectHandle::newName("/DeviceCMYK");
        case EncodedPicture::Colours::Indexed: break;
    }
    const std::size_t entries = picture.palette.size() / 3;
    if (entries == 0 || entries > 256) throw std::runtime_error("a palette picture needs 1 to 256 colours");
    return QPDFObjectHandle::newArray({QPDFObjectHandle::newName("/Indexed"), QPDFObjectHandle::newName("/DeviceRGB"),
                                       QPDFObjectHandle::newInteger(static_cast<long long>(entries) - 1),
                                       QPDFObjectHandle::newString(std::string(picture.palette.begin(),
                                                                               picture.palette.begin() + entries * 3))});
}

QPDFObjectHandle ImageStream(QPDF& pdf, const EncodedPicture& picture) {
    if (picture.width <= 0 || picture.height <= 0 || picture.data.empty()) throw std::runtime_error("empty picture");
    QPDFObjectHandle filter, parms = QPDFObjectHandle::newNull();
    switch (picture.filter) {
        case EncodedPicture::Filter::Dct: filter = QPDFObjectHandle::newName("/DCTDecode"); break;
        case EncodedPicture::Filter::CcittFax: {
            filter = QPDFObjectHandle::newName("/CCITTFaxDecode");
            parms = QPDFObjectHandle::newDictionary();
            parms.replaceKey("/K", QPDFObjectHandle::newInteger(picture.ccittK));
            parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(picture.width));
            parms.replaceKey("/Rows", QPDFObjectHandle::newInteger(picture.height));
            if (picture.ccittByteAligned) parms.replaceKey("/EncodedByteAlign", QPDFObjectHandle::newBool(true));
            break;
        }
        case EncodedPicture::Filter::Flate: {
            filter = QPDFObjectHandle::newName("/FlateDecode");
            if (picture.pngPredicted) {
                parms = QPDFObjectHandle::newDictionary();
                parms.replaceKey("/Predictor", QPDFObjectHandle::newInteger(15));
                parms.replaceKey("/Columns", QPDFObjectHandle::newInteger(picture.width));
                parms.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(picture.bitsPerComponent));
                const int colours = picture.colours == EncodedPicture::Colours::Rgb    ? 3
                                    : picture.colours == EncodedPicture::Colours::Cmyk ? 4
                                                                                       : 1;
                parms.replaceKey("/Colors", QPDFObjectHandle::newInteger(colours));
            }
            break;
        }
    }
    QPDFObjectHandle stream = pdf.newStream();
    stream.replaceStreamData(std::string(picture.data.begin(), picture.data.end()), filter, parms);
    QPDFObjectHandle dict = stream.getDict();
    dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
    dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Image"));
    dict.replaceKey("/Width", QPDFObjectHandle::newInteger(picture.width));
    dict.replaceKey("/Height", QPDFObjectHandle::newInteger(picture.height));
    dict.replaceKey("/BitsPerComponent", QPDFObjectHandle::newInteger(picture.bitsPerComponent));
    dict.replaceKey("/ColorSpace", ColourSpaceOf(picture));
    if (picture.inverted) dict.replaceKey("/Decode", QPDFObjectHandle::parse("[1 0]"));
    return stream;
}

// A new page of the given sheet, showing its pictures in the places given.
QPDFPageObjectHelper NewPage(QPDF& pdf, const ResultPage& spec) {
    QPDFObjectHandle xobjects = QPDFObjectHandle::newDictionary();
    std::string content;
    for (std::size_t i = 0; i < spec.pictures.size(); ++i) {
        const PlacedPicture& placed = spec.pictures[i];
        const std::string name = "/Im" + std::to_string(i);
        xobjects.replaceKey(name, ImageStream(pdf, placed.picture));
        // Sheet positions run from the top; PDF's from the bottom.
        const double bottom = spec.sheetHeight - placed.top - placed.height;
        const Box shown{placed.left, bottom, placed.left + placed.width, bottom + placed.height};
        content += "q " + MatrixText(PictureMatrix(shown, placed.picture.clockwise, placed.picture.mirrored)) + " cm " + name +
                   " Do Q\n";
    }
    QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    QPDFObjectHandle page = QPDFObjectHandle::newDictionary();
    page.replaceKey("/Type", QPDFObjectHandle::newName("/Page"));
    page.replaceKey("/MediaBox", QPDFObjectHandle::newArray(std::vector<QPDFObjectHandle>{
                                     QPDFObjectHandle::newInteger(0), QPDFObjectHandle::newInteger(0),
                                     QPDFObjectHandle::newReal(Num(spec.sheetWidth)),
                                     QPDFObjectHandle::newReal(Num(spec.sheetHeight))}));
    page.replaceKey("/Resources", resources);
    page.replaceKey("/Contents", pdf.newStream(content));
    return QPDFPageObjectHelper(pdf.makeIndirectObject(page));
}

// Lays the text layer's page over `page` in render mode 3. The page's own drawing is wrapped
// in q/Q first, so whatever state it leaves behind cannot move or hide the text layer.
void LayTextOver(QPDF& pdf, QPDFPageObjectHelper& page, QPDFObjectHandle form, const Matrix& matrix) {
    QPDFObjectHandle resources = page.getAttribute("/Resources", true);
    if (!resources.isDictionary()) {
        resources = QPDFObjectHandle::newDictionary();
        page.getObjectHandle().replaceKey("/Resources", resources);
    }
    QPDFObjectHandle xobjects = resources.getKey("/XObject");
    xobjects = xobjects.isDictionary() ? xobjects.shallowCopy() : QPDFObjectHandle::newDictionary();
    resources.replaceKey("/XObject", xobjects);
    int suffix = 0;
    const std::string name = resources.getUniqueResourceName("/KVOText", suffix);
    xobjects.replaceKey(name, form);
    page.addPageContents(pdf.newStream("q\n"), true);
    page.addPageContents(pdf.newStream("\nQ\nq " + MatrixText(matrix) + " cm 3 Tr " + name + " Do Q\n"), false);
}

// The code of a character in the standard Windows encoding (readers know its characters
// without a map of their own); nullopt for characters it lacks.
std::optional<unsigned char> WinAnsiCodeOf(char32_t c) {
    if ((c >= 0x20 && c <= 0x7E) || (c >= 0xA0 && c <= 0xFF)) return static_cast<unsigned char>(c);
    static const std::map<char32_t, unsigned char> kFromRow80 = {
        {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
        {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
        {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
        {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
        {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F}};
    const auto found = kFromRow80.find(c);
    return found == kFromRow80.end() ? std::nullopt : std::optional<unsigned char>(found->second);
}

// The fonts of the written runs, simple fonts named by the standard face Helvetica, so that no
// reader needs a font file for them: characters of the standard Windows encoding in one font of
// that encoding; any others, up to 224 a font, on the codes 32..255 of further fonts whose
// ToUnicode map gives each code its character back (one character a code, as every reader
// takes it). Each font carries its characters' advances, in whole thousandths of the size.
class RunFonts {
public:
    RunFonts(QPDF& pdf, const AdvanceOf& advanceOf) : pdf_(pdf), advanceOf_(advanceOf) {}

    // The font and code of a character, adding it on first use.
    std::pair<int, unsigned char> codeOf(char32_t c) {
        if (const std::optional<unsigned char> code = WinAnsiCodeOf(c)) {
            standard_[*code] = c;
            return {kStandardFont, *code};
        }
        auto found = codes_.find(c);
        if (found != codes_.end()) return found->second;
        if (fonts_.empty() || fonts_.back().size() == kCodesPerFont) fonts_.emplace_back();
        fonts_.back().push_back(c);
        const std::pair<int, unsigned char> code{static_cast<int>(fonts_.size()) - 1,
                                                 static_cast<unsigned char>(kFirstCode + fonts_.back().size() - 1)};
        codes_.emplace(c, code);
        return code;
    }

    static constexpr int kStandardFont = -1;

    // The resource name of `font` telling a box raised by `riseSteps` of kBoxRiseStep (noting
    // that this variant is used). The text layer's form has resources of its own: short names
    // cannot meet the page's.
    std::string nameOf(int font, int riseSteps) {
        if (riseSteps != 0) raised_.emplace(font, riseSteps);
        return NameOf(font, riseSteps);
    }

    // The font dictionaries, as resources; made once all runs are written.
    QPDFObjectHandle resources() {
        std::map<int, QPDFObjectHandle> plain;
        if (!standard_.empty()) plain[kStandardFont] = makeStandardFont();
        for (std::size_t f = 0; f < fonts_.size(); ++f) plain[static_cast<int>(f)] = makeFont(fonts_[f]);
        QPDFObjectHandle fonts = QPDFObjectHandle::newDictionary();
        for (const auto& [font, dictionary] : plain) fonts.replaceKey(NameOf(font, 0), dictionary);
        // One description per rise, shared by the fonts raised so much (it must be an indirect object).
        std::map<int, QPDFObjectHandle> descriptors;
        for (const auto& [font, riseSteps] : raised_) {
            if (!descriptors.count(riseSteps)) descriptors[riseSteps] = pdf_.makeIndirectObject(RaisedDescriptor(riseSteps));
            QPDFObjectHandle variant = plain.at(font).shallowCopy();
            // Readers trust a description only of a face that is not one of the standard 14.
            variant.replaceKey("/BaseFont", QPDFObjectHandle::newName(kRaisedFaceName));
            variant.replaceKey("/FontDescriptor", descriptors[riseSteps]);
            fonts.replaceKey(NameOf(font, riseSteps), pdf_.makeIndirectObject(variant));
        }
        return fonts;
    }

private:
    static constexpr std::size_t kCodesPerFont = 224;
    static constexpr int kFirstCode = 32;

    static std::string NameOf(int font, int riseSteps) {
        std::string name = font == kStandardFont ? "/W" : "/F" + std::to_string(font);
        if (riseSteps != 0) name += (riseSteps > 0 ? "u" : "d") + std::to_string(std::abs(riseSteps));
        return name;
    }

    static constexpr const char* kRaisedFaceName = "/KVOText";

    // Helvetica's description but for its ascent and descent, both moved up by the rise and
    // kept on their sides of the baseline.
    static QPDFObjectHandle RaisedDescriptor(int riseSteps) {
        const double rise = riseSteps * kBoxRiseStep;
        const double ascent = std::max(0.001, kRunAscent + rise), descent = std::min(-0.001, rise - kRunDescent);
        return QPDFObjectHandle::parse("<< /Type /FontDescriptor /FontName " + std::string(kRaisedFaceName) +
                                       " /Flags 32 /FontBBox [-166 -225 1000 931] /ItalicAngle 0 /Ascent " +
                                       Num(ascent * 1000, 0) + " /Descent " + Num(descent * 1000, 0) +
                                       " /CapHeight 718 /StemV 88 >>");
    }

    static std::string Utf16Hex(char32_t c) {
        char text[16];
        if (c < 0x10000) std::snprintf(text, sizeof text, "<%04X>", static_cast<unsigned>(c));
        else
            std::snprintf(text, sizeof text, "<%04X%04X>", static_cast<unsigned>(0xD800 + ((c - 0x10000) >> 10)),
                          static_cast<unsigned>(0xDC00 + ((c - 0x10000) & 0x3FF)));
        return text;
    }

    QPDFObjectHandle makeStandardFont() {
        const int first = standard_.begin()->first, last = standard_.rbegin()->first;
        std::string widths = "[";
        for (int code = first; code <= last; ++code) {
            const auto used = standard_.find(static_cast<unsigned char>(code));
            widths += (used == standard_.end() ? "0" : Num(advanceOf_(used->second), 0)) + " ";
        }
        return pdf_.makeIndirectObject(QPDFObjectHandle::parse(
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding /FirstChar " +
            std::to_string(first) + " /LastChar " + std::to_string(last) + " /Widths " + widths + "] >>"));
    }

    QPDFObjectHandle makeFont(const std::vector<char32_t>& chars) {
        std::string differences = "[" + std::to_string(kFirstCode);
        std::string widths = "[";
        std::string cmap =
            "/CIDInit /ProcSet findresource begin 12 dict begin begincmap /CIDSystemInfo << /Registry (Adobe) "
            "/Ordering (UCS) /Supplement 0 >> def /CMapName /Adobe-Identity-UCS def /CMapType 2 def\n"
            "1 begincodespacerange <00> <FF> endcodespacerange\n";
        for (std::size_t i = 0; i < chars.size(); i += 100) {
            const std::size_t end = std::min(chars.size(), i + 100);
            cmap += std::to_string(end - i) + " beginbfchar\n";
            for (std::size_t k = i; k < end; ++k) {
                char code[8];
                std::snprintf(code, sizeof code, "<%02X> ", static_cast<unsigned>(kFirstCode + k));
                cmap += code + Utf16Hex(chars[k]) + "\n";
            }
            cmap += "endbfchar\n";
        }
        cmap += "endcmap CMapName currentdict /CMap defineresource pop end end\n";
        for (std::size_t k = 0; k < chars.size(); ++k) {
            differences += " /g" + std::to_string(k);
            widths += Num(advanceOf_(chars[k]), 0) + " ";
        }
        differences += "]";
        widths += "]";
        QPDFObjectHandle font = QPDFObjectHandle::parse(
            "<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /FirstChar " + std::to_string(kFirstCode) + " /LastChar " +
            std::to_string(kFirstCode + chars.size() - 1) + " /Widths " + widths + " /Encoding << /Type /Encoding /Differences " +
            differences + " >> >>");
        font.replaceKey("/ToUnicode", pdf_.newStream(cmap));
        return pdf_.makeIndirectObject(font);
    }

    QPDF& pdf_;
    const AdvanceOf& advanceOf_;
    std::map<unsigned char, char32_t> standard_;
    std::map<char32_t, std::pair<int, unsigned char>> codes_;
    std::vector<std::vector<char32_t>> fonts_;
    std::set<std::pair<int, int>> raised_;  // font and rise steps of each raised variant in use
};

// The content that writes the runs of a page whose shown height is `shownHeight`. The first run
// is placed by a text matrix, each later one by its distance from the one before (Td), which
// keeps the content small. Positions and sizes are written to a tenth of a point, far finer
// than any recognised box, and the horizontal scale, taken against the size as written, in whole
// percent: a word's length is then off by half a percent at most, a fraction of a letter.
std::string RunsContent(const std::vector<TextRun>& runs, double shownHeight, RunFonts& fonts) {
    const auto tenth = [](double value) { return std::round(value * 10) / 10; };
    std::string content = "BT 3 Tr\n";
    std::optional<std::pair<int, int>> face;  // the current font and its rise steps
    std::optional<double> size, scale, x, y;  // the current size, scale and run origin
    for (const TextRun& run : runs) {
        const double writtenSize = tenth(run.size);
        if (run.text.empty() || !(writtenSize > 0) || !(run.horizontalScale > 0)) continue;
        const double toX = tenth(run.left), toY = tenth(shownHeight - run.baseline);
        if (x) content += Num(toX - *x, 1) + " " + Num(toY - *y, 1) + " Td";
        else content += "1 0 0 1 " + Num(toX, 1) + " " + Num(toY, 1) + " Tm";
        x = toX;
        y = toY;
        const double writtenScale = std::round(run.horizontalScale * run.size / writtenSize * 100);
        if (scale != writtenScale) {
            content += " " + Num(writtenScale, 0) + " Tz";
            scale = writtenScale;
        }
        const int riseSteps = static_cast<int>(
            std::lround(std::clamp(run.boxRise / writtenSize, -kMostBoxRise, kMostBoxRise) / kBoxRiseStep));
        std::string codes;
        const auto flush = [&] {
            if (!codes.empty()) content += " <" + codes + "> Tj";
            codes.clear();
        };
        for (char32_t c : run.text) {
            const auto [charFont, code] = fonts.codeOf(c);
            if (face != std::pair{charFont, riseSteps} || size != writtenSize) {
                flush();
                content += " " + fonts.nameOf(charFont, riseSteps) + " " + Num(writtenSize, 1) + " Tf";
                face = {charFont, riseSteps};
                size = writtenSize;
            }
            char hex[4];
            std::snprintf(hex, sizeof hex, "%02X", static_cast<unsigned>(code));
            codes += hex;
        }
        flush();
        content += "\n";
    }
    return content + "ET\n";
}

}  // namespace

std::optional<std::vector<PageFrame>> ReadPageFrames(const std::string& pdfPath, std::string* error) {
    try {
        QPDF pdf;
        Open(pdf, pdfPath);
        std::vector<PageFrame> frames;
        for (QPDFPageObjectHelper& page : QPDFPageDocumentHelper(pdf).getAllPages()) frames.push_back(FrameOf(page));
        return frames;
    } catch (const std::exception& failure) {
        if (error) *error = failure.what();
        return std::nullopt;
    }
}

void WriteResultPdf(const std::vector<ResultPage>& pages, const std::string& sourcePdf, const AdvanceOf& advanceOf,
                    const PdfSink& sink) {
    try {
        bool keepsPages = false;
        for (const ResultPage& page : pages) keepsPages = keepsPages || page.sourcePage > 0;
        QPDF out;
        if (keepsPages) Open(out, sourcePdf);
        else out.emptyPDF();
        // The result's page tree is rebuilt in the listed order; everything else of the source
        // (outlines, forms, names, metadata) stays.
        QPDFPageDocumentHelper document(out);
        document.pushInheritedAttributesToPage();
        std::vector<QPDFPageObjectHelper> sourcePages = document.getAllPages();
        for (QPDFPageObjectHelper& page : sourcePages) document.removePage(page);
        std::vector<bool> placed(sourcePages.size(), false);
        RunFonts runFonts(out, advanceOf);
        std::vector<QPDFObjectHandle> runForms;

        for (std::size_t i = 0; i < pages.size(); ++i) {
            const ResultPage& spec = pages[i];
            const auto keptPage = [&] {
                const auto index = static_cast<std::size_t>(spec.sourcePage - 1);
                if (index >= sourcePages.size())
                    throw std::runtime_error("the attachment has no page " + std::to_string(spec.sourcePage));
                // A page listed twice is shown twice; the second gets its own page object.
                const bool again = placed[index];
                placed[index] = true;
                return again ? sourcePages[index].shallowCopyPage() : sourcePages[index];
            };
            QPDFPageObjectHelper page = spec.sourcePage > 0 ? keptPage() : NewPage(out, spec);
            // A kept page found lying on its side is shown upright: its rotation is the one
            // thing of it that changes.
            if (spec.sourcePage > 0 && FrameOf(page).rotate != NormalisedRotation(spec.rotate))
                page.getObjectHandle().replaceKey("/Rotate", QPDFObjectHandle::newInteger(NormalisedRotation(spec.rotate)));
            const Matrix matrix = spec.sourcePage > 0 ? ShownToUserSpace(spec.shownBox, spec.rotate) : Matrix{1, 0, 0, 1, 0, 0};
            document.addPage(page, false);
            if (!spec.runs.empty()) {
                const ShownSize shown = spec.sourcePage > 0 ? ShownSizeOf(spec.shownBox, spec.rotate)
                                                            : ShownSize{spec.sheetWidth, spec.sheetHeight};
                QPDFObjectHandle form = out.newStream(RunsContent(spec.runs, shown.height, runFonts));
                QPDFObjectHandle dict = form.getDict();
                dict.replaceKey("/Type", QPDFObjectHandle::newName("/XObject"));
                dict.replaceKey("/Subtype", QPDFObjectHandle::newName("/Form"));
                dict.replaceKey("/BBox", QPDFObjectHandle::parse("[0 0 " + Num(shown.width) + " " + Num(shown.height) + "]"));
                runForms.push_back(form);
                LayTextOver(out, page, form, matrix);
            }
        }
        // The fonts are complete once every run is written.
        if (!runForms.empty()) {
            QPDFObjectHandle resources = QPDFObjectHandle::newDictionary();
            resources.replaceKey("/Font", runFonts.resources());
            resources = out.makeIndirectObject(resources);
            for (QPDFObjectHandle& form : runForms) form.getDict().replaceKey("/Resources", resources);
        }

        // The text layer and the file's structure are packed as tightly as deflate can.
        Pl_Flate::setCompressionLevel(9);
        QPDFWriter writer(out);
        Pl_Function output("result", nullptr, [&sink](unsigned char const* data, size_t size) { sink(data, size); });
        writer.setOutputPipeline(&output);
        // Object streams pack the file's own structure; the objects themselves are unchanged.
        writer.setObjectStreamMode(qpdf_o_generate);
        writer.write();
    } catch (const std::runtime_error&) {
        throw;
    } catch (const std::exception& failure) {
        throw std::runtime_error(failure.what());
    }
}

}  // namespace kvo::pdf
