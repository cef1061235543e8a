#pragma once
// One raster image file, frame by frame: load, select the active frame (page), read its size
// and hand its pixels out, upright as the file asks and with square pixels. Library failures never throw: every call records a status of the
// GDI+ numbering in CurErr, tells an Error listener and returns the status.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "shared/image/RasterImage.h"

namespace kvo {

// The GDI+ status numbers this class reports.
enum GdiStatus : std::int32_t {
    GdiOk = 0,
    GdiGenericError = 1,
    GdiInvalidParameter = 2,
    GdiOutOfMemory = 3,
    GdiFileNotFound = 10,
    GdiUnknownImageFormat = 13,
};

// The fixed English text of a status; "Unknown GDI+ Error" for 0 and anything unnumbered.
std::string GdiErrorString(std::int32_t lError);

// The pixels of one frame, shared so that handing them out copies nothing.
using StdPicture = std::shared_ptr<const image::Raster>;

class cBitmap {
public:
    // Called with every failing status and its text; nobody has to listen.
    using ErrorListener = std::function<void(std::int32_t lGdiError, const std::string& sErrorDesc)>;

    cBitmap() = default;
    ~cBitmap() { Dispose(); }
    cBitmap(const cBitmap&) = delete;
    cBitmap& operator=(const cBitmap&) = delete;

    void OnError(ErrorListener listener) { error_ = std::move(listener); }

    // Opens the file (its name resolved without regard to case) and reads the size of its first
    // frame. Returns the status of the load: 0, GdiFileNotFound or GdiUnknownImageFormat.
    std::int32_t LoadFromFile(const std::string& sFileName);

    // Makes frame lFrame (zero-based) the active one, then refreshes FrameCount and the size.
    // Returns (and leaves in CurErr) the selection's status; a size that cannot be read is
    // recorded over it. lIsGIF picks the time dimension of an animation; here both dimensions
    // are the file's frames.
    std::int32_t SelectActiveFrame(int lFrame, bool lIsGIF);

    int FrameCount() const { return frameCount_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    std::int32_t CurErr() const { return curErr_; }

    // The active frame's pixels; null when no image is held or the frame cannot be decoded
    // (the latter tells the Error listener without changing CurErr).
    StdPicture Picture();

    // Releases the image; a second call does nothing.
    void Dispose();

private:
    std::int32_t Record(std::int32_t status);
    void Notify(std::int32_t status) const;
    // Decodes frame `index` into activeFrame_; the status of the decode.
    std::int32_t DecodeFrame(int index);
    // Width and Height from the active frame; a status when there is none.
    std::int32_t ReadDimensions();

    std::unique_ptr<image::RasterFile> file_;
    int activeIndex_ = 0;
    StdPicture activeFrame_;  // decoded lazily, kept while the frame stays active
    std::int32_t curErr_ = GdiOk;
    int frameCount_ = 0;
    int width_ = 0;
    int height_ = 0;
    ErrorListener error_;
};

}  // namespace kvo
