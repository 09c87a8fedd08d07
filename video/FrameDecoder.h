#pragma once

#include <cstdint>
#include <filesystem>

#include <opencv2/core.hpp>

struct AVCodecContext;
struct AVCodecParameters;
struct AVFormatContext;
struct AVFrame;
struct AVPacket;
struct SwsContext;

// A frame without a timestamp of its own (FFmpeg's AV_NOPTS_VALUE).
constexpr int64_t kNoTimestamp = INT64_MIN;

// What names a decoded frame in the file, the same for every decoder that reads it however it
// got there: the byte position and size of the packet the picture was coded in, and the
// presentation timestamp that packet carries (kNoTimestamp when none). No decoder heuristics
// enter it (unlike FFmpeg's best-effort timestamp, which depends on what the decoder saw
// before), and the byte position tells apart frames whose timestamps repeat elsewhere in the
// file (joined recordings, duplicated timestamps, a 33-bit wrap). pos is -1 where the demuxer
// does not know it.
struct FrameKey {
    int64_t pos = -1;
    int64_t pts = kNoTimestamp;
    int32_t size = 0;
    bool operator==(const FrameKey& o) const {
        return pos == o.pos && pts == o.pts && size == o.size;
    }
    bool operator!=(const FrameKey& o) const { return !(*this == o); }
};

// Demuxes and decodes the first video stream of a file with FFmpeg's libraries, frame by frame in
// the order reading the file from its start yields them, exactly as OpenCV's capture reads them:
// whatever is buffered is received before the next packet is sent, the decoder is drained at the
// end of the file, and reading stops for good at the first packet the decoder refuses. So the
// n-th frame from here is the n-th frame of the capture, and BGR pictures made by ToBgr carry
// the capture's pixels (same conversion, same sizes, same interpolation flag).
//
// A seek goes to the key frame at or before a timestamp of the stream; which frames come after
// it is for the caller to recognise by their timestamps.
//
// Ownership and threading: a plain object used by one thread at a time; every FFmpeg error
// becomes a false result, nothing throws.
class CFrameDecoder {
  public:
    CFrameDecoder();
    ~CFrameDecoder();
    CFrameDecoder(const CFrameDecoder&) = delete;
    CFrameDecoder& operator=(const CFrameDecoder&) = delete;

    // How a decoder is used: for pictures, or for the frame index only, where the decoder may
    // skip work that changes pixels but never which frames come out or what they carry
    // (in-loop filtering, exact rounding).
    enum class Mode { kPictures, kIndexOnly };
    // `threads` 0 decodes with as many threads as the capture uses (the cores, at most 16).
    // The index mode also tells the demuxer to drop every other stream's packets.
    bool Open(const std::filesystem::path& path, int threads = 0, Mode mode = Mode::kPictures);
    void Close();
    bool IsOpen() const { return m_pCodec != nullptr; }

    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    // The frame count as the capture reports it: the container's figure, or the duration times
    // the frame rate when the container has none.
    int ReportedFrameCount() const { return m_nReportedCount; }
    // The nominal frame rate as the capture reports it; 0 when the stream states none.
    double FrameRate() const { return m_dFrameRate; }
    // The capture stops reading in order after this many frames (the container's count + 1).
    int64_t FrameLimit() const { return m_nFrameLimit; }
    // Ticks of the stream's time base per frame at the nominal frame rate, and the stream's
    // first timestamp: what an estimate of a frame's timestamp rests on.
    int64_t NominalFrameTicks() const { return m_nFrameTicks; }
    int64_t StartTime() const { return m_nStartTime; }

    // Decodes the next frame. False at the end of what can be read; stays false until a seek.
    bool Next();
    // True when the last Next() ended because the file could not be read (an I/O error, as a
    // network share gives), not at the end of the file or at data the decoder refuses.
    bool ReadFailed() const { return m_bReadFailed; }
    // The last decoded frame's name in the file (see FrameKey).
    FrameKey Key() const;
    // The last decoded frame's best-effort timestamp, or kNoTimestamp: good enough to aim a
    // guess at, never to recognise a frame by.
    int64_t Timestamp() const;
    bool IsKeyFrame() const;
    // The last decoded frame as an 8-bit BGR image of Width() x Height(), turned upright as the
    // stream's display matrix says.
    bool ToBgr(cv::Mat& out);

    // Goes to the key frame at or before `ts` and forgets what the decoder buffered.
    bool SeekKey(int64_t ts);
    // Goes to the packet a frame was coded in, by its byte position where the container allows
    // that (transport and program streams, raw streams: the formats whose timestamps may jump
    // or be missing), else by its timestamp. False when neither is possible.
    bool SeekTo(const FrameKey& key);
    bool CanSeekBytes() const { return m_bByteSeek; }
    // The container's own packet count for the stream (0 when it has none).
    int64_t ContainerPackets() const { return m_nContainerPackets; }

    // Packets without decoding, for reading the order of frames from their headers: the next
    // packet of the video stream as Next() would send it to the decoder (the same packets, the
    // same read error rule), or nullptr at the end or at a read error (ReadFailed() tells
    // which). Not to be mixed with Next() on one opened file.
    const AVPacket* NextPacket();
    // True when NextPacket() gave up on a run of other streams' packets, where Next() ends
    // without draining the decoder.
    bool GaveUp() const { return m_bGaveUp; }
    const AVCodecParameters* Parameters() const;
    // How many frames the opened decoder holds back before giving out the first (its reorder
    // delay); the decoder may raise it while decoding, never lower it.
    int DecoderDelay() const;

    // Test-only: every decoder opened from now on fails to read its file past this many bytes
    // with an I/O error, as a failing disk or share would; a negative value turns it off.
    static void FailReadsPastForTests(int64_t bytes);

  private:
    bool Receive();
    void End();
    bool OpenInput(const std::filesystem::path& path);

    AVFormatContext* m_pFormat = nullptr;
    AVCodecContext* m_pCodec = nullptr;
    AVFrame* m_pFrame = nullptr;
    AVFrame* m_pBgr = nullptr;
    AVPacket* m_pPacket = nullptr;
    SwsContext* m_pSws = nullptr;
    int m_nStream = -1;
    // As shown, that is after the display rotation (clockwise degrees: 0, 90, 180 or 270).
    int m_nWidth = 0;
    int m_nHeight = 0;
    int m_nRotation = 0;
    int m_nReportedCount = 0;
    double m_dFrameRate = 0.0;
    int64_t m_nFrameLimit = INT64_MAX;
    int64_t m_nFrameTicks = 1;
    int64_t m_nStartTime = 0;
    int64_t m_nContainerPackets = 0;
    bool m_bEnded = false;
    bool m_bHaveFrame = false;
    bool m_bReadFailed = false;
    bool m_bGaveUp = false;
    bool m_bByteSeek = false;
    // The injected failing reader (tests only), owned here.
    struct FailingInput;
    FailingInput* m_pFailing = nullptr;
};
