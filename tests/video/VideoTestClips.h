#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>

#include <opencv2/core.hpp>

#include <gtest/gtest.h>

#include "labels/Geometry.h"
#include "video/SampleVideo.h"

// Clip options used across the video tests. H.264 clips have short groups of pictures and no
// B-frames, where OpenCV's frame seek is exact, so that a mismatch means a fault of ours.
inline SampleVideoOptions ClipOptions(int width, int height, int frames) {
    SampleVideoOptions o;
    o.width = width;
    o.height = height;
    o.frames = frames;
    o.gop = 12;
    o.bFrames = false;
    o.blobStart = std::max(10, width / 8);
    o.blobEnd = std::max(12, width / 5);
    return o;
}

// Writes the clip or fails the calling test.
inline std::filesystem::path MakeClip(const std::filesystem::path& path,
                                      const SampleVideoOptions& options) {
    EXPECT_TRUE(WriteSampleVideo(path, options)) << path;
    return path;
}

inline double IoU(const CRect& a, const CRect& b) {
    const int iw = std::min(a.right, b.right) - std::max(a.left, b.left);
    const int ih = std::min(a.bottom, b.bottom) - std::max(a.top, b.top);
    if (iw <= 0 || ih <= 0) {
        return 0.0;
    }
    const double inter = static_cast<double>(iw) * ih;
    const double uni = static_cast<double>(a.Width()) * a.Height() +
                       static_cast<double>(b.Width()) * b.Height() - inter;
    return inter / uni;
}

inline std::string Describe(const CRect& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right) + ", " + std::to_string(r.bottom) + ")";
}

// FNV-1a over every pixel byte: compares whole frames where keeping their pixels would take too
// much memory.
inline uint64_t Digest(const cv::Mat& m) {
    uint64_t h = 1469598103934665603ull;
    for (int y = 0; y < m.rows; ++y) {
        const uchar* row = m.ptr(y);
        for (size_t i = 0; i < m.cols * m.elemSize(); ++i) {
            h = (h ^ row[i]) * 1099511628211ull;
        }
    }
    return h;
}
