// Write batches: how the store's changes reach the label folder all together or not at all, and
// how a batch that a crash cut off is finished at the next open. See LabelManager.h.

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <mutex>
#include <random>
#include <set>
#include <sstream>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

using Kind = IFileSystem::Kind;

constexpr const char* kProcessPrefix = "proc-";
constexpr const char* kJournalHeader = "tagwright step journal 1";

std::string HostName() {
    char buf[256] = {};
    return ::gethostname(buf, sizeof buf - 1) == 0 ? buf : "?";
}

// "proc-<pid>-<token>@<host>": the writer that owns a folder, so that the folder of a live
// writer is never swept.
bool ParseProcessFolder(const std::string& name, long& pid, std::string& host) {
    if (name.rfind(kProcessPrefix, 0) != 0) {
        return false;
    }
    const size_t at = name.find('@');
    if (at == std::string::npos) {
        return false;
    }
    pid = std::strtol(name.c_str() + std::char_traits<char>::length(kProcessPrefix), nullptr, 10);
    host = name.substr(at + 1);
    return true;
}

struct JournalEntry {
    char op = 0;  // 'W' staged file to frame, 'M' parked file back to frame, 'D' frame removed
    int frame = 0;
    std::string name;  // in the writer's folder; "-" for a removal without parking
};

bool ParseJournal(const std::string& text, std::vector<JournalEntry>& out) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != kJournalHeader) {
        return false;
    }
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string op;
        fields >> op;
        if (op == "end") {
            size_t n = 0;
            fields >> n;
            return n == out.size();  // complete only with its closing line
        }
        JournalEntry e;
        e.op = op.empty() ? 0 : op[0];
        if (!(fields >> e.frame >> e.name) || (e.op != 'W' && e.op != 'M' && e.op != 'D')) {
            return false;
        }
        out.push_back(std::move(e));
    }
    return false;
}

// The folders of this process's stores that are open: another store of ours may recover only
// the folders of stores that are closed (one that kept a journal it could not finish).
std::mutex g_liveMutex;
std::set<std::string> g_liveFolders;

bool LiveInThisProcess(const std::string& name) {
    std::lock_guard<std::mutex> hold(g_liveMutex);
    return g_liveFolders.count(name) != 0;
}

}  // namespace

// --- this process's folder ---

fs::path CLabelManager::ProcessFolder() const {
    return m_labelFolder / kTempFolderName / m_strProcessFolder;
}

int CLabelManager::EnsureProcessFolder() {
    if (m_strProcessFolder.empty()) {
        // Unique per store, not only per process: two stores of one process never share.
        static unsigned long long serial = 0;
        std::random_device rd;
        m_strProcessFolder = std::string(kProcessPrefix) + std::to_string(::getpid()) + "-" +
                             std::to_string(++serial) + "." + std::to_string(rd() & 0xFFFFFF) +
                             "@" + HostName();
        std::lock_guard<std::mutex> hold(g_liveMutex);
        g_liveFolders.insert(m_strProcessFolder);
    }
    if (int e = EnsureRealFolder(m_fs, m_labelFolder / kTempFolderName)) {
        return e;
    }
    return EnsureRealFolder(m_fs, ProcessFolder());
}

void CLabelManager::RemoveProcessFolder() {
    if (m_strProcessFolder.empty() || m_labelFolder.empty()) {
        return;
    }
    const fs::path folder = ProcessFolder();
    Kind kind = Kind::None;
    // A journal still there is a batch that could not be finished: it stays for the next open.
    if (m_fs.Status(folder / kJournalFileName, kind) == 0 && kind == Kind::None) {
        std::vector<IFileSystem::Entry> entries;
        m_fs.List(folder, entries);
        for (const IFileSystem::Entry& e : entries) {
            m_fs.Remove(folder / e.name);
        }
        m_fs.Remove(folder);
    }
    std::lock_guard<std::mutex> hold(g_liveMutex);
    g_liveFolders.erase(m_strProcessFolder);
    m_strProcessFolder.clear();
}

// --- batches ---

bool CLabelManager::BatchScope::Finish() {
    if (m_bDone) {
        return m_bResult;
    }
    m_bDone = true;
    if (--m_store.m_nBatchDepth == 0) {
        m_bResult = m_store.CommitPending();
    }
    return m_bResult;
}

void CLabelManager::ShowDiskError(int error) const {
    ShowMessage(DiskErrorMessage(error, m_labelFolder));
}

bool CLabelManager::CheckWritable() {
    if (!m_bFolderUsable) {
        ShowDiskError(EACCES);
        return false;
    }
    if (m_bReadOnly) {
        ShowMessage(m_strRefusal);
        return false;
    }
    if (m_pLock && m_pLock->IsHeld() && !m_pLock->StillOurs()) {
        if (m_pLock->IsHeld()) {
            ShowDiskError(m_pLock->Error());  // the lock could not be read
            return false;
        }
        m_bReadOnly = true;
        m_strHolder = m_pLock->Holder().Describe();
        m_strRefusal = FormatMessage(kMsgReadOnlyEdit, m_strHolder);
        ShowMessage(FormatMessage(kMsgLockLost, m_strHolder));
        return false;
    }
    return true;
}

std::string CLabelManager::FrameText(int frame) const {
    std::string content;
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        AppendLabelLine(content, it->second);
    }
    return content;
}

bool CLabelManager::CommitPending() {
    std::set<int> frames;
    frames.swap(m_pendingFrames);
    if (frames.empty()) {
        return true;
    }
    std::vector<FileAction> actions;
    actions.reserve(frames.size());
    for (int frame : frames) {
        FileAction a;
        a.frame = frame;
        a.content = FrameText(frame);
        if (a.content.empty()) {
            a.kind = FileAction::Kind::Remove;
            // A file removed in a step while it still holds what it held before is parked rather
            // than deleted: undoing a large deletion then renames files back instead of making
            // them again, which the file system does far faster.
            const CEditHistory::FrameChange* change = m_pHistory->RecordedFrame(frame);
            if (m_pHistory->IsRecording() && change != nullptr && change->parked.empty() &&
                change->before.fileKnown && change->before.file &&
                change->after.file == change->before.file) {
                a.parked = m_pHistory->NextParkedName();
            }
        }
        actions.push_back(std::move(a));
    }
    const std::vector<int> touched(frames.begin(), frames.end());
    if (!CommitActions(actions)) {
        RevertToStored(touched);
        return false;
    }
    for (const FileAction& a : actions) {
        const bool removed = a.kind == FileAction::Kind::Remove;
        NoteFrameFile(a.frame, removed ? nullptr : &a.content);
        if (removed && !a.parked.empty()) {
            if (CEditHistory::FrameChange* change = m_pHistory->RecordedFrame(a.frame)) {
                change->parked = a.parked;
            }
        }
    }
    for (int frame : touched) {
        m_stored.erase(frame);
    }
    return true;
}

void CLabelManager::RevertToStored(const std::vector<int>& frames) {
    for (int frame : frames) {
        auto it = m_stored.find(frame);
        if (it == m_stored.end()) {
            continue;
        }
        PutFrame(frame, it->second);
        m_stored.erase(it);
    }
}

bool CLabelManager::CommitActions(std::vector<FileAction>& actions) {
    if (actions.empty()) {
        return true;
    }
    if (!CheckWritable()) {
        return false;
    }
    // Removing what is not there is nothing to do; a folder carrying a frame's name is not ours.
    std::vector<FileAction> todo;
    todo.reserve(actions.size());
    for (FileAction& a : actions) {
        if (a.frame < 0) {
            continue;  // no file name exists for such a frame
        }
        if (a.kind == FileAction::Kind::Remove) {
            Kind kind = Kind::None;
            if (int e = m_fs.Status(FramePath(a.frame), kind)) {
                ShowDiskError(e);
                return false;
            }
            if (kind == Kind::None || kind == Kind::Folder) {
                a.parked.clear();
                continue;
            }
        }
        todo.push_back(a);
    }
    if (todo.empty()) {
        return true;
    }
    int error = 0;
    const bool ok = todo.size() == 1 ? CommitOne(todo[0], error) : CommitJournalled(todo, error);
    if (!ok) {
        return false;
    }
    // Park names as they ended up (a removal that had nothing to remove parked nothing).
    size_t j = 0;
    for (FileAction& a : actions) {
        if (j < todo.size() && todo[j].frame == a.frame) {
            a.parked = todo[j].parked;
            ++j;
        }
    }
    return true;
}

bool CLabelManager::CommitOne(FileAction& a, int& error) {
    const fs::path target = FramePath(a.frame);
    const bool parking = a.kind == FileAction::Kind::MoveBack ||
                         (a.kind == FileAction::Kind::Remove && !a.parked.empty());
    if (a.kind != FileAction::Kind::Remove || parking) {
        if ((error = EnsureProcessFolder()) != 0) {
            ShowDiskError(error);
            return false;
        }
    }
    switch (a.kind) {
        case FileAction::Kind::Write:
            error = ReplaceFile(m_fs, ProcessFolder() / ("w-" + std::to_string(++m_nStageSerial)),
                                target, a.content, true);
            break;
        case FileAction::Kind::MoveBack:
            error = m_fs.Rename(ProcessFolder() / a.parked, target);
            break;
        case FileAction::Kind::Remove:
            error = parking ? m_fs.Rename(target, ProcessFolder() / a.parked) : m_fs.Remove(target);
            if (error == ENOENT) {
                error = 0;  // gone already
                a.parked.clear();
            }
            if (error != 0 && parking) {
                ShowMessage(std::string(kMsgCantPark) + "\n" +
                            DiskErrorMessage(error, m_labelFolder));
                return false;
            }
            break;
    }
    if (error != 0) {
        ShowDiskError(error);
        return false;
    }
    // The rename is done and visible; flushing the folder makes it survive a power cut. When
    // that fails the change still stands, but the operator hears that the disk is failing.
    {
        int e = m_fs.SyncFolder(m_labelFolder);
        if (e == 0 && parking) {
            e = m_fs.SyncFolder(ProcessFolder());
        }
        if (e != 0) {
            ShowDiskError(e);
        }
    }
    return true;
}

bool CLabelManager::CommitJournalled(std::vector<FileAction>& actions, int& error) {
    if ((error = EnsureProcessFolder()) != 0) {
        ShowDiskError(error);
        return false;
    }
    const fs::path proc = ProcessFolder();
    std::vector<std::string> staged;
    auto discard = [&]() {
        for (const std::string& name : staged) {
            m_fs.Remove(proc / name);
        }
    };
    // 1. Every new file under a name of its own, not yet flushed one by one.
    std::string journal = std::string(kJournalHeader) + "\n";
    for (FileAction& a : actions) {
        char op = 'W';
        std::string name;
        if (a.kind == FileAction::Kind::Write) {
            name = "s-" + std::to_string(++m_nStageSerial);
            if ((error = m_fs.WriteFile(proc / name, a.content, true, false)) != 0) {
                discard();
                ShowDiskError(error);
                return false;
            }
            staged.push_back(name);
        } else if (a.kind == FileAction::Kind::MoveBack) {
            op = 'M';
            name = a.parked;
        } else {
            op = 'D';
            name = a.parked.empty() ? "-" : a.parked;
        }
        journal += op;
        journal += ' ' + std::to_string(a.frame) + ' ' + name + '\n';
    }
    journal += "end " + std::to_string(actions.size()) + "\n";
    // 2. One flush for all of them; 3. the journal, flushed with its folder: the commit.
    const fs::path journalPath = proc / kJournalFileName;
    if ((error = m_fs.SyncAll(m_labelFolder)) != 0) {
        discard();
        ShowDiskError(error);
        return false;
    }
    error = ReplaceFile(m_fs, proc / "journal.tmp", journalPath, journal, true);
    if (error == 0) {
        error = m_fs.SyncFolder(proc);
        if (error != 0) {
            m_fs.Remove(journalPath);
        }
    }
    if (error != 0) {
        discard();
        ShowDiskError(error);
        return false;
    }
    // 4. The renames. Past the commit a failure is retried once; a rename that fails twice
    // leaves the journal, and the next open finishes the batch.
    bool finished = true;
    bool parked = false;
    size_t s = 0;
    for (FileAction& a : actions) {
        const fs::path target = FramePath(a.frame);
        auto apply = [&]() {
            switch (a.kind) {
                case FileAction::Kind::Write:
                    return m_fs.Rename(proc / staged[s], target);
                case FileAction::Kind::MoveBack:
                    return m_fs.Rename(proc / a.parked, target);
                case FileAction::Kind::Remove:
                    break;
            }
            const int e =
                a.parked.empty() ? m_fs.Remove(target) : m_fs.Rename(target, proc / a.parked);
            return e == ENOENT ? 0 : e;
        };
        int e = apply();
        if (e != 0) {
            e = apply();
        }
        if (e != 0) {
            error = e;
            finished = false;
            break;
        }
        parked = parked || a.kind != FileAction::Kind::Write;
        if (a.kind == FileAction::Kind::Write) {
            ++s;
        }
    }
    if (finished) {
        int e = m_fs.SyncFolder(m_labelFolder);
        if (e == 0 && parked) {
            e = m_fs.SyncFolder(proc);
        }
        if (e != 0) {
            ShowDiskError(e);
        }
    }
    // 5. The batch is done once its journal is gone; left behind, it would be replayed over
    // later changes, so its removal is flushed too.
    if (finished) {
        int e = m_fs.Remove(journalPath);
        if (e != 0 && e != ENOENT) {
            e = m_fs.Remove(journalPath);
        }
        if (e != 0 && e != ENOENT) {
            error = e;
            finished = false;
        } else {
            m_fs.SyncFolder(proc);
        }
    }
    if (!finished) {
        // The change is committed and stays in memory; the folder gets it at the next open.
        // Until then nothing more is written here: a later change could be undone by the replay.
        m_bReadOnly = true;
        m_strRefusal =
            std::string(kMsgBatchUnfinished) + "\n" + DiskErrorMessage(error, m_labelFolder);
        ShowMessage(m_strRefusal);
    }
    return true;
}

// --- recovery at open ---

bool CLabelManager::RecoverInterruptedSteps() {
    const fs::path hidden = m_labelFolder / kTempFolderName;
    Kind kind = Kind::None;
    if (m_fs.Status(hidden, kind) != 0 || kind != Kind::Folder) {
        return true;
    }
    std::vector<IFileSystem::Entry> entries;
    if (m_fs.List(hidden, entries) != 0) {
        return true;
    }
    const std::string host = HostName();
    int completed = 0;
    bool rolledBack = false;
    bool ok = true;
    for (const IFileSystem::Entry& entry : entries) {
        const fs::path folder = hidden / entry.name;
        if (entry.kind == Kind::File) {
            // Temporaries of older versions and of lock attempts that never finished.
            if (entry.name != kLockFileName && entry.name.rfind("lock-", 0) != 0) {
                m_fs.Remove(folder);
            }
            continue;
        }
        if (entry.kind != Kind::Folder) {
            continue;
        }
        long pid = 0;
        std::string owner;
        if (ParseProcessFolder(entry.name, pid, owner) && owner == host &&
            (pid == static_cast<long>(::getpid()) ? LiveInThisProcess(entry.name)
                                                  : CFolderLock::ProcessRunning(pid))) {
            continue;  // a writer still at work (another store of ours, or a broken lock)
        }
        std::vector<IFileSystem::Entry> files;
        m_fs.List(folder, files);
        std::string text;
        std::vector<JournalEntry> journal;
        const bool hasJournal = m_fs.ReadFile(folder / kJournalFileName, text) == 0;
        if (hasJournal && ParseJournal(text, journal)) {
            // Each rename is redone unless already done, so a crash during this is harmless too.
            for (const JournalEntry& j : journal) {
                const fs::path target = FramePath(j.frame);
                Kind k = Kind::None;
                int e = 0;
                if (j.op == 'D') {
                    // The parked copy would only serve an undo history that died with its writer.
                    if (m_fs.Status(target, k) == 0 && k == Kind::File) {
                        e = m_fs.Remove(target);
                    }
                } else if (m_fs.Status(folder / j.name, k) == 0 && k == Kind::File) {
                    e = m_fs.Rename(folder / j.name, target);
                }
                if (e != 0) {
                    ok = false;
                    break;
                }
            }
            if (!ok) {
                continue;  // the folder and its journal stay: they hold the only copies
            }
            m_fs.SyncFolder(m_labelFolder);
            completed += static_cast<int>(journal.size());
        } else {
            // No complete journal: the batch never reached its commit and nothing of it was
            // renamed; its staged files are all that is left of it.
            for (const IFileSystem::Entry& f : files) {
                rolledBack = rolledBack || f.name.rfind("s-", 0) == 0;
            }
        }
        for (const IFileSystem::Entry& f : files) {
            m_fs.Remove(folder / f.name);
        }
        m_fs.Remove(folder);
    }
    if (!ok) {
        ShowMessage(kMsgRecoveryFailed);
        return false;
    }
    if (completed > 0) {
        char text[512];
        std::snprintf(text, sizeof text, kMsgStepCompleted, completed);
        ShowMessage(text);
    } else if (rolledBack) {
        ShowMessage(kMsgStepRolledBack);
    }
    return true;
}
