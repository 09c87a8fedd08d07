#pragma once

#include "export/FormatWriter.h"

// COCO: images/<stem>_<frame>.<ext> and one annotations.json for every video of the run, with
// ids unique across them. One category, "polyp" (id 1). A Skip box (class Skip or label 30) is a
// crowd region (iscrowd 1) of that category, so an evaluator ignores detections on it; a Removed
// box is a polyp marked "removed": true. Images carry their video and frame (video_id, frame_id,
// and "video", the file name); annotations carry the label as track_id and an instance_id unique
// in the file.
class CCocoWriter : public CFormatWriter {
  public:
    using CFormatWriter::CFormatWriter;
    bool Prepare(std::string& error) override;
    bool StartVideo(VideoExport& video, std::string& error) override;
    std::string ImageFile(const VideoExport& video, int frame) const override;
    bool Finish(const std::vector<VideoExport>& videos, std::string& error) override;

    // The whole annotation file (compact: one record per line, integer pixels).
    static std::string MakeJson(const std::vector<VideoExport>& videos,
                                const ExportOptions& options);
};
