#include "video/GapTracker.h"

#include <cmath>

#include "video/RoiTracker.h"
#include "video/VideoManager.h"

namespace {

struct Track {
    std::vector<CRect> box;  // by offset from gap.first; the keyframes' entries stay unused
    std::vector<bool> found;
};

CRect ToRect(const cv::Rect& r) {
    return {r.x, r.y, r.x + r.width, r.y + r.height};
}

// Runs one tracker from one keyframe over the frames between, towards the other.
GapTrackResult RunTracker(const LabelGap& gap, bool forward, const GapFrameSource& frames,
                          const GapProgress& progress, int& done, int total, Track& track,
                          int& failedFrame) {
    const int span = gap.last - gap.first;
    track.box.assign(static_cast<size_t>(span + 1), CRect{});
    track.found.assign(static_cast<size_t>(span + 1), false);
    const int start = forward ? gap.first : gap.last;
    const int step = forward ? 1 : -1;
    CRoiTracker tracker;
    const cv::Mat* frame = frames(start);
    if (frame == nullptr) {
        failedFrame = start;
        return GapTrackResult::kNoFrame;
    }
    // A box the tracker refuses (under 10 x 10) leaves this direction to the straight line.
    const bool started = tracker.Init(*frame, forward ? gap.firstBox : gap.lastBox);
    for (int k = 1; k < span; ++k) {
        const int n = start + step * k;
        frame = frames(n);
        if (frame == nullptr) {
            failedFrame = n;
            return GapTrackResult::kNoFrame;
        }
        cv::Rect found;
        // A failed update keeps the model; the object may come back after an occlusion.
        if (started && tracker.Update(*frame, found)) {
            const size_t at = static_cast<size_t>(n - gap.first);
            track.box[at] = ToRect(found);
            track.found[at] = true;
        }
        if (progress && !progress(++done, total)) {
            return GapTrackResult::kStopped;
        }
    }
    return GapTrackResult::kDone;
}

}  // namespace

GapTrackResult TrackGapBoxes(const LabelGap& gap, const GapFrameSource& frames,
                             const GapProgress& progress, std::vector<CRect>& boxes,
                             int& failedFrame) {
    boxes.clear();
    const int span = gap.last - gap.first;
    if (span < 2) {
        return GapTrackResult::kDone;
    }
    const int total = 2 * gap.Length();
    int done = 0;
    Track fwd;
    Track bwd;
    for (bool forward : {true, false}) {
        const GapTrackResult r = RunTracker(gap, forward, frames, progress, done, total,
                                            forward ? fwd : bwd, failedFrame);
        if (r != GapTrackResult::kDone) {
            return r;
        }
    }
    for (int k = 1; k < span; ++k) {
        const size_t at = static_cast<size_t>(k);
        const double w = static_cast<double>(k) / span;
        const CRect line = LinearGapBox(gap, gap.first + k);
        const CRect f = fwd.found[at] ? fwd.box[at] : line;
        const CRect b = bwd.found[at] ? bwd.box[at] : line;
        auto mix = [w](int fv, int bv) {
            return static_cast<int>(std::lround((1 - w) * fv + w * bv));
        };
        boxes.push_back({mix(f.left, b.left), mix(f.top, b.top), mix(f.right, b.right),
                         mix(f.bottom, b.bottom)});
    }
    return GapTrackResult::kDone;
}

GapFrameSource VideoGapFrames(CVideoManager& video) {
    return [&video](int n) -> const cv::Mat* {
        const int shown = video.CurrentFrameIndex();
        // The frame on screen may carry the overlay: reading it again gives it clean.
        const bool came = n == shown + 1   ? video.ReadNextFrame()
                          : n == shown - 1 ? video.ReadPreviousFrame()
                          : n == shown     ? video.ReloadCurrentFrame()
                                           : video.SeekFrame(n);
        if (!came || video.CurrentFrameIndex() != n || !video.IsCurrentFrameVerified() ||
            video.CurrentFrame().empty()) {
            return nullptr;
        }
        return &video.CurrentFrame();
    };
}
