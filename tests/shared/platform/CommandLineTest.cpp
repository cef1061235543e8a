#include "shared/platform/CommandLine.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace kvo {
namespace {

using ::testing::ElementsAre;

TEST(SplitCommandLine, FollowsTheWindowsRules) {
    EXPECT_THAT(SplitCommandLine("  a\tb   c  "), ElementsAre("a", "b", "c"));
    EXPECT_THAT(SplitCommandLine(R"("C:\Program Files\gs" -dBATCH)"), ElementsAre(R"(C:\Program Files\gs)", "-dBATCH"));
    EXPECT_THAT(SplitCommandLine(R"(-sOutputFile="/t mp/a%d.bmp" x)"), ElementsAre("-sOutputFile=/t mp/a%d.bmp", "x"));
    EXPECT_THAT(SplitCommandLine(R"(a\\\"b c\\"d e" f\\\\g)"), ElementsAre(R"(a\"b)", R"(c\d e)", R"(f\\\\g)"));
    EXPECT_THAT(SplitCommandLine(R"("a""b" "")"), ElementsAre("a\"b", ""));
    EXPECT_THAT(SplitCommandLine(R"("unterminated group)"), ElementsAre("unterminated group"));
    EXPECT_TRUE(SplitCommandLine("   ").empty());
}

TEST(QuoteArgument, AwkwardArgumentsSurviveARoundTrip) {
    const std::vector<std::string> awkward = {
        "/tmp/with blank/file.pdf",
        "/tmp/say \"hello\"/x.tif",
        "/tmp/O'Brien's scan.tif",
        "/tmp/100% done/%d.bmp",
        "-starts-with-dash",
        "trailing backslash\\",
        "\\\\\"mixed\\\" \\",
        "/tmp/Müller Straße/Akte ü.pdf",
        "",
        "\"",
        "tab\there",
        "line\nbreak",
    };
    for (const auto& argument : awkward) {
        std::string line = QuoteArgument("/usr/bin/prog") + " " + QuoteArgument(argument) + " " + QuoteArgument("next");
        EXPECT_THAT(SplitCommandLine(line), ElementsAre("/usr/bin/prog", argument, "next")) << line;
    }
}

}  // namespace
}  // namespace kvo
