#pragma once
// Measuring text: the one place that knows cairo, fontconfig and FreeType.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "pdfbuild/DocumentEngine.h"
#include "pdfbuild/PageDocument.h"

namespace kvo::pdfbuild {

// The widths of the faces the invisible text is measured by.
class FaceMetrics {
public:
    // Faces mapped from their names by fontconfig, or cairo's own face for the plainer route.
    explicit FaceMetrics(ExportRoute route);
    ~FaceMetrics();
    FaceMetrics(const FaceMetrics&) = delete;
    FaceMetrics& operator=(const FaceMetrics&) = delete;

    // A character's advance in the face `font` maps to, in thousandths of the size.
    double advanceOf(char32_t c, const FontSettings& font);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The installed face a font name resolves to, as "family style (file)", for reports and tests.
std::string InstalledFaceOf(const std::string& fontName, bool bold, bool italic);

}  // namespace kvo::pdfbuild
