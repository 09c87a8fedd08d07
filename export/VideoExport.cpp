// Exporting one video: its labels as the editor loads them, then its frames in one pass.

#include "export/VideoExport.h"

#include <chrono>
#include <climits>
#include <system_error>

#include "export/Dataset.h"
#include "export/FormatWriter.h"
#include "export/OutputFiles.h"
#include "export/Progress.h"
#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"
#include "video/FrameDecoder.h"
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

bool CheckVideoFile(VideoExport& video) {
    std::error_code ec;
    const fs::file_status status = fs::status(video.video, ec);
    if (status.type() == fs::file_type::not_found) {
        Fail(video, PathError(video.video, "no such file"));
        return false;
    }
    if (status.type() == fs::file_type::directory) {
        Fail(video, PathError(video.video, "is a folder, not a video"));
        return false;
    }
    return true;
}

bool FindLabelFolder(VideoExport& video) {
    video.labelFolder = CLabelManager::LabelFolderOf(video.video);
    if (video.labelFolder.empty()) {
        Fail(video, PathError(video.video, "the file name is too short to have a label folder"));
        return false;
    }
    std::error_code ec;
    const fs::file_status status = fs::status(video.labelFolder, ec);
    if (status.type() == fs::file_type::not_found) {
        Fail(video, PathError(video.labelFolder, "no label folder for this video"));
        return false;
    }
    if (status.type() != fs::file_type::directory) {
        Fail(video, PathError(video.labelFolder, "the label folder is not a folder"));
        return false;
    }
    return true;
}

// The records to export, as the editor's own loader reads them (in its read-only form: no log
// line, no folder made), less those no format can carry and the classes left out.
bool ReadLabels(const ExportOptions& options, VideoExport& video) {
    CLabelManager store;
    if (store.ReadFolder(video.labelFolder) == 0) {
        Fail(video, PathError(video.labelFolder, "the label folder cannot be read"));
        return false;
    }
    std::map<int, std::vector<ROI>> all;
    CollectRecords(store, all);
    if (all.empty()) {
        Fail(video, PathError(video.labelFolder, "the label folder holds no labels"));
        return false;
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
    return true;
}

bool ReadCrop(const ExportOptions& options, VideoExport& video) {
    if (!options.crop) {
        return true;
    }
    const fs::path cropFile = video.labelFolder / kCropFileName;
    std::string text;
    if (!ReadWholeFile(cropFile, text)) {
        Fail(video, PathError(cropFile, "no crop file (--crop needs one; draw it with CROP)"));
        return false;
    }
    if (!ParseCropText(text, video.crop)) {
        Fail(video, PathError(cropFile, "holds no rectangle left,top,right,bottom"));
        return false;
    }
    video.haveCrop = true;
    return true;
}

// What the container says, through the decoder the frames will come from; no frame decoded.
bool ProbeVideo(VideoExport& video) {
    CFrameDecoder decoder;
    if (!decoder.Open(video.video, 1, CFrameDecoder::Mode::kIndexOnly)) {
        Fail(video, PathError(video.video, "cannot be opened as a video"));
        return false;
    }
    video.fps = decoder.FrameRate();
    video.frameCount = decoder.ReportedFrameCount();
    return true;
}

void PlanFrames(const ExportOptions& options, VideoExport& video) {
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

// One decoded frame: its image and boxes when the plan wants it. False when the video failed.
bool ExportFrame(const ExportOptions& options, CFormatWriter& writer, CImageWriter& images,
                 const cv::Mat& image, int f, bool& regionKnown, VideoExport& video) {
    if (!Wanted(options, video, f)) {
        return true;
    }
    std::string error;
    CRect region{0, 0, image.cols, image.rows};
    if (video.haveCrop && !ClipToFrame(video.crop, image.cols, image.rows, region)) {
        Fail(video, PathError(video.labelFolder / kCropFileName,
                              "the crop region lies outside the " + std::to_string(image.cols) +
                                  " x " + std::to_string(image.rows) + " frame"));
        return false;
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
            box.nClass = roi.nClass;
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
        return true;
    }
    out.file = writer.ImageFile(video, f);
    const fs::path path = options.out / out.file;
    if (!images.Write(image, region, path, error)) {
        Fail(video, error);
        return false;
    }
    video.written.push_back(path);
    if (!writer.AfterImage(video, out, error)) {
        Fail(video, error);
        return false;
    }
    video.counts.boxes += static_cast<long long>(out.boxes.size());
    video.images.push_back(std::move(out));
    return true;
}

// After the last frame read: labelled frames the video did not yield, and the per-video files.
void CompleteVideo(const ExportOptions& options, CFormatWriter& writer, long long framesRead,
                   VideoExport& video) {
    std::string error;
    if (framesRead == 0) {
        Fail(video, PathError(video.video, "no frame could be read"));
        return;
    }
    const int end = static_cast<int>(framesRead);
    for (auto it = video.labelled.lower_bound(end); it != video.labelled.end(); ++it) {
        ++video.counts.missingFrames;
    }
    if (video.counts.missingFrames > 0) {
        video.notes.push_back(std::to_string(video.counts.missingFrames) +
                              " labelled frame(s) not exported: the video ends after frame " +
                              std::to_string(framesRead - 1));
    }
    if (video.lastFrame < 0 || video.lastFrame >= end) {
        video.lastFrame = end - 1;
    }
    if (!writer.FinishVideo(video, error)) {
        Fail(video, error);
        return;
    }
    // The record last: only now is the video part of the dataset.
    const fs::path record = options.out / kRecordFolder / (video.stem + ".json");
    if (!WriteFileAtomically(record, VideoRecordJson(video, options), error)) {
        Fail(video, error);
    }
}

// Nothing of a failed or stopped video stays behind: its images would look finished.
void DiscardVideo(CFormatWriter& writer, VideoExport& video) {
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
    if (CheckVideoFile(video) && FindLabelFolder(video) && ReadLabels(options, video) &&
        ReadCrop(options, video) && ProbeVideo(video)) {
        PlanFrames(options, video);
    }
}

void ExportVideo(const ExportOptions& options, CFormatWriter& writer, CExportProgress& progress,
                 ExportStop& stop, VideoExport& video) {
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
    } else if (!writer.RetractVideo(video, error) || !writer.StartVideo(video, error)) {
        Fail(video, error);
    } else {
        // Reading to the end in order proves every frame, so an export with negatives leaves
        // the frame index the editor would otherwise build at its next open; a read that stops
        // early stores nothing.
        source.SetIndexFolder(video.labelFolder);
    }

    CImageWriter images(options.image, options.jpegQuality);
    long long frame = 0;
    bool regionKnown = false;
    while (!video.failed && frame <= lastNeeded && frame < INT_MAX) {
        if (stop.Requested(progress.Done())) {
            video.interrupted = true;
            break;
        }
        if (!source.ReadNextFrame()) {
            break;  // the end of the video
        }
        progress.AddFrames(1);
        const int f = static_cast<int>(frame++);
        if (!ExportFrame(options, writer, images, source.CurrentFrame(), f, regionKnown, video)) {
            break;
        }
    }
    video.counts.framesRead = frame;
    video.counts.images = static_cast<long long>(video.images.size());
    // The bar counts what was planned; a video that ended early still completes its share.
    if (frame < video.framesToRead) {
        progress.AddFrames(video.framesToRead - frame);
    }
    if (!video.failed && !video.interrupted) {
        CompleteVideo(options, writer, frame, video);
    }
    if (video.failed || video.interrupted) {
        DiscardVideo(writer, video);
    }
    video.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
