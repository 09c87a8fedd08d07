#pragma once

#include "export/FormatWriter.h"

// YOLO (Ultralytics layout): images/[<split>/]<name>_<frame>.<ext>, labels/[<split>/]<same>.txt
// with one line "class cx cy w h" per box, normalised to 0..1; a negative gets an empty label
// file; data.yaml names the split folders (without --split, train and val are both images/). One
// class, 0 "polyp" (Removed boxes included). YOLO has no ignore region: an image holding a Skip
// box (class Skip or label 30) is left out, since training on it would teach the skipped region
// as background. Label numbers and classes are kept only in the video's record.
class CYoloWriter : public CFormatWriter {
  public:
    using CFormatWriter::CFormatWriter;
    bool Prepare(std::string& error) override;
    void RemoveListings() override;
    bool LeavesOut(const ExportedImage& image) const override;
    bool StartVideo(VideoExport& video, std::string& error) override;
    std::string ImageFile(const VideoExport& video, int frame) const override;
    bool AfterImage(VideoExport& video, const ExportedImage& image, std::string& error) override;
    bool Finish(const std::vector<VideoExport>& records, std::string& error) override;
};
