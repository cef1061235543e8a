#pragma once
// Small real PDFs made by the tests.
#include <cstddef>
#include <string>
#include <vector>

namespace kvo::test {

// A PDF with one page per entry: the page is that many points wide and 100 points high and
// draws a few bars, without text, as a scan does. With exactSize, comment lines after the
// header bring the file to exactly that many bytes (it must be larger than the file without them).
std::string MakePdf(const std::vector<int>& pageWidths, std::size_t exactSize = 0);

}  // namespace kvo::test
