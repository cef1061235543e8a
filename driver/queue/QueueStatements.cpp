// What the statement sets of both stores share: how lines are joined, how a text is quoted, the
// fill's type lists and the side table's added columns.
#include "driver/queue/QueueStatements.h"

#include <utility>

#include "shared/AttachmentTypes.h"

namespace kvo::driver {

namespace {

constexpr std::string_view kCaseIndent = "            ";

std::string Quoted(std::string_view text) { return "'" + DoubleApostrophes(text) + "'"; }

}  // namespace

std::string JoinLines(std::initializer_list<std::string_view> lines) {
    return JoinLines(std::vector<std::string>(lines.begin(), lines.end()));
}

std::string JoinLines(const std::vector<std::string>& lines) {
    std::string joined;
    for (const std::string& line : lines) {
        if (&line != &lines.front()) joined += "\r\n";
        joined += line;
    }
    return joined;
}

std::string DoubleApostrophes(std::string_view path) {
    std::string quoted;
    for (char c : path) {
        quoted += c;
        if (c == '\'') quoted += '\'';
    }
    return quoted;
}

std::string FillStatement(std::vector<std::string> head, const std::vector<std::string>& middle,
                          const std::vector<std::string>& tail) {
    std::vector<std::string>& lines = head;
    for (const AttachmentType& type : kAttachmentTypes)
        if (type.stored != type.name)
            lines.push_back(std::string(kCaseIndent) + "WHEN " + Quoted(type.name) + " Then " + Quoted(type.stored));
    lines.insert(lines.end(), middle.begin(), middle.end());
    for (const AttachmentType& type : kAttachmentTypes)
        lines.push_back(std::string(kCaseIndent) + "WHEN " + Quoted(type.name) + " Then 0");
    lines.insert(lines.end(), tail.begin(), tail.end());
    return JoinLines(lines);
}

std::vector<AddedColumn> AddedColumns(std::string (*add)(const std::string& column, const std::string& type)) {
    std::vector<AddedColumn> columns;
    for (const auto& [name, type] : {std::pair<const char*, const char*>{"Pages", "int null"},
                                     {"OriginalType", "char(3) null"},
                                     {"OriginalPath", "nvarchar(255) null"}})
        columns.push_back({name, add(name, type)});
    return columns;
}

std::string StoredConvertedTypeList() {
    std::string list;
    for (const std::string_view type : StoredConvertedTypes()) list += (list.empty() ? "(" : ", ") + Quoted(type);
    return list + ")";
}

}  // namespace kvo::driver
