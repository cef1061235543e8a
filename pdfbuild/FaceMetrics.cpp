#include "pdfbuild/FaceMetrics.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <fontconfig/fontconfig.h>

#include <map>
#include <tuple>

#include "shared/platform/Text.h"

namespace kvo::pdfbuild {

namespace {

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
        if (EqualsIgnoringCase(PatternString(named, FC_FAMILY), fontName)) return named;
        FcPatternDestroy(named);
    }
    return Match(StandInsFor(fontName), bold, italic);
}

}  // namespace

struct FaceMetrics::Impl {
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

    void check(const char* what) const {
        cairo_status_t status = cr ? cairo_status(cr) : cairo_surface_status(surface);
        if (status == CAIRO_STATUS_SUCCESS) status = cairo_surface_status(surface);
        if (status != CAIRO_STATUS_SUCCESS)
            throw EngineError(std::string(what) + ": " + cairo_status_to_string(status));
    }
};

FaceMetrics::FaceMetrics(ExportRoute route) : impl_(std::make_unique<Impl>()) {
    impl_->route = route;
    // Nothing is drawn: a recording surface only gives the context the faces are measured in.
    impl_->surface = cairo_recording_surface_create(CAIRO_CONTENT_ALPHA, nullptr);
    impl_->cr = cairo_create(impl_->surface);
    impl_->check("cannot measure text");
}

FaceMetrics::~FaceMetrics() = default;

double FaceMetrics::advanceOf(char32_t c, const FontSettings& font) {
    impl_->selectFace(font);
    cairo_set_font_size(impl_->cr, 1000);
    cairo_text_extents_t extents;
    cairo_text_extents(impl_->cr, Utf8Of(c).c_str(), &extents);
    return extents.x_advance;
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
