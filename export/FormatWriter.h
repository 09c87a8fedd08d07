#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "export/ExportOptions.h"
#include "export/VideoExport.h"

// What makes one output format: where images go, which images it cannot carry, and the files
// written beside them per image, per video and once for the whole run.
//
// Threading: Prepare and Finish run on the main thread; the per-video calls run on the video's
// worker and touch only that video's files, so writers keep no state that videos share.
class CFormatWriter {
  public:
    explicit CFormatWriter(const ExportOptions& options) : m_options(options) {}
    virtual ~CFormatWriter() = default;
    CFormatWriter(const CFormatWriter&) = delete;
    CFormatWriter& operator=(const CFormatWriter&) = delete;

    static std::unique_ptr<CFormatWriter> Create(const ExportOptions& options);

    // Makes the folders every video shares; false with a message naming the path.
    virtual bool Prepare(std::string& error) = 0;
    // Removes the files that list the whole dataset (before any video's files change), so an
    // interrupted run leaves none that names a missing image.
    virtual void RemoveListings() = 0;
    // Takes an earlier export of this video out of OUT: its record first, then the files that
    // list its images, then the images. Files of other videos are never touched.
    bool RetractVideo(const VideoExport& video, std::string& error) const;
    // Before the first image of a video.
    virtual bool StartVideo(VideoExport& video, std::string& error);
    // True when the format cannot carry this image and leaves it out.
    virtual bool LeavesOut(const ExportedImage& image) const;
    // The path of a frame's image, relative to OUT and '/'-separated.
    virtual std::string ImageFile(const VideoExport& video, int frame) const = 0;
    // After an image was written.
    virtual bool AfterImage(VideoExport& video, const ExportedImage& image, std::string& error);
    // After the last image of a video that did not fail.
    virtual bool FinishVideo(VideoExport& video, std::string& error);
    // After a video failed and its files were removed: what else it left (empty folders).
    virtual void AbandonVideo(VideoExport& video);
    // After every video: the files that cover them all, from the records of every video in OUT
    // (those of this run and those exported before and not named again).
    virtual bool Finish(const std::vector<VideoExport>& records, std::string& error) = 0;

  protected:
    bool MakeFolder(const std::filesystem::path& path, std::string& error) const;
    // Writes a file of one video atomically and records it, so a later failure removes it.
    bool WriteVideoFile(VideoExport& video, const std::filesystem::path& path,
                        const std::string& content, std::string& error) const;
    // "<stem>_<frame, six digits>.<ext>"
    std::string FrameImageName(const VideoExport& video, int frame) const;
    // With --force, an earlier export into OUT may have left frames of this video that are no
    // longer labelled; readers that take every file of a folder would train on them. Removes
    // the regular files of `folder` named `prefix`, six digits and one of `suffixes`: names
    // only this program gives.
    void RemoveEarlierFrames(const std::filesystem::path& folder, const std::string& prefix,
                             const std::vector<std::string>& suffixes) const;
    // The splits the records use, in order; "" for videos exported without --split.
    static std::vector<std::string> SplitsOf(const std::vector<VideoExport>& records);
    // "<split>/" or "" without one.
    static std::string SplitFolder(const VideoExport& video);
    void RemoveFile(const std::filesystem::path& relative) const;

    const ExportOptions& m_options;
};
