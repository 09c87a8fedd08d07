#pragma once

#include <string>

#include "labels/Geometry.h"

// Label numbers run from kFirstLabel to kSkipLabel: 1 to 29 are objects, the last one is the
// SKIP label. Buttons, colours, GO buttons and the label files all follow this range.
constexpr int kFirstLabel = 1;
constexpr int kSkipLabel = 30;
constexpr int kLabelCount = kSkipLabel - kFirstLabel + 1;
constexpr bool IsLabelNumber(int n) {
    return n >= kFirstLabel && n <= kSkipLabel;
}

// One labelled rectangle on one frame. Plain value: copied into and out of the store.
struct ROI {
    int nFrame = 0;     // 0-based frame index
    int nLabel = 0;     // 1..29 ordinary labels, 30 = SKIP
    int nClass = 0;     // 0 Polyp, 1 Skip, 2 Removed
    CRect rect;         // frame pixels
    int bSelected = 0;  // 1 only in the copy of the selected record handed to the overlay
};

// The key of a record: label and frame formatted "%d_%d", label first.
std::string MakeRoiKey(int label, int frame);
