#pragma once
// The programs of one attachment's chain that more than one program starts or watches, and how
// long the ones without the hour limit may run before they are taken for hung and ended.
namespace kvo {

inline constexpr const char* kPipelineProgram = "KVOProcessSlides";
inline constexpr const char* kOcrProgram = "KVOOCR";
inline constexpr const char* kLayoutProgram = "KVOOCRSave";
inline constexpr const char* kGhostscriptImage = "gs";

// Every program that may still run for an attachment once its pipeline has gone.
inline constexpr const char* kChainPrograms[] = {"KVOTiffSplitter", "KVOPDFSplitter", kOcrProgram,
                                                 kLayoutProgram,    "KVOOCRWrd",      kGhostscriptImage};

// KVOOCR recognises one page in a few seconds (its orientation detection included); ten
// minutes is a hang even on a machine busy with other chains.
inline constexpr double kOcrPageSeconds = 10 * 60;
// KVOOCRSave writes one page's layout document in well under a second.
inline constexpr double kLayoutSeconds = 5 * 60;
// KVOProcessSlides runs a splitter and then the builder, each within the hour limit (at most two
// hours): it is given kLongestRun (WholeFile.h).

}  // namespace kvo
