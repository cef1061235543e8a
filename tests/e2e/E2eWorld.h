#pragma once
// A complete installation for one test: every program in an application folder, a private work
// folder, console.ini and ZRT.ini naming an embedded host database, and a documents folder whose
// attachments are copies of the corpus or pages rendered from it by Ghostscript.
#include <map>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

#include "support/PdfTools.h"
#include "support/TestSupport.h"

namespace kvo::test {

struct HostRow {
    std::string type;
    std::optional<std::string> filePath;
    std::optional<int> processed;  // queue rows only
};

class E2eWorld {
public:
    explicit E2eWorld(const std::string& label);

    // An attachment copied from the corpus.
    fs::path copyDocument(const std::string& relative, const std::string& corpusName) const;
    // A multi-page CCITT G4 TIFF (300 dpi unless told), one page per page of the corpus PDFs named.
    fs::path makeG4Tiff(const std::string& relative, const std::vector<std::string>& corpusPdfs, int dpi = 300) const;
    // A scanned PDF whose pages are a corpus PDF's, shrunk onto pages of the given size in points.
    fs::path makeSmallScannedPdf(const std::string& relative, const std::string& corpusPdf, int widthPoints,
                                 int heightPoints) const;
    // One PDF of the pages of the corpus PDFs named, in order (each keeps its text, or has none).
    fs::path makeJoinedPdf(const std::string& relative, const std::vector<std::string>& corpusPdfs) const;
    // A JPEG of a corpus PDF's first page.
    fs::path makeJpeg(const std::string& relative, const std::string& corpusPdf) const;
    fs::path docPath(const std::string& relative) const { return docs / relative; }

    void addAttachment(const std::string& table, int id, const std::string& type, const fs::path& path) const;
    // Rows of DASearchable (with Processed) or of a host table.
    std::map<int, HostRow> rows(const std::string& table = "DASearchable") const;

    // Runs `KVOProcess --once` without a display; gives its exit status, with its standard
    // error kept in stderrText.
    int runOnce(std::string* stderrText = nullptr) const;
    // Starts `KVOProcess --once` without a display and without waiting; its standard error goes
    // to `stderrFile`. Gives the process id (0 when it cannot start).
    pid_t startOnce(const fs::path& stderrFile) const;

    // Names left in the work folder.
    std::vector<std::string> tempFiles() const;

private:
    ScratchDir root_;

public:
    const fs::path app, temp, data, windows, docs;

private:
    EnvVar tempVar_, windirVar_, displayVar_, waylandVar_, threadVar_;
};

}  // namespace kvo::test
