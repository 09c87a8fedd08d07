#include "video/FrameIndex.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "video/FrameDecoder.h"

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'T', 'W', 'F', 'R', 'I', 'D', 'X', '\n'};
// Raised whenever the layout or the meaning of the numbers changes.
constexpr uint32_t kFormatVersion = 1;
constexpr size_t kHeaderBytes = sizeof kMagic + 4 + 4 + 8 + 8 + 4;
constexpr size_t kEntryBytes = 9;
// A larger count than any real video has means a damaged header, not a huge allocation.
constexpr uint32_t kMaxFrames = 50u * 1000u * 1000u;

uint64_t Fnv1a(const std::string& bytes, size_t length) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    }
    return h;
}

template <typename T>
void Put(std::string& out, T value) {
    for (size_t i = 0; i < sizeof(T); ++i) {
        out.push_back(static_cast<char>((static_cast<uint64_t>(value) >> (8 * i)) & 0xff));
    }
}

template <typename T>
T Get(const std::string& in, size_t& at) {
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) {
        v |= static_cast<uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    }
    at += sizeof(T);
    return static_cast<T>(v);
}

}  // namespace

bool ReadVideoSignature(const fs::path& video, VideoSignature& out) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(video, ec);
    if (ec) {
        return false;
    }
    const fs::file_time_type mtime = fs::last_write_time(video, ec);
    if (ec) {
        return false;
    }
    out.size = static_cast<uint64_t>(size);
    out.mtime = static_cast<int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(mtime.time_since_epoch()).count());
    return true;
}

void CFrameIndex::Clear() {
    m_frames.clear();
    m_byTs.clear();
    m_seekPoints.clear();
    m_bComplete = false;
}

void CFrameIndex::Append(const std::vector<IndexedFrame>& frames) {
    for (const IndexedFrame& f : frames) {
        const int n = Count();
        m_frames.push_back(f);
        const auto [it, inserted] = m_byTs.emplace(f.ts, n);
        if (!inserted || f.ts == kNoTimestamp) {
            it->second = kAmbiguous;
        }
        if (f.key && f.ts != kNoTimestamp) {
            m_seekPoints.push_back(n);
        }
    }
}

int CFrameIndex::Identify(int64_t ts) const {
    const auto it = m_byTs.find(ts);
    return it == m_byTs.end() ? kUnknown : it->second;
}

int CFrameIndex::SeekPointAtOrBefore(int n) const {
    auto it = std::upper_bound(m_seekPoints.begin(), m_seekPoints.end(), n);
    while (it != m_seekPoints.begin()) {
        --it;
        if (Identify(Timestamp(*it)) == *it) {
            return *it;
        }
    }
    return -1;
}

bool CFrameIndex::Save(const fs::path& file, const VideoSignature& video) const {
    std::string bytes(kMagic, sizeof kMagic);
    Put<uint32_t>(bytes, kFormatVersion);
    Put<uint32_t>(bytes, avcodec_version());
    Put<uint64_t>(bytes, video.size);
    Put<int64_t>(bytes, video.mtime);
    Put<uint32_t>(bytes, static_cast<uint32_t>(m_frames.size()));
    for (const IndexedFrame& f : m_frames) {
        Put<int64_t>(bytes, f.ts);
        bytes.push_back(f.key ? 1 : 0);
    }
    Put<uint64_t>(bytes, Fnv1a(bytes, bytes.size()));

    const fs::path tmp = file.string() + ".part";
    std::FILE* out = std::fopen(tmp.c_str(), "wb");
    if (out == nullptr) {
        return false;
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    ok = std::fclose(out) == 0 && ok;
    std::error_code ec;
    if (ok) {
        fs::rename(tmp, file, ec);
        ok = !ec;
    }
    if (!ok) {
        fs::remove(tmp, ec);
    }
    return ok;
}

bool CFrameIndex::Load(const fs::path& file, const VideoSignature& video) {
    Clear();
    std::error_code ec;
    const uintmax_t size = fs::file_size(file, ec);
    if (ec || size < kHeaderBytes + 8 || size > kHeaderBytes + 8 + kEntryBytes * kMaxFrames) {
        return false;
    }
    std::string bytes(static_cast<size_t>(size), '\0');
    std::FILE* in = std::fopen(file.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    const bool read = std::fread(bytes.data(), 1, bytes.size(), in) == bytes.size();
    std::fclose(in);
    if (!read || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        return false;
    }
    size_t at = sizeof kMagic;
    const uint32_t version = Get<uint32_t>(bytes, at);
    const uint32_t codec = Get<uint32_t>(bytes, at);
    VideoSignature stored;
    stored.size = Get<uint64_t>(bytes, at);
    stored.mtime = Get<int64_t>(bytes, at);
    const uint32_t count = Get<uint32_t>(bytes, at);
    if (version != kFormatVersion || codec != avcodec_version() || !(stored == video) ||
        count > kMaxFrames || bytes.size() != kHeaderBytes + kEntryBytes * count + 8) {
        return false;
    }
    size_t sumAt = bytes.size() - 8;
    if (Get<uint64_t>(bytes, sumAt) != Fnv1a(bytes, bytes.size() - 8)) {
        return false;
    }
    std::vector<IndexedFrame> frames(count);
    for (IndexedFrame& f : frames) {
        f.ts = Get<int64_t>(bytes, at);
        f.key = bytes[at++] != 0;
    }
    Append(frames);
    m_bComplete = true;
    return true;
}
