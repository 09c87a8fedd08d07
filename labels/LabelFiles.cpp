// The label folder on disk: opening a video's folder, loading every per-frame file, and
// writing a frame's file back.

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <iomanip>
#include <locale>
#include <sstream>
#include <system_error>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace fs = std::filesystem;

namespace {

// Larger files cannot come from this program (a frame holds at most a few dozen lines); reading
// them whole would only let a stray file exhaust memory.
constexpr long long kMaxLabelFileBytes = 64ll << 20;

std::string IdleText(long long seconds) {
    if (seconds < 0) {
        return "an unknown time";
    }
    if (seconds < 120) {
        return std::to_string(seconds) + " seconds";
    }
    if (seconds < 2 * 3600) {
        return std::to_string(seconds / 60) + " minutes";
    }
    return std::to_string(seconds / 3600) + " hours";
}

void AppendLoadingTimeLog(const fs::path& log, const fs::path& folder, double seconds) {
    std::ostringstream line;
    line.imbue(std::locale::classic());
    line << "loading folder execution time: " << folder.string() << std::setw(10) << seconds
         << " seconds\r\n";
    const std::string text = line.str();
    std::FILE* f = std::fopen(log.c_str(), "ab");
    if (f == nullptr) {
        return;  // the log is a convenience: no message when it cannot be written
    }
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

}  // namespace

fs::path CLabelManager::BesideFolder(const fs::path& folder, const char* name) {
    // The parent as the path names it. Letting the file system resolve "<folder>/.." would
    // follow a linked label folder to the parent of its target, far from the video.
    fs::path named = folder;
    if (!named.has_filename()) {
        named = named.parent_path();  // "a/case7/" names the folder "a/case7"
    }
    const fs::path last = named.filename();
    if (last.empty() || last == "." || last == "..") {
        return folder / ".." / name;  // no name to strip: only the file system knows
    }
    const fs::path parent = named.parent_path();
    return (parent.empty() ? fs::path(".") : parent) / name;
}

fs::path CLabelManager::FramePath(int frame) const {
    return m_labelFolder / (std::to_string(frame) + ".txt");
}

void CLabelManager::CloseVideo() {
    DiscardHistory();
    m_pendingFrames.clear();
    m_stored.clear();
    RemoveProcessFolder();
    if (m_pLock) {
        m_pLock->Release();
        m_pLock.reset();
    }
    m_bFolderUsable = false;
    m_bReadOnly = false;
    m_strHolder.clear();
    m_strRefusal.clear();
}

bool CLabelManager::TakeFolder(const fs::path& folder) {
    m_pLock = std::make_unique<CFolderLock>(m_fs);
    const CFolderLock::Result result = m_pLock->Acquire(folder, [this](const LockHolder& holder) {
        if (!m_questionSink) {
            return false;
        }
        char text[1024];
        std::snprintf(text, sizeof text, kMsgTakeOverStale, holder.Describe().c_str(),
                      IdleText(holder.idleSeconds).c_str());
        return m_questionSink(text);
    });
    if (result == CFolderLock::Result::Held) {
        m_bReadOnly = true;
        m_strHolder = m_pLock->Holder().Describe();
        m_strRefusal = FormatMessage(kMsgReadOnlyEdit, m_strHolder);
        m_pLock.reset();
        ShowMessage(FormatMessage(kMsgReadOnlyOpen, m_strHolder));
        return false;
    }
    if (result == CFolderLock::Result::Error) {
        // No lock can be made (a folder we may not write, a file where the hidden folder goes):
        // the writes that follow fail the same way and say why, one by one.
        m_pLock.reset();
        return false;
    }
    return true;
}

fs::path CLabelManager::LabelFolderOf(const fs::path& videoPath) {
    if (DropLastChars(videoPath.filename().string(), 4).empty()) {
        return {};
    }
    return DropLastChars(videoPath.string(), 4);
}

bool CLabelManager::OpenVideo(const fs::path& videoPath) {
    CloseVideo();
    ResetStore();
    const std::string path = videoPath.string();
    const size_t slash = path.find_last_of('/');
    m_strVideoName = slash == std::string::npos ? path : path.substr(slash + 1);

    const fs::path folder = LabelFolderOf(videoPath);
    m_labelFolder = DropLastChars(path, 4);
    m_bFolderUsable = false;

    if (folder.empty()) {
        // A name of four characters or fewer (".mp4", "a.ts", "ab") leaves no folder beside
        // the video: what remains is the video's own folder or a cut-off name in its parent.
        // Reading the one or writing into either would scatter labels among unrelated files,
        // so this video gets no label folder and every write reports the failure.
        return false;
    }

    std::error_code ec;
    const fs::file_status status = fs::symlink_status(folder, ec);
    if (folder.empty() || status.type() == fs::file_type::not_found) {
        // A new video: its folder starts empty. When it cannot be made, the folder stays
        // unusable and every write reports the failure rather than landing elsewhere.
        m_bFolderUsable = !folder.empty() && m_fs.MakeFolder(folder) == 0;
        if (m_bFolderUsable) {
            TakeFolder(folder);
        }
        return false;
    }
    m_bFolderUsable = fs::is_directory(folder, ec);
    // A change cut off by a crash is finished before anything is read, and only by the holder
    // of the lock: a reader without it loads what the files hold now.
    if (m_bFolderUsable && TakeFolder(folder) && !RecoverInterruptedSteps()) {
        m_bReadOnly = true;
        m_strRefusal = kMsgRecoveryFailed;
    }
    LoadFolder(folder);
    return true;
}

int CLabelManager::LoadFolder(const fs::path& folder) {
    const auto start = std::chrono::steady_clock::now();
    std::array<bool, kLabelCount> present{};
    if (ReadFolderRecords(folder, present) == 0) {
        return 0;
    }

    for (int label = kFirstLabel; label <= kSkipLabel; ++label) {
        NotifyGoButton(label, present[label - 1]);
    }

    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - start);
    AppendLoadingTimeLog(BesideFolder(folder, kLoadingTimeLogName), folder,
                         static_cast<double>(elapsed.count()) / 1000000.0);
    return 1;
}

int CLabelManager::ReadFolder(const fs::path& folder) {
    std::array<bool, kLabelCount> present{};
    return ReadFolderRecords(folder, present);
}

int CLabelManager::ReadFolderRecords(const fs::path& folder,
                                     std::array<bool, kLabelCount>& present) {
    bool badLabelShown = false;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) {
        return 0;
    }
    std::vector<IFileSystem::Entry> entries;
    // A listing that broke off keeps what it found; one that never began reads nothing.
    if (m_fs.List(folder, entries) != 0 && entries.empty()) {
        return 0;
    }

    std::string buf;
    bool readErrorShown = false;
    std::string path = folder.native() + "/";
    const size_t base = path.size();
    std::vector<ROI> records;
    for (const IFileSystem::Entry& entry : entries) {
        const std::string& name = entry.name;
        // Only regular files (through links): folders are skipped, and a FIFO or device named
        // like a frame file must not block or flood the loader.
        if (name == kCropFileName || name == kLoadingTimeLogName ||
            entry.kind != IFileSystem::Kind::File) {
            continue;
        }
        int frame = 0;
        if (!FrameFromFileName(name, frame)) {
            continue;
        }
        path.resize(base);
        path += name;
        const int e = m_fs.ReadFile(path, buf);
        if (e == EIO && !readErrorShown) {
            // A file the disk cannot give back is not one that is absent: the operator must
            // hear of it before editing that frame would replace it.
            readErrorShown = true;
            ShowMessage(DiskErrorMessage(EIO, folder));
        }
        if (e != 0 || static_cast<long long>(buf.size()) > kMaxLabelFileBytes) {
            continue;
        }
        // Records of all files are gathered first and stored in key order below.
        ParseLabelFileText(buf, frame, records);
    }

    StoreLoadedRecords(records, present, badLabelShown);
    return 1;
}

void CLabelManager::StoreLoadedRecords(std::vector<ROI>& records,
                                       std::array<bool, kLabelCount>& present,
                                       bool& badLabelShown) {
    // Stored in (frame, label) order, each insertion lands at the end of the containers, which
    // keeps a 100,000-file load close to the cost of reading the files. A later line of the
    // same key (same file or another file of that frame) replaces an earlier one, as if the
    // lines had been stored one by one in reading order: the stable sort keeps reading order
    // within a key and the last of each run is the one kept.
    std::stable_sort(records.begin(), records.end(), [](const ROI& a, const ROI& b) {
        return Key{a.nFrame, a.nLabel} < Key{b.nFrame, b.nLabel};
    });
    const bool appendOnly = m_mapROI.empty();
    ++m_nRevision;
    int countedFrame = -1;
    int counted = 0;
    for (size_t i = 0; i < records.size(); ++i) {
        const ROI& roi = records[i];
        if (i + 1 < records.size() && records[i + 1].nFrame == roi.nFrame &&
            records[i + 1].nLabel == roi.nLabel) {
            continue;  // replaced by a line read later
        }
        bool isNew = true;
        if (appendOnly) {
            m_mapROI.emplace_hint(m_mapROI.end(), Key{roi.nFrame, roi.nLabel}, roi);
            std::set<int>& frames = m_labelFrames[roi.nLabel];
            frames.emplace_hint(frames.end(), roi.nFrame);
        } else {
            isNew = InsertRecord(roi);
        }
        if (roi.nLabel < 1) {
            // Kept and written back with its frame, but neither counted nor offered a GO button.
            if (isNew) {
                m_uncounted.insert(Key{roi.nFrame, roi.nLabel});
            }
            if (!badLabelShown) {
                badLabelShown = true;
                ShowMessage(kMsgBadLabel);
            }
            continue;
        }
        if (roi.nLabel <= kSkipLabel) {
            present[roi.nLabel - 1] = true;
        }
        if (isNew) {
            if (roi.nFrame != countedFrame) {
                AddLoadedCount(countedFrame, counted);
                countedFrame = roi.nFrame;
                counted = 0;
            }
            ++counted;
        }
    }
    AddLoadedCount(countedFrame, counted);
    m_stored.clear();  // what was just read is what the files hold
}

void CLabelManager::AddLoadedCount(int frame, int count) {
    if (count <= 0 || frame < 0) {
        return;
    }
    if (static_cast<long long>(frame) >= m_nFrameCountLength) {
        // Beyond every listed frame: the entry is new and goes at the end of the map.
        m_nFrameCountLength = static_cast<long long>(frame) + 1;
        m_listFrameCount.emplace_hint(m_listFrameCount.end(), frame, count);
        return;
    }
    AdjustFrameCount(frame, count, false);
}

int CLabelManager::SaveFrame(int frame) {
    StepScope step(*this);
    BatchScope batch(*this);
    if (frame < 0) {
        if (!m_bFolderUsable) {
            ShowMessage(DiskErrorMessage(EACCES, m_labelFolder));
        }
        return -1;  // no file name exists for such a frame; the record lives in memory only
    }
    TouchFrame(frame);
    m_pendingFrames.insert(frame);
    return batch.Finish() ? 1 : -1;
}
