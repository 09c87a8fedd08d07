#pragma once

#include <vector>

#include "labels/Geometry.h"

class CLabelManager;

// Filling a gap of one label: the frames strictly between two frames that hold a box of it
// (keyframes) get a box each, in one undo step. How the boxes between are found (a straight
// line, or the tracker in video/GapTracker.h) is the caller's choice; this part finds the gap,
// clips the boxes and stores them.
struct LabelGap {
    int label = 0;
    int first = -1;  // the earlier keyframe
    int last = -1;   // the later keyframe, the frame the fill was asked on
    CRect firstBox;
    CRect lastBox;
    int nClass = 0;  // the later keyframe's class, given to every box of the fill

    // Frames between the keyframes.
    int Length() const { return last - first - 1; }
};

enum class GapLookup {
    kFound,
    kNoBoxHere,      // the frame holds no box of the label
    kNoEarlierBox,   // no earlier frame holds one
    kNothingBetween  // the nearest earlier one is the frame right before
};

// The gap that ends at `frame`: from the nearest earlier frame holding a box of `label` to this
// frame's box of it. So a box of the label between two others always splits the gap.
GapLookup FindLabelGap(const CLabelManager& store, int label, int frame, LabelGap& out);

// The box on frame `frame` (first < frame < last) of a straight line from firstBox to lastBox:
// each corner moved in proportion to the frame's place, rounded to the nearest pixel.
CRect LinearGapBox(const LabelGap& gap, int frame);

// The part of `box` inside `bounds`; false when nothing of it is left.
bool ClipBox(const CRect& box, const CRect& bounds, CRect& out);

// Stores boxes[i] on frame gap.first + 1 + i under gap.label and gap.nClass, each clipped to
// `bounds` (a box with nothing left inside is not stored), as one undo step that shows the
// later keyframe when undone. Nothing is stored, and -1 returned, when the store no longer has
// this gap or `boxes` does not cover it; else the number of boxes stored.
int FillLabelGap(CLabelManager& store, const LabelGap& gap, const std::vector<CRect>& boxes,
                 const CRect& bounds);
