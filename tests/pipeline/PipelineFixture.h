#pragma once
// A private application folder with stand-in children and a private TEMP for pipeline runs.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/TestSupport.h"

namespace kvo::test {

// One start of a stand-in child, as its log line tells it.
struct ChildRun {
    std::string program;
    std::string orderedAttachment;  // `name` of KVOCurr.xml when the child started
    std::vector<std::string> tempFiles;
};

class PipelineTest : public ::testing::Test {
protected:
    PipelineTest();

    // Writes KVOFile.xml with one File per entry: attachment name, and the processed mark
    // (nullopt: no such attribute).
    void WriteOrders(const std::vector<std::pair<std::string, std::optional<std::string>>>& files);
    std::vector<ChildRun> ChildRuns() const;
    std::vector<std::string> ChildPrograms() const;
    // The processed mark of every File in KVOFile.xml ("-" when absent).
    std::vector<std::string> OrderMarks() const;
    fs::path Temp(const std::string& name) const { return temp_ / name; }

    ScratchDir app_{"kvo-pipe-app"};
    ScratchDir temp_{"kvo-pipe-temp"};
    ScratchDir logs_{"kvo-pipe-logs"};
    EnvVar tempVar_{"TEMP", temp_.str()};
    EnvVar logVar_{"KVO_PIPE_LOG", (logs_ / "children.log").string()};
    EnvVar hangVar_{"KVO_PIPE_HANG", std::nullopt};
    EnvVar pagesVar_{"KVO_PIPE_PAGES", std::nullopt};
    EnvVar resultVar_{"KVO_PIPE_RESULT", std::nullopt};
};

}  // namespace kvo::test
