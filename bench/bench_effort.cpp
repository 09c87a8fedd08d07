// The operator's effort to label one object through a stretch of video, by policy.
//
// Clips are generated in memory: a textured polyp-like object moves along a known non-linear
// path (the camera wanders, so the whole picture moves, and the object moves a little on its
// own), grows and shrinks as the camera comes closer and goes away, and is passed over by an
// instrument that hides it for a few frames. The known path is the ground truth.
//
// A simulated operator labels the object on every frame of a 600-frame track until each box
// has IoU >= 0.7 with the truth, and counts actions: a drawn box, a press of T, I (fill), or
// Ctrl+Z. Policies:
//   step: T on every frame, with a box drawn again wherever the tracked box falls below 0.7
//         (today's way); also given as held T, where a held run counts once;
//   linear fill / tracker fill: boxes drawn on the first and last frame and I pressed; a fill
//         with frames below 0.7 is either corrected by drawing those frames again (three or
//         fewer) or taken back (Ctrl+Z) and split at its worst frame: a box drawn there, I on
//         it, I again on the later keyframe, and each half checked the same way.
// The boxes come from the program's own code: CRoiTracker for T, LinearGapBox and
// TrackGapBoxes (with the same clipping as the store) for I.
//
// Also times the tracker fill of a 300-frame gap on the 1080p bench clip, read through
// CVideoManager as the program reads it.
//
// Prints the actions of each policy per clip, the actions per 100 frames, and
// "RATIO effort_fill_vs_step <value>": the better fill policy's actions over the step policy's
// (target: at most 0.1).

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "BenchClip.h"
#include "labels/GapFill.h"
#include "video/GapTracker.h"
#include "video/RoiTracker.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kTrackFrames = 600;
constexpr double kMinIou = 0.7;
// Up to this many bad frames of a fill are drawn again one by one; more split the gap.
constexpr int kMaxRedraws = 3;
constexpr double kTwoPi = 6.283185307179586;

double Iou(const CRect& a, const CRect& b) {
    const int w = std::min(a.right, b.right) - std::max(a.left, b.left);
    const int h = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    if (w <= 0 || h <= 0) {
        return 0.0;
    }
    const double inter = static_cast<double>(w) * h;
    const double uni = static_cast<double>(a.Width()) * a.Height() +
                       static_cast<double>(b.Width()) * b.Height() - inter;
    return inter / uni;
}

// A textured image: smoothed noise at two scales, mapped between two colours.
cv::Mat Texture(cv::RNG& rng, cv::Size size, cv::Scalar dark, cv::Scalar light, double fine,
                double coarse) {
    cv::Mat a(size, CV_32F), b(size, CV_32F);
    rng.fill(a, cv::RNG::UNIFORM, 0.0, 1.0);
    rng.fill(b, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::GaussianBlur(a, a, cv::Size(), fine);
    cv::GaussianBlur(b, b, cv::Size(), coarse);
    cv::normalize(a, a, 0.0, 1.0, cv::NORM_MINMAX);
    cv::normalize(b, b, 0.0, 1.0, cv::NORM_MINMAX);
    cv::Mat t = 0.5 * a + 0.5 * b;
    cv::Mat out(size, CV_8UC3);
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const float v = t.at<float>(y, x);
            cv::Vec3b& p = out.at<cv::Vec3b>(y, x);
            for (int c = 0; c < 3; ++c) {
                p[c] = cv::saturate_cast<uchar>(dark[c] + (light[c] - dark[c]) * v);
            }
        }
    }
    return out;
}

// One generated clip: the object's path, size and the instrument's pass are functions of the
// frame number, drawn on demand.
class Clip {
  public:
    explicit Clip(int seed) : m_rng(static_cast<uint64_t>(seed) * 7919 + 17) {
        for (double& p : m_phase) {
            p = m_rng.uniform(0.0, kTwoPi);
        }
        m_period[0] = m_rng.uniform(330.0, 450.0);
        m_period[1] = m_rng.uniform(80.0, 120.0);
        m_period[2] = m_rng.uniform(260.0, 380.0);
        m_period[3] = m_rng.uniform(60.0, 90.0);
        m_period[4] = m_rng.uniform(200.0, 300.0);
        m_occludeAt = m_rng.uniform(150, 450);
        // Background: mucosa-like red texture with darker vessels, larger than the frame by the
        // camera's travel.
        m_bg = Texture(m_rng, cv::Size(kWidth + 2 * kMargin, kHeight + 2 * kMargin),
                       cv::Scalar(40, 50, 140), cv::Scalar(110, 120, 225), 2.0, 12.0);
        for (int i = 0; i < 60; ++i) {
            cv::Point p(m_rng.uniform(0, m_bg.cols), m_rng.uniform(0, m_bg.rows));
            for (int s = 0; s < 12; ++s) {
                cv::Point q = p + cv::Point(m_rng.uniform(-30, 31), m_rng.uniform(-30, 31));
                cv::line(m_bg, p, q, cv::Scalar(30, 30, 110), m_rng.uniform(1, 3), cv::LINE_AA);
                p = q;
            }
        }
        // The object: a paler, finer-grained dome with a highlight.
        m_obj = Texture(m_rng, cv::Size(2 * kObjW, 2 * kObjH), cv::Scalar(90, 100, 190),
                        cv::Scalar(170, 180, 250), 1.5, 6.0);
        cv::circle(m_obj, cv::Point(kObjW * 2 / 3, kObjH * 2 / 3), kObjH / 5,
                   cv::Scalar(235, 240, 255), cv::FILLED, cv::LINE_AA);
        m_mask = cv::Mat::zeros(m_obj.size(), CV_8U);
        cv::ellipse(m_mask, cv::Point(kObjW, kObjH), cv::Size(kObjW - 2, kObjH - 2), 0, 0, 360,
                    cv::Scalar(255), cv::FILLED, cv::LINE_AA);
        cv::GaussianBlur(m_mask, m_mask, cv::Size(5, 5), 0);
    }

    double Scale(int t) const {
        return 1.0 + 0.45 * std::sin(kTwoPi * t / m_period[4] + m_phase[4]);
    }

    // Centre of the object in frame pixels: the camera's wandering plus a little motion of its own.
    cv::Point2d Camera(int t) const {
        return {150.0 * std::sin(kTwoPi * t / m_period[0] + m_phase[0]) +
                    35.0 * std::sin(kTwoPi * t / m_period[1] + m_phase[1]),
                100.0 * std::sin(kTwoPi * t / m_period[2] + m_phase[2]) +
                    25.0 * std::sin(kTwoPi * t / m_period[3] + m_phase[3])};
    }
    cv::Point2d Own(int t) const {
        return {12.0 * std::sin(kTwoPi * t / 150.0), 10.0 * std::cos(kTwoPi * t / 110.0)};
    }
    cv::Point2d Centre(int t) const {
        return cv::Point2d(kWidth / 2.0, kHeight / 2.0) + Camera(t) + Own(t);
    }

    CRect Truth(int t) const {
        const cv::Point2d c = Centre(t);
        const double w = kObjW * Scale(t);
        const double h = kObjH * Scale(t);
        return {
            static_cast<int>(std::lround(c.x - w / 2)), static_cast<int>(std::lround(c.y - h / 2)),
            static_cast<int>(std::lround(c.x + w / 2)), static_cast<int>(std::lround(c.y + h / 2))};
    }

    const cv::Mat& Frame(int t) {
        // The background follows the camera only, so the object also moves against it.
        const cv::Point2d cam = Camera(t);
        const cv::Rect view(kMargin - static_cast<int>(std::lround(cam.x)),
                            kMargin - static_cast<int>(std::lround(cam.y)), kWidth, kHeight);
        m_bg(view).copyTo(m_frame);
        const CRect box = Truth(t);
        cv::Mat obj, mask;
        cv::resize(m_obj, obj, cv::Size(box.Width(), box.Height()), 0, 0, cv::INTER_AREA);
        cv::resize(m_mask, mask, obj.size(), 0, 0, cv::INTER_AREA);
        const cv::Rect at = cv::Rect(box.left, box.top, box.Width(), box.Height()) &
                            cv::Rect(0, 0, kWidth, kHeight);
        for (int y = at.y; y < at.y + at.height; ++y) {
            for (int x = at.x; x < at.x + at.width; ++x) {
                const float a = mask.at<uchar>(y - box.top, x - box.left) / 255.0f;
                cv::Vec3b& p = m_frame.at<cv::Vec3b>(y, x);
                const cv::Vec3b& o = obj.at<cv::Vec3b>(y - box.top, x - box.left);
                for (int c = 0; c < 3; ++c) {
                    p[c] = cv::saturate_cast<uchar>(p[c] * (1 - a) + o[c] * a);
                }
            }
        }
        // The instrument: a grey shaft sweeping across the object over 15 frames.
        const int k = t - m_occludeAt;
        if (k >= 0 && k < 15) {
            const cv::Point2d c = Centre(t);
            const int x = static_cast<int>(c.x) + (k - 7) * 16;
            const int half = static_cast<int>(kObjW * Scale(t) * 0.6);
            cv::rectangle(m_frame, cv::Point(x - half, 0), cv::Point(x + half, kHeight),
                          cv::Scalar(150, 155, 160), cv::FILLED);
            cv::line(m_frame, cv::Point(x - half / 2, 0), cv::Point(x - half / 2, kHeight),
                     cv::Scalar(225, 230, 235), 5);
        }
        return m_frame;
    }

  private:
    static constexpr int kMargin = 220;
    static constexpr int kObjW = 90;
    static constexpr int kObjH = 74;

    cv::RNG m_rng;
    double m_phase[5] = {};
    double m_period[5] = {};
    int m_occludeAt = 300;
    cv::Mat m_bg;
    cv::Mat m_obj;
    cv::Mat m_mask;
    cv::Mat m_frame;
};

struct Effort {
    int draws = 0;
    int presses = 0;  // T, I or Ctrl+Z
    int heldRuns = 0;
    int Actions() const { return draws + presses; }
};

const CRect kFrameBounds{0, 0, kWidth, kHeight};

// T on every frame from a box drawn on the first; a box drawn again wherever the tracked box
// falls below the threshold (the tracker then starts again on it).
Effort StepPolicy(Clip& clip) {
    Effort e;
    CRoiTracker tracker;
    tracker.Init(clip.Frame(0), clip.Truth(0));
    e.draws = 1;
    e.heldRuns = 1;
    for (int t = 1; t < kTrackFrames; ++t) {
        ++e.presses;
        cv::Rect found;
        const bool ok = tracker.Update(clip.Frame(t), found);
        CRect box{found.x, found.y, found.x + found.width, found.y + found.height};
        if (!ok || Iou(box, clip.Truth(t)) < kMinIou) {
            ++e.draws;
            tracker.Init(clip.Frame(t), clip.Truth(t));
        }
    }
    return e;
}

using FillFn = std::function<std::vector<CRect>(const LabelGap&)>;

// Checks the fill of one gap (already pressed) and corrects it; see the policy at the top.
void Refine(Clip& clip, const FillFn& fill, int a, int b, Effort& e) {
    LabelGap gap;
    gap.label = 1;
    gap.first = a;
    gap.last = b;
    gap.firstBox = clip.Truth(a);
    gap.lastBox = clip.Truth(b);
    const std::vector<CRect> boxes = fill(gap);
    std::vector<int> bad;
    int worst = -1;
    double worstIou = 2.0;
    for (int k = 0; k < gap.Length(); ++k) {
        CRect box;
        ClipBox(boxes[static_cast<size_t>(k)], kFrameBounds, box);
        const double iou = Iou(box, clip.Truth(a + 1 + k));
        if (iou < kMinIou) {
            bad.push_back(a + 1 + k);
        }
        if (iou < worstIou) {
            worstIou = iou;
            worst = a + 1 + k;
        }
    }
    if (bad.empty()) {
        return;
    }
    if (static_cast<int>(bad.size()) <= kMaxRedraws) {
        e.draws += static_cast<int>(bad.size());
        return;
    }
    e.presses += 1;  // Ctrl+Z: the fill goes
    e.draws += 1;    // a box on the worst frame
    e.presses += 1;  // I there
    Refine(clip, fill, a, worst, e);
    e.presses += 1;  // I on the later keyframe
    Refine(clip, fill, worst, b, e);
}

Effort FillPolicy(Clip& clip, const FillFn& fill) {
    Effort e;
    e.draws = 2;    // the first and the last frame of the track
    e.presses = 1;  // I on the last
    Refine(clip, fill, 0, kTrackFrames - 1, e);
    return e;
}

std::vector<CRect> LinearFill(const LabelGap& gap) {
    std::vector<CRect> boxes;
    for (int f = gap.first + 1; f < gap.last; ++f) {
        boxes.push_back(LinearGapBox(gap, f));
    }
    return boxes;
}

std::vector<CRect> TrackerFill(Clip& clip, const LabelGap& gap) {
    std::vector<CRect> boxes;
    int failed = -1;
    if (TrackGapBoxes(
            gap, [&clip](int n) { return &clip.Frame(n); }, nullptr, boxes, failed) !=
        GapTrackResult::kDone) {
        std::printf("tracker fill failed at frame %d\n", failed);
        std::exit(1);
    }
    return boxes;
}

// The tracker fill of frames 100..400 of the 1080p clip, through the program's frame access.
void Time1080pFill() {
    if (!benchclip::Ensure(benchclip::kPath)) {
        std::printf("cannot write %s\n", benchclip::kPath);
        std::exit(1);
    }
    const SampleVideoOptions o = benchclip::Options();
    CVideoManager video;
    if (!video.Open(benchclip::kPath)) {
        std::printf("cannot open %s\n", benchclip::kPath);
        std::exit(1);
    }
    video.WaitForIndex();
    LabelGap gap;
    gap.label = 1;
    gap.first = 100;
    gap.last = 400;
    gap.firstBox = SampleBlobBox(o, gap.first);
    gap.lastBox = SampleBlobBox(o, gap.last);
    // The frames alone, in the order the fill reads them: what decoding costs of the fill.
    video.SeekFrame(gap.last);
    const GapFrameSource frames = VideoGapFrames(video);
    const auto r0 = std::chrono::steady_clock::now();
    for (int n = gap.first; n < gap.last; ++n) {
        frames(n);
    }
    for (int n = gap.last; n > gap.first; --n) {
        frames(n);
    }
    const double readMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - r0).count();
    video.SeekFrame(gap.last);
    std::vector<CRect> boxes;
    int failed = -1;
    const auto t0 = std::chrono::steady_clock::now();
    const GapTrackResult r = TrackGapBoxes(gap, VideoGapFrames(video), nullptr, boxes, failed);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (r != GapTrackResult::kDone) {
        std::printf("1080p fill failed at frame %d\n", failed);
        std::exit(1);
    }
    double sumT = 0, sumL = 0, minT = 1, minL = 1;
    for (int k = 0; k < gap.Length(); ++k) {
        const CRect truth = SampleBlobBox(o, gap.first + 1 + k);
        const double it = Iou(boxes[static_cast<size_t>(k)], truth);
        const double il = Iou(LinearGapBox(gap, gap.first + 1 + k), truth);
        sumT += it;
        sumL += il;
        minT = std::min(minT, it);
        minL = std::min(minL, il);
    }
    std::printf(
        "1080p clip, frames %d..%d (%d between): tracker fill %.0f ms (%.1f ms a frame; "
        "reading the frames alone %.0f ms), mean IoU %.3f (min %.3f); linear fill mean IoU %.3f "
        "(min %.3f)\n",
        gap.first, gap.last, gap.Length(), ms, ms / gap.Length(), readMs, sumT / gap.Length(), minT,
        sumL / gap.Length(), minL);
}

}  // namespace

int main(int argc, char** argv) {
    // bench_effort [clips] [--no-1080p]; 0 clips times the 1080p fill only.
    int clips = 3;
    bool time1080p = true;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--no-1080p") {
            time1080p = false;
        } else {
            clips = std::max(0, std::atoi(argv[i]));
        }
    }
    std::printf("%d clips of %d x %d, a %d-frame track each; boxes need IoU >= %.1f\n", clips,
                kWidth, kHeight, kTrackFrames, kMinIou);
    Effort step, linear, tracked;
    for (int c = 0; c < clips; ++c) {
        Clip clip(c + 1);
        const Effort s = StepPolicy(clip);
        const Effort l = FillPolicy(clip, LinearFill);
        const Effort t =
            FillPolicy(clip, [&clip](const LabelGap& gap) { return TrackerFill(clip, gap); });
        std::printf(
            "clip %d: step %d (%d T, %d boxes; held T %d), linear fill %d (%d boxes), "
            "tracker fill %d (%d boxes)\n",
            c + 1, s.Actions(), s.presses, s.draws, s.draws + s.heldRuns, l.Actions(), l.draws,
            t.Actions(), t.draws);
        std::fflush(stdout);
        step.draws += s.draws;
        step.presses += s.presses;
        step.heldRuns += s.heldRuns;
        linear.draws += l.draws;
        linear.presses += l.presses;
        tracked.draws += t.draws;
        tracked.presses += t.presses;
    }
    if (clips == 0) {
        Time1080pFill();
        return 0;
    }
    const double per100 = 100.0 / (clips * kTrackFrames);
    std::printf(
        "actions per 100 frames: step (T per frame) %.1f, step (held T) %.1f, "
        "keyframes + I linear %.1f, keyframes + I tracker-guided %.1f\n",
        step.Actions() * per100, (step.draws + step.heldRuns) * per100, linear.Actions() * per100,
        tracked.Actions() * per100);
    const int best = std::min(linear.Actions(), tracked.Actions());
    std::printf("better fill: %s\n",
                tracked.Actions() <= linear.Actions() ? "tracker-guided" : "linear");
    std::printf("RATIO effort_fill_vs_step %.3f\n", static_cast<double>(best) / step.Actions());
    std::fflush(stdout);
    if (time1080p) {
        Time1080pFill();
    }
    return 0;
}
