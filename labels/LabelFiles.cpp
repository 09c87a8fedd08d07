// The label folder on disk: opening a video's folder, loading every per-frame file, and
// writing a frame's file back.

#include <algorithm>
#include <array>
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
constexpr size_t kMaxLabelFileBytes = 64u << 20;

// Reads a whole file into `buf[0, len)`, reusing the buffer's storage between files.
bool ReadWholeFile(const fs::path& path, std::string& buf, size_t& len) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return false;
    }
    // Unbuffered: fread then reads straight into our buffer.
    std::setvbuf(f, nullptr, _IONBF, 0);
    len = 0;
    bool ok = true;
    for (;;) {
        if (len == buf.size()) {
            if (buf.size() > kMaxLabelFileBytes) {
                ok = false;  // too big to be ours: skipped whole
                break;
            }
            buf.resize(
                std::min(std::max<size_t>(buf.size() * 2, 64 * 1024), kMaxLabelFileBytes + 1));
        }
        const size_t want = buf.size() - len;
        const size_t got = std::fread(&buf[len], 1, want, f);
        len += got;
        if (got < want) {
            // End of file or an error; asking again would only cost another system call.
            ok = !std::ferror(f);
            break;
        }
    }
    std::fclose(f);
    return ok;
}

bool WriteWholeFile(const fs::path& path, const std::string& content) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fwrite(content.data(), 1, content.size(), f) == content.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
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

bool CLabelManager::ReplaceFileAtomically(const fs::path& target, const std::string& content) {
    const fs::path tmpDir = m_labelFolder / kTempFolderName;
    const fs::path tmp = tmpDir / (target.filename().string() + ".tmp");
    std::error_code ec;
    // The hidden folder is made on first use (and again if someone removed it). It must be a
    // folder of its own: through a link the temporary would be written, and after a failure
    // removed, wherever the link points.
    fs::file_type type = fs::symlink_status(tmpDir, ec).type();
    if (type == fs::file_type::not_found) {
        fs::create_directory(tmpDir, ec);
        type = fs::symlink_status(tmpDir, ec).type();
    }
    if (type != fs::file_type::directory) {
        return false;
    }
    if (!WriteWholeFile(tmp, content)) {
        fs::remove(tmp, ec);
        return false;
    }
    fs::rename(tmp, target, ec);
    if (ec) {
        std::error_code ignored;
        fs::remove(tmp, ignored);
        return false;
    }
    return true;
}

bool CLabelManager::OpenVideo(const fs::path& videoPath) {
    ResetStore();
    const std::string path = videoPath.string();
    const size_t slash = path.find_last_of('/');
    m_strVideoName = slash == std::string::npos ? path : path.substr(slash + 1);

    const fs::path folder = DropLastChars(path, 4);
    m_labelFolder = folder;
    m_bFolderUsable = false;

    if (DropLastChars(m_strVideoName, 4).empty()) {
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
        m_bFolderUsable = !folder.empty() && fs::create_directory(folder, ec) && !ec;
        return false;
    }
    m_bFolderUsable = fs::is_directory(folder, ec);
    if (m_bFolderUsable) {
        SweepParkedFiles();
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
    fs::directory_iterator it(folder, ec);
    if (ec) {
        return 0;
    }

    std::string buf;
    std::vector<ROI> records;
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;  // the listing broke off: keep what was read so far
        }
        const fs::directory_entry& entry = *it;
        // The name without building another path object: this loop runs once per frame file.
        const std::string& full = entry.path().native();
        const size_t slash = full.find_last_of('/');
        const std::string_view name = std::string_view(full).substr(slash + 1);
        if (name == kCropFileName || name == kLoadingTimeLogName) {
            continue;
        }
        std::error_code typeEc;
        // Only regular files (through links): folders are skipped, and a FIFO or device named
        // like a frame file must not block or flood the loader.
        if (!entry.is_regular_file(typeEc) || typeEc) {
            continue;
        }
        int frame = 0;
        if (!FrameFromFileName(name, frame)) {
            continue;
        }
        size_t len = 0;
        if (!ReadWholeFile(entry.path(), buf, len)) {
            continue;
        }
        // Records of all files are gathered first and stored in key order below.
        ParseLabelFileText(std::string_view(buf.data(), len), frame, records);
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
    if (!m_bFolderUsable) {
        ShowMessage(kMsgNoAccess);
        return -1;
    }
    if (frame < 0) {
        return -1;  // no file name exists for such a frame; the record lives in memory only
    }
    std::string content;
    for (auto it = m_mapROI.lower_bound(Key{frame, INT_MIN});
         it != m_mapROI.end() && it->first.first == frame; ++it) {
        AppendLabelLine(content, it->second);
    }
    TouchFrame(frame);
    const fs::path target = FramePath(frame);
    if (content.empty()) {
        // No records, no file. A folder that happens to carry the name is not ours to delete.
        std::error_code ec;
        const fs::file_status status = fs::symlink_status(target, ec);
        if (status.type() == fs::file_type::not_found ||
            status.type() == fs::file_type::directory) {
            return 1;
        }
        if (!RemoveFrameFile(frame)) {
            ShowMessage(kMsgNoAccess);
            return -1;
        }
        NoteFrameFile(frame, nullptr);
        return 1;
    }
    if (!ReplaceFileAtomically(target, content)) {
        ShowMessage(kMsgNoAccess);
        return -1;
    }
    NoteFrameFile(frame, &content);
    return 1;
}
