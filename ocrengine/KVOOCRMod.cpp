#include "ocrengine/KVOOCRMod.h"

#include "ocrengine/EngineDocument.h"
#include "shared/ChainPrograms.h"
#include "shared/ChildProcess.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/platform/Profile.h"
#include "shared/xml/HandOff.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace kvo::KVOOCRMod {

namespace {

constexpr const char* kDefaultLanguages = "eng";

// Points standard error at /dev/null and returns a descriptor of the original one, for the
// program's own message (-1 when there is none).
int DivertLibraryMessages() {
    const int original = dup(STDERR_FILENO);
    const int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (sink >= 0) {
        dup2(sink, STDERR_FILENO);
        close(sink);
    }
    if (original >= 0) fcntl(original, F_SETFD, FD_CLOEXEC);
    return original;
}

void WriteLine(int fd, const std::string& line) {
    if (fd < 0) return;
    const std::string text = line + "\n";
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = write(fd, text.data() + done, text.size() - done);
        if (written <= 0) return;
        done += static_cast<std::size_t>(written);
    }
}

std::string OcrLanguages() {
    const std::string languages = GetIniString("OCR", "Languages", WindowsFolder() + "/console.ini");
    return languages.empty() ? kDefaultLanguages : languages;
}

}  // namespace

void RunSingleThreaded(char** argv) {
    if (std::getenv("OMP_THREAD_LIMIT")) return;
    setenv("OMP_THREAD_LIMIT", "1", 1);
    execv("/proc/self/exe", argv);
}

int Main() {
    const int messages = DivertLibraryMessages();
    try {
        const std::string engineDocument = handoff::InTemp(handoff::kOcrEngineDocName);
        DeleteFile(engineDocument);
        DeleteFile(handoff::InTemp(handoff::kOcrLayoutName));

        const std::optional<std::string> bitmap = ResolveFile(handoff::InTemp(handoff::kOcrBitmapName));
        if (!bitmap) return kExitOk;
        ocr::EngineDocument document;
        document.Create(*bitmap);
        document.OCR(OcrLanguages());
        document.SaveAs(engineDocument, ocr::kFileFormatEngineDocument, 0);
        document.Close();

        PassOnMachineFault(kLayoutProgram, RunChild({.arguments = {AppFolder() + "/" + kLayoutProgram}},
                                                    TimeLimit::Seconds(kLayoutSeconds)));
    } catch (const ocr::LanguageMissingError& error) {
        WriteLine(messages, std::string("KVOOCR: ") + error.what());
    } catch (const std::exception& error) {
        // The callers judge the run by the files it leaves, and by a fault of the machine.
        if (IsMachineFault(error)) WriteLine(messages, std::string("KVOOCR: ") + error.what());
        return ExitStatusForError(error);
    }
    return kExitOk;
}

}  // namespace kvo::KVOOCRMod
