#pragma once

#include "export/FormatWriter.h"

// COCO: images/<name>_<frame>.<ext> and one annotation file per split (annotations.json without
// --split, annotations/instances_<split>.json with it) for every video in OUT, with ids unique
// in the file. One category, "polyp" (id 1). A Skip box (class Skip or label 30) is a crowd
// region (iscrowd 1) of that category, so an evaluator ignores detections on it. "videos" name
// each video's path; images carry video_id, frame_id (0-based among the video's images, as
// video readers index them) and frame_number (the video's frame). Annotations carry the label as
// track_id and instance_id (unique in the file), and again in "attributes" with "removed" and the
// stored "class", where the readers that keep extra fields look for them.
class CCocoWriter : public CFormatWriter {
  public:
    using CFormatWriter::CFormatWriter;
    bool Prepare(std::string& error) override;
    void RemoveListings() override;
    bool StartVideo(VideoExport& video, std::string& error) override;
    std::string ImageFile(const VideoExport& video, int frame) const override;
    bool Finish(const std::vector<VideoExport>& records, std::string& error) override;

    // The annotation file of one split (compact: one record per line, integer pixels).
    static std::string MakeJson(const std::vector<VideoExport>& records, const std::string& split);
};
