#include "ocrengine/EngineDocument.h"

#include "ocrengine/EngineFile.h"
#include "ocrengine/Straightening.h"
#include "ocrengine/TesseractEngine.h"
#include "shared/image/RasterImage.h"

#include <cmath>

namespace kvo::ocr {

namespace {

// Recognises the page straightened when it is skewed enough for the engine to lose words, and
// gives the boxes of the page as it lies.
PageLayout RecognizeLevelled(const image::Raster& page, const std::string& languages) {
    const std::optional<double> skew = image::SkewOf(page);
    if (!skew || std::fabs(*skew) < kLeastSkewStraightened) return RecognizePage(page, languages);
    const image::Raster straight = image::Rotated(page, -*skew);
    return MappedBack(RecognizePage(straight, languages), *skew, page.width, page.height);
}

}  // namespace


std::string LayoutTextOf(const std::vector<Word>& words, const std::vector<TextLine>& lines) {
    auto paragraphOf = [&](int lineId) {
        return lineId >= 0 && static_cast<std::size_t>(lineId) < lines.size() ? lines[lineId].paragraph : lineId;
    };
    std::string text;
    for (std::size_t i = 0; i < words.size(); ++i) {
        text += words[i].text;
        const bool last = i + 1 == words.size();
        if (!last && words[i + 1].lineId == words[i].lineId) {
            text += ' ';
            continue;
        }
        text += '\n';
        if (last || paragraphOf(words[i + 1].lineId) != paragraphOf(words[i].lineId)) text += '\n';
    }
    return text;
}

struct EngineDocument::Impl {
    // Opened from a raster image: the file, and its first frame once read.
    std::unique_ptr<image::RasterFile> raster;
    std::optional<image::Raster> firstFrame;
    // The recognition result, from an engine document file or from OCR.
    std::optional<EngineFile> result;

    bool open() const { return raster || result; }

    const PageLayout& Page() const {
        if (!result) throw EngineError("the document carries no recognition result");
        return result->page;
    }
    const std::vector<Word>& Words() const {
        const PageLayout& page = Page();
        if (result->wordListError) throw EngineError("the word list cannot be read: " + *result->wordListError);
        return page.words;
    }
};

EngineDocument::EngineDocument() : impl_(std::make_unique<Impl>()) {}
EngineDocument::~EngineDocument() = default;

void EngineDocument::Create(const std::string& path) {
    Close();
    if (LooksLikeEngineFile(path)) {
        impl_->result = ReadEngineFile(path);
        return;
    }
    auto raster = std::make_unique<image::RasterFile>(path);
    std::optional<image::Raster> frame = raster->frameCount() > 0 ? raster->frame(0) : std::nullopt;
    if (!frame || frame->empty()) throw EngineError("cannot open " + path + " as an engine document or an image");
    impl_->raster = std::move(raster);
    impl_->firstFrame = std::move(frame);
}

void EngineDocument::OCR(const std::string& languages) {
    if (!impl_->firstFrame) throw EngineError("no page image to recognise");
    // The least depth that keeps every pixel: a bilevel page is passed on as such and the
    // engine need not threshold it again. The reduced copy replaces the frame.
    impl_->firstFrame = image::ReduceLossless(*impl_->firstFrame);
    PageLayout page = RecognizeLevelled(*impl_->firstFrame, languages);
    if (!ReadsAsUpright(page)) {
        if (const int turn = UprightTurnOf(*impl_->firstFrame); turn != 0) {
            impl_->firstFrame = image::Turned(*impl_->firstFrame, turn);
            page = RecognizeLevelled(*impl_->firstFrame, languages);
            page.turn = turn;
        }
    }
    impl_->result = EngineFile{std::move(page), std::nullopt};
}

std::optional<long> EngineDocument::NumberOfLines() const {
    if (!impl_->open()) throw EngineError("no document is open");
    if (!impl_->result) return std::nullopt;
    return static_cast<long>(impl_->result->page.lines.size());
}

int EngineDocument::PixelWidth() const {
    if (impl_->firstFrame) return impl_->firstFrame->width;
    if (impl_->result && impl_->result->page.pixelWidth > 0) return impl_->result->page.pixelWidth;
    throw EngineError("the image width is not known");
}

int EngineDocument::PixelHeight() const {
    if (impl_->firstFrame) return impl_->firstFrame->height;
    if (impl_->result && impl_->result->page.pixelHeight > 0) return impl_->result->page.pixelHeight;
    throw EngineError("the image height is not known");
}

int EngineDocument::Turn() const { return impl_->result ? impl_->result->page.turn : 0; }

int EngineDocument::WordCount() const { return static_cast<int>(impl_->Words().size()); }

const Word& EngineDocument::WordAt(int index) const {
    const std::vector<Word>& words = impl_->Words();
    if (index < 0 || static_cast<std::size_t>(index) >= words.size())
        throw EngineError("no word " + std::to_string(index));
    return words[index];
}

const TextLine& EngineDocument::LineAt(int lineId) const {
    const std::vector<TextLine>& lines = impl_->Page().lines;
    if (lineId < 0 || static_cast<std::size_t>(lineId) >= lines.size())
        throw EngineError("no line " + std::to_string(lineId));
    return lines[lineId];
}

std::string EngineDocument::LayoutText() const { return LayoutTextOf(impl_->Words(), impl_->Page().lines); }

void EngineDocument::SaveAs(const std::string& path, int fileFormat, int /*compressionLevel*/) {
    if (fileFormat == kFileFormatEngineDocument) {
        WriteEngineFile(impl_->Page(), path);
        return;
    }
    if (fileFormat != kFileFormatTiff) throw EngineError("file format " + std::to_string(fileFormat) + " is not supported");
    if (!impl_->raster) throw EngineError("the document holds no page images");
    std::vector<image::Raster> frames;
    for (int index = 0; index < impl_->raster->frameCount(); ++index) {
        std::optional<image::Raster> frame = impl_->raster->frame(index);
        if (!frame) throw EngineError("page image " + std::to_string(index) + " cannot be read");
        frames.push_back(std::move(*frame));
    }
    try {
        image::WriteMultiPageTiff(frames, path);
    } catch (const std::exception& error) {
        throw EngineError(error.what());
    }
}

void EngineDocument::Close(bool /*saveChanges*/) {
    impl_->raster.reset();
    impl_->firstFrame.reset();
    impl_->result.reset();
}

}  // namespace kvo::ocr
