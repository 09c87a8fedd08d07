// The in-memory store: records keyed by (frame, label), the per-label index, the per-frame
// counts and the selection.

#include "labels/LabelManager.h"

#include <algorithm>
#include <climits>
#include <map>
#include <vector>

#include "labels/LabelFileFormat.h"

CLabelManager::CLabelManager(IFileSystem& fs)
    : m_fs(fs), m_pHistory(std::make_unique<CEditHistory>()) {}
CLabelManager::~CLabelManager() {
    CloseVideo();
}

void CLabelManager::ShowMessage(const std::string& text) const {
    if (m_messageSink) {
        m_messageSink(text);
    }
}

void CLabelManager::NotifyGoButton(int label, bool enabled) const {
    if (m_goButtonSink) {
        m_goButtonSink(label, enabled);
    }
}

void CLabelManager::ResetStore() {
    ++m_nRevision;
    m_mapROI.clear();
    m_labelFrames.clear();
    m_listFrameCount.clear();
    m_nFrameCountLength = 0;
    m_uncounted.clear();
    m_stored.clear();
    m_pendingFrames.clear();
    m_nCurLabel = 1;
    m_strSelKey.clear();
    // Steps of another video (or of this one before it was loaded again) mean nothing now.
    DiscardHistory();
}

void CLabelManager::SelectROI(int label, int frame) {
    m_nSelLabel = label;
    m_nSelFrame = frame;
    m_strSelKey = MakeRoiKey(label, frame);
}

bool CLabelManager::InsertRecord(const ROI& roi) {
    TouchFrame(roi.nFrame);
    ROI stored = roi;
    stored.bSelected = 0;
    ++m_nRevision;
    auto [it, inserted] = m_mapROI.insert_or_assign(Key{roi.nFrame, roi.nLabel}, stored);
    (void)it;
    if (inserted) {
        m_labelFrames[roi.nLabel].insert(roi.nFrame);
    }
    return inserted;
}

bool CLabelManager::RemoveRecord(int frame, int label) {
    auto it = m_mapROI.find(Key{frame, label});
    if (it == m_mapROI.end()) {
        return false;
    }
    TouchFrame(frame);
    m_mapROI.erase(it);
    ++m_nRevision;
    auto idx = m_labelFrames.find(label);
    if (idx != m_labelFrames.end()) {
        idx->second.erase(frame);
        if (idx->second.empty()) {
            m_labelFrames.erase(idx);
        }
    }
    // A record that never entered the count must not take another record's place in it, or a
    // frame that still holds labels would look unlabelled to the search keys.
    if (m_uncounted.erase(Key{frame, label}) == 0) {
        AdjustFrameCount(frame, -1, false);
    }
    return true;
}

const ROI* CLabelManager::FindRecord(int frame, int label) const {
    auto it = m_mapROI.find(Key{frame, label});
    return it == m_mapROI.end() ? nullptr : &it->second;
}

ROI* CLabelManager::FindSelectedRecord() {
    if (m_strSelKey.empty()) {
        return nullptr;
    }
    auto it = m_mapROI.find(Key{m_nSelFrame, m_nSelLabel});
    return it == m_mapROI.end() ? nullptr : &it->second;
}

CRect CLabelManager::GetSelectedRect() const {
    if (m_strSelKey.empty()) {
        return CRect{};
    }
    const ROI* roi = FindRecord(m_nSelFrame, m_nSelLabel);
    return roi ? roi->rect : CRect{};
}

int CLabelManager::HitTest(int frame, const CPoint& point) const {
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        if (it->second.rect.Contains(point)) {
            return it->second.nLabel;
        }
    }
    return -1;
}

void CLabelManager::GetFrameROIs(int frame, std::vector<ROI>& list) const {
    const bool haveSelection = !m_strSelKey.empty() && m_nSelFrame == frame;
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        list.push_back(it->second);
        list.back().bSelected = (haveSelection && it->second.nLabel == m_nSelLabel) ? 1 : 0;
    }
}

int CLabelManager::GetCount() const {
    return static_cast<int>(m_mapROI.size());
}

void CLabelManager::AdjustFrameCount(int frame, int value, bool absolute) {
    if (frame < 0) {
        return;
    }
    ++m_nRevision;
    TouchFrame(frame);
    m_nFrameCountLength = std::max(m_nFrameCountLength, static_cast<long long>(frame) + 1);
    auto it = m_listFrameCount.find(frame);
    long long current = it == m_listFrameCount.end() ? 0 : it->second;
    long long result = absolute ? value : current + value;
    result = std::clamp<long long>(result, 0, INT_MAX);
    if (result == 0) {
        if (it != m_listFrameCount.end()) {
            m_listFrameCount.erase(it);
        }
    } else if (it != m_listFrameCount.end()) {
        it->second = static_cast<int>(result);
    } else {
        m_listFrameCount.emplace(frame, static_cast<int>(result));
    }
}

int CLabelManager::GetFrameCount(int frame) const {
    auto it = m_listFrameCount.find(frame);
    return it == m_listFrameCount.end() ? 0 : it->second;
}

int CLabelManager::GetFrameCountLength() const {
    return static_cast<int>(std::min<long long>(m_nFrameCountLength, INT_MAX));
}

bool CLabelManager::FindROI(int label, int frame, ROI& out) const {
    const ROI* roi = FindRecord(frame, label);
    if (roi == nullptr) {
        return false;
    }
    out = *roi;
    return true;
}

void CLabelManager::RestoreROI(const ROI& roi) {
    StepScope step(*this);
    BatchScope batch(*this);
    if (InsertRecord(roi)) {
        AdjustFrameCount(roi.nFrame, 1, false);
    }
    // The removal being undone was normally never written, so the file already lists the
    // frame's records. Rewriting it anyway would turn a plain click into a file write (and, on
    // a folder that cannot be written, into an access message for nothing).
    if (m_bFolderUsable && roi.nFrame >= 0) {
        std::string text;
        m_fs.ReadFile(FramePath(roi.nFrame), text);
        std::vector<ROI> lines;
        ParseLabelFileText(text, roi.nFrame, lines);
        std::map<int, ROI> onDisk;  // a later line of a label wins, as in a load
        for (const ROI& r : lines) {
            onDisk[r.nLabel] = r;
        }
        bool same = true;
        std::size_t inStore = 0;
        for (auto it = m_mapROI.lower_bound(Key{roi.nFrame, INT_MIN});
             it != m_mapROI.end() && it->first.first == roi.nFrame; ++it, ++inStore) {
            auto disk = onDisk.find(it->first.second);
            same = same && disk != onDisk.end() && disk->second.nClass == it->second.nClass &&
                   disk->second.rect == it->second.rect;
        }
        if (same && inStore == onDisk.size()) {
            m_stored.erase(roi.nFrame);  // memory and file agree again
            return;
        }
    }
    SaveFrame(roi.nFrame);
}

int CLabelManager::FirstLabelledFrameFrom(int from) const {
    auto it = m_listFrameCount.lower_bound(from);
    return it == m_listFrameCount.end() ? -1 : it->first;
}

int CLabelManager::FirstFrameOfLabelFrom(int label, int from) const {
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end()) {
        return -1;
    }
    auto it = idx->second.lower_bound(from);
    return it == idx->second.end() ? -1 : *it;
}

int CLabelManager::LastFrameOfLabelBefore(int label, int before) const {
    auto idx = m_labelFrames.find(label);
    if (idx == m_labelFrames.end()) {
        return -1;
    }
    auto it = idx->second.lower_bound(before);
    return it == idx->second.begin() ? -1 : *std::prev(it);
}
