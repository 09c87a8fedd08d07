#pragma once

#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <vector>

// One frame as reading the file in order yields it: the decoder's own timestamp for it (or
// kNoTimestamp) and whether it is a key frame.
struct IndexedFrame {
    int64_t ts = 0;
    bool key = false;
};

// What ties an index file to one state of one video file.
struct VideoSignature {
    uint64_t size = 0;
    int64_t mtime = 0;
    bool operator==(const VideoSignature& o) const { return size == o.size && mtime == o.mtime; }
};

// The signature of the file as it is now; false when it cannot be read.
bool ReadVideoSignature(const std::filesystem::path& video, VideoSignature& out);

// Frame number -> timestamp and key flag for the frames of a video, in the order reading it
// from its start yields them (so frame n of the index is frame n of the capture). A frame
// decoded after a seek is recognised by its timestamp; frames that share a timestamp or have
// none are recognised by their place after a recognised one.
//
// Ownership and threading: a plain value, used on one thread.
class CFrameIndex {
  public:
    static constexpr int kUnknown = -1;
    static constexpr int kAmbiguous = -2;

    void Clear();
    void Append(const std::vector<IndexedFrame>& frames);
    int Count() const { return static_cast<int>(m_frames.size()); }
    // True once the frames of the whole file are in (reading in order ends after the last).
    bool Complete() const { return m_bComplete; }
    void SetComplete(bool complete) { m_bComplete = complete; }

    int64_t Timestamp(int n) const { return m_frames[static_cast<size_t>(n)].ts; }
    // The frame with this timestamp: its number, kAmbiguous when several frames (or frames
    // without one) carry it, kUnknown when none does.
    int Identify(int64_t ts) const;
    // The last key frame at or before frame n with a timestamp no other frame has (a place a
    // seek can aim at and recognise), or -1.
    int SeekPointAtOrBefore(int n) const;

    // The index file: written whole under a temporary name and renamed, so a reader never sees
    // half of it. Load accepts only a file made by this version for exactly this signature and
    // intact to its checksum; anything else leaves the index empty and returns false.
    bool Save(const std::filesystem::path& file, const VideoSignature& video) const;
    bool Load(const std::filesystem::path& file, const VideoSignature& video);

  private:
    std::vector<IndexedFrame> m_frames;
    std::unordered_map<int64_t, int> m_byTs;
    std::vector<int> m_seekPoints;  // ascending frame numbers
    bool m_bComplete = false;
};
