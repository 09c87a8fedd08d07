// The bounded undo list of the label store; see EditHistory.h.

#include "labels/EditHistory.h"

#include <utility>

namespace {

bool SameRecord(const ROI& a, const ROI& b) {
    return a.nFrame == b.nFrame && a.nLabel == b.nLabel && a.nClass == b.nClass && a.rect == b.rect;
}

size_t StateBytes(const CEditHistory::FrameState& s) {
    size_t bytes = s.records.capacity() * sizeof(ROI) + s.uncountedLabels.capacity() * sizeof(int);
    if (s.file) {
        bytes += s.file->capacity();
    }
    return bytes;
}

}  // namespace

CEditHistory::CEditHistory(size_t maxSteps, size_t maxBytes)
    : m_nMaxSteps(maxSteps), m_nMaxBytes(maxBytes) {}

void CEditHistory::Clear() {
    // Done steps (and one being recorded) hold their removed files parked.
    for (size_t i = 0; i < m_nDone; ++i) {
        DiscardParked(m_steps[i].frames);
    }
    if (m_bRecording) {
        DiscardParked(m_recording.frames);
    }
    m_steps.clear();
    m_nDone = 0;
    m_nBytes = 0;
    m_nDepth = 0;
    m_bRecording = false;
    m_recording = Step{};
    m_recordedIndex.clear();
}

CEditHistory::Step& CEditHistory::StartRecording() {
    m_bRecording = true;
    m_recording = Step{};
    m_recordedIndex.clear();
    return m_recording;
}

CEditHistory::FrameChange* CEditHistory::RecordedFrame(int frame) {
    auto it = m_recordedIndex.find(frame);
    return it == m_recordedIndex.end() ? nullptr : &m_recording.frames[it->second];
}

CEditHistory::FrameChange& CEditHistory::AddRecordedFrame(int frame) {
    m_recordedIndex.emplace(frame, m_recording.frames.size());
    m_recording.frames.emplace_back();
    m_recording.frames.back().frame = frame;
    return m_recording.frames.back();
}

bool CEditHistory::SameState(const FrameState& a, const FrameState& b) {
    if (a.count != b.count || a.file != b.file || a.fileKnown != b.fileKnown ||
        a.uncountedLabels != b.uncountedLabels || a.records.size() != b.records.size()) {
        return false;
    }
    for (size_t i = 0; i < a.records.size(); ++i) {
        if (!SameRecord(a.records[i], b.records[i])) {
            return false;
        }
    }
    return true;
}

size_t CEditHistory::EstimateBytes(const Step& step) {
    size_t bytes = sizeof(Step) + step.selBefore.key.capacity() + step.selAfter.key.capacity() +
                   step.frames.capacity() * sizeof(FrameChange);
    for (const FrameChange& f : step.frames) {
        bytes += StateBytes(f.before) + StateBytes(f.after) + f.parked.capacity();
    }
    return bytes;
}

bool CEditHistory::FinishRecording() {
    m_bRecording = false;
    m_nDepth = 0;
    m_recordedIndex.clear();
    Step step = std::move(m_recording);
    m_recording = Step{};

    std::vector<FrameChange> changed;
    for (FrameChange& f : step.frames) {
        if (!SameState(f.before, f.after)) {
            changed.push_back(std::move(f));
        } else if (!f.parked.empty()) {
            m_discardedParked.push_back(f.parked);  // removed and written back the same
        }
    }
    // A step that only extended the count list changed nothing the operator can see.
    if (changed.empty()) {
        return false;
    }
    changed.shrink_to_fit();
    step.frames = std::move(changed);
    step.bytes = EstimateBytes(step);

    // Redo steps are undone: their files are back in place, nothing of theirs is parked.
    while (m_steps.size() > m_nDone) {
        m_nBytes -= m_steps.back().bytes;
        m_steps.pop_back();
    }
    m_nBytes += step.bytes;
    m_steps.push_back(std::move(step));
    m_nDone = m_steps.size();
    while (m_steps.size() > 1 && (m_steps.size() > m_nMaxSteps || m_nBytes > m_nMaxBytes)) {
        DropOldest();
    }
    return true;
}

std::string CEditHistory::NextParkedName() {
    return "p-" + std::to_string(++m_nParkedSerial);
}

bool CEditHistory::Close(bool all) {
    if (m_nDepth == 0) {
        return true;
    }
    m_nDepth = all ? 0 : m_nDepth - 1;
    return m_nDepth == 0;
}

std::vector<std::string> CEditHistory::TakeDiscardedParked() {
    std::vector<std::string> names;
    names.swap(m_discardedParked);
    return names;
}

void CEditHistory::DiscardParked(const std::vector<FrameChange>& frames) {
    for (const FrameChange& f : frames) {
        if (!f.parked.empty()) {
            m_discardedParked.push_back(f.parked);
        }
    }
}

void CEditHistory::DropOldest() {
    // Dropped steps are always done ones (the oldest), whose removed files are parked.
    DiscardParked(m_steps.front().frames);
    m_nBytes -= m_steps.front().bytes;
    m_steps.pop_front();
    if (m_nDone > 0) {
        --m_nDone;
    }
}
