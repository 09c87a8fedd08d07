#include "export/MotWriter.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <system_error>

#include "export/OutputFiles.h"

namespace fs = std::filesystem;

bool CMotWriter::Prepare(std::string&) {
    return true;  // the sequence folders come with their videos
}

bool CMotWriter::StartVideo(VideoExport& video, std::string& error) {
    if (!MakeFolder(m_options.out / video.stem / "img1", error) ||
        !MakeFolder(m_options.out / video.stem / "gt", error)) {
        return false;
    }
    // A longer sequence exported before would leave images past seqLength.
    RemoveEarlierFrames(m_options.out / video.stem / "img1", "", {".jpg", ".png"});
    return true;
}

std::string CMotWriter::ImageFile(const VideoExport& video, int frame) const {
    char name[32];
    std::snprintf(name, sizeof name, "%06d.%s", frame - video.firstFrame + 1,
                  ImageExtension(m_options.image));
    return video.stem + "/img1/" + name;
}

bool CMotWriter::FinishVideo(VideoExport& video, std::string& error) {
    std::string gt;
    for (const ExportedImage& im : video.images) {
        std::vector<ExportBox> boxes = im.boxes;
        std::sort(boxes.begin(), boxes.end(),
                  [](const ExportBox& a, const ExportBox& b) { return a.label < b.label; });
        for (const ExportBox& b : boxes) {
            const bool skip = b.kind == BoxKind::kSkip;
            char row[128];
            std::snprintf(row, sizeof row, "%d,%d,%d,%d,%d,%d,%d,%d,1\n",
                          im.frame - video.firstFrame + 1, b.label, b.rect.left + 1, b.rect.top + 1,
                          b.rect.Width(), b.rect.Height(), skip ? 0 : 1, skip ? 8 : 1);
            gt += row;
        }
    }
    // Readers parse the frame rate as a whole number.
    long fps = std::lround(video.fps);
    if (!(video.fps > 0.0) || fps < 1) {
        fps = 30;
        video.notes.push_back("the video states no frame rate: seqinfo.ini says 30");
    }
    const int width = video.images.empty() ? 0 : video.images.front().width;
    const int height = video.images.empty() ? 0 : video.images.front().height;
    const std::string ext = std::string(".") + ImageExtension(m_options.image);
    const std::string seqinfo = "[Sequence]\nname=" + video.stem +
                                "\nimDir=img1\nframeRate=" + std::to_string(fps) +
                                "\nseqLength=" + std::to_string(video.images.size()) +
                                "\nimWidth=" + std::to_string(width) +
                                "\nimHeight=" + std::to_string(height) + "\nimExt=" + ext + "\n";
    std::string source =
        "video=" + video.name + "\nfirst_frame=" + std::to_string(video.firstFrame) + "\n";
    if (m_options.crop) {
        source += "crop=" + std::to_string(video.region.left) + "," +
                  std::to_string(video.region.top) + "," + std::to_string(video.region.right) +
                  "," + std::to_string(video.region.bottom) + "\n";
    }
    const fs::path seq = m_options.out / video.stem;
    return WriteVideoFile(video, seq / "gt" / "gt.txt", gt, error) &&
           WriteVideoFile(video, seq / "seqinfo.ini", seqinfo, error) &&
           WriteVideoFile(video, seq / "source.txt", source, error);
}

void CMotWriter::AbandonVideo(VideoExport& video) {
    // Only empty folders go: a sequence folder that held files before this run stays.
    const fs::path seq = m_options.out / video.stem;
    std::error_code ec;
    fs::remove(seq / "img1", ec);
    fs::remove(seq / "gt", ec);
    fs::remove(seq, ec);
}

bool CMotWriter::Finish(const std::vector<VideoExport>& videos, std::string& error) {
    std::string seqmap = "name\n";
    for (const VideoExport& v : videos) {
        if (Exported(v)) {
            seqmap += v.stem + "\n";
        }
    }
    return WriteFileAtomically(m_options.out / "seqmap.txt", seqmap, error);
}
