#include "shared/pdf/PdfFile.h"

#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace kvo {
namespace {

using namespace test;

TEST(PdfFile, AMarkedResultIsKnownForItsOwnAttachmentOnly) {
    ScratchDir dir;
    const fs::path copy = dir.path() / "Scan.PDF";
    fs::copy_file(CorpusDir() / "ccitt.pdf", copy);
    const std::optional<pdf::PdfFacts> before = pdf::InspectPdf(copy.string());
    ASSERT_TRUE(before);
    EXPECT_FALSE(pdf::IsResultFor(*before, "/docs/Scan.tif"));
    ASSERT_GT(before->pageCount, 0);
    for (const pdf::PageFacts& page : before->pages) EXPECT_GT(page.images, 0);

    pdf::MarkAsResultFor(copy.string(), "/docs/Scan.tif");
    const std::optional<pdf::PdfFacts> after = pdf::InspectPdf(copy.string());
    ASSERT_TRUE(after);
    EXPECT_EQ(after->pageCount, before->pageCount);
    EXPECT_TRUE(pdf::IsResultFor(*after, "/docs/Scan.tif"));
    EXPECT_FALSE(pdf::IsResultFor(*after, "/docs/scan.tif"));
    EXPECT_EQ(after->info.at("Producer"), pdf::kProducer);
}

TEST(PdfFile, WhatIsNotAPdfGivesAReason) {
    ScratchDir dir;
    WriteFile(dir.path() / "empty.pdf", "");
    for (const fs::path& file : {CorpusDir() / "invalid.pdf", dir.path() / "empty.pdf", dir.path() / "missing.pdf"}) {
        std::string reason;
        EXPECT_FALSE(pdf::InspectPdf(file.string(), &reason)) << file;
        EXPECT_FALSE(reason.empty()) << file;
    }
}

}  // namespace
}  // namespace kvo
