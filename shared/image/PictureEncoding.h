#pragma once
// Pictures encoded for a PDF page: in their own file's encoding where it allows, else at the
// least cost that keeps them faithful.
#include <optional>
#include <string>

#include "shared/image/EncodedPicture.h"
#include "shared/image/RasterImage.h"

namespace kvo::image {

// JPEG quality for continuous-tone pictures that must be encoded afresh.
inline constexpr int kPictureJpegQuality = 85;

// Frame `frameIndex` of a raster file, as a PDF shows it unchanged: a JPEG file's own data; a
// one-strip G3/G4 TIFF page's own CCITT data; any other picture with a colour map losslessly
// with its palette; otherwise as EncodeRaster does. nullopt when the frame cannot be read.
// A file's own data keeps the orientation its file asks for in `clockwise` and `mirrored`.
std::optional<EncodedPicture> EncodeFrame(const std::string& path, int frameIndex);

// A raster in memory: bilevel content as CCITT Group 4, grey and colour as JPEG at
// kPictureJpegQuality. Throws std::runtime_error when it cannot be encoded.
EncodedPicture EncodeRaster(const Raster& raster);

// The CCITT data of a G3 or G4 TIFF page as stored, with its orientation and resolution, when
// the page is one strip and not tiled; nullopt otherwise.
std::optional<EncodedPicture> StoredFaxData(const std::string& path, int frameIndex);

// The Orientation tag of a TIFF page (1 when it has none or cannot be read).
int TiffOrientation(const std::string& path, int frameIndex);

// A TIFF page decoded to 24-bit colour by the TIFF library itself, upright as far as a flip
// makes it so, transparent parts on white: for pages the general reader cannot decode (tiled
// pages, for one). nullopt when the library cannot either.
std::optional<Raster> TiffFrameThroughRgba(const std::string& path, int frameIndex);

}  // namespace kvo::image
