#pragma once

#include "export/FormatWriter.h"

// MOTChallenge: one sequence folder per video, <name>/img1/000001.<ext> for every frame from the
// first to the last labelled one (the whole video with --frames all), <stem>/gt/gt.txt with
// "frame,id,left,top,width,height,flag,class,visibility" (frames 1-based within the sequence,
// left and top 1-based pixels as the format's own description has them), <stem>/seqinfo.ini, and
// <stem>/source.txt naming the video frame the sequence starts at (seqinfo.ini keeps to its
// seven keys, which some readers insist on; source.txt also names the video's path and crop).
// seqmap.txt lists every sequence for TrackEval, seqmaps/<split>.txt those of each split.
// Polyp and Removed boxes are rows with flag 1, class 1 (the class scored); Skip boxes (class
// Skip, label 30) flag 0, class 8 (distractor): not scored, and tracker boxes on them are ignored.
class CMotWriter : public CFormatWriter {
  public:
    using CFormatWriter::CFormatWriter;
    bool Prepare(std::string& error) override;
    void RemoveListings() override;
    bool StartVideo(VideoExport& video, std::string& error) override;
    std::string ImageFile(const VideoExport& video, int frame) const override;
    bool FinishVideo(VideoExport& video, std::string& error) override;
    void AbandonVideo(VideoExport& video) override;
    bool Finish(const std::vector<VideoExport>& records, std::string& error) override;
};
