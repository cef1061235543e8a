#include "imagesplit/KVOTiffSplitterMod.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <vector>

#include "shared/platform/WholeFile.h"
#include "ocrengine/EngineDocument.h"
#include "shared/ChainPrograms.h"
#include "shared/ChildProcess.h"
#include "shared/ExitStatus.h"
#include "shared/platform/FileSearch.h"
#include "shared/platform/Paths.h"
#include "shared/xml/HandOff.h"
#include "shared/xml/XmlDocument.h"

namespace kvo::KVOTiffSplitterMod {

namespace {

// Runs the steps of Main under its error policy: failures propagate until the fallback
// starts; from then on a failing step is skipped and the next one runs.
class Steps {
public:
    void SkipFailuresFromNowOn() { skipFailures_ = true; }

    // True when the step completed.
    bool Run(const std::function<void()>& step) {
        if (skipFailures_) return SkipUnlessMachineFault(step);
        step();
        return true;
    }

private:
    bool skipFailures_ = false;
};

// Runs KVOOCR on TEMP/KVOOCR.bmp; when it leaves a layout document, copies it beside the page
// bitmap. True when a layout document was found. A copy that cannot be written ends the run: the
// page would silently lose its text.
bool RecognisePage(const std::string& pageBitmap, Steps& steps) {
    ChildEnd end;
    const bool ran = steps.Run([&] {
        end = RunChild({.arguments = {AppFolder() + "/" + kOcrProgram}}, TimeLimit::Seconds(kOcrPageSeconds));
    });
    if (ran) PassOnMachineFault(kOcrProgram, end);
    // A program that did not run has not replaced an earlier page's layout document.
    if (!ran) return false;
    const std::string layout = handoff::InTemp(handoff::kOcrLayoutName);
    if (!FileExists(layout)) return false;
    CopyFileReplace(layout, handoff::LayoutCopyOf(pageBitmap));
    return true;
}

// One pass over the frames of `source`: page bitmaps and their recognition. Puts the pass's
// page bitmaps into `pages` and returns true when some page got a layout document. A page that
// cannot be written ends the run in either pass: the list would lack it.
bool SplitPages(const std::string& source, const std::string& base, Steps& steps, std::vector<std::string>& pages) {
    cBitmap bitmap;
    bitmap.LoadFromFile(source);
    bitmap.SelectActiveFrame(0, false);  // the frame count is known only after a selection
    bool found = false;
    for (int frame = 0; frame < bitmap.FrameCount(); ++frame) {
        bitmap.SelectActiveFrame(frame, false);
        const std::string page = handoff::ImagePageBitmap(base, frame);
        try {
            WritePageBitmap(bitmap, frame, base);
        } catch (const TooLargeForWork&) {
            throw;
        } catch (const std::exception& error) {
            const std::string why = "cannot write the page bitmap " + page + " (" + error.what() + ")";
            if (ExitStatusForError(error) == kExitNoRoom) throw NoRoomForWork(why);
            throw std::runtime_error(why);
        }
        if (IsRecognisable(bitmap.Width(), bitmap.Height()) && RecognisePage(page, steps)) found = true;
        pages.push_back(page);
    }
    bitmap.Dispose();
    return found;
}

// The engine's SaveAs to a hidden name beside `target`, renamed into place only when it
// succeeded, so that a failed save leaves no partial file under the name the second pass reads.
void SaveTiffCopyWhole(ocr::EngineDocument& engine, const std::string& target) {
    WholeFileWriter copy(target);
    engine.SaveAs(copy.temporaryPath(), ocr::kFileFormatTiff, 1);
    copy.commit();
}

// Has the OCR engine re-save `source` as the work folder's TIFF copy. Every step may fail; the
// caller judges by the file.
void MakeTiffCopy(const std::string& source, const std::string& copy, Steps& steps) {
    std::optional<ocr::EngineDocument> engine;
    steps.Run([&] { engine.emplace(); });
    if (!engine) return;
    steps.Run([&] { engine->Create(source); });
    // A size that cannot be read does not prevent the attempt; SaveAs then fails by itself.
    bool wanted = true;
    steps.Run([&] { wanted = WantsTiffCopy(engine->PixelWidth(), engine->PixelHeight()); });
    if (wanted) steps.Run([&] { SaveTiffCopyWhole(*engine, copy); });
    steps.Run([&] { engine->Close(false); });
}

bool IsSameFile(const std::string& a, const std::string& b) {
    std::error_code unknown;
    return std::filesystem::equivalent(a, b, unknown);
}

}  // namespace

bool IsRecognisable(int width, int height) { return width > 250 && height > 350; }

bool WantsTiffCopy(int width, int height) { return width >= 250 && height > 350; }

void WritePageBitmap(cBitmap& bitmap, int frameIndex, const std::string& base) {
    BmpBitmap dib;
    dib.SetDPI(kPageDpi);
    dib.CreateFromPicture(bitmap.Picture(), PixelDepth::Own);
    const std::string page = handoff::ImagePageBitmap(base, frameIndex);
    handoff::EnsureRoomForPageBitmaps(dib.FileBytes(), "the page bitmap " + page);
    BmpSaveStage save;
    save.SetColourDepth(kPageColourDepth);
    save.SetReductionMethod(0);
    save.Convert(dib);
    dib.ClearUp();
    save.Save(page);
    handoff::HandPageToOcr(page);
}

void Main() {
    xml::Document order;
    order.load(handoff::InTemp(handoff::kCurrentOrderName));
    if (order.xml().empty()) return;
    xml::Node file = order.selectSingleNode("File");
    if (!file || file.attribute("processed") != "0") return;
    const std::optional<std::string> name = file.attribute("name");
    if (!name) return;

    std::string source = *name;
    const std::string base = handoff::BaseName(source);
    // The attachment itself may lie in TEMP under a page name; it is the run's input.
    handoff::RemovePageWorkFiles(base, {source});

    Steps steps;
    std::vector<std::string> pages;
    for (bool secondPass = false;; secondPass = true) {
        std::vector<std::string> passPages;
        const bool found = SplitPages(source, base, steps, passPages);
        // The second pass's pages stand in place of the first pass's; a copy that gives no page
        // leaves the first pass's pages as they are.
        if (!passPages.empty()) pages = std::move(passPages);
        if (found || secondPass) break;

        steps.SkipFailuresFromNowOn();
        // The copy lies in the work folder, never beside the client's file. A copy left by an
        // earlier row is another attachment's; an attachment lying there under its name is
        // this run's input and stays.
        const std::string copy = handoff::InTemp(handoff::kEngineTiffCopyName);
        if (IsSameFile(copy, source)) break;
        steps.Run([&] { handoff::DeleteWorkFile(copy, {source}); });
        MakeTiffCopy(source, copy, steps);
        source = copy;
        if (!FileExists(source)) break;
    }

    for (const std::string& page : pages) {
        xml::Node image = file.appendElement("image");
        image.setAttribute("path", page);
        image.setAttribute("processed", "0");
    }
    file.setAttribute("processed", "1");
    order.save(handoff::InTemp(handoff::kCurrentOrderName));
    if (pages.empty()) throw NoReadablePage("no page of " + *name + " can be read");
}

}  // namespace kvo::KVOTiffSplitterMod
