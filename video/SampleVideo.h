#pragma once

#include <filesystem>
#include <string>

#include <opencv2/core.hpp>

#include "labels/Geometry.h"

// Synthetic endoscopy-like clips for the bundled sample video, the tests and the benchmarks:
// a reddish textured background, a pink polyp-like blob that moves and changes size, and the
// frame's own index stamped in a machine-readable pattern so that a test can tell which frame
// is on screen.
struct SampleVideoOptions {
    int width = 640;
    int height = 480;
    int frames = 60;
    double fps = 30.0;
    // Container and codec: ".mp4" paths are written as H.264, ".avi" as MJPG (exact pixels for
    // tests that compare colours).
    int gop = 30;          // key-frame interval (H.264)
    bool bFrames = false;  // H.264 with B-frames
    // Blob: centre moves on a smooth path; its size grows from blobStart to blobEnd pixels.
    int blobStart = 80;
    int blobEnd = 120;
};

// Writes the clip; false when the writer could not be opened.
bool WriteSampleVideo(const std::filesystem::path& path, const SampleVideoOptions& options);

// The frame image WriteSampleVideo encodes for index i (before compression).
cv::Mat RenderSampleFrame(const SampleVideoOptions& options, int index);

// The background of every frame of a clip of this size, and frame i drawn on it (what
// RenderSampleFrame gives, without making the background again).
cv::Mat RenderSampleBackground(int width, int height);
cv::Mat RenderSampleFrameOn(const cv::Mat& background, const SampleVideoOptions& options,
                            int index);

// The ground-truth box of the blob in frame i, in frame pixels.
CRect SampleBlobBox(const SampleVideoOptions& options, int index);

// The index stamped into a decoded frame, or -1 when it cannot be read.
int ReadStampedIndex(const cv::Mat& frame);
