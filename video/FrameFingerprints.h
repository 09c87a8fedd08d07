#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include <opencv2/core.hpp>

// What tells one decoded frame from another without keeping its pixels: the timestamp the
// capture reports after decoding it and a hash of a sample of its rows. Both are the same
// whenever the same frame is decoded again, whether read in order or reached after a seek, so a
// frame decoded after a seek can be looked up among the frames read in order before.
struct FrameFingerprint {
    double msec = 0.0;
    uint64_t hash = 0;  // never 0 for a real frame

    bool Known() const { return hash != 0; }
    bool operator==(const FrameFingerprint& o) const { return hash == o.hash && msec == o.msec; }
    bool operator!=(const FrameFingerprint& o) const { return !(*this == o); }
};

// The fingerprint of a decoded frame; `msec` is the capture's timestamp for it.
FrameFingerprint MakeFingerprint(const cv::Mat& frame, double msec);

// Fingerprints of the frames whose index is certain, by index. Used to tell which frame a seek
// of the capture really landed on, since the capture's own frame arithmetic is only as good as
// the file's timestamps.
//
// Ownership and threading: a plain value owned by the video source, used on one thread.
class CFrameFingerprints {
  public:
    // Records frame `index`. False when a different fingerprint was recorded for that index
    // before: then the caller's idea of the index is wrong.
    bool Record(int index, const FrameFingerprint& fp);
    bool Known(int index) const;
    // The one recorded index with this fingerprint; -1 when there is none or more than one.
    int Identify(const FrameFingerprint& fp) const;
    // The highest recorded index in [index - maxBack, index]; -1 when there is none.
    int KnownAtOrBefore(int index, int maxBack) const;
    void Clear();

  private:
    std::vector<FrameFingerprint> m_byIndex;
    std::unordered_multimap<uint64_t, int> m_byHash;
};
