#pragma once

#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include "video/FrameDecoder.h"

struct FrameKeyHash {
    size_t operator()(const FrameKey& k) const;
};

// One frame as reading the file in order yields it: its name in the file and whether it is a
// key frame.
struct IndexedFrame {
    FrameKey id;
    bool key = false;
};

// What ties an index file to the content of one video file, whoever copied it where: its size,
// a digest of its first and of its last mebibyte, and the container's packet count for the
// video stream. The modification time is left out on purpose: copying an archive keeps its
// indexes, and a file changed in place changes its digests.
struct VideoSignature {
    uint64_t size = 0;
    uint64_t head = 0;
    uint64_t tail = 0;
    int64_t packets = 0;
    bool operator==(const VideoSignature& o) const {
        return size == o.size && head == o.head && tail == o.tail && packets == o.packets;
    }
};

// The signature of the file as it is now (packets: the container's count, see CFrameDecoder);
// false when the file cannot be read.
bool ReadVideoSignature(const std::filesystem::path& video, int64_t packets, VideoSignature& out);

// Frame number -> name in the file and key flag for the frames of a video, in the order reading
// it from its start yields them (so frame n of the index is frame n of the capture).
//
// A frame decoded after a seek is recognised by its name only where no other frame of the whole
// file can carry the same name: names with a byte position are unique except among the few
// frames one packet may yield, which come out next to each other; so while the index is still
// growing its last frames, and names without a position, prove nothing until it is complete.
// Frames that cannot be recognised so are recognised by coming next after a recognised one with
// the name the index expects there.
//
// Ownership and threading: a plain value, used on one thread.
class CFrameIndex {
  public:
    static constexpr int kUnknown = -1;
    static constexpr int kAmbiguous = -2;
    // Frames one packet yields come out within this many frames of each other.
    static constexpr int kPacketSpread = 32;

    void Clear();
    void Append(const std::vector<IndexedFrame>& frames);
    int Count() const { return static_cast<int>(m_frames.size()); }
    // True once the frames of the whole file are in (reading in order ended cleanly after the
    // last).
    bool Complete() const { return m_bComplete; }
    void SetComplete(bool complete) { m_bComplete = complete; }

    const FrameKey& Key(int n) const { return m_frames[static_cast<size_t>(n)].id; }
    // The frame this name proves, kAmbiguous when several frames may carry it, kUnknown when
    // none does (yet).
    int Identify(const FrameKey& key) const;
    // The last key frame at or before frame n that a seek can aim at and recognise, or -1.
    int SeekPointAtOrBefore(int n, bool byteSeek) const;

    // The index file: written whole under a temporary name and renamed, so a reader never sees
    // half of it. Load accepts only a complete index made by this version for exactly this
    // signature and intact to its checksum; anything else leaves the index empty and returns
    // false.
    bool Save(const std::filesystem::path& file, const VideoSignature& video) const;
    bool Load(const std::filesystem::path& file, const VideoSignature& video);

  private:
    std::vector<IndexedFrame> m_frames;
    std::unordered_map<FrameKey, int, FrameKeyHash> m_byKey;
    std::vector<int> m_keyFrames;  // ascending frame numbers
    bool m_bComplete = false;
};
