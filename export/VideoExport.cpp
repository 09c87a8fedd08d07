// Exporting one video: its labels as the editor loads them, then its frames in one pass.

#include "export/VideoExport.h"

#include <chrono>
#include <climits>
#include <fstream>
#include <iterator>
#include <system_error>

#include "export/FormatWriter.h"
#include "export/OutputFiles.h"
#include "export/Progress.h"
#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

void Fail(VideoExport& video, const std::string& error) {
    video.failed = true;
    video.error = error;
}

// Every record of the store, frame by frame, through the store's own search.
void CollectRecords(const CLabelManager& store, std::map<int, std::vector<ROI>>& out) {
    int frame = store.GetFrameCount(0) > 0 ? 0 : store.NextLabelledFrame(0);
    while (frame >= 0) {
        std::vector<ROI> list;
        store.GetFrameROIs(frame, list);
        out[frame] = std::move(list);
        const int next = store.NextLabelledFrame(frame);
        if (next <= frame) {
            break;  // from the last labelled frame the search answers that frame again
        }
        frame = next;
    }
}

bool ReadSmallFile(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool Wanted(const ExportOptions& options, const VideoExport& video, int frame) {
    if (video.labelled.count(frame) != 0 || options.allFrames) {
        return true;
    }
    if (options.every > 0 && frame % options.every == 0) {
        return true;
    }
    return options.format == ExportFormat::kMot && frame >= video.firstFrame &&
           (video.lastFrame < 0 || frame <= video.lastFrame);
}

}  // namespace

ExportCounts& ExportCounts::operator+=(const ExportCounts& o) {
    images += o.images;
    boxes += o.boxes;
    dropped += o.dropped;
    leftOut += o.leftOut;
    unusable += o.unusable;
    imagesLeftOut += o.imagesLeftOut;
    missingFrames += o.missingFrames;
    framesRead += o.framesRead;
    return *this;
}

void PrepareVideo(const ExportOptions& options, VideoExport& video) {
    // The label folder as the editor finds it: the video path without its last four characters.
    // A name of four characters or fewer has none (the editor never makes one for it).
    const std::string path = video.video.string();
    if (DropLastChars(video.name, 4).empty()) {
        Fail(video, PathError(video.video, "the file name is too short to have a label folder"));
        return;
    }
    video.labelFolder = DropLastChars(path, 4);
    std::error_code ec;
    const fs::file_status status = fs::status(video.labelFolder, ec);
    if (status.type() == fs::file_type::not_found) {
        Fail(video, PathError(video.labelFolder, "no label folder for this video"));
        return;
    }
    if (status.type() != fs::file_type::directory) {
        Fail(video, PathError(video.labelFolder, "the label folder is not a folder"));
        return;
    }

    // The editor's own loader, in its read-only form: no log line, no folder made.
    CLabelManager store;
    if (store.ReadFolder(video.labelFolder) == 0) {
        Fail(video, PathError(video.labelFolder, "the label folder cannot be read"));
        return;
    }
    std::map<int, std::vector<ROI>> all;
    CollectRecords(store, all);
    if (all.empty()) {
        Fail(video, PathError(video.labelFolder, "the label folder holds no labels"));
        return;
    }
    for (auto& [frame, records] : all) {
        std::vector<ROI> kept;
        for (const ROI& roi : records) {
            BoxKind kind;
            if (!BoxKindOf(roi, kind)) {
                ++video.counts.unusable;
            } else if (options.leaveOut[static_cast<int>(kind)]) {
                ++video.counts.leftOut;
            } else {
                kept.push_back(roi);
            }
        }
        if (!kept.empty()) {
            video.labelled[frame] = std::move(kept);
        }
    }
    if (video.counts.unusable > 0) {
        video.notes.push_back(std::to_string(video.counts.unusable) +
                              " record(s) with a label outside 1..30 or a class outside 0..2 "
                              "left out");
    }

    if (options.crop) {
        const fs::path cropFile = video.labelFolder / kCropFileName;
        std::string text;
        if (!ReadSmallFile(cropFile, text)) {
            Fail(video, PathError(cropFile, "no crop file (--crop needs one; draw it with CROP)"));
            return;
        }
        if (!ParseCropText(text, video.crop)) {
            Fail(video, PathError(cropFile, "holds no rectangle left,top,right,bottom"));
            return;
        }
        video.haveCrop = true;
    }

    VideoFacts facts;
    if (!ProbeVideo(video.video, facts)) {
        Fail(video, PathError(video.video, "cannot be opened as a video"));
        return;
    }
    video.fps = facts.fps;
    video.frameCount = facts.frameCount;

    const bool negatives = options.allFrames || options.every > 0;
    if (video.labelled.empty() && !negatives) {
        video.notes.push_back("every box is left out: nothing to export");
        video.nothingToExport = true;
        return;
    }
    if (options.format == ExportFormat::kMot) {
        video.firstFrame = options.allFrames ? 0 : video.labelled.begin()->first;
        video.lastFrame = options.allFrames ? -1 : video.labelled.rbegin()->first;
    }
    // What the bar expects to read: up to the last labelled frame, or the whole video; a label
    // file named beyond the end (a damaged name) must not swell the total.
    const long long whole = std::max(video.frameCount, 1);
    video.framesToRead = negatives || video.labelled.empty()
                             ? whole
                             : static_cast<long long>(video.labelled.rbegin()->first) + 1;
    if (video.frameCount > 0) {
        video.framesToRead = std::min(video.framesToRead, whole);
    }
}

void ExportVideo(const ExportOptions& options, CFormatWriter& writer, CExportProgress& progress,
                 VideoExport& video) {
    const auto start = std::chrono::steady_clock::now();
    const bool negatives = options.allFrames || options.every > 0;
    // Reading stops after the last frame needed; negatives need the whole video.
    const long long lastNeeded =
        negatives ? LLONG_MAX : static_cast<long long>(video.labelled.rbegin()->first);

    CVideoManager source;
    // Frames are read once, in order: keeping copies of them would only cost memory and time.
    source.SetCacheBudget(0);
    // Reading in order is exact by itself; a frame index built beside it would only decode the
    // whole video a second time.
    source.SetIndexOnOpen(false);
    std::string error;
    if (!source.Open(video.video)) {
        Fail(video, PathError(video.video, "cannot be opened as a video"));
    } else if (!writer.StartVideo(video, error)) {
        Fail(video, error);
    }

    CImageWriter images(options.image, options.jpegQuality);
    long long frame = 0;
    bool regionKnown = false;
    while (!video.failed && frame <= lastNeeded && frame < INT_MAX) {
        if (!source.ReadNextFrame()) {
            break;  // the end of the video
        }
        progress.AddFrames(1);
        const int f = static_cast<int>(frame++);
        if (!Wanted(options, video, f)) {
            continue;
        }
        const cv::Mat& image = source.CurrentFrame();
        CRect region{0, 0, image.cols, image.rows};
        if (video.haveCrop && !ClipToFrame(video.crop, image.cols, image.rows, region)) {
            Fail(video, PathError(video.labelFolder / kCropFileName,
                                  "the crop region lies outside the " + std::to_string(image.cols) +
                                      " x " + std::to_string(image.rows) + " frame"));
            break;
        }
        if (!regionKnown) {
            video.region = region;
            regionKnown = true;
        }
        ExportedImage out;
        out.frame = f;
        out.width = region.Width();
        out.height = region.Height();
        const auto labels = video.labelled.find(f);
        if (labels != video.labelled.end()) {
            for (const ROI& roi : labels->second) {
                ExportBox box;
                box.label = roi.nLabel;
                BoxKindOf(roi, box.kind);
                if (MapToImage(roi.rect, region, box.rect)) {
                    out.boxes.push_back(box);
                } else {
                    ++video.counts.dropped;
                }
            }
        }
        if (writer.LeavesOut(out)) {
            ++video.counts.imagesLeftOut;
            continue;
        }
        out.file = writer.ImageFile(video, f);
        const fs::path path = options.out / out.file;
        if (!images.Write(image, region, path, error)) {
            Fail(video, error);
            break;
        }
        video.written.push_back(path);
        if (!writer.AfterImage(video, out, error)) {
            Fail(video, error);
            break;
        }
        video.counts.boxes += static_cast<long long>(out.boxes.size());
        video.images.push_back(std::move(out));
    }
    video.counts.framesRead = frame;
    video.counts.images = static_cast<long long>(video.images.size());
    // The bar counts what was planned; a video that ended early still completes its share.
    if (frame < video.framesToRead) {
        progress.AddFrames(video.framesToRead - frame);
    }

    if (!video.failed && frame == 0) {
        Fail(video, PathError(video.video, "no frame could be read"));
    }
    if (!video.failed) {
        const int end = static_cast<int>(frame);
        for (auto it = video.labelled.lower_bound(end); it != video.labelled.end(); ++it) {
            ++video.counts.missingFrames;
        }
        if (video.counts.missingFrames > 0) {
            video.notes.push_back(std::to_string(video.counts.missingFrames) +
                                  " labelled frame(s) lie beyond the last frame (" +
                                  std::to_string(frame - 1) + ") and are not exported");
        }
        if (video.lastFrame < 0 || video.lastFrame >= frame) {
            video.lastFrame = static_cast<int>(frame - 1);
        }
        if (!writer.FinishVideo(video, error)) {
            Fail(video, error);
        }
    }
    if (video.failed) {
        // Nothing of a failed video stays behind: its images would look finished.
        std::error_code ec;
        for (const fs::path& p : video.written) {
            fs::remove(p, ec);
        }
        video.written.clear();
        writer.AbandonVideo(video);
        video.images.clear();
        video.counts.images = 0;
        video.counts.boxes = 0;
    }
    video.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
