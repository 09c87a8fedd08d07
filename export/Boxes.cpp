#include "export/Boxes.h"

#include <algorithm>

#include "labels/LabelFileFormat.h"

bool BoxKindOf(const ROI& roi, BoxKind& kind) {
    if (roi.nLabel < 1 || roi.nLabel > 30 || roi.nClass < 0 || roi.nClass > 2) {
        return false;
    }
    if (roi.nLabel == 30) {
        // The SKIP label's class radios are disabled in the editor: its class says nothing.
        kind = BoxKind::kSkip;
    } else {
        kind = static_cast<BoxKind>(roi.nClass);
    }
    return true;
}

CRect NormalisedRect(const CRect& rect) {
    return {std::min(rect.left, rect.right), std::min(rect.top, rect.bottom),
            std::max(rect.left, rect.right), std::max(rect.top, rect.bottom)};
}

bool MapToImage(const CRect& stored, const CRect& region, CRect& out) {
    // Clipped in frame pixels first: the shift then stays within the region and cannot overflow
    // whatever a damaged file holds.
    const CRect r = NormalisedRect(stored);
    const int left = std::max(r.left, region.left);
    const int top = std::max(r.top, region.top);
    const int right = std::min(r.right, region.right);
    const int bottom = std::min(r.bottom, region.bottom);
    if (left >= right || top >= bottom) {
        return false;
    }
    out = {left - region.left, top - region.top, right - region.left, bottom - region.top};
    return true;
}

bool ParseCropText(std::string_view text, CRect& region) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    int v[4] = {};
    for (int i = 0; i < 4; ++i) {
        const size_t comma = line.find(',');
        if ((comma == std::string_view::npos) != (i == 3)) {
            return false;  // fewer or more than four fields
        }
        if (!ParseLabelInt(line.substr(0, comma), v[i])) {
            return false;
        }
        if (comma != std::string_view::npos) {
            line.remove_prefix(comma + 1);
        }
    }
    region = NormalisedRect({v[0], v[1], v[2], v[3]});
    return true;
}

bool ClipToFrame(const CRect& rect, int width, int height, CRect& out) {
    return MapToImage(rect, {0, 0, width, height}, out);
}
