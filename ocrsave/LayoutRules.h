#pragma once
// The number and name rules of the layout document "KVOOCR.mdi.xml".
#include <optional>
#include <string>

#include "shared/platform/Numbers.h"

namespace kvo::ocrsave {

// An engine edge in layout units: edge x scale, rounded half to even, as decimal text.
std::string EdgeText(double pixels, double scale);

// The font size in layout units: size x scale in whole quarter points (halves to even), as the
// shortest decimal text: "10", "10.5", "10.25".
std::string FontSizeText(double points, double scale);

// The font class names; a code outside a table gives "".
std::string FaceStyleName(int code);
std::string FontFamilyName(int code);
std::string FontSerifName(int code);

}  // namespace kvo::ocrsave
