#include "video/VideoManager.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include <opencv2/imgproc.hpp>

namespace {

// Records whose label has no table entry (hand-edited files, a tracking step without a selected
// label) are still drawn, in a light grey that no label uses, so the operator can see and delete
// them.
const cv::Scalar kFallbackColor(200, 200, 200, 0);
const cv::Scalar kTrackerBoxColor(150, 150, 150, 0);
const cv::Scalar kSelectedNumberColor(128, 0, 0, 0);
const cv::Scalar kNumberColor(205, 205, 0, 0);
constexpr int kMinTrackSide = 10;

// A frame at most this far ahead of the decoder is reached by reading forward rather than by a
// seek. The capture's seek decodes from the key frame before the frame (at least the 16 frames
// before it, on average half a group of pictures more). Measured with bench_video, a seek to a
// random frame costs as much as 66 forward reads on a 1920 x 1080 clip with a group of 250, and
// 147 on a 640 x 480 phone clip (group of 250, B-frames): 48 frames read forward stay below a
// typical seek on both, and unlike the seek they are exact and leave their frames in the cache.
constexpr int kForwardReadLimit = 48;
// A step back past the cache decodes the block of frames behind it, so that the next steps back
// are cache hits. The block is what the budget holds (85 frames at 1920 x 1080), but no more
// than this: one such step then costs a seek plus at most about one seek's worth of reads, and
// the steps back average under two reads each, while a larger block (580 frames of 640 x 480
// fit the budget) would make that one key press stall for the time of several seeks.
constexpr int kStepBackBlockLimit = 2 * kForwardReadLimit;
// Seeks for a frame aim this many frames before it: the capture can land a few frames late on
// files whose timestamps are out of presentation order (two late on a phone clip with B-frames),
// and landing early costs only a few forward reads while landing late costs a second seek.
constexpr int kSeekMargin = 4;
// Seeks that landed past their frame are retried this often from further back.
constexpr int kSeekAttempts = 3;

cv::Ptr<cv::Tracker> MakeCsrt() {
    return cv::TrackerCSRT::create(cv::TrackerCSRT::Params());
}

int RoundHalfUp(double v) {
    return static_cast<int>(std::floor(v + 0.5));
}

// Truncation toward zero, with values no int can hold (a broken header, NaN) taken as 0.
int TruncateToInt(double v) {
    if (!std::isfinite(v) || v <= -2147483649.0 || v >= 2147483648.0) {
        return 0;
    }
    return static_cast<int>(v);
}

}  // namespace

CVideoManager::CVideoManager()
    : m_pTracker(MakeCsrt()),
      m_colors{{
          {255, 0, 0, 0},     {0, 128, 0, 0},     {0, 0, 255, 0},     {0, 255, 255, 0},
          {255, 0, 255, 0},   {255, 255, 0, 0},   {128, 128, 0, 0},   {0, 128, 128, 0},
          {128, 0, 128, 0},   {128, 128, 128, 0}, {255, 255, 255, 0}, {139, 69, 19, 0},
          {0, 191, 255, 0},   {178, 34, 34, 0},   {72, 61, 139, 0},   {255, 165, 0, 0},
          {106, 90, 205, 0},  {46, 139, 87, 0},   {218, 165, 32, 0},  {128, 0, 128, 0},
          {0, 128, 255, 0},   {139, 0, 139, 0},   {0, 0, 139, 0},     {0, 100, 0, 0},
          {255, 192, 203, 0}, {75, 0, 130, 0},    {147, 112, 219, 0}, {32, 178, 170, 0},
          {255, 215, 0, 0},   {165, 42, 53, 0},
      }},
      m_pSpareTracker(MakeCsrt()) {}

CVideoManager::~CVideoManager() {
    m_matFrame.release();
    m_matDisplay.release();
    m_matScratch.release();
    m_cache.Clear();
    m_pTracker.reset();
    m_pSpareTracker.reset();
    try {
        m_capture.release();
    } catch (const cv::Exception&) {
    }
}

bool CVideoManager::Open(const std::filesystem::path& path) {
    double count = 0;
    double width = 0;
    double height = 0;
    // Whatever was open before is closed by the capture's open, and with it every frame and
    // index known for it.
    Forget();
    DropFrame();
    m_nShown = -1;
    m_bShownCertain = true;
    try {
        // path.string() is the UTF-8 form on this platform, which is what the backend expects.
        if (!m_capture.open(path.string(), cv::CAP_ANY) || !m_capture.isOpened()) {
            return false;
        }
        count = m_capture.get(cv::CAP_PROP_FRAME_COUNT);
        width = m_capture.get(cv::CAP_PROP_FRAME_WIDTH);
        height = m_capture.get(cv::CAP_PROP_FRAME_HEIGHT);
    } catch (const cv::Exception&) {
        return false;
    }
    // A stream that reports no size or count would leave the views dividing by zero; such a
    // stream keeps the neutral value 1 that an unopened source has.
    m_nFrameCount = std::max(1, TruncateToInt(count));
    m_nWidth = std::max(1, TruncateToInt(width));
    m_nHeight = std::max(1, TruncateToInt(height));
    m_nFrameBytes = static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight) * 3;
    // The first frame the decoder delivers is frame 0 by definition.
    m_nDecoderNext = 0;
    return true;
}

bool CVideoManager::IsOpened() const {
    try {
        return m_capture.isOpened();
    } catch (const cv::Exception&) {
        return false;
    }
}

double CVideoManager::CapturePosition() const {
    try {
        return m_capture.get(cv::CAP_PROP_POS_FRAMES);
    } catch (const cv::Exception&) {
        return 0.0;
    }
}

int CVideoManager::CurrentFrameIndex() const {
    return m_nShown;
}

void CVideoManager::DropFrame() {
    m_matFrame.release();
    m_cache.Pin(CFrameCache::kNoKey);
}

void CVideoManager::ForgetUncertain() {
    if (m_cache.Pinned() < 0) {
        m_cache.Pin(CFrameCache::kNoKey);
    }
    m_cache.EraseBelow(0);
}

void CVideoManager::Forget() {
    m_cache.Clear();
    m_fingerprints.Clear();
    m_nDecoderNext = -1;
}

int CVideoManager::BlockFrames() const {
    const size_t capacity = m_cache.Capacity(m_nFrameBytes);
    // One place stays with the frame on screen, which is pinned while the block is read.
    const size_t block = capacity > 2 ? capacity - 1 : 1;
    return static_cast<int>(std::min<size_t>(block, kStepBackBlockLimit));
}

bool CVideoManager::GrabAndRetrieve(cv::Mat& out, double& msec, bool& grabbed) {
    grabbed = false;
    try {
        if (!m_capture.grab()) {
            return false;
        }
        grabbed = true;
        msec = m_capture.get(cv::CAP_PROP_POS_MSEC);
        if (!m_capture.retrieve(out, 0) || out.empty()) {
            return false;
        }
    } catch (const cv::Exception&) {
        return false;
    }
    m_nFrameBytes = out.total() * out.elemSize();
    return true;
}

bool CVideoManager::SetCapturePosition(int index) {
    ++m_nCaptureSeeks;
    try {
        return m_capture.set(cv::CAP_PROP_POS_FRAMES, static_cast<double>(index));
    } catch (const cv::Exception&) {
        return false;
    }
}

void CVideoManager::Keep(int index, const cv::Mat& image) {
    if (cv::Mat* slot = m_cache.Slot(index, image.size(), image.type())) {
        image.copyTo(*slot);
    }
}

void CVideoManager::MarkShownCertain(int index) {
    m_nShown = index;
    m_bShownCertain = true;
    m_cache.Pin(index);
    ForgetUncertain();
}

void CVideoManager::ShowUncertain(int index, const cv::Mat& image) {
    if (&image != &m_matFrame) {
        image.copyTo(m_matFrame);
    }
    m_nShown = index;
    m_bShownCertain = false;
    m_cache.Pin(UncertainKey(index));
}

bool CVideoManager::ShowCached(int index) {
    const cv::Mat* cached = m_cache.Find(index);
    if (cached == nullptr) {
        return false;
    }
    cached->copyTo(m_matFrame);
    MarkShownCertain(index);
    return true;
}

CVideoManager::Decoded CVideoManager::DecodeCertain(int index, bool keep, bool show) {
    cv::Mat& image = show ? m_matFrame : m_matScratch;
    double msec = 0.0;
    bool grabbed = false;
    if (!GrabAndRetrieve(image, msec, grabbed)) {
        // At the end of the video the decoder stays where it is and frame `index` does not
        // exist; a frame decoded without a picture still counts.
        m_nDecoderNext = grabbed ? index + 1 : index;
        return Decoded::kEnd;
    }
    m_nDecoderNext = index + 1;
    if (!m_fingerprints.Record(index, MakeFingerprint(image, msec))) {
        // This index was decoded before with a different picture: what was taken for certain is
        // not, so nothing learnt about this file can be trusted any more.
        Forget();
        return Decoded::kLost;
    }
    if (keep) {
        Keep(index, image);
    }
    return Decoded::kFrame;
}

bool CVideoManager::ReadForwardTo(int index) {
    const int keepFrom = index - BlockFrames() + 1;
    while (m_nDecoderNext >= 0 && m_nDecoderNext <= index) {
        const int at = m_nDecoderNext;
        switch (DecodeCertain(at, at >= keepFrom, at == index)) {
            case Decoded::kFrame:
                break;
            case Decoded::kEnd:
                // As with the capture's own read past the end: no picture, and the position
                // stays just after the last frame there is.
                DropFrame();
                m_nShown = at - 1;
                m_bShownCertain = true;
                return false;
            case Decoded::kLost:
                return SeekCapture(index);
        }
    }
    if (m_nDecoderNext != index + 1) {
        return SeekCapture(index);
    }
    MarkShownCertain(index);
    return true;
}

int CVideoManager::SeekAndIdentify(int anchor) {
    m_nDecoderNext = -1;
    if (!SetCapturePosition(anchor)) {
        return -1;
    }
    double msec = 0.0;
    bool grabbed = false;
    if (!GrabAndRetrieve(m_matScratch, msec, grabbed)) {
        return -1;
    }
    const int landed = m_fingerprints.Identify(MakeFingerprint(m_matScratch, msec));
    if (landed >= 0) {
        m_nDecoderNext = landed + 1;
    }
    return landed;
}

bool CVideoManager::SeekExact(int index, Purpose why) {
    // A step back keeps the whole block behind the frame, so that the next steps back are
    // served from the cache; other purposes want only the frame.
    const int reach = why == Purpose::kPrevious ? BlockFrames() - 1 : kSeekMargin;
    int want = std::max(0, index - reach);
    for (int attempt = 0; attempt < kSeekAttempts; ++attempt) {
        // Only a frame read before can be recognised where the seek lands.
        const int anchor = m_fingerprints.KnownAtOrBefore(want, kForwardReadLimit);
        if (anchor < 0) {
            if (attempt == 0 && why == Purpose::kPrevious) {
                return ReadUncertainBlock(index);
            }
            break;
        }
        const int landed = SeekAndIdentify(anchor);
        if (landed < 0) {
            break;
        }
        if (landed <= index) {
            if (index - landed > (index - anchor) + kForwardReadLimit) {
                break;
            }
            if (landed >= index - BlockFrames() + 1) {
                Keep(landed, m_matScratch);
            }
            if (landed == index) {
                m_matScratch.copyTo(m_matFrame);
                MarkShownCertain(index);
                return true;
            }
            return ReadForwardTo(index);
        }
        // Landed past the frame: aim as much further back again.
        if (anchor == 0) {
            break;
        }
        want = std::max(0, anchor - (landed - anchor) - kSeekMargin);
    }
    return SeekCapture(index);
}

bool CVideoManager::SeekCapture(int index) {
    // A new stretch: what the capture counted after an earlier seek may not agree with this one.
    ForgetUncertain();
    if (!SetCapturePosition(index)) {
        DropFrame();
        m_nDecoderNext = -1;
        return false;
    }
    return DecodeUncertain();
}

bool CVideoManager::DecodeUncertain() {
    m_nDecoderNext = -1;
    double msec = 0.0;
    bool grabbed = false;
    if (!GrabAndRetrieve(m_matFrame, msec, grabbed)) {
        DropFrame();
        m_nShown = TruncateToInt(CapturePosition() - 1.0);
        m_bShownCertain = false;
        return false;
    }
    const int known = m_fingerprints.Identify(MakeFingerprint(m_matFrame, msec));
    if (known >= 0) {
        // A frame read before: its index and the decoder's are certain again.
        m_nDecoderNext = known + 1;
        Keep(known, m_matFrame);
        MarkShownCertain(known);
        return true;
    }
    const int index = TruncateToInt(CapturePosition() - 1.0);
    Keep(UncertainKey(index), m_matFrame);
    ShowUncertain(index, m_matFrame);
    return true;
}

bool CVideoManager::ReadUncertainBlock(int index) {
    ForgetUncertain();
    const int start = std::max(0, index - BlockFrames() + 1);
    m_nDecoderNext = -1;
    if (!SetCapturePosition(start)) {
        DropFrame();
        return false;
    }
    // The capture counts one frame per read after its seek, so this ends after the block.
    for (int guard = index - start + 1; guard >= 0; --guard) {
        double msec = 0.0;
        bool grabbed = false;
        if (!GrabAndRetrieve(m_matScratch, msec, grabbed)) {
            DropFrame();
            m_nShown = TruncateToInt(CapturePosition() - 1.0);
            m_bShownCertain = false;
            return false;
        }
        const int known = m_fingerprints.Identify(MakeFingerprint(m_matScratch, msec));
        if (known >= 0) {
            // The block reaches back into frames read before: from here on it is exact.
            m_nDecoderNext = known + 1;
            if (known > index) {
                break;
            }
            Keep(known, m_matScratch);
            if (known == index) {
                m_matScratch.copyTo(m_matFrame);
                MarkShownCertain(index);
                return true;
            }
            return ReadForwardTo(index);
        }
        const int counted = TruncateToInt(CapturePosition() - 1.0);
        Keep(UncertainKey(counted), m_matScratch);
        if (counted >= index) {
            ShowUncertain(counted, m_matScratch);
            return true;
        }
    }
    return SeekCapture(index);
}

bool CVideoManager::ShowFrameAt(int index, Purpose why) {
    if (!IsOpened()) {
        DropFrame();
        return false;
    }
    if (!m_bShownCertain) {
        // Within a stretch reached by a plain capture seek: a reload gives back exactly the
        // picture on screen, and steps go to the frames read with it.
        if (const cv::Mat* kept = m_cache.Find(UncertainKey(index))) {
            ShowUncertain(index, *kept);
            return true;
        }
    }
    if (ShowCached(index)) {
        return true;
    }
    if (m_nDecoderNext >= 0 && index >= m_nDecoderNext &&
        index - m_nDecoderNext <= kForwardReadLimit) {
        return ReadForwardTo(index);
    }
    if (why == Purpose::kNext && m_nDecoderNext < 0 && !m_bShownCertain &&
        TruncateToInt(CapturePosition()) == index) {
        // The capture stands just before this frame by its own count: read on, as after any
        // plain seek.
        return DecodeUncertain();
    }
    return SeekExact(index, why);
}

bool CVideoManager::ReadNextFrame() {
    return ShowFrameAt(m_nShown + 1, Purpose::kNext);
}

bool CVideoManager::ReadPreviousFrame() {
    // On the first frame the step back would ask for position -1; the first frame is shown
    // again instead, so the left arrow never fails at the start of the video.
    return ShowFrameAt(std::max(0, m_nShown - 1), Purpose::kPrevious);
}

bool CVideoManager::ReloadCurrentFrame() {
    return ShowFrameAt(std::max(0, m_nShown), Purpose::kReload);
}

bool CVideoManager::SeekFrame(int n) {
    if (n < 0) {
        DropFrame();
        return false;
    }
    return ShowFrameAt(n, Purpose::kSeek);
}

const cv::Mat& CVideoManager::MakeDisplayImage() {
    if (m_matFrame.empty()) {
        m_matDisplay.release();
        return m_matDisplay;
    }
    // Rows of a 24-bit image painted as a device-independent bitmap must be whole 32-bit words:
    // the width is resampled up to the next multiple of 4, never padded.
    const int w4 = ((m_matFrame.cols + 3) / 4) * 4;
    try {
        cv::resize(m_matFrame, m_matDisplay, cv::Size(w4, m_matFrame.rows), 0, 0, cv::INTER_LINEAR);
    } catch (const cv::Exception&) {
        m_matDisplay.release();
    }
    return m_matDisplay;
}

cv::Scalar CVideoManager::LabelColor(int label) const {
    if (label < 1 || label > static_cast<int>(m_colors.size())) {
        return kFallbackColor;
    }
    return m_colors[static_cast<size_t>(label - 1)];
}

bool CVideoManager::DrawRois(const std::vector<ROI>& list) {
    if (m_matFrame.empty()) {
        return true;
    }
    for (const ROI& roi : list) {
        const int thickness = roi.bSelected != 0 ? 3 : 2;
        const CRect& r = roi.rect;
        try {
            cv::rectangle(m_matFrame, cv::Rect(r.left, r.top, r.Width(), r.Height()),
                          LabelColor(roi.nLabel), thickness, cv::LINE_8, 0);
            cv::putText(m_matFrame, std::to_string(roi.nLabel),
                        cv::Point(r.right + 2, r.bottom + 2), cv::FONT_HERSHEY_SCRIPT_SIMPLEX, 0.8,
                        roi.bSelected != 0 ? kSelectedNumberColor : kNumberColor, thickness,
                        cv::LINE_8, false);
        } catch (const cv::Exception&) {
            // A record OpenCV cannot draw is left out; the others are still drawn.
        }
    }
    return true;
}

void CVideoManager::DrawRectangle(const CRect& rect, const cv::Scalar& color, int thickness) {
    if (m_matFrame.empty()) {
        return;
    }
    try {
        cv::rectangle(m_matFrame, cv::Rect(rect.left, rect.top, rect.Width(), rect.Height()), color,
                      thickness, cv::LINE_8, 0);
    } catch (const cv::Exception&) {
    }
}

const cv::Mat& CVideoManager::TrackerFrame(double scale, cv::Size2d& axisScale) {
    if (scale >= 1.0) {
        axisScale = {1.0, 1.0};
        return m_matFrame;
    }
    const cv::Size size(std::max(1, RoundHalfUp(m_matFrame.cols * scale)),
                        std::max(1, RoundHalfUp(m_matFrame.rows * scale)));
    // INTER_AREA averages the pixels that fold into one, so fine texture does not alias.
    cv::resize(m_matFrame, m_matTrackFrame, size, 0, 0, cv::INTER_AREA);
    axisScale = {static_cast<double>(size.width) / m_matFrame.cols,
                 static_cast<double>(size.height) / m_matFrame.rows};
    return m_matTrackFrame;
}

bool CVideoManager::InitTracker(const CRect& rect) {
    const int width = rect.right - rect.left;
    if (width < kMinTrackSide) {
        return false;
    }
    const int height = rect.bottom - rect.top;
    if (height < kMinTrackSide) {
        return false;
    }
    if (m_matFrame.empty() || !m_pTracker) {
        return false;
    }

    // CSRT resamples its search window to a template of about kTrackerSide pixels anyway, but
    // cuts that window and its scale pyramid out of the full frame first, which is what makes a
    // large box cost seconds. Handing it a frame already scaled so that the box's longer side is
    // kTrackerSide gives it the same template at a fraction of the work. The shorter side is not
    // taken under the minimum box size by the scaling.
    const int longer = std::max(width, height);
    const int shorter = std::min(width, height);
    double scale = 1.0;
    if (m_nTrackerSide > 0 && longer > m_nTrackerSide) {
        scale = std::max(static_cast<double>(m_nTrackerSide) / longer,
                         std::min(1.0, static_cast<double>(kMinTrackSide) / shorter));
    }

    const cv::Rect frameBox(rect.left, rect.top, width, height);
    cv::Ptr<cv::Tracker> candidate = m_pSpareTracker ? m_pSpareTracker : m_pTracker;
    try {
        cv::Size2d axis;
        const cv::Mat& image = TrackerFrame(scale, axis);
        cv::Rect box = frameBox;
        if (scale < 1.0) {
            const double cx = (rect.left + width / 2.0) * axis.width;
            const double cy = (rect.top + height / 2.0) * axis.height;
            box.width = std::max(1, RoundHalfUp(width * axis.width));
            box.height = std::max(1, RoundHalfUp(height * axis.height));
            box.x = RoundHalfUp(cx - box.width / 2.0);
            box.y = RoundHalfUp(cy - box.height / 2.0);
        }
        candidate->init(image, box);
        m_rcInitScaled = box;
        m_trackAxisScale = axis;
    } catch (const cv::Exception&) {
        // OpenCV 4.6's CSRT throws on very thin boxes, boxes outside the frame and the like.
        // The spare may be half-initialised now: replace it, and keep the running model.
        if (m_pSpareTracker) {
            m_pSpareTracker = MakeCsrt();
        } else {
            // A tracker set from outside was initialised in place and is no longer usable.
            m_bTrackerStarted = false;
        }
        return false;
    }
    if (m_pSpareTracker) {
        std::swap(m_pTracker, m_pSpareTracker);
    }
    m_bTrackerStarted = true;
    m_dTrackScale = scale;
    m_rcTrack = frameBox;
    m_rcInitFrame = frameBox;
    return true;
}

bool CVideoManager::TrackNext(CRect& rect) {
    // Before any accepted init CSRT has no model; its update would fail an assertion.
    if (!m_bTrackerStarted || m_matFrame.empty() || !m_pTracker) {
        return false;
    }
    cv::Rect box;
    try {
        if (m_dTrackScale >= 1.0) {
            box = m_rcTrack;
            if (!m_pTracker->update(m_matFrame, box)) {
                return false;
            }
        } else {
            cv::Size2d axis;
            const cv::Mat& image = TrackerFrame(m_dTrackScale, axis);
            cv::Rect scaled = m_rcInitScaled;
            if (!m_pTracker->update(image, scaled)) {
                return false;
            }
            // Back to frame pixels relative to the initial box: the size by the ratio to the
            // initial tracker box, the centre by its shift. A box the tracker leaves where it
            // was is then exactly the initial box, with no growth or offset from rounding.
            box.width = RoundHalfUp(static_cast<double>(m_rcInitFrame.width) * scaled.width /
                                    m_rcInitScaled.width);
            box.height = RoundHalfUp(static_cast<double>(m_rcInitFrame.height) * scaled.height /
                                     m_rcInitScaled.height);
            const double dx =
                (scaled.x + scaled.width / 2.0) - (m_rcInitScaled.x + m_rcInitScaled.width / 2.0);
            const double dy =
                (scaled.y + scaled.height / 2.0) - (m_rcInitScaled.y + m_rcInitScaled.height / 2.0);
            const double cx = m_rcInitFrame.x + m_rcInitFrame.width / 2.0 + dx / axis.width;
            const double cy = m_rcInitFrame.y + m_rcInitFrame.height / 2.0 + dy / axis.height;
            box.x = RoundHalfUp(cx - box.width / 2.0);
            box.y = RoundHalfUp(cy - box.height / 2.0);
        }
    } catch (const cv::Exception&) {
        // A model that threw half-way through an update cannot be trusted for the next frame:
        // the target counts as lost until the tracker is started again.
        m_bTrackerStarted = false;
        return false;
    }
    m_rcTrack = box;
    DrawRectangle({box.x, box.y, box.x + box.width, box.y + box.height}, kTrackerBoxColor, 2);
    rect = {box.x, box.y, box.x + box.width, box.y + box.height};
    return true;
}

void CVideoManager::SetTracker(cv::Ptr<cv::Tracker> tracker) {
    m_pTracker = std::move(tracker);
    m_pSpareTracker.reset();
    m_bTrackerStarted = false;
}

CRect CVideoManager::TrackedRect() const {
    return {m_rcTrack.x, m_rcTrack.y, m_rcTrack.x + m_rcTrack.width,
            m_rcTrack.y + m_rcTrack.height};
}
