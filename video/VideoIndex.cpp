// CVideoManager: the frame index: the worker that builds it, taking its frames, the index file in
// the label folder, and what the window shows of it.
#include <algorithm>
#include <climits>
#include <system_error>

#include "video/FrameIndexBuilder.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexFolderName = ".tagwright-index";
constexpr const char* kIndexFileName = "frames.idx";

}  // namespace

fs::path CVideoManager::IndexFilePath(const fs::path& labelFolder) {
    return labelFolder / kIndexFolderName / kIndexFileName;
}

void CVideoManager::StartIndexing() {
    if (!IsOpened() || m_index.Complete() || m_pBuilder) {
        return;
    }
    m_pBuilder = std::make_unique<CFrameIndexBuilder>();
    m_pBuilder->Start(m_path);
}

void CVideoManager::PollIndex() {
    if (!m_pBuilder) {
        return;
    }
    std::vector<IndexedFrame> frames;
    bool finished = false;
    m_pBuilder->Take(frames, finished);
    // The worker's frames come in order from frame 0; those the reads in order have already
    // put into the index are the same frames.
    for (const IndexedFrame& f : frames) {
        if (m_nWorkerFrames++ == m_index.Count()) {
            m_index.Append({f});
        }
    }
    if (finished) {
        // A worker that could read nothing proves nothing: seeks keep going by the frame rate.
        m_index.SetComplete(m_index.Count() > 0);
        m_pBuilder.reset();
        SaveIndexIfComplete();
    }
}

void CVideoManager::WaitForIndex() {
    if (m_pBuilder) {
        m_pBuilder->WaitFor(INT_MAX);
    }
    PollIndex();
}

int CVideoManager::IndexPercent() const {
    if (m_index.Complete()) {
        return 100;
    }
    const long long percent = 100LL * m_index.Count() / std::max(1, m_nFrameCount);
    return static_cast<int>(std::min(99LL, percent));
}

bool CVideoManager::CanVerifyCurrentFrame() const {
    return !m_bShownVerified && m_nShown >= 0 && (m_nShown < m_index.Count() || m_index.Complete());
}

void CVideoManager::SetIndexFolder(const fs::path& labelFolder) {
    m_indexFile.clear();
    std::error_code ec;
    if (!IsOpened() || labelFolder.empty() || !fs::is_directory(labelFolder, ec)) {
        return;
    }
    m_indexFile = IndexFilePath(labelFolder);
    if (!m_index.Complete()) {
        CFrameIndex stored;
        if (stored.Load(m_indexFile, m_signature)) {
            m_pBuilder.reset();
            m_index = std::move(stored);
            m_bIndexFromFile = true;
            m_bIndexSaved = true;
            return;
        }
    }
    SaveIndexIfComplete();
}

void CVideoManager::SaveIndexIfComplete() {
    if (m_indexFile.empty() || !m_index.Complete() || m_bIndexSaved) {
        return;
    }
    const fs::path folder = m_indexFile.parent_path();
    std::error_code ec;
    // A folder of its own, never through a link: the file must land in the label folder.
    fs::file_type type = fs::symlink_status(folder, ec).type();
    if (type == fs::file_type::not_found) {
        fs::create_directory(folder, ec);
        type = fs::symlink_status(folder, ec).type();
    }
    if (type == fs::file_type::directory) {
        m_bIndexSaved = m_index.Save(m_indexFile, m_signature);
    }
}
