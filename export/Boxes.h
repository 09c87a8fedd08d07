#pragma once

#include <string_view>

#include "export/ExportOptions.h"
#include "labels/ROI.h"

// The geometry every format shares: a stored record becomes a box in image pixels.
//
// A stored rectangle covers the pixels left..right-1 and top..bottom-1 of the frame, so its width
// is right - left. The editor never reorders corners and a damaged file can hold anything, so the
// export orders them, clips the box to the image and drops what has no area left.

// A box as it leaves the program.
struct ExportBox {
    int label = 0;
    int nClass = 0;  // as stored; the kind is what the formats show
    BoxKind kind = BoxKind::kPolyp;
    CRect rect;  // image pixels, left < right and top < bottom
};

// What a record stands for. False for records no format can carry: a label outside 1..30 or a
// class outside 0..2, which only a damaged file holds.
bool BoxKindOf(const ROI& roi, BoxKind& kind);

CRect NormalisedRect(const CRect& rect);

// The stored rectangle in pixels of an image cut out of the frame at `region` (frame pixels,
// normalised): corners ordered, clipped to the region, shifted to its top-left. False when no
// area is left.
bool MapToImage(const CRect& stored, const CRect& region, CRect& out);

// The rectangle of a crop file's first line "left,top,right,bottom", normalised (the operator may
// drag up or to the left). False when the line holds no four numbers.
bool ParseCropText(std::string_view text, CRect& region);

// `rect` clipped to a frame of the given size; false when nothing is left.
bool ClipToFrame(const CRect& rect, int width, int height, CRect& out);
