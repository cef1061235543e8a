#pragma once
// The plain rules of the row walk: the paths it refuses, its progress texts, the per-row report
// line. No I/O.
#include <optional>
#include <string>

namespace kvo::driver {

// True when the path has a ".." component (after "\\" or "/"): such a host path could lead
// anywhere on this machine.
bool ClimbsOutOfItsFolder(const std::string& hostPath);

// Progress texts.
inline constexpr const char* kPreparingText = "Pellmoor OCR utility. Preparing for OCR.";
inline constexpr const char* kInProgressAppend = "\r\n\r\nIn progress. Please wait.";
inline constexpr const char* kNotFoundAppend = "\r\n\r\nNot found";
inline constexpr const char* kStoppingDot = ".";
inline constexpr const char* kWaitText = "Wait until 18:00 to re-start.";

// The text with every control character (codes below 32, and 127) shown as "<XX>", its code in
// hex, so that a host path or a message never breaks a line of a report or forges one.
std::string PrintableText(const std::string& text);

// The text that opens a row: counts, row number and the row's path (printable).
std::string StartOfRowText(int pendingCount, int rowNumber, const std::string& filePath);

// One line of the per-row report: reference, path, outcome, seconds taken and, when the
// pipeline ran, its share (one decimal each): "… (3.4 s, pipeline 3.2 s)". Path and outcome are
// made printable.
std::string RowReportLine(const std::string& trackReference, const std::string& path,
                          const std::string& outcome, double seconds,
                          std::optional<double> pipelineSeconds = std::nullopt);

}  // namespace kvo::driver
