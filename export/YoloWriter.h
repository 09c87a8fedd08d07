#pragma once

#include "export/FormatWriter.h"

// YOLO (Ultralytics layout): images/<stem>_<frame>.<ext>, labels/<same stem>.txt with one line
// "class cx cy w h" per box, normalised to 0..1; a negative gets an empty label file. One class,
// 0 "polyp" (Removed boxes included). YOLO has no ignore region: an image holding a Skip box
// (class Skip or label 30) is left out, since training on it would teach the skipped region as
// background.
class CYoloWriter : public CFormatWriter {
  public:
    using CFormatWriter::CFormatWriter;
    bool Prepare(std::string& error) override;
    bool LeavesOut(const ExportedImage& image) const override;
    bool StartVideo(VideoExport& video, std::string& error) override;
    std::string ImageFile(const VideoExport& video, int frame) const override;
    bool AfterImage(VideoExport& video, const ExportedImage& image, std::string& error) override;
    bool Finish(const std::vector<VideoExport>& videos, std::string& error) override;
};
