#include "imagesplit/cBitmap.h"

#include "shared/platform/FileSearch.h"

namespace kvo {

std::string GdiErrorString(std::int32_t lError) {
    static const char* const kTexts[] = {
        "Generic Error",         "Invalid Parameter",          "Out Of Memory",
        "Object Busy",           "Insufficient Buffer",        "Not Implemented",
        "Win32 Error",           "Wrong State",                "Aborted",
        "File Not Found",        "Value Overflow",             "Access Denied",
        "Unknown Image Format",  "FontFamily Not Found",       "FontStyle Not Found",
        "Not TrueType Font",     "Unsupported Gdiplus Version", "Gdiplus Not Initialized",
        "Property Not Found",    "Property Not Supported",
    };
    constexpr std::int32_t kCount = sizeof kTexts / sizeof kTexts[0];
    return lError >= 1 && lError <= kCount ? kTexts[lError - 1] : "Unknown GDI+ Error";
}

std::int32_t cBitmap::Record(std::int32_t status) {
    curErr_ = status;
    if (status != GdiOk) Notify(status);
    return status;
}

void cBitmap::Notify(std::int32_t status) const {
    if (error_) error_(status, GdiErrorString(status));
}

std::int32_t cBitmap::LoadFromFile(const std::string& sFileName) {
    Dispose();
    std::int32_t status = GdiOk;
    if (auto resolved = ResolveFile(sFileName); !resolved) {
        status = GdiFileNotFound;
    } else {
        file_ = std::make_unique<image::RasterFile>(*resolved);
        if (file_->frameCount() < 1) {
            file_.reset();
            status = GdiUnknownImageFormat;
        }
    }
    Record(status);
    Record(ReadDimensions());
    return status;
}

std::int32_t cBitmap::SelectActiveFrame(int lFrame, bool /*lIsGIF*/) {
    // Pages of a TIFF and the frames of an animated GIF are both the file's frames here.
    std::int32_t status = GdiInvalidParameter;
    if (file_ && lFrame >= 0 && lFrame < file_->frameCount()) {
        if (lFrame != activeIndex_) activeFrame_.reset();
        activeIndex_ = lFrame;
        status = GdiOk;
    }
    Record(status);
    if (file_) frameCount_ = file_->frameCount();
    // CurErr keeps the selection's status unless reading the size fails as well.
    if (const std::int32_t sizeStatus = ReadDimensions(); sizeStatus != GdiOk) Record(sizeStatus);
    return status;
}

std::int32_t cBitmap::DecodeFrame(int index) {
    auto frame = file_->frame(index);
    if (!frame || frame->empty()) return GdiGenericError;
    // Recognition wants square pixels: a fax page of 204 x 98 dpi is given with its rows
    // scaled to the paper's shape.
    try {
        activeFrame_ = std::make_shared<const image::Raster>(image::WithSquarePixels(*frame));
    } catch (const std::exception&) {
        return GdiOutOfMemory;
    }
    return GdiOk;
}

std::int32_t cBitmap::ReadDimensions() {
    width_ = height_ = 0;
    if (!file_) return GdiInvalidParameter;
    if (!activeFrame_) {
        if (const std::int32_t status = DecodeFrame(activeIndex_); status != GdiOk) return status;
    }
    width_ = activeFrame_->width;
    height_ = activeFrame_->height;
    return GdiOk;
}

StdPicture cBitmap::Picture() {
    if (!file_) return nullptr;
    if (!activeFrame_) {
        if (const std::int32_t status = DecodeFrame(activeIndex_); status != GdiOk) Notify(status);
    }
    return activeFrame_;
}

void cBitmap::Dispose() {
    file_.reset();
    activeFrame_.reset();
    activeIndex_ = 0;
}

}  // namespace kvo
