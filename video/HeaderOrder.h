#pragma once

#include <array>
#include <atomic>
#include <climits>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

#include "video/FrameIndex.h"

// The frames of an H.264 video in the order its decoder gives them out, found from the packets'
// headers alone, without decoding a picture: ten times and more faster than decoding, which is
// what the frame index of a long recording waits for.
//
// A decoder holds pictures back and gives out the one with the lowest picture order count (POC)
// once it holds more than its reorder delay, never passing an IDR picture (which starts a new
// coded sequence). FFmpeg's parser gives each picture's POC; OrderModel replays that rule with
// the delay the opened decoder states. The replay is trusted only where the decoder provably does
// the same: the file starts with an IDR picture, every packet holds exactly one whole frame (no
// field pictures, no second picture, no layered streams), no packet is marked to be discarded
// (edit lists) or corrupt, and within every coded sequence the pictures come out in rising POC
// with that delay. A decoder's delay only grows, and a larger delay gives the same order of such
// a sequence, so the order cannot differ; anything else makes the reader give up
// (kNotApplicable) and the index is built by decoding.
//
// Frames are handed over one coded sequence at a time, when its order is settled (the next IDR
// picture has come out or the file has ended): a later packet cannot change an earlier sequence's
// order, so what was handed stays true even when the reader gives up further on.
class CHeaderOrder {
  public:
    enum class Result { kEndOfFile, kReadError, kStopped, kNotApplicable };

    // Reads `video` from its start. `hand` receives each settled run of frames (at most the
    // decoder's frame limit in all) and returns false to stop reading (kStopped); `stop` is
    // looked at after every packet.
    static Result Read(const std::filesystem::path& video, const std::atomic<bool>& stop,
                       const std::function<bool(std::vector<IndexedFrame>&)>& hand);

    // The decoder's output rule, fed one picture at a time in decoding order.
    class OrderModel {
      public:
        explicit OrderModel(int delay) : m_nDelay(delay) { m_lastPocs.fill(INT_MIN); }
        // False when the decoder might not give the pictures out in the order replayed here.
        // frame.key is the decoder's key frame flag (IDR pictures and whole recovery points).
        bool Add(int poc, bool idr, const IndexedFrame& frame);
        // At the end of the file: whatever is held back comes out.
        void Flush();
        // Frames whose place is settled, taken away.
        std::vector<IndexedFrame> TakeSettled();

      private:
        struct Picture {
            int poc;
            bool idr;
            IndexedFrame frame;  // frame.key: the decoder's key frame flag
        };
        void Emit(size_t at);
        size_t Lowest() const;

        int m_nDelay;
        static constexpr int kTracked = 16;
        std::array<int, kTracked> m_lastPocs{};
        int m_nNextOut = INT_MIN;
        // The highest POC since the last IDR picture, and the one the pictures from the last
        // other key frame on must stay above.
        int m_nSequenceMax = INT_MIN;
        int m_nBarrier = INT_MIN;
        std::vector<Picture> m_held;
        std::vector<IndexedFrame> m_pending;
        std::vector<IndexedFrame> m_settled;
    };
};
