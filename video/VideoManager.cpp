// CVideoManager: opening, and the policy that decides how each read reaches its frame (cache,
// reading on, a seek by the index, reading from the start, or a guess marked as not verified).
#include "video/VideoManager.h"

#include <algorithm>
#include <chrono>

#include "video/FrameIndexBuilder.h"

namespace fs = std::filesystem;

namespace {

// A frame at most this far ahead of the decoder is reached by reading on rather than by a seek:
// a seek decodes from the key frame before the frame, on average half a group of pictures, and
// reading on leaves the frames in between in the cache.
constexpr int kForwardReadLimit = 48;
// A step back past the cache decodes the block of frames behind it, so that the next steps back
// are cache hits; no more than this, so that one key press never stalls for several seeks.
constexpr int kStepBackBlockLimit = 2 * kForwardReadLimit;
// Seeks that land past their frame, or where nothing is recognised, are retried from the key
// frame before; after that the file is read from its start, which cannot miss.
constexpr int kSeekAttempts = 3;
// Frames decoded after a seek beyond the distance from the key frame to the target before the
// seek counts as gone astray.
constexpr int kSeekSlack = 64;
// A jump waits for the worker at most this long: on an idle machine the worker reaches a near
// target well within it, and on a busy one (the worker runs at the lowest priority) the key
// press must still answer at once; the frame is then shown marked and put right by the index
// tick.
constexpr std::chrono::milliseconds kIndexWaitLimit(400);
// A seek the index does not reach yet decodes at most this many frames looking for its time.
constexpr int kUnverifiedReadLimit = 1000;

}  // namespace

CVideoManager::CVideoManager() = default;

CVideoManager::~CVideoManager() {
    if (m_pBuilder) {
        m_pBuilder->Stop();
    }
}

bool CVideoManager::Open(const fs::path& path) {
    // Whatever was open before is closed, and with it every frame and index known for it.
    m_pBuilder.reset();
    m_index.Clear();
    m_bIndexFromFile = false;
    m_bIndexSaved = false;
    m_indexFile.clear();
    m_cache.Clear();
    DropFrame();
    m_matUnverified.release();
    m_nShown = -1;
    m_bShownVerified = true;
    m_nDecoderNext = -1;
    m_bDecoderVerified = false;
    m_nWorkerFrames = 0;
    if (!m_decoder.Open(path)) {
        return false;
    }
    m_path = path;
    ReadVideoSignature(path, m_signature);
    // A stream that reports no size or count would leave the views dividing by zero; such a
    // stream keeps the neutral value 1 that an unopened source has.
    m_nFrameCount = std::max(1, m_decoder.ReportedFrameCount());
    m_nWidth = std::max(1, m_decoder.Width());
    m_nHeight = std::max(1, m_decoder.Height());
    m_nFrameBytes = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight) * 3;
    // The first frame the decoder delivers is frame 0 by definition.
    m_nDecoderNext = 0;
    m_bDecoderVerified = true;
    m_bDecoderFromStart = true;
    if (m_bIndexOnOpen) {
        StartIndexing();
    }
    return true;
}

bool CVideoManager::IsOpened() const {
    return m_decoder.IsOpen();
}

int CVideoManager::CurrentFrameIndex() const {
    return m_nShown;
}

// --- reads ---

bool CVideoManager::ReadNextFrame() {
    return ShowFrameAt(m_nShown + 1, Purpose::kNext);
}

bool CVideoManager::ReadPreviousFrame() {
    // On the first frame the step back would ask for position -1; the first frame is shown
    // again instead, so the left arrow never fails at the start of the video.
    return ShowFrameAt(std::max(0, m_nShown - 1), Purpose::kPrevious);
}

bool CVideoManager::ReloadCurrentFrame() {
    return ShowFrameAt(std::max(0, m_nShown), Purpose::kReload);
}

bool CVideoManager::SeekFrame(int n) {
    if (n < 0) {
        DropFrame();
        return false;
    }
    return ShowFrameAt(n, Purpose::kSeek);
}

bool CVideoManager::ShowFrameAt(int index, Purpose why) {
    if (!IsOpened()) {
        DropFrame();
        return false;
    }
    PollIndex();
    if (why == Purpose::kReload && !m_bShownVerified && index == m_nShown &&
        !m_matUnverified.empty() && index >= m_index.Count() && !m_index.Complete()) {
        // Still beyond the index: the same picture again, clean.
        m_matUnverified.copyTo(m_matFrame);
        return true;
    }
    if (ShowCached(index)) {
        return true;
    }
    const int keepFrom = why == Purpose::kPrevious ? std::max(0, index - BlockFrames() + 1) : index;
    if (m_bDecoderVerified && m_nDecoderNext >= 0 && index >= m_nDecoderNext &&
        index - m_nDecoderNext <= kForwardReadLimit) {
        return ReadForwardTo(index, keepFrom);
    }
    if (index >= m_index.Count() && m_pBuilder) {
        const int limit =
            m_nIndexWaitFrames >= 0
                ? m_nIndexWaitFrames
                : static_cast<int>(static_cast<long long>(kIndexWaitFrames) * 640 * 480 /
                                   std::max<long long>(1, 1LL * m_nWidth * m_nHeight));
        if (index - m_index.Count() < limit) {
            m_pBuilder->WaitFor(index + 1, kIndexWaitLimit);
            PollIndex();
        }
    }
    if (index < m_index.Count()) {
        return SeekIndexed(index, why);
    }
    if (m_index.Complete()) {
        // Past the last frame there is.
        DropFrame();
        return false;
    }
    if (why == Purpose::kNext && !m_bShownVerified && !m_bDecoderVerified &&
        m_nDecoderNext == index) {
        return ShowUnverified(index, true);
    }
    return SeekUnverified(index);
}

bool CVideoManager::ShowCached(int index) {
    const cv::Mat* cached = m_cache.Find(index);
    if (cached == nullptr) {
        return false;
    }
    cached->copyTo(m_matFrame);
    ShowVerified(index);
    return true;
}

bool CVideoManager::ReadForwardTo(int index, int keepFrom) {
    while (m_nDecoderNext <= index) {
        const int at = m_nDecoderNext;
        if (at >= m_decoder.FrameLimit() || !m_decoder.Next()) {
            if (m_bDecoderFromStart && at == m_index.Count() && at > 0) {
                // Read in order to the end: the index holds every frame there is.
                m_index.SetComplete(true);
                m_pBuilder.reset();
                SaveIndexIfComplete();
            }
            // As with the capture's own read past the end: no picture, and the position stays
            // just after the last frame there is.
            DropFrame();
            m_nShown = at - 1;
            m_bShownVerified = true;
            return false;
        }
        m_nDecoderNext = at + 1;
        if (m_bDecoderFromStart && at == m_index.Count() && !m_index.Complete()) {
            // Reading in order from the start is what the worker does: the frame joins the
            // index at once, so playback never outruns it.
            m_index.Append({{m_decoder.Timestamp(), m_decoder.IsKeyFrame()}});
        }
        if (at >= keepFrom) {
            if (!KeepDecoded(at, at == index)) {
                DropFrame();
                return false;
            }
        }
    }
    ShowVerified(index);
    return true;
}

bool CVideoManager::SeekIndexed(int index, Purpose why) {
    const int keepFrom = why == Purpose::kPrevious ? std::max(0, index - BlockFrames() + 1) : index;
    int aim = m_index.SeekPointAtOrBefore(keepFrom);
    // Reading on is cheaper when the decoder already stands between that key frame and index.
    if (m_bDecoderVerified && m_nDecoderNext >= 0 && m_nDecoderNext <= index &&
        m_nDecoderNext > aim) {
        return ReadForwardTo(index, keepFrom);
    }
    for (int attempt = 0; attempt < kSeekAttempts && aim >= 0; ++attempt) {
        ++m_nSeeks;
        m_bDecoderVerified = false;
        m_bDecoderFromStart = false;
        m_nDecoderNext = -1;
        if (!m_decoder.SeekKey(m_index.Timestamp(aim))) {
            break;
        }
        int known = -1;
        bool past = false;
        for (int guard = index - aim + kSeekSlack; guard > 0 && !past; --guard) {
            if (!m_decoder.Next()) {
                break;
            }
            // A frame is recognised by coming next after a recognised one with the timestamp the
            // index expects there, or else by a timestamp only one frame of the file has.
            const int64_t ts = m_decoder.Timestamp();
            int id = known >= 0 && known + 1 < m_index.Count() && m_index.Timestamp(known + 1) == ts
                         ? known + 1
                         : m_index.Identify(ts);
            known = id;
            if (id < 0) {
                m_bDecoderVerified = false;
                m_nDecoderNext = -1;
                continue;
            }
            if (id > index) {
                past = true;
                break;
            }
            m_nDecoderNext = id + 1;
            m_bDecoderVerified = true;
            if (id >= keepFrom) {
                if (!KeepDecoded(id, id == index)) {
                    DropFrame();
                    return false;
                }
            }
            if (id == index) {
                ShowVerified(index);
                return true;
            }
        }
        if (!past && m_bDecoderVerified && m_nDecoderNext <= index) {
            return ReadForwardTo(index, keepFrom);
        }
        aim = m_index.SeekPointAtOrBefore(aim - 1);
    }
    return ReadFromStart(index, keepFrom);
}

bool CVideoManager::ReadFromStart(int index, int keepFrom) {
    ++m_nSeeks;
    if (!m_decoder.Open(m_path)) {
        DropFrame();
        m_nDecoderNext = -1;
        m_bDecoderVerified = false;
        return false;
    }
    m_nDecoderNext = 0;
    m_bDecoderVerified = true;
    m_bDecoderFromStart = true;
    return ReadForwardTo(index, keepFrom);
}

bool CVideoManager::SeekUnverified(int index) {
    // Where the frame should be at the nominal frame rate, counted on from the last frame the
    // index knows (so only the stretch beyond it is guessed).
    const int64_t ticks = m_decoder.NominalFrameTicks();
    const int last = m_index.Count() - 1;
    int64_t target = m_decoder.StartTime() + static_cast<int64_t>(index) * ticks;
    if (last >= 0 && m_index.Timestamp(last) != kNoTimestamp) {
        target = m_index.Timestamp(last) + static_cast<int64_t>(index - last) * ticks;
    }
    ++m_nSeeks;
    m_bDecoderVerified = false;
    m_bDecoderFromStart = false;
    m_nDecoderNext = -1;
    bool have = m_decoder.SeekKey(target);
    for (int guard = 0; have && guard < kUnverifiedReadLimit; ++guard) {
        have = m_decoder.Next();
        const int64_t ts = m_decoder.Timestamp();
        if (have && ts != kNoTimestamp && ts + ticks / 2 >= target) {
            break;
        }
    }
    if (!have) {
        DropFrame();
        return false;
    }
    return ShowUnverified(index, false);
}

bool CVideoManager::ShowUnverified(int index, bool decodeNext) {
    if ((decodeNext && !m_decoder.Next()) || !Convert(m_matFrame)) {
        DropFrame();
        m_nDecoderNext = -1;
        return false;
    }
    m_nDecoderNext = index + 1;
    m_nShown = index;
    m_bShownVerified = false;
    m_cache.Pin(CFrameCache::kNoKey);
    m_matFrame.copyTo(m_matUnverified);
    return true;
}

// --- helpers ---

bool CVideoManager::Convert(cv::Mat& out) {
    try {
        if (!m_decoder.ToBgr(out)) {
            return false;
        }
    } catch (const cv::Exception&) {
        return false;
    }
    m_nFrameBytes = out.total() * out.elemSize();
    return true;
}

bool CVideoManager::KeepDecoded(int index, bool show) {
    if (show) {
        if (!Convert(m_matFrame)) {
            return false;
        }
        Keep(index, m_matFrame);
        return true;
    }
    // Straight into the cache: a frame on the way to another one is converted only when there
    // is room to keep it, and then without a copy.
    cv::Mat* slot = m_cache.Slot(index, cv::Size(m_nWidth, m_nHeight), CV_8UC3);
    if (slot == nullptr) {
        return true;
    }
    if (!Convert(*slot)) {
        m_cache.Erase(index);
        return false;
    }
    return true;
}

void CVideoManager::Keep(int index, const cv::Mat& image) {
    if (cv::Mat* slot = m_cache.Slot(index, image.size(), image.type())) {
        image.copyTo(*slot);
    }
}

void CVideoManager::ShowVerified(int index) {
    m_nShown = index;
    m_bShownVerified = true;
    m_cache.Pin(index);
    m_matUnverified.release();
}

int CVideoManager::BlockFrames() const {
    const size_t capacity = m_cache.Capacity(m_nFrameBytes);
    // One place stays with the frame on screen, which is pinned while the block is read.
    const size_t block = capacity > 2 ? capacity - 1 : 1;
    return static_cast<int>(std::min<size_t>(block, kStepBackBlockLimit));
}

void CVideoManager::DropFrame() {
    m_matFrame.release();
    m_cache.Pin(CFrameCache::kNoKey);
}
