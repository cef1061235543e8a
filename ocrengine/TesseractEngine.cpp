// The one file that talks to Tesseract.
#include "ocrengine/TesseractEngine.h"

#include "shared/OcrLanguages.h"

#include "ocrengine/FontCodes.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <memory>
#include <sstream>

namespace kvo::ocr {

namespace {

void InitForLanguages(tesseract::TessBaseAPI& api, const std::string& languages) {
    const std::vector<std::string> parts = OcrLanguageParts(languages);
    std::string joined;
    std::vector<std::string> requested;  // without the parts "~xyz", which exclude a language
    for (const std::string& part : parts) {
        joined += (joined.empty() ? "" : "+") + part;
        if (part.front() != '~') requested.push_back(part);
    }
    if (requested.empty()) throw LanguageMissingError("no OCR language is named in \"" + languages + "\"");
    // Init fails only when the first language cannot be loaded; a later one that is missing
    // is merely left out, so the loaded list is checked as well.
    if (api.Init(nullptr, joined.c_str(), tesseract::OEM_DEFAULT) != 0)
        throw LanguageMissingError("OCR language \"" + requested.front() + "\" is not installed");
    std::vector<std::string> loaded;
    api.GetLoadedLanguagesAsVector(&loaded);
    for (const std::string& language : requested) {
        if (std::find(loaded.begin(), loaded.end(), language) == loaded.end())
            throw LanguageMissingError("OCR language \"" + language + "\" is not installed");
    }
}

// Tesseract takes raw 1-bit rows with 1 meaning white, the reverse of the raster's sense.
std::vector<std::uint8_t> InvertedBits(const image::Raster& bilevel) {
    std::vector<std::uint8_t> bits(bilevel.pixels.size());
    std::transform(bilevel.pixels.begin(), bilevel.pixels.end(), bits.begin(),
                   [](std::uint8_t byte) { return static_cast<std::uint8_t>(~byte); });
    return bits;
}

void SetPage(tesseract::TessBaseAPI& api, const image::Raster& page) {
    const int bytesPerLine = static_cast<int>(page.stride);
    switch (page.bitsPerPixel) {
    case 1: {
        std::vector<std::uint8_t> bits = InvertedBits(page);
        api.SetImage(bits.data(), page.width, page.height, 0, bytesPerLine);
        break;
    }
    case 8:
        api.SetImage(page.pixels.data(), page.width, page.height, 1, bytesPerLine);
        break;
    case 24:
        api.SetImage(page.pixels.data(), page.width, page.height, 3, bytesPerLine);
        break;
    default:
        throw EngineError("cannot recognise a page of " + std::to_string(page.bitsPerPixel) + " bits per pixel");
    }
    const int dpi = page.yDpi > 0 ? page.yDpi : page.xDpi;
    if (dpi > 0) api.SetSourceResolution(dpi);
}

Word WordAtIterator(const tesseract::ResultIterator& it, std::string text, int lineId, int resolution) {
    Word word;
    word.text = std::move(text);
    word.lineId = lineId;
    int left = 0, top = 0, right = 0, bottom = 0;
    it.BoundingBox(tesseract::RIL_WORD, &left, &top, &right, &bottom);
    word.rect = {static_cast<double>(top), static_cast<double>(left), static_cast<double>(bottom),
                 static_cast<double>(right)};
    // The line's baseline under the word; a word without one stands on its box's bottom edge.
    int x1 = left, y1 = bottom, x2 = right, y2 = bottom;
    if (!it.Baseline(tesseract::RIL_WORD, &x1, &y1, &x2, &y2)) x1 = left, y1 = bottom, x2 = right, y2 = bottom;
    word.baseStart = {static_cast<double>(x1), static_cast<double>(y1)};
    word.baseEnd = {static_cast<double>(x2), static_cast<double>(y2)};

    FontFacts facts;
    bool underlined = false, smallcaps = false;
    int roundedPoints = 0, fontId = 0;
    facts.known = it.WordFontAttributes(&facts.bold, &facts.italic, &underlined, &facts.monospace, &facts.serif,
                                        &smallcaps, &roundedPoints, &fontId) != nullptr;
    // The same measure as the rounded point size, kept in fractions of a point.
    float rowHeight = 0, descenders = 0, ascenders = 0;
    it.RowAttributes(&rowHeight, &descenders, &ascenders);
    const double points = resolution > 0 ? rowHeight * 72.0 / resolution : 0.0;
    word.font = FontCodesFor(facts, points);
    return word;
}

// The line the iterator is on: its letters' reach above and below the baseline. The engine
// gives the whole height (descenders negative) and the descenders.
TextLine LineAtIterator(const tesseract::ResultIterator& it, int block, int paragraph) {
    float rowHeight = 0, descenders = 0, ascenders = 0;
    it.RowAttributes(&rowHeight, &descenders, &ascenders);
    return {block, paragraph, std::max(0.0, static_cast<double>(rowHeight + descenders)),
            std::max(0.0, -static_cast<double>(descenders))};
}

}  // namespace

int UprightTurnOf(const image::Raster& page) {
    if (page.empty()) return 0;
    const double factor = static_cast<double>(kOrientationSampleSide) / std::max(page.width, page.height);
    image::Raster sample;
    try {
        sample = factor < 1 ? image::Reduced(page, factor) : page;
    } catch (const std::runtime_error&) {
        return 0;  // a page that cannot be looked at is recognised as it lies
    }
    tesseract::TessBaseAPI api;
    api.SetVariable("debug_file", "/dev/null");
    if (api.Init(nullptr, "osd", tesseract::OEM_TESSERACT_ONLY) != 0) return 0;
    api.SetPageSegMode(tesseract::PSM_OSD_ONLY);
    SetPage(api, sample);
    int degrees = 0;
    float confidence = 0, scriptConfidence = 0;
    const char* script = nullptr;
    if (!api.DetectOrientationScript(&degrees, &confidence, &script, &scriptConfidence)) return 0;
    if (!(confidence >= kLeastOrientationConfidence)) return 0;
    // The engine reports how far the page is turned clockwise; undoing it turns it back.
    return (360 - degrees % 360) % 360;
}

bool ReadsAsUpright(const PageLayout& page) {
    if (page.meanConfidence < kUprightConfidence) return false;
    int longWords = 0, standing = 0;
    for (const Word& word : page.words) {
        if (word.text.size() < 4) continue;
        ++longWords;
        if (word.rect.bottom - word.rect.top > word.rect.right - word.rect.left) ++standing;
    }
    return longWords >= 3 && 2 * standing < longWords;
}

PageLayout RecognizePage(const image::Raster& page, const std::string& languages) {
    if (page.empty()) throw EngineError("the page image is empty");
    tesseract::TessBaseAPI api;
    // The engine's own notes and warnings would go to standard error.
    api.SetVariable("debug_file", "/dev/null");
    InitForLanguages(api, languages);
    api.SetPageSegMode(tesseract::PSM_AUTO);
    SetPage(api, page);
    if (api.Recognize(nullptr) != 0) throw EngineError("recognition failed");

    PageLayout layout;
    layout.pixelWidth = page.width;
    layout.pixelHeight = page.height;
    layout.resolution = api.GetSourceYResolution();
    layout.meanConfidence = api.MeanTextConf();

    std::unique_ptr<tesseract::ResultIterator> it(api.GetIterator());
    if (!it) return layout;
    // Lines, paragraphs and blocks are counted as their first word with text comes.
    int block = -1, paragraph = -1;
    bool startsLine = false, startsParagraph = false, startsBlock = false;
    do {
        startsBlock = startsBlock || it->IsAtBeginningOf(tesseract::RIL_BLOCK);
        startsParagraph = startsParagraph || it->IsAtBeginningOf(tesseract::RIL_PARA);
        startsLine = startsLine || it->IsAtBeginningOf(tesseract::RIL_TEXTLINE);
        std::unique_ptr<char[]> text(it->GetUTF8Text(tesseract::RIL_WORD));
        if (!text || !*text.get()) continue;
        if (startsLine || layout.lines.empty()) {
            const bool first = layout.lines.empty();
            if (startsBlock || first) ++block;
            if (startsParagraph || startsBlock || first) ++paragraph;
            layout.lines.push_back(LineAtIterator(*it, block, paragraph));
            startsLine = startsParagraph = startsBlock = false;
        }
        const int lineId = static_cast<int>(layout.lines.size()) - 1;
        layout.words.push_back(WordAtIterator(*it, text.get(), lineId, layout.resolution));
    } while (it->Next(tesseract::RIL_WORD));
    return layout;
}

}  // namespace kvo::ocr
