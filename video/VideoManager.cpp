// CVideoManager: opening, and the policy that decides how each read reaches its frame (cache,
// reading on, a seek by the index, reading from the start, or a guess marked as not verified).
#include "video/VideoManager.h"

#include <algorithm>
#include <chrono>
#include <climits>

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
// A guess that lands on a frame the index knows reads on from there when the target is at most
// this far: farther, reading on would hold up the key press longer than a guess is worth.
constexpr int kRecognisedReadLimit = 4 * kForwardReadLimit;

}  // namespace

CVideoManager::CVideoManager() = default;

CVideoManager::~CVideoManager() = default;

bool CVideoManager::Open(const fs::path& path) {
    // Whatever was open before is closed, and with it every frame and index known for it.
    m_index.Reset({}, 0);
    m_cache.Clear();
    DropFrame();
    m_matUnverified.release();
    m_nShown = -1;
    m_bShownVerified = true;
    m_pos = DecoderPosition::Lost();
    if (!m_decoder.Open(path)) {
        return false;
    }
    m_path = path;
    m_index.Reset(path, m_decoder.ContainerPackets());
    // A stream that reports no size or count would leave the views dividing by zero; such a
    // stream keeps the neutral value 1 that an unopened source has.
    m_nFrameCount = std::max(1, m_decoder.ReportedFrameCount());
    m_nWidth = std::max(1, m_decoder.Width());
    m_nHeight = std::max(1, m_decoder.Height());
    m_nFrameBytes = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight) * 3;
    // The first frame the decoder delivers is frame 0 by definition.
    m_pos = DecoderPosition::AtStart();
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

// --- the frame index ---

fs::path CVideoManager::IndexFilePath(const fs::path& labelFolder) {
    return CVideoIndex::FilePath(labelFolder);
}

void CVideoManager::SetIndexFolder(const fs::path& labelFolder) {
    if (IsOpened()) {
        m_index.SetFolder(labelFolder);
    }
}

void CVideoManager::StartIndexing() {
    if (IsOpened()) {
        m_index.Start();
    }
}

void CVideoManager::PollIndex() {
    m_index.Poll();
}

void CVideoManager::WaitForIndex() {
    m_index.WaitFor(INT_MAX);
}

int CVideoManager::GetFrameCount() const {
    if (m_index.Complete()) {
        return std::max(1, m_index.Count());
    }
    return std::max(m_nFrameCount, m_index.Count());
}

int CVideoManager::IndexPercent() const {
    if (m_index.Complete()) {
        return 100;
    }
    const long long percent = 100LL * m_index.Count() / std::max(1, GetFrameCount());
    return static_cast<int>(std::min(99LL, percent));
}

int CVideoManager::LastReadableFrame() const {
    return m_index.ReadErrorAfter() < 0 ? -1 : m_index.ReadErrorAfter() - 1;
}

bool CVideoManager::CanVerifyCurrentFrame() const {
    return !m_bShownVerified && m_nShown >= 0 && m_nShown < m_index.Count();
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

int CVideoManager::KeepFrom(int index, Purpose why) const {
    if (why != Purpose::kPrevious) {
        return index;
    }
    const size_t capacity = m_cache.Capacity(m_nFrameBytes);
    // One place stays with the frame on screen, which is pinned while the block is read.
    const size_t block = std::min<size_t>(capacity > 2 ? capacity - 1 : 1, kStepBackBlockLimit);
    return std::max(0, index - static_cast<int>(block) + 1);
}

bool CVideoManager::ShowFrameAt(int index, Purpose why) {
    if (!IsOpened()) {
        DropFrame();
        return false;
    }
    PollIndex();
    const CFrameIndex& frames = m_index.Frames();
    if (why == Purpose::kReload && !m_bShownVerified && index == m_nShown &&
        !m_matUnverified.empty()) {
        if (index < frames.Count() && frames.Key(index) == m_shownKey) {
            // The index now confirms the frame on screen by its name.
            m_matUnverified.copyTo(m_matFrame);
            Keep(index, m_matFrame);
            ShowVerified(index);
            return true;
        }
        if (index >= frames.Count()) {
            // Still beyond the index: the same picture again, clean.
            m_matUnverified.copyTo(m_matFrame);
            return true;
        }
    }
    if (ShowCached(index)) {
        return true;
    }
    const int keepFrom = KeepFrom(index, why);
    bool guessWentWrong = false;
    if (m_pos.Known() && index >= m_pos.Next() && index - m_pos.Next() <= kForwardReadLimit &&
        (!m_pos.Guessed() || index >= frames.Count())) {
        const bool guessed = m_pos.Guessed();
        const Reach reach = ReadForwardTo(index, keepFrom);
        if (reach != Reach::kLost) {
            return reach == Reach::kShown;
        }
        guessWentWrong = guessed;
    }
    if (index >= frames.Count() && m_index.Working()) {
        const int limit =
            m_nIndexWaitFrames >= 0
                ? m_nIndexWaitFrames
                : static_cast<int>(static_cast<long long>(kIndexWaitFrames) * 640 * 480 /
                                   std::max<long long>(1, 1LL * m_nWidth * m_nHeight));
        if (index - frames.Count() < limit) {
            m_index.WaitFor(index + 1 + CFrameIndex::kPacketSpread, kIndexWaitLimit);
        }
    }
    if (index < frames.Count()) {
        return SeekIndexed(index, keepFrom);
    }
    if (frames.Complete()) {
        // Past the last frame there is.
        DropFrame();
        return false;
    }
    // A guess that has just gone wrong would only go wrong again.
    return guessWentWrong ? SeekIndexed(index, keepFrom) : SeekUnverified(index, keepFrom);
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

CVideoManager::Reach CVideoManager::ReadForwardTo(int index, int keepFrom) {
    const CFrameIndex& frames = m_index.Frames();
    bool proven = false;
    while (m_pos.Next() <= index) {
        int at = m_pos.Next();
        if (at >= m_decoder.FrameLimit() || !m_decoder.Next()) {
            if (m_pos.FromStart()) {
                m_index.ReadInOrderEnded(at, m_decoder.ReadFailed());
            }
            if (m_pos.Guessed()) {
                // The end came where the frame rate said there were frames: the guess was
                // wrong, not the count; the caller reads on from a place it can prove.
                m_pos = DecoderPosition::Lost();
                return Reach::kLost;
            }
            // As with the capture's own read past the end: no picture, and the position stays
            // just after the last frame there is.
            DropFrame();
            m_nShown = at - 1;
            m_bShownVerified = !m_pos.Guessed();
            return Reach::kEnded;
        }
        const FrameKey key = m_decoder.Key();
        if (m_pos.FromStart()) {
            // Counted from the start: this is frame `at` by definition, and reading in order
            // is what the worker does, so it joins the index at once (playback never outruns
            // the index).
            m_index.ReadInOrder(at, {key, m_decoder.IsKeyFrame()});
            m_pos.Advanced();
            proven = true;
        } else if (at < frames.Count() && frames.Key(at) == key) {
            m_pos.Confirmed();
            m_pos.Advanced();
            proven = true;
        } else if (at < frames.Count()) {
            // Not the frame the count says: where the decoder really is, if its name tells.
            const int id = frames.Identify(key);
            if (id < 0 || id > index) {
                m_pos = DecoderPosition::Lost();
                return Reach::kLost;
            }
            at = id;
            m_pos = DecoderPosition::Recognised(id);
            proven = true;
        } else {
            // Beyond the index: counted on, but proven by nothing yet.
            m_pos.Advanced();
            proven = false;
        }
        if (at < keepFrom) {
            continue;
        }
        if (proven) {
            if (!KeepDecoded(at, at == index)) {
                DropFrame();
                return Reach::kFailed;
            }
        } else if (at == index) {
            if (!Convert(m_matFrame)) {
                DropFrame();
                return Reach::kFailed;
            }
            ShowUnverified(index, key);
            return Reach::kShown;
        }
    }
    if (!proven) {
        // The frame was already the decoder's (index < its position): cannot happen by the
        // callers' conditions, but never claim a frame that was not read.
        m_pos = DecoderPosition::Lost();
        return Reach::kLost;
    }
    ShowVerified(index);
    return Reach::kShown;
}

bool CVideoManager::SeekIndexed(int index, int keepFrom) {
    const CFrameIndex& frames = m_index.Frames();
    const bool bytes = m_decoder.CanSeekBytes();
    int aim = frames.SeekPointAtOrBefore(std::min(keepFrom, frames.Count() - 1), bytes);
    // Reading on is cheaper when the decoder already stands between that key frame and index.
    if (m_pos.Known() && !m_pos.Guessed() && m_pos.Next() <= index && m_pos.Next() > aim) {
        const Reach reach = ReadForwardTo(index, keepFrom);
        if (reach != Reach::kLost) {
            return reach == Reach::kShown;
        }
    }
    for (int attempt = 0; attempt < kSeekAttempts && aim >= 0; ++attempt) {
        ++m_nSeeks;
        m_pos = DecoderPosition::Lost();
        if (!m_decoder.SeekTo(frames.Key(aim))) {
            break;
        }
        int known = -1;
        bool past = false;
        for (int guard = std::min(index, frames.Count()) - aim + kSeekSlack; guard > 0; --guard) {
            if (!m_decoder.Next()) {
                break;
            }
            // A frame is recognised by coming next after a recognised one with the name the
            // index expects there, or else by a name that proves it.
            const FrameKey key = m_decoder.Key();
            const int id = known >= 0 && known + 1 < frames.Count() && frames.Key(known + 1) == key
                               ? known + 1
                               : frames.Identify(key);
            known = id;
            if (id < 0) {
                m_pos = DecoderPosition::Lost();
                continue;
            }
            if (id > index) {
                past = true;
                break;
            }
            m_pos = DecoderPosition::Recognised(id);
            if (id >= keepFrom && !KeepDecoded(id, id == index)) {
                DropFrame();
                return false;
            }
            if (id == index) {
                ShowVerified(index);
                return true;
            }
            if (id + 1 >= frames.Count()) {
                break;  // the rest is read on below, beyond the index
            }
        }
        if (!past && m_pos.Known() && m_pos.Next() <= index) {
            const Reach reach = ReadForwardTo(index, keepFrom);
            if (reach != Reach::kLost) {
                return reach == Reach::kShown;
            }
        }
        aim = frames.SeekPointAtOrBefore(aim - 1, bytes);
    }
    return ReadFromStart(index, keepFrom);
}

bool CVideoManager::ReadFromStart(int index, int keepFrom) {
    ++m_nSeeks;
    if (!m_decoder.Open(m_path)) {
        DropFrame();
        m_pos = DecoderPosition::Lost();
        return false;
    }
    m_pos = DecoderPosition::AtStart();
    return ReadForwardTo(index, keepFrom) == Reach::kShown;
}

bool CVideoManager::SeekUnverified(int index, int keepFrom) {
    // Where the frame should be at the nominal frame rate, counted on from the last frame the
    // index knows when it carries a timestamp (so only the stretch beyond it is guessed).
    const CFrameIndex& frames = m_index.Frames();
    const int64_t ticks = m_decoder.NominalFrameTicks();
    const int last = frames.Count() - 1;
    int64_t target = m_decoder.StartTime() + static_cast<int64_t>(index) * ticks;
    if (last >= 0 && frames.Key(last).pts != kNoTimestamp) {
        target = frames.Key(last).pts + static_cast<int64_t>(index - last) * ticks;
    }
    ++m_nSeeks;
    m_pos = DecoderPosition::Lost();
    bool have = m_decoder.SeekKey(target);
    for (int guard = 0; have && guard < kUnverifiedReadLimit; ++guard) {
        have = m_decoder.Next();
        const int64_t ts = m_decoder.Timestamp();
        if (have && ts != kNoTimestamp && ts + ticks / 2 >= target) {
            break;
        }
    }
    if (have) {
        const int id = frames.Identify(m_decoder.Key());
        if (id >= 0 && index - id <= kRecognisedReadLimit) {
            // Landed on a frame the index knows, not far before the target: count on from there
            // rather than guess.
            m_pos = DecoderPosition::Recognised(id);
            const Reach reach = ReadForwardTo(index, keepFrom);
            if (reach != Reach::kLost) {
                return reach == Reach::kShown;
            }
        } else if (Convert(m_matFrame)) {
            m_pos = DecoderPosition::Guessed(index);
            ShowUnverified(index, m_decoder.Key());
            return true;
        }
    }
    // Nothing to aim at (a raw stream has no timestamps), or the guess found no frame: read on
    // from the nearest place the index recognises, or from the start.
    return SeekIndexed(index, keepFrom);
}

void CVideoManager::ShowUnverified(int index, const FrameKey& key) {
    m_nShown = index;
    m_bShownVerified = false;
    m_shownKey = key;
    m_cache.Pin(CFrameCache::kNoKey);
    m_matFrame.copyTo(m_matUnverified);
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

void CVideoManager::DropFrame() {
    m_matFrame.release();
    m_cache.Pin(CFrameCache::kNoKey);
}
