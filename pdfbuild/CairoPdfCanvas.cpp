#include "pdfbuild/CairoPdfCanvas.h"

#include <bit>
#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <strings.h>
#include <map>
#include <tuple>

namespace kvo::pdfbuild {

namespace {

// Font sizes a word processor accepts; anything outside is taken as the nearest of them.
constexpr double kSmallestFontSize = 1;
constexpr double kLargestFontSize = 1638;
// PDF's implementation limit for a page's size, in points.
constexpr double kFarthestPoint = 14400;

// Free faces standing in for a font name that is not installed, best first. Their widths are
// those of the named faces (Arial and Helvetica share theirs, as do Times New Roman and Times;
// Lucida Console is monospaced like Courier). URW's faces come first: their compact outlines
// keep the embedded subsets of the invisible text small. Liberation's are next.
std::vector<std::string> StandInsFor(const std::string& fontName) {
    if (fontName == "Arial") return {"Nimbus Sans", "Liberation Sans", "sans-serif"};
    if (fontName == "Times New Roman") return {"Nimbus Roman", "Liberation Serif", "serif"};
    if (fontName == "Lucida Console") return {"Nimbus Mono PS", "Liberation Mono", "monospace"};
    if (fontName == "Century") return {"C059", "Century Schoolbook", "serif"};
    return {"sans-serif"};
}

FcPattern* Match(const std::vector<std::string>& families, bool bold, bool italic) {
    FcPattern* pattern = FcPatternCreate();
    for (const std::string& family : families)
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(family.c_str()));
    FcPatternAddInteger(pattern, FC_WEIGHT, bold ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
    FcPatternAddInteger(pattern, FC_SLANT, italic ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result = FcResultNoMatch;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    return match;
}

std::string PatternString(FcPattern* pattern, const char* object) {
    FcChar8* value = nullptr;
    if (FcPatternGetString(pattern, object, 0, &value) != FcResultMatch || !value) return "";
    return reinterpret_cast<const char*>(value);
}

// The matched fontconfig pattern for a font: the named face when it is installed, else its
// stand-in. The caller destroys it; nullptr when there is none.
FcPattern* MatchFace(const std::string& fontName, bool bold, bool italic) {
    if (FcPattern* named = Match({fontName}, bold, italic)) {
        if (strcasecmp(PatternString(named, FC_FAMILY).c_str(), fontName.c_str()) == 0) return named;
        FcPatternDestroy(named);
    }
    return Match(StandInsFor(fontName), bold, italic);
}

// The text with every byte sequence that is not UTF-8 replaced by U+FFFD: cairo refuses the
// whole string otherwise.
std::string ValidUtf8(const std::string& text) {
    std::string clean;
    clean.reserve(text.size());
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t i = 0, n = text.size();
    while (i < n) {
        unsigned char lead = bytes[i];
        int length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        bool ok = length > 0 && i + length <= n;
        for (int k = 1; ok && k < length; ++k) ok = (bytes[i + k] & 0xC0) == 0x80;
        if (ok && length > 1) {
            std::uint32_t code = lead & (0x7F >> length);
            for (int k = 1; k < length; ++k) code = (code << 6) | (bytes[i + k] & 0x3F);
            static constexpr std::uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
            ok = code >= kLeast[length] && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
        }
        if (ok) clean.append(text, i, length), i += length;
        else clean += "\xEF\xBF\xBD", ++i;
    }
    return clean;
}

cairo_status_t WriteToSink(void* closure, const unsigned char* data, unsigned int length) {
    try {
        (*static_cast<PdfSink*>(closure))(data, length);
        return CAIRO_STATUS_SUCCESS;
    } catch (...) {
        return CAIRO_STATUS_WRITE_ERROR;
    }
}

unsigned char ReverseBits(unsigned char byte) {
    byte = static_cast<unsigned char>((byte & 0xF0) >> 4 | (byte & 0x0F) << 4);
    byte = static_cast<unsigned char>((byte & 0xCC) >> 2 | (byte & 0x33) << 2);
    return static_cast<unsigned char>((byte & 0xAA) >> 1 | (byte & 0x55) << 1);
}

struct SurfaceDeleter {
    void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, SurfaceDeleter>;

}  // namespace

struct PdfCanvas::Impl {
    PdfSink sink;
    ExportRoute route;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
    std::map<std::tuple<std::string, bool, bool>, cairo_font_face_t*> faces;

    ~Impl() {
        if (cr) cairo_destroy(cr);
        if (surface) cairo_surface_destroy(surface);
        for (auto& [key, face] : faces) cairo_font_face_destroy(face);
    }

    void selectFace(const FontSettings& font) {
        const bool bold = font.bold.value_or(false), italic = font.italic.value_or(false);
        if (route == ExportRoute::BuiltInFace) {
            cairo_select_font_face(cr, "@cairo:sans-serif", italic ? CAIRO_FONT_SLANT_ITALIC : CAIRO_FONT_SLANT_NORMAL,
                                   bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
            return;
        }
        auto key = std::make_tuple(font.name, bold, italic);
        auto found = faces.find(key);
        if (found == faces.end()) {
            FcPattern* match = MatchFace(font.name, bold, italic);
            if (!match) throw EngineError("no installed face for " + font.name);
            cairo_font_face_t* face = cairo_ft_font_face_create_for_pattern(match);
            FcPatternDestroy(match);
            found = faces.emplace(key, face).first;
        }
        cairo_set_font_face(cr, found->second);
    }

    void paintSurface(cairo_surface_t* picture, int pixelWidth, int pixelHeight, const PlacedRect& where) {
        if (pixelWidth <= 0 || pixelHeight <= 0 || where.width <= 0 || where.height <= 0) return;
        cairo_save(cr);
        cairo_translate(cr, where.left, where.top);
        cairo_scale(cr, where.width / pixelWidth, where.height / pixelHeight);
        cairo_set_source_surface(cr, picture, 0, 0);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    void check(const char* what) const {
        cairo_status_t status = cr ? cairo_status(cr) : cairo_surface_status(surface);
        if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
        if (status != CAIRO_STATUS_SUCCESS)
            throw EngineError(std::string(what) + ": " + cairo_status_to_string(status));
    }
};

PdfCanvas::PdfCanvas(PdfSink sink, ExportRoute route) : impl_(std::make_unique<Impl>()) {
    impl_->sink = std::move(sink);
    impl_->route = route;
    // The first page's size is set in beginPage.
    impl_->surface = cairo_pdf_surface_create_for_stream(WriteToSink, &impl_->sink, 595.3, 841.9);
    cairo_pdf_surface_set_metadata(impl_->surface, CAIRO_PDF_METADATA_CREATOR, "KVOOCRWrd");
    impl_->check("cannot start the PDF");
}

PdfCanvas::~PdfCanvas() = default;

void PdfCanvas::beginPage(const SheetSize& sheet) {
    cairo_pdf_surface_set_size(impl_->surface, sheet.width, sheet.height);
    impl_->cr = cairo_create(impl_->surface);
    impl_->check("cannot start a page");
}

void PdfCanvas::drawTextBox(const TextBoxShape& box) {
    cairo_t* cr = impl_->cr;
    const std::string text = ValidUtf8(box.text);
    // A box beyond the largest page PDF allows shows nowhere; drawing it would only put the
    // drawing library into an error state that loses the whole document.
    if (text.empty() || !(std::fabs(box.left) <= kFarthestPoint && std::fabs(box.top) <= kFarthestPoint)) return;
    impl_->selectFace(box.font);
    const double size = std::clamp(std::isfinite(box.font.size) ? box.font.size : 0, kSmallestFontSize, kLargestFontSize);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t extents;
    cairo_text_extents(cr, text.c_str(), &extents);
    const double narrowing = NarrowingOf(extents.x_advance, box.width - box.marginLeft - box.marginRight);
    if (narrowing < 1) {
        cairo_matrix_t narrowed;
        cairo_matrix_init_scale(&narrowed, size * narrowing, size);
        cairo_set_font_matrix(cr, &narrowed);
    }
    cairo_font_extents_t font;
    cairo_font_extents(cr, &font);
    const std::uint32_t colour = box.font.colour;
    cairo_set_source_rgb(cr, ((colour >> 16) & 0xFF) / 255.0, ((colour >> 8) & 0xFF) / 255.0, (colour & 0xFF) / 255.0);
    cairo_move_to(cr, box.left + box.marginLeft, box.top + box.marginTop + font.ascent);
    cairo_show_text(cr, text.c_str());
    impl_->check("cannot draw text");
}

void PdfCanvas::drawBilevel(const image::Raster& bits, const std::vector<std::uint8_t>& g4, const PlacedRect& where) {
    SurfacePtr picture(cairo_image_surface_create(CAIRO_FORMAT_A1, bits.width, bits.height));
    cairo_surface_flush(picture.get());
    unsigned char* data = cairo_image_surface_get_data(picture.get());
    if (!data) throw EngineError("cannot hold a picture of " + std::to_string(bits.width) + " x " + std::to_string(bits.height));
    const int stride = cairo_image_surface_get_stride(picture.get());
    const std::size_t rowBytes = (static_cast<std::size_t>(bits.width) + 7) / 8;
    // Both keep 1 for black (opaque); cairo packs the first pixel into the lowest bit of each
    // 32-bit word, which on a little-endian machine is the lowest bit of each byte.
    for (int y = 0; y < bits.height; ++y) {
        const std::uint8_t* from = bits.pixels.data() + y * bits.stride;
        unsigned char* to = data + static_cast<std::size_t>(y) * stride;
        if constexpr (std::endian::native == std::endian::little)
            for (std::size_t x = 0; x < rowBytes; ++x) to[x] = ReverseBits(from[x]);
        else
            std::memcpy(to, from, rowBytes);
    }
    cairo_surface_mark_dirty(picture.get());
    auto* fax = new std::vector<std::uint8_t>(g4);
    cairo_surface_set_mime_data(picture.get(), CAIRO_MIME_TYPE_CCITT_FAX, fax->data(), fax->size(),
                                [](void* owned) { delete static_cast<std::vector<std::uint8_t>*>(owned); }, fax);
    auto* params = new std::string("Columns=" + std::to_string(bits.width) + " Rows=" + std::to_string(bits.height) +
                                   " K=-1 BlackIs1=false");
    cairo_surface_set_mime_data(picture.get(), CAIRO_MIME_TYPE_CCITT_FAX_PARAMS,
                                reinterpret_cast<const unsigned char*>(params->data()), params->size(),
                                [](void* owned) { delete static_cast<std::string*>(owned); }, params);
    impl_->paintSurface(picture.get(), bits.width, bits.height, where);
    impl_->check("cannot draw a picture");
}

void PdfCanvas::drawPixels(const image::Raster& raster, const PlacedRect& where) {
    SurfacePtr picture(cairo_image_surface_create(CAIRO_FORMAT_RGB24, raster.width, raster.height));
    cairo_surface_flush(picture.get());
    unsigned char* data = cairo_image_surface_get_data(picture.get());
    if (!data) throw EngineError("cannot hold a picture of " + std::to_string(raster.width) + " x " + std::to_string(raster.height));
    const int stride = cairo_image_surface_get_stride(picture.get());
    // cairo finds out itself that a picture is grey and then embeds 8 bits per pixel.
    for (int y = 0; y < raster.height; ++y) {
        const std::uint8_t* from = raster.pixels.data() + y * raster.stride;
        auto* to = reinterpret_cast<std::uint32_t*>(data + static_cast<std::size_t>(y) * stride);
        if (raster.bitsPerPixel == 8)
            for (int x = 0; x < raster.width; ++x) to[x] = 0x010101u * from[x];
        else
            for (int x = 0; x < raster.width; ++x)
                to[x] = std::uint32_t(from[3 * x]) << 16 | std::uint32_t(from[3 * x + 1]) << 8 | from[3 * x + 2];
    }
    cairo_surface_mark_dirty(picture.get());
    impl_->paintSurface(picture.get(), raster.width, raster.height, where);
    impl_->check("cannot draw a picture");
}

void PdfCanvas::endPage() {
    cairo_show_page(impl_->cr);
    impl_->check("cannot finish a page");
    cairo_destroy(impl_->cr);
    impl_->cr = nullptr;
}

void PdfCanvas::finish() {
    if (impl_->cr) endPage();
    cairo_surface_finish(impl_->surface);
    impl_->check("cannot complete the PDF");
}

std::string InstalledFaceOf(const std::string& fontName, bool bold, bool italic) {
    FcPattern* match = MatchFace(fontName, bold, italic);
    if (!match) return "";
    std::string face = PatternString(match, FC_FAMILY) + " " + PatternString(match, FC_STYLE) + " (" +
                       PatternString(match, FC_FILE) + ")";
    FcPatternDestroy(match);
    return face;
}

}  // namespace kvo::pdfbuild
