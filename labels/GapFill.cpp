#include "labels/GapFill.h"

#include <algorithm>
#include <cmath>

#include "labels/LabelManager.h"

GapLookup FindLabelGap(const CLabelManager& store, int label, int frame, LabelGap& out) {
    ROI last;
    if (!store.FindROI(label, frame, last)) {
        return GapLookup::kNoBoxHere;
    }
    const int first = store.LastFrameOfLabelBefore(label, frame);
    ROI firstRoi;
    if (first < 0 || !store.FindROI(label, first, firstRoi)) {
        return GapLookup::kNoEarlierBox;
    }
    out.label = label;
    out.first = first;
    out.last = frame;
    out.firstBox = firstRoi.rect;
    out.lastBox = last.rect;
    out.nClass = last.nClass;
    return frame - first >= 2 ? GapLookup::kFound : GapLookup::kNothingBetween;
}

CRect LinearGapBox(const LabelGap& gap, int frame) {
    const double t = static_cast<double>(frame - gap.first) / (gap.last - gap.first);
    auto at = [t](int a, int b) { return static_cast<int>(std::lround(a + (b - a) * t)); };
    return {at(gap.firstBox.left, gap.lastBox.left), at(gap.firstBox.top, gap.lastBox.top),
            at(gap.firstBox.right, gap.lastBox.right), at(gap.firstBox.bottom, gap.lastBox.bottom)};
}

bool ClipBox(const CRect& box, const CRect& bounds, CRect& out) {
    out = {std::max(box.left, bounds.left), std::max(box.top, bounds.top),
           std::min(box.right, bounds.right), std::min(box.bottom, bounds.bottom)};
    return out.left < out.right && out.top < out.bottom;
}

int FillLabelGap(CLabelManager& store, const LabelGap& gap, const std::vector<CRect>& boxes,
                 const CRect& bounds) {
    // The boxes were found for these keyframes; an edit since (they run with the window's
    // input held, but the store is the judge) would make them a fill of some other gap.
    LabelGap now;
    if (gap.Length() < 1 || static_cast<int>(boxes.size()) != gap.Length() ||
        FindLabelGap(store, gap.label, gap.last, now) != GapLookup::kFound ||
        now.first != gap.first || now.firstBox != gap.firstBox || now.lastBox != gap.lastBox) {
        return -1;
    }
    // AddROI files a box under the active label.
    const int active = store.GetCurLabel();
    store.SetCurLabel(gap.label);
    store.BeginEditStep();
    int stored = 0;
    for (int i = 0; i < gap.Length(); ++i) {
        CRect box;
        if (ClipBox(boxes[static_cast<size_t>(i)], bounds, box)) {
            store.AddROI(gap.first + 1 + i, box, gap.nClass, 0);
            ++stored;
        }
    }
    store.EndEditStep(gap.last);
    store.SetCurLabel(active);
    return stored;
}
