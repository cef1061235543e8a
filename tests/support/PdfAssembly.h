#pragma once
// Small real PDFs written by the tests, object by object.
#include <string>
#include <vector>

namespace kvo::test {

// A PDF file of the given objects, numbered from 1 (object 1 must be the catalogue), with its
// cross-reference table. `afterHeader` goes right after the header line (comment lines, to pad
// the file); `trailerExtra` into the trailer dictionary (e.g. "/Info 4 0 R").
std::string AssemblePdf(const std::vector<std::string>& objects, const std::string& afterHeader = "",
                        const std::string& trailerExtra = "");

}  // namespace kvo::test
