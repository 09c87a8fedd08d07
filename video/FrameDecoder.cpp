#include "video/FrameDecoder.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <mutex>

#include <opencv2/core.hpp>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/imgutils.h>
#include <libswscale/swscale.h>
}

namespace {

// The capture gives up after this many packets of other streams in a row, and after this many
// packets in a row that the decoder turns into an error; so does this reader.
constexpr int kMaxOtherPackets = 4096;
constexpr int kMaxDecodeErrors = 64;

std::atomic<int64_t> g_failReadsPast{-1};

}  // namespace

// A file read through stdio that fails with EIO past a given byte (tests only).
struct CFrameDecoder::FailingInput {
    std::FILE* file = nullptr;
    int64_t limit = 0;
    AVIOContext* io = nullptr;

    static int Read(void* opaque, uint8_t* buf, int size) {
        auto* self = static_cast<FailingInput*>(opaque);
        const int64_t at = std::ftell(self->file);
        if (at >= self->limit) {
            return AVERROR(EIO);
        }
        const size_t want = static_cast<size_t>(std::min<int64_t>(size, self->limit - at));
        const size_t got = std::fread(buf, 1, want, self->file);
        return got == 0 ? AVERROR_EOF : static_cast<int>(got);
    }
    static int64_t Seek(void* opaque, int64_t offset, int whence) {
        auto* self = static_cast<FailingInput*>(opaque);
        if (whence == AVSEEK_SIZE) {
            const long at = std::ftell(self->file);
            std::fseek(self->file, 0, SEEK_END);
            const long size = std::ftell(self->file);
            std::fseek(self->file, at, SEEK_SET);
            return size;
        }
        if (std::fseek(self->file, static_cast<long>(offset), whence & ~AVSEEK_FORCE) != 0) {
            return -1;
        }
        return std::ftell(self->file);
    }
    ~FailingInput() {
        if (io != nullptr) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

void CFrameDecoder::FailReadsPastForTests(int64_t bytes) {
    g_failReadsPast = bytes;
}

CFrameDecoder::CFrameDecoder() = default;

CFrameDecoder::~CFrameDecoder() {
    Close();
}

void CFrameDecoder::Close() {
    sws_freeContext(m_pSws);
    m_pSws = nullptr;
    av_frame_free(&m_pBgr);
    av_frame_free(&m_pFrame);
    av_packet_free(&m_pPacket);
    avcodec_free_context(&m_pCodec);
    avformat_close_input(&m_pFormat);
    delete m_pFailing;
    m_pFailing = nullptr;
    m_nStream = -1;
    m_bEnded = false;
    m_bHaveFrame = false;
    m_bReadFailed = false;
    m_bGaveUp = false;
}

bool CFrameDecoder::OpenInput(const std::filesystem::path& path) {
    const int64_t failPast = g_failReadsPast;
    if (failPast < 0) {
        return avformat_open_input(&m_pFormat, path.c_str(), nullptr, nullptr) >= 0;
    }
    m_pFailing = new FailingInput;
    m_pFailing->limit = failPast;
    m_pFailing->file = std::fopen(path.c_str(), "rb");
    constexpr int kBuffer = 4096;
    auto* buffer = static_cast<unsigned char*>(av_malloc(kBuffer));
    m_pFormat = avformat_alloc_context();
    if (m_pFailing->file == nullptr || buffer == nullptr || m_pFormat == nullptr) {
        av_free(buffer);
        return false;
    }
    m_pFailing->io = avio_alloc_context(buffer, kBuffer, 0, m_pFailing, &FailingInput::Read,
                                        nullptr, &FailingInput::Seek);
    if (m_pFailing->io == nullptr) {
        av_free(buffer);
        return false;
    }
    m_pFormat->pb = m_pFailing->io;
    m_pFormat->flags |= AVFMT_FLAG_CUSTOM_IO;
    return avformat_open_input(&m_pFormat, path.c_str(), nullptr, nullptr) >= 0;
}

bool CFrameDecoder::Open(const std::filesystem::path& path, int threads, Mode mode) {
    Close();
    // Damaged packets are expected and handled; FFmpeg's own complaints would only flood the
    // terminal the program was started from.
    static std::once_flag quiet;
    std::call_once(quiet, [] { av_log_set_level(AV_LOG_QUIET); });
    if (!OpenInput(path)) {
        Close();
        return false;
    }
    if (avformat_find_stream_info(m_pFormat, nullptr) < 0) {
        Close();
        return false;
    }
    for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
        if (m_pFormat->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO) {
            m_nStream = static_cast<int>(i);
            break;
        }
    }
    if (m_nStream < 0) {
        Close();
        return false;
    }
    AVStream* st = m_pFormat->streams[m_nStream];
    if (mode == Mode::kIndexOnly) {
        for (unsigned i = 0; i < m_pFormat->nb_streams; ++i) {
            if (static_cast<int>(i) != m_nStream) {
                m_pFormat->streams[i]->discard = AVDISCARD_ALL;
            }
        }
    }
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    m_pCodec = codec != nullptr ? avcodec_alloc_context3(codec) : nullptr;
    if (m_pCodec == nullptr) {
        Close();
        return false;
    }
    m_pCodec->thread_count = threads > 0 ? threads : std::min(cv::getNumberOfCPUs(), 16);
    if (mode == Mode::kIndexOnly) {
        // The index needs which frames come out and what their packets carry, never their
        // pixels: the in-loop filters and exact rounding only change pixels.
        m_pCodec->skip_loop_filter = AVDISCARD_ALL;
        m_pCodec->flags2 |= AV_CODEC_FLAG2_FAST;
    }
    if (avcodec_parameters_to_context(m_pCodec, st->codecpar) < 0 ||
        avcodec_open2(m_pCodec, codec, nullptr) < 0) {
        Close();
        return false;
    }
    m_pFrame = av_frame_alloc();
    m_pBgr = av_frame_alloc();
    m_pPacket = av_packet_alloc();
    if (m_pFrame == nullptr || m_pBgr == nullptr || m_pPacket == nullptr) {
        Close();
        return false;
    }
    m_nWidth = st->codecpar->width;
    m_nHeight = st->codecpar->height;
    // A phone held upright records a display matrix; the capture turns its frames (and swaps
    // the reported size) to match, and so does this reader.
    m_nRotation = 0;
    if (const uint8_t* matrix = av_stream_get_side_data(st, AV_PKT_DATA_DISPLAYMATRIX, nullptr)) {
        m_nRotation = cvRound(av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix)));
        if (m_nRotation < 0) {
            m_nRotation += 360;
        }
    }
    if (m_nRotation == 90 || m_nRotation == 270) {
        std::swap(m_nWidth, m_nHeight);
    }

    // The frame count and rate as the capture derives them.
    const AVRational rate = av_guess_frame_rate(m_pFormat, st, nullptr);
    const double fps = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0.0;
    m_dFrameRate = fps;
    int64_t count = st->nb_frames;
    if (count <= 0) {
        double seconds = static_cast<double>(m_pFormat->duration) / AV_TIME_BASE;
        if (seconds < 0.000025) {
            seconds = static_cast<double>(st->duration) * av_q2d(st->time_base);
        }
        count = static_cast<int64_t>(std::floor(seconds * fps + 0.5));
    }
    m_nReportedCount = static_cast<int>(std::clamp<int64_t>(count, 0, INT32_MAX));
    m_nFrameLimit = st->nb_frames > 0 ? st->nb_frames + 1 : INT64_MAX;
    m_nFrameTicks =
        fps > 0.0 ? std::max<int64_t>(1, av_rescale_q(1, av_inv_q(rate), st->time_base)) : 1;
    m_nStartTime = st->start_time != AV_NOPTS_VALUE ? st->start_time : 0;
    m_nContainerPackets = std::max<int64_t>(0, st->nb_frames);
    // Transport and program streams (whose timestamps may restart or wrap) and raw streams
    // (which have none) are sought by byte position; the others refuse or misread it.
    const int flags = m_pFormat->iformat->flags;
    m_bByteSeek =
        (flags & AVFMT_NO_BYTE_SEEK) == 0 && (flags & (AVFMT_TS_DISCONT | AVFMT_NOTIMESTAMPS)) != 0;
    return true;
}

void CFrameDecoder::End() {
    m_bEnded = true;
    m_bHaveFrame = false;
}

bool CFrameDecoder::Receive() {
    m_bHaveFrame = avcodec_receive_frame(m_pCodec, m_pFrame) >= 0;
    return m_bHaveFrame;
}

bool CFrameDecoder::Next() {
    if (m_pCodec == nullptr || m_bEnded) {
        return false;
    }
    // A frame the last packet left in the decoder comes before the next packet is read.
    if (Receive()) {
        return true;
    }
    int otherPackets = 0;
    int decodeErrors = 0;
    for (;;) {
        av_packet_unref(m_pPacket);
        const int read = av_read_frame(m_pFormat, m_pPacket);
        if (read == AVERROR(EAGAIN)) {
            continue;
        }
        if (read < 0 && m_pFormat->pb != nullptr && m_pFormat->pb->error < 0 &&
            m_pFormat->pb->error != AVERROR_EOF) {
            // The file itself failed: that is not its end, and what is left in the decoder
            // would only make it look like one.
            m_bReadFailed = true;
            End();
            return false;
        }
        const bool flush = read < 0;
        if (!flush && m_pPacket->stream_index != m_nStream) {
            if (++otherPackets > kMaxOtherPackets) {
                End();
                return false;
            }
            continue;
        }
        // At the end of the file an empty packet drains the decoder; a second one is refused,
        // which ends reading as it ends the capture's.
        if (avcodec_send_packet(m_pCodec, flush ? nullptr : m_pPacket) < 0) {
            End();
            return false;
        }
        const int got = avcodec_receive_frame(m_pCodec, m_pFrame);
        if (got >= 0) {
            m_bHaveFrame = true;
            return true;
        }
        if (got != AVERROR(EAGAIN) && ++decodeErrors > kMaxDecodeErrors) {
            End();
            return false;
        }
    }
}

const AVPacket* CFrameDecoder::NextPacket() {
    if (m_pCodec == nullptr || m_bEnded) {
        return nullptr;
    }
    int otherPackets = 0;
    for (;;) {
        av_packet_unref(m_pPacket);
        const int read = av_read_frame(m_pFormat, m_pPacket);
        if (read == AVERROR(EAGAIN)) {
            continue;
        }
        if (read < 0) {
            m_bReadFailed = m_pFormat->pb != nullptr && m_pFormat->pb->error < 0 &&
                            m_pFormat->pb->error != AVERROR_EOF;
            End();
            return nullptr;
        }
        if (m_pPacket->stream_index == m_nStream) {
            return m_pPacket;
        }
        if (++otherPackets > kMaxOtherPackets) {
            m_bGaveUp = true;
            End();
            return nullptr;
        }
    }
}

const AVCodecParameters* CFrameDecoder::Parameters() const {
    return m_nStream >= 0 ? m_pFormat->streams[m_nStream]->codecpar : nullptr;
}

int CFrameDecoder::DecoderDelay() const {
    return m_pCodec != nullptr ? m_pCodec->has_b_frames : 0;
}

FrameKey CFrameDecoder::Key() const {
    FrameKey key;
    if (m_bHaveFrame) {
        key.pos = m_pFrame->pkt_pos;
        key.pts = m_pFrame->pts == AV_NOPTS_VALUE ? kNoTimestamp : m_pFrame->pts;
        key.size = m_pFrame->pkt_size;
    }
    return key;
}

int64_t CFrameDecoder::Timestamp() const {
    if (!m_bHaveFrame) {
        return kNoTimestamp;
    }
    return m_pFrame->best_effort_timestamp == AV_NOPTS_VALUE ? kNoTimestamp
                                                             : m_pFrame->best_effort_timestamp;
}

bool CFrameDecoder::IsKeyFrame() const {
    return m_bHaveFrame && m_pFrame->key_frame != 0;
}

bool CFrameDecoder::ToBgr(cv::Mat& out) {
    if (!m_bHaveFrame || m_pFrame->data[0] == nullptr) {
        return false;
    }
    // The capture converts the whole coded picture with a bicubic context into a frame buffer
    // aligned to 32 bytes, then hands out the visible part: the same here, so the pixels match.
    const int w = m_pCodec->coded_width;
    const int h = m_pCodec->coded_height;
    m_pSws = sws_getCachedContext(m_pSws, w, h, static_cast<AVPixelFormat>(m_pFrame->format), w, h,
                                  AV_PIX_FMT_BGR24, SWS_BICUBIC, nullptr, nullptr, nullptr);
    if (m_pSws == nullptr) {
        return false;
    }
    if (m_pBgr->data[0] == nullptr || m_pBgr->width != w || m_pBgr->height != h) {
        av_frame_unref(m_pBgr);
        m_pBgr->format = AV_PIX_FMT_BGR24;
        m_pBgr->width = w;
        m_pBgr->height = h;
        if (av_frame_get_buffer(m_pBgr, 32) != 0) {
            return false;
        }
    }
    sws_scale(m_pSws, m_pFrame->data, m_pFrame->linesize, 0, m_pFrame->height, m_pBgr->data,
              m_pBgr->linesize);
    const bool turned = m_nRotation == 90 || m_nRotation == 270;
    const int rows = std::min(turned ? m_nWidth : m_nHeight, h);
    const int cols = std::min(turned ? m_nHeight : m_nWidth, w);
    if (rows <= 0 || cols <= 0) {
        return false;
    }
    const cv::Mat visible(rows, cols, CV_8UC3, m_pBgr->data[0],
                          static_cast<size_t>(m_pBgr->linesize[0]));
    switch (m_nRotation) {
        case 90:
            cv::rotate(visible, out, cv::ROTATE_90_CLOCKWISE);
            break;
        case 180:
            cv::rotate(visible, out, cv::ROTATE_180);
            break;
        case 270:
            cv::rotate(visible, out, cv::ROTATE_90_COUNTERCLOCKWISE);
            break;
        default:
            visible.copyTo(out);
            break;
    }
    return true;
}

bool CFrameDecoder::SeekKey(int64_t ts) {
    if (m_pCodec == nullptr) {
        return false;
    }
    const bool ok = av_seek_frame(m_pFormat, m_nStream, ts, AVSEEK_FLAG_BACKWARD) >= 0;
    avcodec_flush_buffers(m_pCodec);
    m_bEnded = false;
    m_bHaveFrame = false;
    m_bReadFailed = false;
    return ok;
}

bool CFrameDecoder::SeekTo(const FrameKey& key) {
    if (m_pCodec == nullptr) {
        return false;
    }
    if (m_bByteSeek && key.pos >= 0) {
        const bool ok = av_seek_frame(m_pFormat, -1, key.pos, AVSEEK_FLAG_BYTE) >= 0;
        avcodec_flush_buffers(m_pCodec);
        m_bEnded = false;
        m_bHaveFrame = false;
        m_bReadFailed = false;
        return ok;
    }
    return key.pts != kNoTimestamp && SeekKey(key.pts);
}
