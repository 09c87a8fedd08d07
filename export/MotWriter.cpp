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

void CMotWriter::RemoveListings() {
    std::error_code ec;
    fs::remove(m_options.out / "seqmap.txt", ec);
    for (fs::directory_iterator it(m_options.out / "seqmaps", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".txt") {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

bool CMotWriter::StartVideo(VideoExport& video, std::string& error) {
    const fs::path seq = m_options.out / video.stem;
    if (!MakeFolder(seq / "img1", error) || !MakeFolder(seq / "gt", error)) {
        return false;
    }
    // What describes the sequence goes before its images, and a longer sequence exported
    // before would leave images past seqLength.
    std::error_code ec;
    for (const char* file : {"seqinfo.ini", "gt/gt.txt", "source.txt"}) {
        fs::remove(seq / file, ec);
    }
    RemoveEarlierFrames(seq / "img1", "", {".jpg", ".png"});
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
    std::string source = "video=" + video.key + "\nfile_name=" + video.name +
                         "\nfirst_frame=" + std::to_string(video.firstFrame) + "\n";
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

bool CMotWriter::Finish(const std::vector<VideoExport>& records, std::string& error) {
    const std::vector<std::string> splits = SplitsOf(records);
    for (const std::string& split : splits) {
        if (split.empty()) {
            continue;
        }
        std::string seqmap = "name\n";
        for (const VideoExport& v : records) {
            seqmap += v.split == split ? v.stem + "\n" : "";
        }
        if (!MakeFolder(m_options.out / "seqmaps", error) ||
            !WriteFileAtomically(m_options.out / "seqmaps" / (split + ".txt"), seqmap, error)) {
            return false;
        }
    }
    // Every sequence, whatever its split.
    std::string seqmap = "name\n";
    for (const VideoExport& v : records) {
        seqmap += v.stem + "\n";
    }
    return WriteFileAtomically(m_options.out / "seqmap.txt", seqmap, error);
}
