// Writes the synthetic endoscopy-like clip used as the bundled sample video.
//
//   make_sample_video OUT.mp4 [frames] [width] [height]
//
// ".mp4" is written as H.264, ".avi" as MJPG. Exit status 0 on success, 1 on a bad argument,
// 2 when the clip could not be written.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "video/SampleVideo.h"

namespace {

bool ParsePositive(const char* text, int& value) {
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v < 1 || v > 100000) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 5) {
        std::fprintf(stderr, "usage: %s OUT.mp4 [frames] [width] [height]\n", argv[0]);
        return 1;
    }
    SampleVideoOptions options;
    options.width = 640;
    options.height = 480;
    options.frames = 300;
    // A polyp that drifts across the view and comes closer over the ten seconds.
    options.blobStart = 70;
    options.blobEnd = 160;
    if ((argc > 2 && !ParsePositive(argv[2], options.frames)) ||
        (argc > 3 && !ParsePositive(argv[3], options.width)) ||
        (argc > 4 && !ParsePositive(argv[4], options.height))) {
        std::fprintf(stderr, "%s: frames, width and height must be positive integers\n", argv[0]);
        return 1;
    }
    if (argc > 3) {
        // Keep the blob in proportion to a frame of another size.
        const double k = std::min(options.width / 640.0, options.height / 480.0);
        options.blobStart = std::max(12, static_cast<int>(70 * k));
        options.blobEnd = std::max(16, static_cast<int>(160 * k));
    }
    if (!WriteSampleVideo(argv[1], options)) {
        std::fprintf(stderr, "%s: could not write %s\n", argv[0], argv[1]);
        return 2;
    }
    std::printf("%s: %d frames, %d x %d\n", argv[1], options.frames, options.width, options.height);
    return 0;
}
