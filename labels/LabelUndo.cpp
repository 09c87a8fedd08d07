// Undo and redo of the store's edits. Each step keeps, for every frame it changed, the frame's
// records, count and file before and after; undoing writes the old files back as one write
// batch (all of them or none, across a crash too) and then puts the old records back, so the
// store and the disk move together.

#include <climits>
#include <set>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

// What is at a frame file's path now. A folder of that name is not ours (the store never
// touches it) and counts as no file; a file that cannot be read is unknown.
void ReadFrameFile(IFileSystem& fsys, const fs::path& path, CEditHistory::FrameState& state) {
    state.file.reset();
    state.fileKnown = true;
    std::string bytes;
    const int e = fsys.ReadFile(path, bytes);
    if (e == 0) {
        state.file = std::move(bytes);
        return;
    }
    IFileSystem::Kind kind = IFileSystem::Kind::None;
    state.fileKnown = e == ENOENT || e == EISDIR ||
                      (fsys.Status(path, kind) == 0 &&
                       (kind == IFileSystem::Kind::None || kind == IFileSystem::Kind::Folder));
}

}  // namespace

void CLabelManager::BeginEditStep() {
    CEditHistory& h = *m_pHistory;
    if (!h.Open()) {
        return;
    }
    CEditHistory::Step& step = h.StartRecording();
    step.selBefore = {m_strSelKey, m_nSelLabel, m_nSelFrame};
    step.countLengthBefore = m_nFrameCountLength;
}

void CLabelManager::EndEditStep(int viewFrame) {
    CloseStep(viewFrame, false);
}

void CLabelManager::CloseStep(int viewFrame, bool all) {
    CEditHistory& h = *m_pHistory;
    if (!h.IsRecording()) {
        h.Close(true);
        return;
    }
    CEditHistory::Step& step = h.Recording();
    if (viewFrame >= 0) {
        step.viewFrame = viewFrame;
    }
    if (!h.Close(all)) {
        return;
    }
    for (CEditHistory::FrameChange& change : step.frames) {
        const std::optional<std::string> file = std::move(change.after.file);
        const bool known = change.after.fileKnown;
        CaptureFrame(change.frame, change.after);
        // after.file has followed every write of the step.
        change.after.file = file;
        change.after.fileKnown = known;
    }
    if (step.viewFrame < 0 && !step.frames.empty()) {
        step.viewFrame = step.frames.front().frame;
    }
    step.selAfter = {m_strSelKey, m_nSelLabel, m_nSelFrame};
    step.countLengthAfter = m_nFrameCountLength;
    h.FinishRecording();
    DeleteDiscardedParked();
}

void CLabelManager::CaptureFrame(int frame, CEditHistory::FrameState& state) const {
    state.records.clear();
    state.uncountedLabels.clear();
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        state.records.push_back(it->second);
        if (m_uncounted.count(it->first) != 0) {
            state.uncountedLabels.push_back(it->first.second);
        }
    }
    state.count = GetFrameCount(frame);
}

void CLabelManager::PutFrame(int frame, const CEditHistory::FrameState& to) {
    auto first = m_mapROI.lower_bound(Key{frame, INT_MIN});
    auto last = first;
    for (; last != m_mapROI.end() && last->first.first == frame; ++last) {
        const int label = last->first.second;
        m_uncounted.erase(last->first);
        auto idx = m_labelFrames.find(label);
        if (idx != m_labelFrames.end()) {
            idx->second.erase(frame);
            if (idx->second.empty()) {
                m_labelFrames.erase(idx);
            }
        }
    }
    ++m_nRevision;  // what follows the store (the slider marks) sees the frame change
    // The frame's records are contiguous in key order: each goes in just before `next`.
    const auto next = m_mapROI.erase(first, last);
    for (const ROI& roi : to.records) {
        m_mapROI.emplace_hint(next, Key{roi.nFrame, roi.nLabel}, roi);
        m_labelFrames[roi.nLabel].insert(roi.nFrame);
    }
    for (int label : to.uncountedLabels) {
        m_uncounted.insert(Key{frame, label});
    }
    if (to.count > 0) {
        m_listFrameCount[frame] = to.count;
    } else {
        m_listFrameCount.erase(frame);
    }
}

void CLabelManager::TouchFrame(int frame) {
    if (m_stored.find(frame) == m_stored.end()) {
        CaptureFrame(frame, m_stored[frame]);
    }
    CEditHistory& h = *m_pHistory;
    if (!h.IsRecording() || h.RecordedFrame(frame) != nullptr) {
        return;
    }
    CEditHistory::FrameChange& change = h.AddRecordedFrame(frame);
    CEditHistory::FrameState& before = change.before;
    CaptureFrame(frame, before);
    if (m_bFolderUsable && frame >= 0) {
        ReadFrameFile(m_fs, FramePath(frame), before);
    }
    // Until the step writes the file, it is what it was.
    change.after.file = before.file;
    change.after.fileKnown = before.fileKnown;
}

void CLabelManager::NoteFrameFile(int frame, const std::string* content) {
    CEditHistory::FrameChange* change = m_pHistory->RecordedFrame(frame);
    if (!m_pHistory->IsRecording() || change == nullptr) {
        return;
    }
    if (content != nullptr) {
        change->after.file = *content;
    } else {
        change->after.file.reset();
    }
    change->after.fileKnown = true;
}

void CLabelManager::DeleteDiscardedParked() {
    const std::vector<std::string> names = m_pHistory->TakeDiscardedParked();
    if (names.empty() || m_strProcessFolder.empty()) {
        return;
    }
    for (const std::string& name : names) {
        m_fs.Remove(ProcessFolder() / name);
    }
}

void CLabelManager::DiscardHistory() {
    m_pHistory->Clear();
    DeleteDiscardedParked();
}

bool CLabelManager::PlanFrameState(CEditHistory::FrameChange& change, StepDirection direction,
                                   std::vector<FileAction>& actions) {
    const bool undo = direction == StepDirection::Undo;
    const CEditHistory::FrameState& from = undo ? change.after : change.before;
    const CEditHistory::FrameState& to = undo ? change.before : change.after;
    // A file the step did not change on disk is left alone.
    if (change.frame < 0 || (to.fileKnown && from.fileKnown && from.file == to.file)) {
        return false;
    }
    FileAction a;
    a.frame = change.frame;
    bool hasFile = to.file.has_value();
    if (hasFile) {
        a.content = *to.file;
    }
    if (!to.fileKnown) {
        // The old file could not be read: the best we have is its records in our format.
        a.content.clear();
        for (const ROI& roi : to.records) {
            AppendLabelLine(a.content, roi);
        }
        hasFile = !a.content.empty();
    }
    if (!hasFile) {
        a.kind = FileAction::Kind::Remove;
        // A redone deletion parks its file again, so that the next undo is as quick.
        if (!change.parked.empty()) {
            a.parked = m_pHistory->NextParkedName();
        }
        actions.push_back(std::move(a));
        return true;
    }
    if (undo && !change.parked.empty() && !m_strProcessFolder.empty()) {
        // The parked file goes back only when it still holds the step's bytes: whatever else
        // wrote into our folder meanwhile, the frame gets what it held.
        std::string bytes;
        if (m_fs.ReadFile(ProcessFolder() / change.parked, bytes) == 0 && bytes == a.content) {
            a.kind = FileAction::Kind::MoveBack;
            a.parked = change.parked;
        }
    }
    actions.push_back(std::move(a));
    return true;
}

bool CLabelManager::Undo(EditOutcome& out) {
    return TakeStep(StepDirection::Undo, out);
}

bool CLabelManager::Redo(EditOutcome& out) {
    return TakeStep(StepDirection::Redo, out);
}

bool CLabelManager::TakeStep(StepDirection direction, EditOutcome& out) {
    out = EditOutcome{};
    if (m_pHistory->IsRecording()) {
        CloseStep(-1, true);  // a step left open (its action never finished) ends as it stands
    }
    CEditHistory::Step* step = m_pHistory->NextStep(direction);
    if (step == nullptr) {
        return false;
    }
    const bool undo = direction == StepDirection::Undo;
    std::vector<FileAction> actions;
    std::vector<size_t> owners;  // the step frame of each action
    for (size_t i = 0; i < step->frames.size(); ++i) {
        if (PlanFrameState(step->frames[i], direction, actions)) {
            owners.push_back(i);
        }
    }
    if (!CommitActions(actions)) {
        return false;  // nothing moved; the step stays to be taken again
    }
    for (size_t k = 0; k < actions.size(); ++k) {
        CEditHistory::FrameChange& change = step->frames[owners[k]];
        const FileAction& a = actions[k];
        // The name stays with the frame even once its file is back: it marks a frame whose
        // removal parks, and a redo parks it again under a new one.
        if (a.kind == FileAction::Kind::Remove && !a.parked.empty()) {
            change.parked = a.parked;
        } else if (a.kind == FileAction::Kind::Write && !change.parked.empty()) {
            m_fs.Remove(ProcessFolder() / change.parked);  // a stale copy goes too
        }
    }
    std::set<int> labels;
    for (const CEditHistory::FrameChange& change : step->frames) {
        PutFrame(change.frame, undo ? change.before : change.after);
        m_stored.erase(change.frame);
        for (const CEditHistory::FrameState* s : {&change.before, &change.after}) {
            for (const ROI& roi : s->records) {
                labels.insert(roi.nLabel);
            }
        }
    }
    out.changed = !step->frames.empty();
    out.labels.assign(labels.begin(), labels.end());
    out.viewFrame = step->viewFrame;
    const CEditHistory::Selection& sel = undo ? step->selBefore : step->selAfter;
    m_strSelKey = sel.key;
    m_nSelLabel = sel.label;
    m_nSelFrame = sel.frame;
    m_nFrameCountLength = undo ? step->countLengthBefore : step->countLengthAfter;
    if (undo) {
        m_pHistory->MarkUndone();
    } else {
        m_pHistory->MarkRedone();
    }
    return true;
}

bool CLabelManager::CanUndo() const {
    return m_pHistory->CanUndo() || m_pHistory->IsRecording();
}

bool CLabelManager::CanRedo() const {
    return m_pHistory->CanRedo();
}
