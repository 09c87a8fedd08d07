// Editing operations on the store and the labelled-frame search. Every change reaches the
// frame's file in the same call, except DeleteROI and DeleteSelectedROI, whose callers rewrite
// the frame next.

#include <algorithm>
#include <climits>

#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace {
constexpr int kTrackingModeBit = 0x40;
}

int CLabelManager::AddROI(int frame, const CRect& rect, int nClass, int modeFlags) {
    StepScope step(*this);
    BatchScope batch(*this);
    // A tracking step stores its result under the label being tracked, not the active one.
    const int label = (modeFlags & kTrackingModeBit) ? m_nSelLabel : m_nCurLabel;
    ROI roi;
    roi.nFrame = frame;
    roi.nLabel = label;
    roi.nClass = nClass;
    roi.rect = rect;
    if (InsertRecord(roi)) {
        AdjustFrameCount(frame, 1, false);
    }
    SaveFrame(frame);
    return label;
}

int CLabelManager::DeleteROI(int frame, int label) {
    StepScope step(*this);
    if (label < 0) {
        label = m_nCurLabel;
    }
    RemoveRecord(frame, label);
    return 1;
}

int CLabelManager::DeleteSelectedROI(int frame) {
    StepScope step(*this);
    const ROI* roi = FindSelectedRecord();
    if (roi == nullptr || roi->nFrame != frame) {
        return 0;
    }
    RemoveRecord(roi->nFrame, roi->nLabel);
    return 1;
}

int CLabelManager::SetSelectedRect(const CRect& rect) {
    StepScope step(*this);
    BatchScope batch(*this);
    ROI* roi = FindSelectedRecord();
    if (roi == nullptr) {
        return 1;
    }
    TouchFrame(roi->nFrame);
    roi->rect = rect;
    ++m_nRevision;
    SaveFrame(roi->nFrame);
    return 1;
}

int CLabelManager::DeleteFrameROIs(int frame) {
    StepScope step(*this);
    BatchScope batch(*this);
    auto first = m_mapROI.lower_bound(Key{frame, INT_MIN});
    auto last = first;
    std::vector<int> labels;
    for (; last != m_mapROI.end() && last->first.first == frame; ++last) {
        labels.push_back(last->first.second);
    }
    if (labels.empty()) {
        return 1;
    }
    TouchFrame(frame);
    for (int label : labels) {
        m_uncounted.erase(Key{frame, label});
        auto idx = m_labelFrames.find(label);
        if (idx != m_labelFrames.end()) {
            idx->second.erase(frame);
            if (idx->second.empty()) {
                m_labelFrames.erase(idx);
            }
        }
    }
    m_mapROI.erase(first, last);
    ++m_nRevision;
    // The file goes directly (parked for undo); a folder carrying its name is not ours.
    m_pendingFrames.insert(frame);
    AdjustFrameCount(frame, 0, true);
    return 1;
}

int CLabelManager::CopyFrameToNext(int frame) {
    StepScope step(*this);
    BatchScope batch(*this);
    if (frame == INT_MAX) {
        return 1;  // there is no next frame to copy to
    }
    const int next = frame + 1;
    std::vector<ROI> copies;
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        copies.push_back(it->second);
        copies.back().nFrame = next;
    }
    std::vector<int> stale;
    for (auto it = m_mapROI.lower_bound(Key{next, INT_MIN});
         it != m_mapROI.end() && it->first.first == next; ++it) {
        stale.push_back(it->first.second);
    }
    for (int label : stale) {
        RemoveRecord(next, label);
    }
    for (const ROI& roi : copies) {
        InsertRecord(roi);
    }
    AdjustFrameCount(next, static_cast<int>(copies.size()), true);
    SaveFrame(next);
    return 1;
}

int CLabelManager::DeleteLabelAfter(int frame, int label) {
    StepScope step(*this);
    BatchScope batch(*this);
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end()) {
        return 1;
    }
    std::vector<int> frames(idx->second.upper_bound(frame), idx->second.end());
    for (int f : frames) {
        RemoveRecord(f, label);
        SaveFrame(f);
    }
    return 1;
}

int CLabelManager::SetLabelClass(int label, int nClass) {
    StepScope step(*this);
    BatchScope batch(*this);
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end()) {
        return 1;
    }
    for (int f : idx->second) {
        TouchFrame(f);
        auto it = m_mapROI.find(Key{f, label});
        if (it != m_mapROI.end()) {
            it->second.nClass = nClass;
            ++m_nRevision;
        }
        SaveFrame(f);
    }
    return 1;
}

int CLabelManager::GetLabelClass(int label) const {
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end() || idx->second.empty()) {
        return -1;
    }
    // The first record of the label in (frame, label) order is the one on its first frame.
    const ROI* roi = FindRecord(*idx->second.begin(), label);
    return roi ? roi->nClass : -1;
}

int CLabelManager::FindFirstFrame(int label) {
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end() || idx->second.empty()) {
        ShowMessage(kMsgNoSuchLabel);
        return -1;
    }
    return *idx->second.begin();
}

// N: the nearest labelled frame after cur, or -1 when there is none; also from beyond the last
// listed frame, where going back to that frame would send the user the wrong way. A search that
// starts at frame 0 (cur -1 or below) ends there when frame 0 is the first labelled frame: frame 0
// is never a result.
int CLabelManager::NextLabelledFrame(int cur) const {
    const long long s = std::max(static_cast<long long>(cur) + 1, 0LL);
    if (s > INT_MAX) {
        return -1;
    }
    auto it = m_listFrameCount.lower_bound(static_cast<int>(s));
    if (it == m_listFrameCount.end() || it->first < 1) {
        return -1;
    }
    return it->first;
}

// B: the nearest labelled frame before cur, or -1 when there is none, wherever cur lies. At frame
// 0 (or before it) there is nothing before, and cur itself comes back: the key then shows the
// current frame again.
int CLabelManager::PrevLabelledFrame(int cur) const {
    if (cur <= 0) {
        return cur;
    }
    auto it = m_listFrameCount.lower_bound(cur);
    if (it == m_listFrameCount.begin()) {
        return -1;
    }
    --it;
    return it->first;
}
