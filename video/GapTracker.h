#pragma once

#include <functional>
#include <vector>

#include <opencv2/core.hpp>

#include "labels/GapFill.h"
#include "labels/Geometry.h"

class CVideoManager;

// The boxes between two keyframes of a label as the tracker sees the object move: one CSRT
// tracker (CRoiTracker) runs forward from the earlier keyframe's box, another backward from the
// later one's, and each frame between gets their blend, weighted by how near the frame is to
// each keyframe. So the fill follows the real, non-linear motion of the picture (the camera
// moves, not the polyp), and its ends meet both keyframes exactly. Where a tracker loses the
// object, the straight line between the keyframes stands in for it.
//
// `frames` hands out frame n (nullptr when it cannot be read): first gap.first up to
// gap.last - 1 in order, then gap.last down to gap.first + 1. `progress` is told the work done so
// far of the total after every frame; when it returns false the run stops.
//
// Used on one thread; the trackers are its own, so the tracker of the T key keeps its target.
enum class GapTrackResult { kDone, kStopped, kNoFrame };

using GapFrameSource = std::function<const cv::Mat*(int frame)>;
using GapProgress = std::function<bool(int done, int total)>;

// On kDone, `boxes` holds one box per frame between (gap.first + 1 first). On kNoFrame,
// `failedFrame` names the frame that could not be read.
GapTrackResult TrackGapBoxes(const LabelGap& gap, const GapFrameSource& frames,
                             const GapProgress& progress, std::vector<CRect>& boxes,
                             int& failedFrame);

// The frames of the opened video as a source for TrackGapBoxes: steps one frame on or back when
// asked for the neighbour of the frame shown, else seeks. Only verified frames are handed out
// (a frame the index does not reach yet may be another one). Leaves the video on the last frame
// asked for.
GapFrameSource VideoGapFrames(CVideoManager& video);
