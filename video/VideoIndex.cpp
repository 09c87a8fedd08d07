#include "video/VideoIndex.h"

#include <climits>
#include <system_error>

#include "video/FrameIndexBuilder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kIndexFolderName = ".tagwright-index";
constexpr const char* kIndexFileName = "frames.idx";

}  // namespace

CVideoIndex::CVideoIndex() = default;

CVideoIndex::~CVideoIndex() = default;

fs::path CVideoIndex::FilePath(const fs::path& labelFolder) {
    return labelFolder / kIndexFolderName / kIndexFileName;
}

void CVideoIndex::Reset(const fs::path& video, int64_t packets) {
    m_pBuilder.reset();
    m_index.Clear();
    m_file.clear();
    m_bFromFile = false;
    m_bSaved = false;
    m_nWorkerFrames = 0;
    m_nReadErrorAfter = -1;
    m_video = video;
    m_bSignature = ReadVideoSignature(video, packets, m_signature);
}

void CVideoIndex::Start() {
    if (m_video.empty() || m_index.Complete() || m_pBuilder) {
        return;
    }
    m_nWorkerFrames = 0;
    m_pBuilder = std::make_unique<CFrameIndexBuilder>();
    m_pBuilder->StopAfterForTests(m_nStopAfter);
    m_pBuilder->Start(m_video);
}

void CVideoIndex::Poll() {
    if (!m_pBuilder) {
        return;
    }
    std::vector<IndexedFrame> frames;
    const CFrameIndexBuilder::End end = m_pBuilder->Take(frames);
    // The worker's frames come in order from frame 0; those the reads in order have already
    // put into the index are the same frames.
    for (const IndexedFrame& f : frames) {
        if (m_nWorkerFrames++ == m_index.Count()) {
            m_index.Append({f});
        }
    }
    switch (end) {
        case CFrameIndexBuilder::End::kRunning:
            return;
        case CFrameIndexBuilder::End::kEndOfFile:
            // A worker that could read nothing proves nothing: seeks keep guessing.
            if (m_nWorkerFrames > 0 && m_nWorkerFrames == m_index.Count()) {
                Finish();
            }
            break;
        case CFrameIndexBuilder::End::kReadError:
            m_nReadErrorAfter = m_nWorkerFrames;
            break;
        case CFrameIndexBuilder::End::kStopped:
            break;
    }
    m_pBuilder.reset();
}

void CVideoIndex::WaitFor(int frames, std::chrono::milliseconds limit) {
    if (m_pBuilder) {
        m_pBuilder->WaitFor(frames, limit);
    }
    Poll();
}

void CVideoIndex::ReadInOrder(int n, const IndexedFrame& frame) {
    if (n == m_index.Count() && !m_index.Complete()) {
        m_index.Append({frame});
    }
}

void CVideoIndex::ReadInOrderEnded(int frames, bool readError) {
    if (readError) {
        if (m_nReadErrorAfter < 0 || frames < m_nReadErrorAfter) {
            m_nReadErrorAfter = frames;
        }
        return;
    }
    if (frames > 0 && frames == m_index.Count() && !m_index.Complete()) {
        // Read in order to a clean end: the index holds every frame there is.
        m_pBuilder.reset();
        Finish();
    }
}

void CVideoIndex::Finish() {
    m_index.SetComplete(true);
    m_nReadErrorAfter = -1;
    SaveIfComplete();
}

bool CVideoIndex::SetFolder(const fs::path& labelFolder) {
    m_file.clear();
    std::error_code ec;
    if (m_video.empty() || labelFolder.empty() || !fs::is_directory(labelFolder, ec)) {
        return false;
    }
    m_file = FilePath(labelFolder);
    if (!m_index.Complete() && m_bSignature) {
        CFrameIndex stored;
        if (stored.Load(m_file, m_signature)) {
            m_pBuilder.reset();
            m_index = std::move(stored);
            m_bFromFile = true;
            m_bSaved = true;
            m_nReadErrorAfter = -1;
            return true;
        }
    }
    SaveIfComplete();
    return false;
}

void CVideoIndex::SaveIfComplete() {
    if (m_file.empty() || !m_index.Complete() || m_bSaved || !m_bSignature) {
        return;
    }
    const fs::path folder = m_file.parent_path();
    std::error_code ec;
    // A folder of its own, never through a link: the file must land in the label folder.
    fs::file_type type = fs::symlink_status(folder, ec).type();
    if (type == fs::file_type::not_found) {
        fs::create_directory(folder, ec);
        type = fs::symlink_status(folder, ec).type();
    }
    if (type == fs::file_type::directory) {
        m_bSaved = m_index.Save(m_file, m_signature);
    }
}
