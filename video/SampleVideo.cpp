#include "video/SampleVideo.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

namespace {

constexpr double kPi = 3.14159265358979323846;

// --- the stamped index -------------------------------------------------------------------------
//
// Two rows of twelve square cells in the top-left corner. Each row is
//   guard, guard, 8 data bits (most significant first), even parity, guard
// Row 0 carries the high byte of the index, row 1 the low byte. The guards differ between the rows
// so that a flat or mirrored patch cannot pass for a pattern. Cells are whole multiples of 8 pixels
// and start on an 8-pixel boundary, which lines them up with the codec's transform blocks: the
// pattern then survives H.264 at ordinary quality even at 320 x 240.
constexpr int kStampCols = 12;
constexpr int kStampRows = 2;
constexpr int kGuards[kStampRows][3] = {{1, 0, 1}, {0, 1, 0}};  // cells 0, 1 and 11

int StampCell(int width, int height) {
    return 8 * std::max(1, std::min(width, height) / 240);
}

cv::Rect StampCellRect(int cell, int row, int col) {
    // One cell of margin from the corner keeps the pattern clear of edge artefacts.
    return {cell * (1 + col), cell * (1 + row), cell, cell};
}

void StampIndex(cv::Mat& frame, int index) {
    const int cell = StampCell(frame.cols, frame.rows);
    const int value = index & 0xFFFF;
    for (int row = 0; row < kStampRows; ++row) {
        const int byte = row == 0 ? (value >> 8) & 0xFF : value & 0xFF;
        int bits[kStampCols];
        bits[0] = kGuards[row][0];
        bits[1] = kGuards[row][1];
        int ones = 0;
        for (int b = 0; b < 8; ++b) {
            bits[2 + b] = (byte >> (7 - b)) & 1;
            ones += bits[2 + b];
        }
        bits[10] = ones & 1;
        bits[11] = kGuards[row][2];
        for (int col = 0; col < kStampCols; ++col) {
            const cv::Rect r =
                StampCellRect(cell, row, col) & cv::Rect(0, 0, frame.cols, frame.rows);
            frame(r).setTo(bits[col] ? cv::Scalar(255, 255, 255) : cv::Scalar(0, 0, 0));
        }
    }
}

// --- background and blob -----------------------------------------------------------------------

// The mucosa: smooth reddish blotches, a few darker vessels and a darker rim, as an endoscope sees
// it. Deterministic for a given size so that a rendered frame equals the encoded one.
cv::Mat RenderBackgroundImpl(int width, int height) {
    cv::RNG rng(0x7A6u + static_cast<unsigned>(width) * 31u + static_cast<unsigned>(height));

    cv::Mat coarse(std::max(2, height / 24), std::max(2, width / 24), CV_32F);
    rng.fill(coarse, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat fine(std::max(2, height / 5), std::max(2, width / 5), CV_32F);
    rng.fill(fine, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::Mat a, b;
    cv::resize(coarse, a, cv::Size(width, height), 0, 0, cv::INTER_CUBIC);
    cv::resize(fine, b, cv::Size(width, height), 0, 0, cv::INTER_LINEAR);
    cv::Mat t = 0.7 * a + 0.3 * b;

    cv::Mat bg(height, width, CV_8UC3);
    const double cx = width / 2.0;
    const double cy = height / 2.0;
    const double rmax = std::sqrt(cx * cx + cy * cy);
    for (int y = 0; y < height; ++y) {
        const float* tr = t.ptr<float>(y);
        cv::Vec3b* out = bg.ptr<cv::Vec3b>(y);
        for (int x = 0; x < width; ++x) {
            const double v = std::clamp(static_cast<double>(tr[x]), 0.0, 1.0);
            const double dx = x - cx;
            const double dy = y - cy;
            const double vignette = 1.0 - 0.45 * (dx * dx + dy * dy) / (rmax * rmax);
            out[x] = cv::Vec3b(cv::saturate_cast<uchar>((45 + 35 * v) * vignette),
                               cv::saturate_cast<uchar>((55 + 45 * v) * vignette),
                               cv::saturate_cast<uchar>((150 + 90 * v) * vignette));
        }
    }

    const int vessels = 6 + (width * height) / 200000;
    const int thickness = std::max(1, std::min(width, height) / 200);
    for (int i = 0; i < vessels; ++i) {
        std::vector<cv::Point> pts;
        cv::Point p(rng.uniform(0, width), rng.uniform(0, height));
        double heading = rng.uniform(0.0, 2 * kPi);
        const int step = std::max(4, std::min(width, height) / 25);
        for (int k = 0; k < 12; ++k) {
            pts.push_back(p);
            heading += rng.uniform(-0.5, 0.5);
            p += cv::Point(static_cast<int>(step * std::cos(heading)),
                           static_cast<int>(step * std::sin(heading)));
        }
        cv::polylines(bg, pts, false, cv::Scalar(35, 35, 115), thickness, cv::LINE_AA);
    }
    cv::GaussianBlur(bg, bg, cv::Size(3, 3), 0);
    return bg;
}

struct BlobPlace {
    double cx = 0;
    double cy = 0;
    int width = 0;
    int height = 0;
};

BlobPlace PlaceBlob(const SampleVideoOptions& o, int index) {
    const int frames = std::max(1, o.frames);
    const double t =
        frames > 1 ? std::clamp(static_cast<double>(index) / (frames - 1), 0.0, 1.0) : 0.0;
    // A polyp approaching the lens grows by a constant factor per frame, so the size follows a
    // geometric path; this also keeps the per-frame scale change even for a tracker.
    const double s0 = std::max(1, o.blobStart);
    const double s1 = std::max(1, o.blobEnd);
    const double size = s0 * std::pow(s1 / s0, t);

    BlobPlace p;
    p.width = std::max(1, static_cast<int>(std::lround(size)));
    p.height = std::max(1, static_cast<int>(std::lround(size * 0.85)));

    // The centre wanders on a slow Lissajous path inside an area that keeps the largest blob in
    // the frame and below the stamped index.
    const int cell = StampCell(o.width, o.height);
    const double maxW = std::max(s0, s1);
    const double maxH = maxW * 0.85;
    const double left = o.width / 25.0;
    const double right = o.width - o.width / 25.0;
    const double top = cell * (kStampRows + 2);
    const double bottom = o.height - o.height / 25.0;
    const double ax = std::max(0.0, (right - left - maxW) / 2.0);
    const double ay = std::max(0.0, (bottom - top - maxH) / 2.0);
    p.cx = (left + right) / 2.0 + ax * std::sin(2 * kPi * index / 200.0 + 0.3);
    p.cy = (top + bottom) / 2.0 + ay * std::sin(2 * kPi * index / 140.0 + 1.1);
    return p;
}

CRect BoxOf(const BlobPlace& p) {
    const int left = static_cast<int>(std::lround(p.cx - p.width / 2.0));
    const int top = static_cast<int>(std::lround(p.cy - p.height / 2.0));
    return {left, top, left + p.width, top + p.height};
}

// A pink, mottled, pitted dome with a highlight. The texture is laid out in the blob's own
// normalised coordinates, so it scales with the blob as a real object seen closer would.
// The blob's surface pattern: smooth random mottling on a small grid, sampled in the blob's
// normalised coordinates so that it scales with the blob.
constexpr int kTextureSide = 24;

cv::Mat BlobTexture() {
    cv::RNG rng(0x5EEDu);
    cv::Mat t(kTextureSide, kTextureSide, CV_32F);
    rng.fill(t, cv::RNG::UNIFORM, 0.0, 1.0);
    cv::GaussianBlur(t, t, cv::Size(3, 3), 0.8);
    cv::normalize(t, t, 0.0, 1.0, cv::NORM_MINMAX);
    return t;
}

double SampleTexture(const cv::Mat& t, double u, double v) {
    const double fx = std::clamp((u + 1.0) / 2.0, 0.0, 1.0) * (kTextureSide - 1);
    const double fy = std::clamp((v + 1.0) / 2.0, 0.0, 1.0) * (kTextureSide - 1);
    const int x0 = std::min(kTextureSide - 2, static_cast<int>(fx));
    const int y0 = std::min(kTextureSide - 2, static_cast<int>(fy));
    const double ax = fx - x0;
    const double ay = fy - y0;
    const double top = t.at<float>(y0, x0) * (1 - ax) + t.at<float>(y0, x0 + 1) * ax;
    const double bottom = t.at<float>(y0 + 1, x0) * (1 - ax) + t.at<float>(y0 + 1, x0 + 1) * ax;
    return top * (1 - ay) + bottom * ay;
}

// Centres of the pits, in the blob's normalised coordinates.
constexpr double kPits[5][2] = {{-0.4, 0.3}, {0.35, -0.35}, {0.1, 0.5}, {0.45, 0.2}, {-0.2, -0.5}};

void DrawBlob(cv::Mat& frame, const CRect& box) {
    static const cv::Mat texture = BlobTexture();
    const double w = box.Width();
    const double h = box.Height();
    const double cx = box.left + w / 2.0;
    const double cy = box.top + h / 2.0;
    const double feather = std::max(1.0, w / 2.0);
    const int y0 = std::max(0, box.top);
    const int y1 = std::min(frame.rows, box.bottom);
    const int x0 = std::max(0, box.left);
    const int x1 = std::min(frame.cols, box.right);
    for (int y = y0; y < y1; ++y) {
        cv::Vec3b* row = frame.ptr<cv::Vec3b>(y);
        const double v = (y + 0.5 - cy) / (h / 2.0);
        for (int x = x0; x < x1; ++x) {
            const double u = (x + 0.5 - cx) / (w / 2.0);
            const double d2 = u * u + v * v;
            if (d2 >= 1.0) {
                continue;
            }
            const double alpha = std::clamp((1.0 - std::sqrt(d2)) * feather, 0.0, 1.0);
            // Mottled mucosa-like surface, a few dark pits and a darker rim. A correlation
            // tracker's scale search needs such structure inside the box: a smooth dome gives it
            // nothing to tell sizes apart.
            double pits = 0;
            for (const auto& q : kPits) {
                const double du = u - q[0];
                const double dv = v - q[1];
                pits = std::max(pits, std::exp(-(du * du + dv * dv) / 0.012));
            }
            const double rim = d2 > 0.8 ? 0.6 : 1.0;
            const double mottle = SampleTexture(texture, u, v);
            const double k = (0.7 + 0.3 * mottle) * (1.0 - 0.6 * pits) * rim;
            double b = 185 * k;
            double g = 150 * k;
            double r = 250 * k;
            const double hu = u + 0.35;
            const double hv = v + 0.4;
            const double hl = std::exp(-(hu * hu + hv * hv) / 0.02);
            b += (240 - b) * hl;
            g += (235 - g) * hl;
            r += (255 - r) * hl;
            cv::Vec3b& px = row[x];
            px[0] = cv::saturate_cast<uchar>(px[0] + (b - px[0]) * alpha);
            px[1] = cv::saturate_cast<uchar>(px[1] + (g - px[1]) * alpha);
            px[2] = cv::saturate_cast<uchar>(px[2] + (r - px[2]) * alpha);
        }
    }
}

cv::Mat RenderWithImpl(const cv::Mat& background, const SampleVideoOptions& o, int index) {
    cv::Mat frame = background.clone();
    DrawBlob(frame, BoxOf(PlaceBlob(o, index)));
    StampIndex(frame, index);
    return frame;
}

}  // namespace

cv::Mat RenderSampleFrame(const SampleVideoOptions& options, int index) {
    if (options.width < 1 || options.height < 1) {
        return {};
    }
    return RenderWithImpl(RenderBackgroundImpl(options.width, options.height), options, index);
}

cv::Mat RenderSampleBackground(int width, int height) {
    return RenderBackgroundImpl(width, height);
}

cv::Mat RenderSampleFrameOn(const cv::Mat& background, const SampleVideoOptions& options,
                            int index) {
    return RenderWithImpl(background, options, index);
}

CRect SampleBlobBox(const SampleVideoOptions& options, int index) {
    return BoxOf(PlaceBlob(options, index));
}

int ReadStampedIndex(const cv::Mat& frame) {
    if (frame.empty() || frame.depth() != CV_8U) {
        return -1;
    }
    const int cell = StampCell(frame.cols, frame.rows);
    if (cell * (kStampCols + 1) > frame.cols || cell * (kStampRows + 1) > frame.rows) {
        return -1;
    }
    cv::Mat gray;
    if (frame.channels() == 3) {
        cv::cvtColor(frame, gray, cv::COLOR_BGR2GRAY);
    } else if (frame.channels() == 1) {
        gray = frame;
    } else {
        return -1;
    }
    int value = 0;
    for (int row = 0; row < kStampRows; ++row) {
        int bits[kStampCols];
        for (int col = 0; col < kStampCols; ++col) {
            // The inner half of the cell: block edges are where compression smears.
            const cv::Rect r = StampCellRect(cell, row, col);
            const cv::Rect inner(r.x + cell / 4, r.y + cell / 4, cell / 2, cell / 2);
            const double mean = cv::mean(gray(inner))[0];
            if (mean >= 160) {
                bits[col] = 1;
            } else if (mean <= 95) {
                bits[col] = 0;
            } else {
                return -1;
            }
        }
        if (bits[0] != kGuards[row][0] || bits[1] != kGuards[row][1] ||
            bits[11] != kGuards[row][2]) {
            return -1;
        }
        int byte = 0;
        int ones = 0;
        for (int b = 0; b < 8; ++b) {
            byte = (byte << 1) | bits[2 + b];
            ones += bits[2 + b];
        }
        if ((ones & 1) != bits[10]) {
            return -1;
        }
        value = (value << 8) | byte;
    }
    return value;
}
