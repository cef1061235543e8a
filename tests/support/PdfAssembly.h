#pragma once
// Small real PDFs written by the tests, object by object.
#include <cstddef>
#include <string>
#include <vector>

namespace kvo::test {

// A PDF file of the given objects, numbered from 1 (object 1 must be the catalogue), with its
// cross-reference table. `afterHeader` goes right after the header line (comment lines, to pad
// the file); `trailerExtra` into the trailer dictionary (e.g. "/Info 4 0 R").
std::string AssemblePdf(const std::vector<std::string>& objects, const std::string& afterHeader = "",
                        const std::string& trailerExtra = "");

// A small PDF of one page whose content names one deflated stream of `inflatedBytes` blanks
// `times` times: a reader that inflates it all at once needs inflatedBytes * times of memory.
std::string InflationBombPdf(std::size_t inflatedBytes, int times);

}  // namespace kvo::test
