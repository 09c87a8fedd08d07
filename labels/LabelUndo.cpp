// Undo and redo of the store's edits. Each step keeps, for every frame it changed, the frame's
// records, count and file before and after; undoing writes the old file back through the same
// atomic replacement as every other write and then puts the old records back, so the store and
// the disk move together frame by frame.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <set>
#include <system_error>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

// What is at a frame file's path now. A folder of that name is not ours (the store never
// touches it) and counts as no file; a file that cannot be read is unknown.
void ReadFrameFile(const fs::path& path, CEditHistory::FrameState& state) {
    state.file.reset();
    state.fileKnown = true;
    // Non-blocking, so that a FIFO named like a frame file cannot stall the editor.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT) {
            return;  // no file: known to be absent
        }
        std::error_code ec;
        const fs::file_type type = fs::symlink_status(path, ec).type();
        state.fileKnown = type == fs::file_type::not_found || type == fs::file_type::directory;
        return;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        state.fileKnown = S_ISDIR(st.st_mode);
        ::close(fd);
        return;
    }
    // The size fstat gave is read and no more: one read per file (this runs once per frame a
    // step touches, 100,000 times for a class change over a long video).
    std::string bytes(static_cast<size_t>(st.st_size), '\0');
    size_t len = 0;
    while (len < bytes.size()) {
        const ssize_t got = ::read(fd, &bytes[len], bytes.size() - len);
        if (got < 0) {
            state.fileKnown = false;
            ::close(fd);
            return;
        }
        if (got == 0) {
            break;  // shorter than it was a moment ago
        }
        len += static_cast<size_t>(got);
    }
    ::close(fd);
    bytes.resize(len);
    state.file = std::move(bytes);
}

}  // namespace

void CLabelManager::BeginEditStep() {
    CEditHistory& h = *m_pHistory;
    if (h.Depth()++ > 0) {
        return;
    }
    CEditHistory::Step& step = h.StartRecording();
    step.selBefore = {m_strSelKey, m_nSelLabel, m_nSelFrame};
    step.countLengthBefore = m_nFrameCountLength;
}

void CLabelManager::EndEditStep(int viewFrame) {
    CEditHistory& h = *m_pHistory;
    if (!h.IsRecording()) {
        h.Depth() = 0;
        return;
    }
    CEditHistory::Step& step = h.Recording();
    if (viewFrame >= 0) {
        step.viewFrame = viewFrame;
    }
    if (--h.Depth() > 0) {
        return;
    }
    for (CEditHistory::FrameChange& change : step.frames) {
        CEditHistory::FrameState& after = change.after;
        after.records.clear();
        after.uncountedLabels.clear();
        for (auto it = m_mapROI.lower_bound(Key{change.frame, INT_MIN});
             it != m_mapROI.end() && it->first.first == change.frame; ++it) {
            after.records.push_back(it->second);
            if (m_uncounted.count(it->first) != 0) {
                after.uncountedLabels.push_back(it->first.second);
            }
        }
        after.count = GetFrameCount(change.frame);
        // after.file has followed every write of the step.
    }
    if (step.viewFrame < 0 && !step.frames.empty()) {
        step.viewFrame = step.frames.front().frame;
    }
    step.selAfter = {m_strSelKey, m_nSelLabel, m_nSelFrame};
    step.countLengthAfter = m_nFrameCountLength;
    h.FinishRecording();
    DeleteDiscardedParked();
}

void CLabelManager::TouchFrame(int frame) {
    CEditHistory& h = *m_pHistory;
    if (!h.IsRecording() || h.RecordedFrame(frame) != nullptr) {
        return;
    }
    CEditHistory::FrameChange& change = h.AddRecordedFrame(frame);
    CEditHistory::FrameState& before = change.before;
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        before.records.push_back(it->second);
        if (m_uncounted.count(it->first) != 0) {
            before.uncountedLabels.push_back(it->first.second);
        }
    }
    before.count = GetFrameCount(frame);
    if (m_bFolderUsable && frame >= 0) {
        ReadFrameFile(FramePath(frame), before);
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

fs::path CLabelManager::ParkingFolder() const {
    return m_labelFolder / kTempFolderName / "undo";
}

bool CLabelManager::EnsureParkingFolder() {
    // Real folders only: through a link, files would be parked (and later deleted) elsewhere.
    std::error_code ec;
    for (const fs::path& dir : {m_labelFolder / kTempFolderName, ParkingFolder()}) {
        fs::file_type type = fs::symlink_status(dir, ec).type();
        if (type == fs::file_type::not_found) {
            fs::create_directory(dir, ec);
            type = fs::symlink_status(dir, ec).type();
        }
        if (type != fs::file_type::directory) {
            return false;
        }
    }
    return true;
}

bool CLabelManager::RemoveFrameFile(int frame) {
    const fs::path target = FramePath(frame);
    std::error_code ec;
    CEditHistory::FrameChange* change =
        m_pHistory->IsRecording() ? m_pHistory->RecordedFrame(frame) : nullptr;
    // Moving the file aside is what makes undoing a large deletion quick: creating thousands
    // of files again costs the file system far more than renaming them back.
    if (change != nullptr && change->parked.empty() && change->before.fileKnown &&
        change->before.file && change->after.file == change->before.file && EnsureParkingFolder()) {
        const std::string name = m_pHistory->NextParkedName();
        fs::rename(target, ParkingFolder() / name, ec);
        if (!ec) {
            change->parked = name;
            return true;
        }
    }
    fs::remove(target, ec);
    return !ec;  // a file already gone is no failure
}

void CLabelManager::SweepParkedFiles() {
    // Files moved aside for an undo that a crash never took back: no history names them any
    // more, and they would only pile up in the hidden folder.
    std::error_code ec;
    if (fs::symlink_status(m_labelFolder / kTempFolderName, ec).type() !=
            fs::file_type::directory ||
        fs::symlink_status(ParkingFolder(), ec).type() != fs::file_type::directory) {
        return;
    }
    for (fs::directory_iterator it(ParkingFolder(), ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ignored;
        fs::remove(it->path(), ignored);
    }
}

void CLabelManager::DeleteDiscardedParked() {
    const std::vector<std::string> names = m_pHistory->TakeDiscardedParked();
    if (names.empty() || m_labelFolder.empty()) {
        return;
    }
    std::error_code ec;
    if (fs::symlink_status(m_labelFolder / kTempFolderName, ec).type() !=
            fs::file_type::directory ||
        fs::symlink_status(ParkingFolder(), ec).type() != fs::file_type::directory) {
        return;
    }
    for (const std::string& name : names) {
        fs::remove(ParkingFolder() / name, ec);
    }
}

void CLabelManager::DiscardHistory() {
    m_pHistory->Clear();
    DeleteDiscardedParked();
}

bool CLabelManager::WriteFrameState(const CEditHistory::FrameChange& change, bool undo) {
    if (!m_bFolderUsable) {
        return false;
    }
    const CEditHistory::FrameState& to = undo ? change.before : change.after;
    const fs::path target = FramePath(change.frame);
    std::error_code ec;
    if (!change.parked.empty()) {
        const fs::path parked = ParkingFolder() / change.parked;
        if (undo) {
            // The removed file itself goes back; when it has gone missing, its bytes are
            // written instead and a stale copy is not left behind.
            fs::rename(parked, target, ec);
            if (!ec) {
                return true;
            }
        } else if (!to.file && EnsureParkingFolder()) {
            fs::rename(target, parked, ec);
            if (!ec) {
                return true;
            }
        }
    }
    std::optional<std::string> content = to.file;
    if (!to.fileKnown) {
        // The old file could not be read: the best we have is its records in our format.
        std::string text;
        for (const ROI& roi : to.records) {
            AppendLabelLine(text, roi);
        }
        if (!text.empty()) {
            content = std::move(text);
        }
    }
    if (content) {
        if (!ReplaceFileAtomically(target, *content)) {
            return false;
        }
        if (!change.parked.empty()) {
            fs::remove(ParkingFolder() / change.parked, ec);
        }
        return true;
    }
    const fs::file_type type = fs::symlink_status(target, ec).type();
    if (type == fs::file_type::not_found || type == fs::file_type::directory) {
        return true;
    }
    return fs::remove(target, ec) && !ec;
}

bool CLabelManager::RestoreFrame(const CEditHistory::FrameChange& change, bool undo) {
    const CEditHistory::FrameState& from = undo ? change.after : change.before;
    const CEditHistory::FrameState& to = undo ? change.before : change.after;
    const int frame = change.frame;
    // A file the step did not change on disk is left alone (its records may still differ, when
    // the step's write failed).
    const bool fileDiffers = !to.fileKnown || !from.fileKnown || from.file != to.file;
    if (frame >= 0 && fileDiffers && !WriteFrameState(change, undo)) {
        return false;
    }
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
    return true;
}

void CLabelManager::ApplyStep(bool undo, EditOutcome& out, bool& complete) {
    const CEditHistory::Step& step = undo ? *m_pHistory->NextUndo() : *m_pHistory->NextRedo();
    complete = true;
    std::set<int> labels;
    for (const CEditHistory::FrameChange& change : step.frames) {
        if (!RestoreFrame(change, undo)) {
            complete = false;
            continue;
        }
        out.changed = true;
        for (const CEditHistory::FrameState* s : {&change.before, &change.after}) {
            for (const ROI& roi : s->records) {
                labels.insert(roi.nLabel);
            }
        }
    }
    out.labels.assign(labels.begin(), labels.end());
    out.viewFrame = step.viewFrame;
    if (!complete) {
        // Frames already moved stay moved (memory and disk agree for each); moving them again
        // when the step is retried changes nothing.
        ShowMessage(kMsgNoAccess);
        return;
    }
    const CEditHistory::Selection& sel = undo ? step.selBefore : step.selAfter;
    m_strSelKey = sel.key;
    m_nSelLabel = sel.label;
    m_nSelFrame = sel.frame;
    m_nFrameCountLength = undo ? step.countLengthBefore : step.countLengthAfter;
    if (undo) {
        m_pHistory->MarkUndone();
    } else {
        m_pHistory->MarkRedone();
    }
}

bool CLabelManager::Undo(EditOutcome& out) {
    return TakeStep(true, out);
}

bool CLabelManager::Redo(EditOutcome& out) {
    return TakeStep(false, out);
}

bool CLabelManager::TakeStep(bool undo, EditOutcome& out) {
    out = EditOutcome{};
    if (m_pHistory->IsRecording()) {
        // A step left open (its action never finished) is closed as it stands.
        m_pHistory->Depth() = 1;
        EndEditStep(-1);
    }
    if (undo ? !m_pHistory->CanUndo() : !m_pHistory->CanRedo()) {
        return false;
    }
    bool complete = false;
    ApplyStep(undo, out, complete);
    return complete;
}

bool CLabelManager::CanUndo() const {
    return m_pHistory->CanUndo() || m_pHistory->IsRecording();
}

bool CLabelManager::CanRedo() const {
    return m_pHistory->CanRedo();
}
