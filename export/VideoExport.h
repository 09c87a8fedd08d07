#pragma once

#include <atomic>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "export/Boxes.h"
#include "export/ExportOptions.h"

class CFormatWriter;
class CExportProgress;

// One exported image: the frame it shows, where it was written and its boxes.
struct ExportedImage {
    int frame = 0;
    std::string file;  // relative to OUT, '/'-separated
    int width = 0;
    int height = 0;
    std::vector<ExportBox> boxes;
};

// Counts that end up in the summary.
struct ExportCounts {
    long long images = 0;
    long long boxes = 0;
    long long dropped = 0;        // no area left inside the image
    long long leftOut = 0;        // classes named by --leave-out
    long long unusable = 0;       // label outside 1..30 or class outside 0..2 (damaged files)
    long long imagesLeftOut = 0;  // frames a format cannot carry (YOLO: a skip region on them)
    long long missingFrames = 0;  // labelled frames the video did not yield (beyond its end)
    long long framesRead = 0;

    ExportCounts& operator+=(const ExportCounts& o);
};

// The export of one video: what PrepareVideo found in its label folder, and what ExportVideo
// wrote.
struct VideoExport {
    std::filesystem::path video;
    std::string name;   // the video's file name
    std::string key;    // its path relative to --root, or absolute (DatasetKey)
    std::string stem;   // names its files: DatasetName, unique whatever else is exported
    std::string split;  // empty without --split

    // Plan.
    std::filesystem::path labelFolder;
    std::map<int, std::vector<ROI>> labelled;  // frame -> records to export
    bool haveCrop = false;
    CRect crop;  // normalised, frame pixels, not yet clipped to the frame
    double fps = 0.0;
    int frameCount = 0;  // as the container states it
    // Frames to export: labelled ones, the negatives the options ask for, and for MOT the whole
    // range [firstFrame, lastFrame] (lastFrame -1: to the end).
    int firstFrame = 0;
    int lastFrame = -1;
    long long framesToRead = 0;
    // Every box left out and no negatives asked for: the video is skipped, without failing.
    bool nothingToExport = false;

    // Result.
    bool failed = false;
    std::string error;
    std::vector<std::string> notes;
    std::vector<ExportedImage> images;
    CRect region;  // the part of the frame the images show (of the first frame)
    ExportCounts counts;
    double seconds = 0.0;
    // Files written for this video, removed again when it fails half-way or the run is
    // stopped.
    std::vector<std::filesystem::path> written;
    bool interrupted = false;
};

// Asks a run to stop: set from a signal handler (SIGINT, SIGTERM) or a test. Workers look at it
// between frames; the video being written is then removed again and OUT stays marked incomplete.
struct ExportStop {
    std::atomic<bool> requested{false};
    std::atomic<int> signal{0};  // the signal that asked, 0 for none
    // For tests: asks to stop once this many frames have been read in all (negative: never).
    long long afterFrames = -1;

    bool Requested(long long framesRead) {
        if (afterFrames >= 0 && framesRead >= afterFrames) {
            requested.store(true);
        }
        return requested.load();
    }
};

// Checks the video file, reads its label folder (read-only) and crop file, probes the video and
// plans which frames to read. On failure sets video.failed and video.error; the video is then
// not exported.
void PrepareVideo(const ExportOptions& options, VideoExport& video);

// Takes the video out of the dataset in OUT (its record first, then the files that list its
// images, then the images of an earlier export), decodes it once from its start up to the last
// frame needed, writes the images of the planned frames and the format's per-video files, and
// its record last. Thread-safe for distinct videos.
void ExportVideo(const ExportOptions& options, CFormatWriter& writer, CExportProgress& progress,
                 ExportStop& stop, VideoExport& video);
