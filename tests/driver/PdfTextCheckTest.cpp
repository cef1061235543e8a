// The PDF text-layer check on real files, with the real poppler and Ghostscript.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <csignal>
#include <list>

#include "driver/PdfInspection.h"
#include "driver/PdfTextCheck.h"
#include "shared/pdftext/PdfText.h"
#include "driver/pdftext/PdfWriteCommand.h"
#include "driver/pdftext/ReplaceFile.h"
#include "LoopWorld.h"
#include "shared/AppTester.h"
#include "shared/platform/CommandLine.h"
#include "support/PdfAssembly.h"
#include "support/PdfTools.h"
#include "support/TestSupport.h"

namespace kvo::test {
namespace {

using driver::CutDownExtractedText;
using driver::IsPDFSearchable;

// The text form the check reads; "" for a file poppler cannot open.
std::string ExtractPdfText(const std::string& pdf) {
    const std::optional<pdftext::TextLayer> layer = pdftext::ReadTextLayer(pdf);
    return layer ? layer->extracted : "";
}

// A one-page PDF with the given information dictionary entries and page content stream.
std::string HandMadePdf(const std::string& info, const std::string& content) {
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 300 300] /Contents 5 0 R"
        " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>",
        "<< " + info + " >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    return AssemblePdf(objects, "", "/Info 4 0 R");
}

const std::string kAllInformation =
    "/Author (Pellmoor Clerk) /Creator (Scanner) /CreationDate (D:20200101120000+01'00')"
    " /ModDate (D:20200102120000+01'00') /Producer (Scan Producer 1.0) /Title (A title is not reported)";

// PostScript that Ghostscript turns into a PDF with text, but that poppler cannot open.
const std::string kPostScriptWithText =
    "%!PS\n/Helvetica findfont 24 scalefont setfont\n72 720 moveto (Rewritten Text) show\nshowpage\n";

// A PDF with text whose cross-reference table and trailer are lost: poppler cannot open it,
// Ghostscript repairs it and counts its pages.
std::string PdfWithoutTrailer(int pages) {
    const std::string content = "BT /F1 24 Tf 72 720 Td (Rewritten Text) Tj ET";
    std::string kids;
    for (int page = 0; page < pages; ++page) kids += std::to_string(4 + page) + " 0 R ";
    std::vector<std::string> objects = {
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [" + kids + "] /Count " + std::to_string(pages) + " >>",
        "<< /Length " + std::to_string(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    for (int page = 0; page < pages; ++page)
        objects.push_back("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 612 792] /Contents 3 0 R"
                          " /Resources << /Font << /F1 << /Type /Font /Subtype /Type1 /BaseFont /Helvetica >> >> >> >>");
    const std::string whole = AssemblePdf(objects);
    return whole.substr(0, whole.find("\nxref") + 1);
}

class PdfTextLayer : public ::testing::Test {
protected:
    // A copy of a corpus file in the test's own attachment folder.
    std::string attachment(const std::string& corpusName) {
        fs::copy_file(CorpusDir() / corpusName, attachments_ / corpusName);
        return (attachments_ / corpusName).string();
    }

    std::string attachment(const std::string& name, const std::string& content) {
        WriteFile(attachments_ / name, content);
        return (attachments_ / name).string();
    }

    bool rewriteFileLeft() const { return fs::exists(temp_ / "KVOPdfWrite.pdf"); }

    // The stand-in Ghostscript, registered, leaving `rewrite` and the report `report`, then
    // ending as `end` says (see gs_standin).
    void standInGhostscript(const fs::path& rewrite, const std::string& report, const std::string& end) {
        InstallProgram(HelperDir() / "gs_standin", standIn_.path(), "gs");
        registerGhostscript(standIn_.str());
        standInVars_.clear();
        standInVars_.emplace_back("GS_STANDIN_REWRITE", rewrite.string());
        standInVars_.emplace_back("GS_STANDIN_REPORT", report);
        standInVars_.emplace_back("GS_STANDIN_END", end);
    }

    // Ghostscript registered in the hive at the given folder.
    void registerGhostscript(const std::string& folder) {
        WriteFile(windows_ / "registry.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\GPL Ghostscript "
                  "Lite_is1]\r\n\"Inno Setup: App Path\"=\"" + folder + "\"\r\n");
    }

    ScratchDir attachments_{"kvo-attachments"};
    ScratchDir temp_{"kvo-temp"};
    ScratchDir windows_{"kvo-windir"};
    EnvVar tempVar_{"TEMP", temp_.str()};
    EnvVar windir_{"windir", windows_.str()};  // no hive: Ghostscript is the gs on PATH
    ScratchDir standIn_{"kvo-gs"};
    std::list<EnvVar> standInVars_;
};

TEST_F(PdfTextLayer, TheExtractorGivesTheInformationEntriesTheFileNameAndThePageText) {
    const std::string pdf = attachment("Letter.pdf", HandMadePdf(kAllInformation, "BT /F1 12 Tf 20 20 Td (Hello) Tj ET"));
    EXPECT_EQ(ExtractPdfText(pdf),
              "Author: \tPellmoor Clerk\tCreator: \tScanner\tCreationDate: \tD:20200101120000+01'00'\t"
              "ModDate: \tD:20200102120000+01'00'\tProducer: \tScan Producer 1.0\tFilename: Letter.pdf\nHello\n\f");
    EXPECT_EQ(ExtractPdfText((CorpusDir() / "invalid.pdf").string()), "");
    EXPECT_EQ(ExtractPdfText(attachment("Script.pdf", kPostScriptWithText)), "");
    EXPECT_EQ(ExtractPdfText((attachments_ / "absent.pdf").string()), "");
}

TEST_F(PdfTextLayer, APdfWithATextLayerIsSearchableAndUntouched) {
    const std::string pdf = attachment("graph_ocred.pdf");
    EXPECT_TRUE(IsPDFSearchable(pdf));
    EXPECT_EQ(ReadFile(pdf), ReadFile(CorpusDir() / "graph_ocred.pdf"));
    EXPECT_FALSE(rewriteFileLeft());

    const std::string word = attachment("Word.pdf", HandMadePdf(kAllInformation, "BT /F1 12 Tf 20 20 Td (Hello) Tj ET"));
    EXPECT_TRUE(IsPDFSearchable(word));
}

TEST_F(PdfTextLayer, AScanWithOnlyInformationEntriesIsNotSearchableAndGhostscriptIsNotStarted) {
    EXPECT_FALSE(IsPDFSearchable(attachment("ccitt.pdf")));
    EXPECT_FALSE(IsPDFSearchable(attachment("Info.PDF", HandMadePdf(kAllInformation, ""))));
    EXPECT_FALSE(IsPDFSearchable(attachment("trivial.pdf")));
    EXPECT_FALSE(rewriteFileLeft());
}

TEST_F(PdfTextLayer, APdfWithTextOnSomePagesOnlyIsNotSearchable) {
    const std::string word = attachment("Word.pdf", HandMadePdf(kAllInformation, "BT /F1 12 Tf 20 20 Td (Hello) Tj ET"));
    const std::string scan = attachment("ccitt.pdf");
    const std::string mixed = (attachments_ / "Filing with exhibit.pdf").string();
    CommandOutput("gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=" + ShellQuoted(mixed) + " " +
                  ShellQuoted(word) + " " + ShellQuoted(scan));
    ASSERT_EQ(PdfPageCount(mixed), 2);
    EXPECT_FALSE(IsPDFSearchable(mixed));
}

// The check runs in a process of its own: whatever becomes of it, the caller lives on and is told;
// a check past its time or memory bound is the document's fault.
TEST(TextCheckIsolation, ACrashAHangOrAStrayStatusIsReportedAndTheVerdictsPassThrough) {
    EXPECT_EQ(driver::CheckTextIsolated([] { return kExitTextMissing; }, {}, 30), driver::TextVerdict::Missing);
    EXPECT_EQ(driver::CheckTextIsolated([] { return kExitTextUnreadable; }, {}, 30), driver::TextVerdict::Unreadable);
    const struct {
        std::function<int()> check;
        const char* report;
        bool documentsFault;
    } faults[] = {
        {[] { raise(SIGSEGV); return 0; }, "ended by signal 11", false},
        {[]() -> int { throw std::runtime_error("poppler gave up"); }, "ended with status 1", false},
        {[] { SleepMs(20000); return 0; }, "did not finish within", true},
        {[] { return static_cast<int>(std::vector<char>(3ull << 30, 1).back()); }, "needed more than 1024 MB of memory",
         true},
    };
    for (const auto& fault : faults) {
        try {
            driver::CheckTextIsolated(fault.check, {}, 1);
            ADD_FAILURE() << fault.report;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find(fault.report), std::string::npos) << error.what();
            EXPECT_EQ(dynamic_cast<const driver::PdfBreaksLimit*>(&error) != nullptr, fault.documentsFault) << error.what();
        }
    }
}

TEST_F(PdfTextLayer, NothingExtractedAndNoGhostscriptCountsAsSearchable) {
    ScratchDir emptyPath;
    EnvVar path("PATH", emptyPath.str());
    EXPECT_TRUE(IsPDFSearchable(attachment("invalid.pdf")));
    EXPECT_FALSE(rewriteFileLeft());

    registerGhostscript("");
    EXPECT_TRUE(IsPDFSearchable(attachment("Script.pdf", kPostScriptWithText)));
    EXPECT_EQ(ReadFile(attachments_ / "Script.pdf"), kPostScriptWithText);
}

TEST_F(PdfTextLayer, ASoundRewriteWithTextReplacesTheAttachmentKeepingItsPermissions) {
    const std::string pdf = attachment("Brief von O'Brien \"neu\" é.pdf", PdfWithoutTrailer(2));
    ASSERT_EQ(ExtractPdfText(pdf), "");
    ASSERT_EQ(chmod(pdf.c_str(), 0640), 0);
    // Links planted where Ghostscript writes are not followed.
    ScratchDir elsewhere;
    fs::create_symlink(elsewhere / "planted.pdf", temp_ / "KVOPdfWrite.pdf");
    fs::create_symlink(elsewhere / "planted.log", temp_ / "KVOPdfWrite.log");
    int pumped = 0;
    std::string refused;
    EXPECT_TRUE(IsPDFSearchable(pdf, [&] { ++pumped; }, &refused));
    EXPECT_EQ(refused, "");
    EXPECT_GT(pumped, 0);

    EXPECT_NE(ExtractPdfText(pdf).find("Rewritten Text"), std::string::npos);
    EXPECT_EQ(PdfPageCount(pdf), 2);
    struct stat info {};
    ASSERT_EQ(stat(pdf.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    // Nothing else was left in the attachment's folder.
    EXPECT_EQ(std::distance(fs::directory_iterator(attachments_.path()), fs::directory_iterator()), 1);
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));
    // The rewrite, a copy of the client's document, is not kept in the work folder.
    EXPECT_FALSE(rewriteFileLeft());
    EXPECT_FALSE(fs::exists(temp_ / "KVOPdfWrite.log"));
}

// The attachment is replaced only by the rewrite of a Ghostscript that ended by itself with
// status 0 inside its limit, holding every page Ghostscript counted; otherwise it stays
// exactly as it was and the answer says why.
TEST_F(PdfTextLayer, AnUnsoundRewriteOrAPasswordNeverReplacesTheAttachment) {
    const fs::path goodRewrite = attachments_ / "rewrite.pdf";
    WriteFile(goodRewrite, HandMadePdf(kAllInformation, "BT /F1 12 Tf 20 20 Td (Hello) Tj ET"));
    const std::string oneOfOne = "Processing pages 1 through 1.\nPage 1\n";
    const struct {
        std::string report;
        std::string end;
        std::string refusal;
    } cases[] = {
        {oneOfOne, "exit 1", "Ghostscript ended with status 1"},
        {oneOfOne, "signal 9", "Ghostscript was ended by signal 9"},
        {"Processing pages 1 through 2.\nPage 1\n", "exit 0", "Ghostscript's rewrite has 1 pages of the 2 it counted"},
        {"   No pages will be processed (FirstPage > LastPage).\n", "exit 0", "Ghostscript counted no pages in it"},
    };
    const std::string pdf = attachment("Scan.pdf", PdfWithoutTrailer(1));
    for (const auto& c : cases) {
        standInGhostscript(goodRewrite, c.report, c.end);
        std::string refused;
        EXPECT_FALSE(IsPDFSearchable(pdf, {}, &refused)) << c.end;
        EXPECT_EQ(refused, c.refusal);
        EXPECT_EQ(ReadFile(pdf), PdfWithoutTrailer(1)) << c.refusal;
    }
    // The real Ghostscript counts no page in a file that is no PDF at all.
    fs::remove(windows_ / "registry.reg");
    std::string refused;
    const std::string invalid = attachment("invalid.pdf");
    EXPECT_FALSE(IsPDFSearchable(invalid, {}, &refused));
    EXPECT_EQ(refused, "Ghostscript counted no pages in it");
    EXPECT_EQ(ReadFile(invalid), ReadFile(CorpusDir() / "invalid.pdf"));

    // Nothing reads a PDF locked by a password: it is refused as such.
    const std::string locked = (attachments_ / "Locked.pdf").string();
    CommandOutput("gs -q -sDEVICE=pdfwrite -sOwnerPassword=owner -sUserPassword=secret -o " + ShellQuoted(locked) +
                  " " + ShellQuoted(attachment("ccitt.pdf")));
    const std::string lockedBytes = ReadFile(locked);
    EXPECT_FALSE(IsPDFSearchable(locked, {}, &refused));
    EXPECT_EQ(refused, "it opens only with a password");
    EXPECT_EQ(ReadFile(locked), lockedBytes);
}

TEST_F(PdfTextLayer, AGhostscriptPastItsLimitIsEndedAndItsRewriteNotUsed) {
    TestClock clock;
    const fs::path goodRewrite = attachments_ / "rewrite.pdf";
    WriteFile(goodRewrite, HandMadePdf(kAllInformation, "BT /F1 12 Tf 20 20 Td (Hello) Tj ET"));
    standInGhostscript(goodRewrite, "Processing pages 1 through 1.\n", "hang");
    const std::string pdf = attachment("Scan.pdf", PdfWithoutTrailer(1));
    std::string refused;
    // Each look at the running Ghostscript moves the replaced clock on by ten minutes.
    EXPECT_FALSE(IsPDFSearchable(pdf, [] { SleepMs(600000); }, &refused));
    EXPECT_EQ(refused, "Ghostscript did not finish within the hour limit");
    EXPECT_FALSE(IsAppRunning("gs"));
    EXPECT_EQ(ReadFile(pdf), PdfWithoutTrailer(1));
}

TEST_F(PdfTextLayer, OldRewriteFilesGoFirstAndAGhostscriptThatCannotRunGivesFalse) {
    fs::copy_file(CorpusDir() / "graph_ocred.pdf", temp_ / "kvopdfwrite.PDF");
    ScratchDir noGhostscript;
    registerGhostscript(noGhostscript.str());
    const std::string pdf = attachment("Script.pdf", kPostScriptWithText);
    std::string refused;
    EXPECT_FALSE(IsPDFSearchable(pdf, {}, &refused));
    EXPECT_EQ(refused.rfind("Ghostscript (" + noGhostscript.str() + "/gs) could not be started", 0), 0u) << refused;
    EXPECT_FALSE(fs::exists(temp_ / "kvopdfwrite.PDF"));
    EXPECT_EQ(ReadFile(pdf), kPostScriptWithText);
}

TEST(CutDown, InformationEntriesFileNameAndWhiteSpaceLeaveNothing) {
    EXPECT_EQ(CutDownExtractedText("Author: \tA B\tCreator: \tC\tCreationDate: \tD:2020'01'\tModDate: \tM\t"
                                   "Producer: \tP\tFilename: Some Letter.PDF \r\n\t \v\f"),
              "");
    EXPECT_EQ(CutDownExtractedText("Filename: a.pdf\n  Hello World \n"), "HelloWorld");
}

TEST(CutDown, OnlyTheFirstOccurrenceOfAKeyIsRemoved) {
    EXPECT_EQ(CutDownExtractedText("Author: \tOne\tAuthor: \tTwo\tFilename: x.pdf"), "Author:Two");
}

TEST(CutDown, AKeyWithoutASecondTabStays) {
    EXPECT_EQ(CutDownExtractedText("Producer: \tDangling"), "Producer:Dangling");
    // The key's tab pairs with a tab further on: everything up to it goes.
    EXPECT_EQ(CutDownExtractedText("Creator: \tX Filename: a.pdf\nword\tend"), "end");
}

TEST(CutDown, ACreationDateLeftBehindGoesUpToTheFileName) {
    // No second tab after the date: sub-step 3 removes it through its quotes up to "Filename:".
    EXPECT_EQ(CutDownExtractedText("CreationDate: \tD:20200101120000+01'00' Filename: Scan.pdf\n"), "");
    // Without a closing quote it stays.
    EXPECT_EQ(CutDownExtractedText("CreationDate: \tD:2020+01'00 Filename: Scan.pdf"), "CreationDate:D:2020+01'00");
    // "Filename:" without ".pdf" stays, and a ".PDF" is matched without regard to case.
    EXPECT_EQ(CutDownExtractedText("Filename: scan.tif"), "Filename:scan.tif");
    EXPECT_EQ(CutDownExtractedText("Filename: Old.PDF/x text"), "/xtext");
}

// Each of the three paths between quotation marks, the output path's after "-sOutputFile=".
TEST(PdfWriteCommand, PlainPathsStandBetweenQuotationMarks) {
    EXPECT_EQ(driver::BuildPdfWriteCommandLine("/usr/bin", "/tmp/kvo", "/docs/Letter.pdf"),
              "\"/usr/bin/gs\" -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -sOutputFile=\"/tmp/kvo/KVOPdfWrite.pdf\" "
              "-sstdout=\"/tmp/kvo/KVOPdfWrite.log\" -r300 \"/docs/Letter.pdf\"");
}

TEST(PdfWriteCommand, EveryPathReachesGhostscriptAsOneIntactArgument) {
    const std::vector<std::string> expected = {
        "/opt/gs 10/gs", "-dNOPAUSE", "-dBATCH", "-sDEVICE=pdfwrite", "-sOutputFile=/tmp/100%% \"x\"/KVOPdfWrite.pdf",
        "-sstdout=/tmp/100% \"x\"/KVOPdfWrite.log", "-r300", "/docs/O'Brien \"neu\" 50% \\.pdf"};
    EXPECT_EQ(SplitCommandLine(driver::BuildPdfWriteCommandLine("/opt/gs 10", "/tmp/100% \"x\"",
                                                                "/docs/O'Brien \"neu\" 50% \\.pdf")),
              expected);
    // A relative name that looks like an option or an argument file stays a file name.
    EXPECT_EQ(SplitCommandLine(driver::BuildPdfWriteCommandLine("/usr/bin", "/tmp", "-dFOO.pdf")).back(), "./-dFOO.pdf");
    EXPECT_EQ(SplitCommandLine(driver::BuildPdfWriteCommandLine("/usr/bin", "/tmp", "@list.pdf")).back(), "./@list.pdf");
}

TEST(ReplaceFile, AFailedCopyLeavesTheTargetAsItWasAndNothingBehind) {
    ScratchDir dir;
    const fs::path target = dir / "Attachment.pdf";
    WriteFile(target, "original");
    fs::create_directory(dir / "source-is-a-folder");
    EXPECT_THROW(driver::ReplaceFileKeepingPermissions((dir / "source-is-a-folder").string(), target.string()),
                 std::runtime_error);
    EXPECT_THROW(driver::ReplaceFileKeepingPermissions((dir / "absent").string(), target.string()), std::runtime_error);
    EXPECT_THROW(driver::ReplaceFileKeepingPermissions(target.string(), (dir / "absent-target").string()),
                 std::runtime_error);
    EXPECT_EQ(ReadFile(target), "original");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);
}

// A link may lead out of the shares: what is reached through one, to the file or to a folder on
// its way, is never replaced.
TEST(ReplaceFile, AnAttachmentReachedThroughALinkIsNeverReplaced) {
    ScratchDir dir;
    fs::create_directories(dir / "elsewhere");
    WriteFile(dir / "elsewhere" / "real.pdf", "old");
    fs::create_symlink(dir / "elsewhere" / "real.pdf", dir / "link.pdf");
    fs::create_directory_symlink(dir / "elsewhere", dir / "folder-link");
    WriteFile(dir / "new.pdf", "new content");
    for (const fs::path& target : {dir / "link.pdf", dir / "folder-link" / "real.pdf"}) {
        try {
            driver::ReplaceFileKeepingPermissions((dir / "new.pdf").string(), target.string());
            ADD_FAILURE() << target;
        } catch (const std::runtime_error& error) {
            EXPECT_NE(std::string(error.what()).find("is reached through a link"), std::string::npos) << error.what();
        }
    }
    EXPECT_TRUE(fs::is_symlink(dir / "link.pdf"));
    EXPECT_EQ(ReadFile(dir / "elsewhere" / "real.pdf"), "old");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "elsewhere"), fs::directory_iterator()), 1);
}

}  // namespace
}  // namespace kvo::test
