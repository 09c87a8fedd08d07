#include "video/FrameIndex.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <system_error>

extern "C" {
#include <libavcodec/avcodec.h>
}

namespace fs = std::filesystem;

namespace {

constexpr char kMagic[8] = {'T', 'W', 'F', 'R', 'I', 'D', 'X', '\n'};
// Raised whenever the layout or the meaning of the numbers changes.
constexpr uint32_t kFormatVersion = 2;
constexpr size_t kHeaderBytes = sizeof kMagic + 4 + 4 + 8 + 8 + 8 + 8 + 4;
constexpr size_t kEntryBytes = 8 + 8 + 4 + 1;
// A larger count than any real video has means a damaged header, not a huge allocation.
constexpr uint32_t kMaxFrames = 50u * 1000u * 1000u;
// How much of each end of the video its signature digests.
constexpr int64_t kSignatureBytes = int64_t{1} << 20;

uint64_t Fnv1a(const char* bytes, size_t length, uint64_t h = 1469598103934665603ull) {
    for (size_t i = 0; i < length; ++i) {
        h = (h ^ static_cast<unsigned char>(bytes[i])) * 1099511628211ull;
    }
    return h;
}

uint64_t Fnv1a(const std::string& bytes, size_t length) {
    return Fnv1a(bytes.data(), length);
}

bool DigestRange(std::FILE* in, int64_t from, int64_t length, uint64_t& out) {
    std::string bytes(static_cast<size_t>(length), '\0');
    if (std::fseek(in, static_cast<long>(from), SEEK_SET) != 0 ||
        std::fread(bytes.data(), 1, bytes.size(), in) != bytes.size()) {
        return false;
    }
    out = Fnv1a(bytes, bytes.size());
    return true;
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

bool ReadVideoSignature(const fs::path& video, int64_t packets, VideoSignature& out) {
    std::error_code ec;
    const uintmax_t size = fs::file_size(video, ec);
    if (ec) {
        return false;
    }
    std::FILE* in = std::fopen(video.c_str(), "rb");
    if (in == nullptr) {
        return false;
    }
    const int64_t whole = static_cast<int64_t>(size);
    const int64_t part = std::min(whole, kSignatureBytes);
    const bool ok =
        DigestRange(in, 0, part, out.head) && DigestRange(in, whole - part, part, out.tail);
    std::fclose(in);
    out.size = static_cast<uint64_t>(size);
    out.packets = packets;
    return ok;
}

size_t FrameKeyHash::operator()(const FrameKey& k) const {
    uint64_t h = static_cast<uint64_t>(k.pos) * 0x9e3779b97f4a7c15ull;
    h ^= static_cast<uint64_t>(k.pts) + 0x632be59bd9b4e019ull + (h << 6) + (h >> 2);
    h ^= static_cast<uint64_t>(k.size) + (h << 6) + (h >> 2);
    return static_cast<size_t>(h);
}

void CFrameIndex::Clear() {
    m_frames.clear();
    m_byKey.clear();
    m_keyFrames.clear();
    m_bComplete = false;
}

void CFrameIndex::Append(const std::vector<IndexedFrame>& frames) {
    for (const IndexedFrame& f : frames) {
        const int n = Count();
        m_frames.push_back(f);
        const auto [it, inserted] = m_byKey.emplace(f.id, n);
        if (!inserted) {
            it->second = kAmbiguous;
        }
        if (f.key) {
            m_keyFrames.push_back(n);
        }
    }
}

int CFrameIndex::Identify(const FrameKey& key) const {
    const auto it = m_byKey.find(key);
    if (it == m_byKey.end()) {
        return kUnknown;
    }
    if (!m_bComplete && it->second != kAmbiguous) {
        // Frames yet to be indexed may carry the same name: one without a position anywhere in
        // the file, one with a position only next to the frames of the same packet.
        if (key.pos < 0 || it->second >= Count() - kPacketSpread) {
            return kAmbiguous;
        }
    }
    return it->second;
}

int CFrameIndex::SeekPointAtOrBefore(int n, bool byteSeek) const {
    auto it = std::upper_bound(m_keyFrames.begin(), m_keyFrames.end(), n);
    while (it != m_keyFrames.begin()) {
        --it;
        const FrameKey& key = Key(*it);
        const bool aimable = byteSeek ? key.pos >= 0 : key.pts != kNoTimestamp;
        if (aimable && Identify(key) == *it) {
            return *it;
        }
    }
    return -1;
}

bool CFrameIndex::Save(const fs::path& file, const VideoSignature& video) const {
    if (!m_bComplete) {
        return false;
    }
    std::string bytes(kMagic, sizeof kMagic);
    Put<uint32_t>(bytes, kFormatVersion);
    Put<uint32_t>(bytes, avcodec_version());
    Put<uint64_t>(bytes, video.size);
    Put<uint64_t>(bytes, video.head);
    Put<uint64_t>(bytes, video.tail);
    Put<int64_t>(bytes, video.packets);
    Put<uint32_t>(bytes, static_cast<uint32_t>(m_frames.size()));
    for (const IndexedFrame& f : m_frames) {
        Put<int64_t>(bytes, f.id.pos);
        Put<int64_t>(bytes, f.id.pts);
        Put<int32_t>(bytes, f.id.size);
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
    stored.head = Get<uint64_t>(bytes, at);
    stored.tail = Get<uint64_t>(bytes, at);
    stored.packets = Get<int64_t>(bytes, at);
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
        f.id.pos = Get<int64_t>(bytes, at);
        f.id.pts = Get<int64_t>(bytes, at);
        f.id.size = Get<int32_t>(bytes, at);
        f.key = bytes[at++] != 0;
    }
    m_bComplete = true;
    Append(frames);
    return true;
}
