#pragma once
// KVOProcess --check: whether everything a cycle needs is in place, one line per check with the
// fix when it fails. Checking never changes the queue.
#include <string>
#include <vector>

namespace kvo::driver {

struct CheckLine {
    bool passed;
    std::string what;    // e.g. "configuration", "database"
    std::string detail;  // what was found, or what is wrong and how to fix it
};

// "ok    what: detail" or "FAIL  what: detail".
std::string CheckText(const CheckLine& line);

// The OCR languages of a console.ini [OCR] Languages value ("eng+deu", "~" parts excluded);
// "eng" when none is set.
std::vector<std::string> OcrLanguagesOf(const std::string& setting);

// Runs every check; the lines in order.
std::vector<CheckLine> RunChecks();

// The failing checks of what every row needs (Ghostscript, a work folder it may trust, each OCR
// language): a cycle that meets one ends at its start rather than failing its rows one by one.
std::vector<CheckLine> MissingSetUp(const std::string& consoleIni);

}  // namespace kvo::driver
