#include "video/FrameIndexBuilder.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

#include "video/FrameDecoder.h"
#include "video/HeaderOrder.h"

namespace {

// Frames are handed over in batches of this many, so the lock is taken rarely; the first
// batches are small, so that the progress shows at once.
constexpr size_t kBatch = 64;

std::atomic<int> g_nice{CFrameIndexBuilder::kNice};
std::atomic<CFrameIndexBuilder::Split> g_split{CFrameIndexBuilder::Split::kByRule};
std::atomic<bool> g_headers{true};

}  // namespace

void CFrameIndexBuilder::SetSplitForTests(Split split) {
    g_split = split;
}

void CFrameIndexBuilder::SetHeaderOrderForTests(bool allowed) {
    g_headers = allowed;
}

void CFrameIndexBuilder::SetNiceForBenchmarks(int nice) {
    g_nice = nice;
}

CFrameIndexBuilder::~CFrameIndexBuilder() {
    Stop();
}

void CFrameIndexBuilder::Start(const std::filesystem::path& video) {
    Stop();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.clear();
        m_nFound = 0;
        m_end = End::kRunning;
        m_bEnded = false;
        m_tail.clear();
        m_nAnchor = -1;
        m_tailEnd = End::kRunning;
    }
    m_own.clear();
    m_ownAt.clear();
    m_nAnchorAt = -1;
    m_nSpliceChecked = 0;
    m_bStopSecond = false;
    m_bStop = false;
    m_nFromHeaders = 0;
    m_thread = std::thread(&CFrameIndexBuilder::Run, this, video);
}

void CFrameIndexBuilder::Stop() {
    {
        // Under the lock, so that a worker waiting for the second one sees it.
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

CFrameIndexBuilder::End CFrameIndexBuilder::Take(std::vector<IndexedFrame>& out) {
    std::lock_guard<std::mutex> lock(m_mutex);
    out.insert(out.end(), m_pending.begin(), m_pending.end());
    m_pending.clear();
    return m_end;
}

bool CFrameIndexBuilder::WaitFor(int frames, std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(m_mutex);
    const auto done = [&] { return m_bEnded || m_nFound >= frames; };
    if (limit.count() <= 0) {
        m_changed.wait(lock, done);
    } else {
        m_changed.wait_for(lock, limit, done);
    }
    return m_nFound >= frames;
}

void CFrameIndexBuilder::Hand(std::vector<IndexedFrame>& batch, End end) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_pending.insert(m_pending.end(), batch.begin(), batch.end());
        m_nFound += static_cast<int>(batch.size());
        if (m_end == End::kRunning) {
            m_end = end;
        }
    }
    batch.clear();
    m_changed.notify_all();
}

CFrameIndexBuilder::End CFrameIndexBuilder::ReadHeaders(const std::filesystem::path& video,
                                                        std::vector<IndexedFrame>& handed) {
    const auto take = [&](std::vector<IndexedFrame>& frames) {
        if (m_nStopAfter >= 0 && static_cast<int>(handed.size() + frames.size()) > m_nStopAfter) {
            frames.resize(static_cast<size_t>(m_nStopAfter) - handed.size());
        }
        handed.insert(handed.end(), frames.begin(), frames.end());
        m_nFromHeaders = static_cast<int>(handed.size());
        Hand(frames, End::kRunning);
        return static_cast<int>(handed.size()) != m_nStopAfter;
    };
    switch (CHeaderOrder::Read(video, m_bStop, take)) {
        case CHeaderOrder::Result::kEndOfFile:
            return End::kEndOfFile;
        case CHeaderOrder::Result::kReadError:
            return End::kReadError;
        case CHeaderOrder::Result::kStopped:
            return End::kStopped;
        case CHeaderOrder::Result::kNotApplicable:
            break;
    }
    return End::kRunning;
}

void CFrameIndexBuilder::Run(std::filesystem::path video) {
    // Nice values are per thread on Linux and inherited by the decoder's own threads, which
    // are started by the open below.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), g_nice.load());
    std::vector<IndexedFrame> batch;
    // Frames already handed from the headers: decoding goes on after them (checking that it
    // meets the same frames on its way there).
    std::vector<IndexedFrame> fromHeaders;
    End end = g_headers ? ReadHeaders(video, fromHeaders) : End::kRunning;
    CFrameDecoder decoder;
    if (end == End::kRunning) {
        end = End::kReadError;
        if (decoder.Open(video, 0, CFrameDecoder::Mode::kIndexOnly)) {
            end = DecodeFrom(decoder, video, fromHeaders, batch);
        }
    }
    m_bStopSecond = true;
    if (m_second.joinable()) {
        m_second.join();
    }
    // A stop request leaves the index unfinished: it is not the whole file; nor is what came
    // before a read error.
    Hand(batch, end);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
    m_changed.notify_all();
}

CFrameIndexBuilder::End CFrameIndexBuilder::DecodeFrom(CFrameDecoder& decoder,
                                                       const std::filesystem::path& video,
                                                       const std::vector<IndexedFrame>& handed,
                                                       std::vector<IndexedFrame>& batch) {
    const Split split = g_split;
    // The second worker pays only from the start of the file.
    m_bSecond =
        handed.empty() && (split == Split::kAlways ||
                           (split == Split::kByRule && std::thread::hardware_concurrency() > 1 &&
                            decoder.ReportedFrameCount() >= kSplitFrames));
    if (m_bSecond) {
        // The middle by bytes where the container is sought so, else by time.
        std::error_code ec;
        FrameKey middle;
        middle.pos = decoder.CanSeekBytes()
                         ? static_cast<int64_t>(std::filesystem::file_size(video, ec) / 2)
                         : -1;
        middle.pts = decoder.StartTime() + static_cast<int64_t>(decoder.ReportedFrameCount() / 2) *
                                               decoder.NominalFrameTicks();
        m_second = std::thread(&CFrameIndexBuilder::RunSecond, this, video, middle);
    }
    int count = 0;
    int offset = 0;
    bool spliced = false;
    size_t batchSize = 8;
    for (;;) {
        if (m_bStop || count == m_nStopAfter) {
            return End::kStopped;
        }
        if (count >= decoder.FrameLimit()) {
            return End::kEndOfFile;
        }
        IndexedFrame frame;
        if (spliced) {
            End end = End::kEndOfFile;
            if (!NextFromSecond(count, offset, frame, end)) {
                return end;
            }
        } else {
            if (!decoder.Next()) {
                return decoder.ReadFailed() ? End::kReadError : End::kEndOfFile;
            }
            frame = {decoder.Key(), decoder.IsKeyFrame()};
            spliced = m_bSecond && TrySplice(frame, count, offset);
        }
        const size_t at = static_cast<size_t>(count);
        ++count;
        if (at < handed.size()) {
            // Handed from the headers already. Cannot differ; if it ever did, the index stops
            // here and stays partial, so that nothing past it is trusted.
            if (handed[at].id != frame.id || handed[at].key != frame.key) {
                return End::kStopped;
            }
            continue;
        }
        batch.push_back(frame);
        if (batch.size() >= batchSize) {
            Hand(batch, End::kRunning);
            batchSize = kBatch;
        }
    }
}

bool CFrameIndexBuilder::TrySplice(const IndexedFrame& frame, int n, int& offset) {
    m_own.push_back(frame.id);
    m_ownAt.emplace(frame.id, n);
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_nAnchor < 0) {
        if (m_tailEnd != End::kRunning) {
            m_bSecond = false;  // the second worker found nothing to go on from
        }
        return false;
    }
    if (m_nAnchorAt < 0) {
        const auto at = m_ownAt.find(m_tail[static_cast<size_t>(m_nAnchor)].id);
        if (at == m_ownAt.end()) {
            return false;
        }
        m_nAnchorAt = at->second;
    }
    // Both have decoded the frames from the anchor to here: they must be the same frames.
    for (; m_nSpliceChecked <= n - m_nAnchorAt; ++m_nSpliceChecked) {
        const size_t mine = static_cast<size_t>(m_nAnchorAt + m_nSpliceChecked);
        const size_t theirs = static_cast<size_t>(m_nAnchor + m_nSpliceChecked);
        if (theirs >= m_tail.size()) {
            if (m_tailEnd != End::kRunning) {
                m_bSecond = false;  // the second worker ended before here: nothing to gain
            }
            return false;
        }
        if (m_own[mine] != m_tail[theirs].id) {
            m_bSecond = false;
            m_bStopSecond = true;
            return false;
        }
    }
    if (m_nSpliceChecked <= kSpliceCheck) {
        return false;
    }
    offset = m_nAnchorAt - m_nAnchor;
    m_own.clear();
    m_ownAt.clear();
    return true;
}

bool CFrameIndexBuilder::NextFromSecond(int n, int offset, IndexedFrame& frame, End& end) {
    const size_t at = static_cast<size_t>(n - offset);
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait(lock,
                   [&] { return m_bStop || at < m_tail.size() || m_tailEnd != End::kRunning; });
    if (at < m_tail.size() && !m_bStop) {
        frame = m_tail[at];
        return true;
    }
    end = m_bStop ? End::kStopped : m_tailEnd;
    return false;
}

void CFrameIndexBuilder::RunSecond(std::filesystem::path video, FrameKey middle) {
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), g_nice.load());
    CFrameDecoder decoder;
    End end = End::kStopped;
    if (decoder.Open(video, 0, CFrameDecoder::Mode::kIndexOnly) && decoder.SeekTo(middle)) {
        int keys = 0;
        while (!m_bStop && !m_bStopSecond) {
            if (!decoder.Next()) {
                end = decoder.ReadFailed() ? End::kReadError : End::kEndOfFile;
                break;
            }
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                // Frames before the first key frame may be what a decoder makes of the middle
                // of a group of pictures; from there on they are the frames of the file (its
                // leading pictures come out before it). The splice checks that by their names.
                if (decoder.IsKeyFrame() && ++keys == 1) {
                    m_nAnchor = static_cast<int>(m_tail.size());
                }
                m_tail.push_back({decoder.Key(), decoder.IsKeyFrame()});
            }
            m_changed.notify_all();
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_tailEnd = end;
    }
    m_changed.notify_all();
}
