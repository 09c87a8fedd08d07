#pragma once

// The 1080p clip the video and export benchmarks share: 600 frames, a key frame every 250, with
// B-frames, generated once as /tmp/tagwright-bench-1080p.mp4 and reused while it matches.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include <opencv2/videoio.hpp>

#include "video/SampleVideo.h"

namespace benchclip {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kFrames = 600;
constexpr int kGop = 250;
inline const char* const kPath = "/tmp/tagwright-bench-1080p.mp4";

inline SampleVideoOptions Options() {
    SampleVideoOptions o;
    o.width = kWidth;
    o.height = kHeight;
    o.frames = kFrames;
    o.fps = 30.0;
    o.gop = kGop;
    o.bFrames = true;
    // About 200 x 170 pixels: the box the tracking figure asks for.
    o.blobStart = 200;
    o.blobEnd = 210;
    return o;
}

inline bool Matches(const std::filesystem::path& path) {
    cv::VideoCapture c(path.string());
    return c.isOpened() && static_cast<int>(c.get(cv::CAP_PROP_FRAME_COUNT)) == kFrames &&
           static_cast<int>(c.get(cv::CAP_PROP_FRAME_WIDTH)) == kWidth &&
           static_cast<int>(c.get(cv::CAP_PROP_FRAME_HEIGHT)) == kHeight;
}

// Writes under a private name and renames, so that a second benchmark starting meanwhile never
// opens a half-written clip.
inline bool Ensure(const std::filesystem::path& path) {
    if (Matches(path)) {
        std::printf("clip: reusing %s\n", path.c_str());
        return true;
    }
    std::printf("clip: writing %s (%d x %d, %d frames, group of %d)...\n", path.c_str(), kWidth,
                kHeight, kFrames, kGop);
    std::fflush(stdout);
    const std::filesystem::path tmp =
        path.parent_path() / (path.stem().string() + "." + std::to_string(getpid()) + ".mp4");
    if (!WriteSampleVideo(tmp, Options())) {
        return false;
    }
    std::error_code ec;
    std::filesystem::rename(tmp, path, ec);
    if (ec) {
        std::filesystem::remove(tmp, ec);
        return false;
    }
    return Matches(path);
}

}  // namespace benchclip
