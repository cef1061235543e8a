#pragma once
// The plain rules of the row walk: type groups, derived file names, progress texts, the
// per-row report line. No I/O.
#include <optional>
#include <string>

namespace kvo::driver {

enum class TypeGroup { Pdf, Image, Other };

// Group of an upper-case queue type (exact comparison). JPEG belongs to the image group: the
// queue fill takes it in and the pipeline converts it like JPG.
TypeGroup GroupOfType(const std::string& upperType);

// Every occurrence of "." + type, found without regard to case, replaced by `replacement`; for
// TIF and JPG, ".TIFF" and ".JPEG" too (the queue stores types in three letters). An empty type
// replaces nothing.
std::string ReplaceTypeSuffix(const std::string& text, const std::string& type, const std::string& replacement);

// The name under which the pipeline's result is looked for in the temporary folder.
std::string ResultName(const std::string& foundName, const std::string& type);
// The searchable PDF beside the attachment: ".PDF.PDF" for PDFs, ".PDF" for images.
std::string DestinationPath(const std::string& attachmentPath, const std::string& type, TypeGroup group);

// Progress texts.
inline constexpr const char* kPreparingText = "Pellmoor OCR utility. Preparing for OCR.";
inline constexpr const char* kInProgressAppend = "\r\n\r\nIn progress. Please wait.";
inline constexpr const char* kNotFoundAppend = "\r\n\r\nNot found";
inline constexpr const char* kStoppingDot = ".";
inline constexpr const char* kWaitText = "Wait until 18:00 to re-start.";

// The text that opens a row: counts, row number and the row's path.
std::string StartOfRowText(int pendingCount, int rowNumber, const std::string& filePath);

// One line of the per-row report: reference, path, outcome, seconds taken and, when the
// pipeline ran, its share (one decimal each): "… (3.4 s, pipeline 3.2 s)".
std::string RowReportLine(const std::string& trackReference, const std::string& path,
                          const std::string& outcome, double seconds,
                          std::optional<double> pipelineSeconds = std::nullopt);

}  // namespace kvo::driver
