// Editing operations on the store and the labelled-frame search. Every change reaches the
// frame's file in the same call, except DeleteROI and DeleteSelectedROI, whose callers rewrite
// the frame next.

#include <climits>
#include <system_error>

#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace {
constexpr int kTrackingModeBit = 0x40;
}

int CLabelManager::AddROI(int frame, const CRect& rect, int nClass, int modeFlags) {
    StepScope step(*this);
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
    ROI* roi = FindSelectedRecord();
    if (roi == nullptr) {
        return 1;
    }
    TouchFrame(roi->nFrame);
    roi->rect = rect;
    SaveFrame(roi->nFrame);
    return 1;
}

int CLabelManager::DeleteFrameROIs(int frame) {
    StepScope step(*this);
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
    if (m_bFolderUsable && frame >= 0) {
        // The file goes directly; a folder carrying its name is not ours to remove.
        std::error_code ec;
        const std::filesystem::path target = FramePath(frame);
        if (std::filesystem::symlink_status(target, ec).type() !=
            std::filesystem::file_type::directory) {
            if (!RemoveFrameFile(frame)) {
                ShowMessage(kMsgNoAccess);  // the old lines would come back on the next load
            } else {
                NoteFrameFile(frame, nullptr);
            }
        }
    }
    AdjustFrameCount(frame, 0, true);
    return 1;
}

int CLabelManager::CopyFrameToNext(int frame) {
    StepScope step(*this);
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
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end()) {
        return 1;
    }
    for (int f : idx->second) {
        TouchFrame(f);
        auto it = m_mapROI.find(Key{f, label});
        if (it != m_mapROI.end()) {
            it->second.nClass = nClass;
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

int CLabelManager::NextLabelledFrame(int cur) const {
    const long long n = m_nFrameCountLength;
    const long long s = static_cast<long long>(cur) + 1;
    long long found = -1;
    if (s >= 0 && s < n) {
        auto it = m_listFrameCount.lower_bound(static_cast<int>(s));
        if (it != m_listFrameCount.end()) {
            found = it->first;
        }
    } else if (n == 0) {
        return -1;
    } else {
        // From the last listed frame or beyond, only the last entry is looked at.
        if (GetFrameCount(static_cast<int>(n - 1)) > 0) {
            found = n - 1;
        }
    }
    return found >= 1 ? static_cast<int>(found) : -1;
}

int CLabelManager::PrevLabelledFrame(int cur) const {
    const long long n = m_nFrameCountLength;
    const long long s = static_cast<long long>(cur) - 1;
    if (s < 0 || s >= n) {
        return cur;
    }
    auto it = m_listFrameCount.upper_bound(static_cast<int>(s));
    if (it == m_listFrameCount.begin()) {
        return -1;
    }
    --it;
    return it->first;
}
