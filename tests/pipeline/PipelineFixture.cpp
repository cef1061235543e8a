#include "PipelineFixture.h"

#include <sstream>

#include "shared/xml/XmlDocument.h"

namespace kvo::test {

PipelineTest::PipelineTest() {
    for (const char* child : {"KVOTiffSplitter", "KVOPDFSplitter", "KVOOCRWrd", "WINWORD"})
        InstallProgram(HelperDir() / "pipe_standin", app_.path(), child);
}

void PipelineTest::WriteOrders(const std::vector<std::pair<std::string, std::optional<std::string>>>& files) {
    xml::Document orders;
    xml::Node kvo = orders.appendElement("KVO");
    for (const auto& [name, processed] : files) {
        xml::Node file = kvo.appendElement("File");
        file.setAttribute("name", name);
        if (processed) file.setAttribute("processed", *processed);
    }
    orders.save(Temp("KVOFile.xml").string());
}

std::vector<ChildRun> PipelineTest::ChildRuns() const {
    std::vector<ChildRun> runs;
    std::istringstream log(ReadFile(logs_ / "children.log"));
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        ChildRun run;
        std::string files;
        std::getline(fields, run.program, '\t');
        std::getline(fields, run.orderedAttachment, '\t');
        std::getline(fields, files);
        std::istringstream names(files);
        for (std::string name; std::getline(names, name, '|');) run.tempFiles.push_back(name);
        runs.push_back(run);
    }
    return runs;
}

std::vector<std::string> PipelineTest::ChildPrograms() const {
    std::vector<std::string> programs;
    for (const ChildRun& run : ChildRuns()) programs.push_back(run.program);
    return programs;
}

std::vector<std::string> PipelineTest::OrderMarks() const {
    xml::Document orders;
    orders.load(Temp("KVOFile.xml").string());
    std::vector<std::string> marks;
    for (const xml::Node& file : orders.selectNodes("KVO/File")) marks.push_back(file.attribute("processed").value_or("-"));
    return marks;
}

}  // namespace kvo::test
