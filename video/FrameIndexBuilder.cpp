#include "video/FrameIndexBuilder.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <utility>

#include "video/FrameDecoder.h"

namespace {

// Frames are handed over in batches of this many, so the lock is taken rarely; the first
// batches are small, so that the progress shows at once.
constexpr size_t kBatch = 64;

std::atomic<int> g_nice{CFrameIndexBuilder::kNice};

}  // namespace

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
    }
    m_bStop = false;
    m_thread = std::thread(&CFrameIndexBuilder::Run, this, video);
}

void CFrameIndexBuilder::Stop() {
    m_bStop = true;
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

void CFrameIndexBuilder::Run(std::filesystem::path video) {
    // Nice values are per thread on Linux and inherited by the decoder's own threads, which
    // are started by the open below.
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), g_nice.load());
    CFrameDecoder decoder;
    std::vector<IndexedFrame> batch;
    End end = End::kReadError;
    if (decoder.Open(video, 0, CFrameDecoder::Mode::kIndexOnly)) {
        int64_t count = 0;
        size_t batchSize = 8;
        end = End::kEndOfFile;
        for (;;) {
            if (m_bStop || count == m_nStopAfter) {
                end = End::kStopped;
                break;
            }
            if (count >= decoder.FrameLimit() || !decoder.Next()) {
                end = decoder.ReadFailed() ? End::kReadError : End::kEndOfFile;
                break;
            }
            batch.push_back({decoder.Key(), decoder.IsKeyFrame()});
            ++count;
            if (batch.size() >= batchSize) {
                Hand(batch, End::kRunning);
                batchSize = kBatch;
            }
        }
    }
    // A stop request leaves the index unfinished: it is not the whole file; nor is what came
    // before a read error.
    Hand(batch, end);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bEnded = true;
    m_changed.notify_all();
}
