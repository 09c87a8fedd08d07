#include "export/YoloWriter.h"

#include <cstdio>
#include <system_error>

#include "export/OutputFiles.h"

namespace fs = std::filesystem;

bool CYoloWriter::Prepare(std::string& error) {
    if (!MakeFolder(m_options.out / "images", error) ||
        !MakeFolder(m_options.out / "labels", error)) {
        return false;
    }
    // Ultralytics caches a scan of the labels keyed on file names and sizes only; a cache left
    // by a training run on an earlier export would hide the new labels.
    std::error_code ec;
    fs::remove(m_options.out / "labels.cache", ec);
    for (fs::directory_iterator it(m_options.out / "labels", ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".cache") {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
    return true;
}

bool CYoloWriter::LeavesOut(const ExportedImage& image) const {
    for (const ExportBox& b : image.boxes) {
        if (b.kind == BoxKind::kSkip) {
            return true;
        }
    }
    return false;
}

bool CYoloWriter::StartVideo(VideoExport& video, std::string&) {
    RemoveEarlierFrames(m_options.out / "images", video.stem + "_", {".jpg", ".png"});
    RemoveEarlierFrames(m_options.out / "labels", video.stem + "_", {".txt"});
    return true;
}

std::string CYoloWriter::ImageFile(const VideoExport& video, int frame) const {
    return "images/" + FrameImageName(video, frame);
}

bool CYoloWriter::AfterImage(VideoExport& video, const ExportedImage& image, std::string& error) {
    std::string text;
    const double w = image.width;
    const double h = image.height;
    for (const ExportBox& b : image.boxes) {
        const CRect& r = b.rect;
        char line[96];
        std::snprintf(line, sizeof line, "0 %.6f %.6f %.6f %.6f\n", (r.left + r.right) / 2.0 / w,
                      (r.top + r.bottom) / 2.0 / h, r.Width() / w, r.Height() / h);
        text += line;
    }
    const std::string name = fs::path(image.file).filename().replace_extension(".txt").string();
    return WriteVideoFile(video, m_options.out / "labels" / name, text, error);
}

bool CYoloWriter::Finish(const std::vector<VideoExport>&, std::string& error) {
    // No "path:": Ultralytics resolves a relative one against the working directory; without it
    // the folders are taken relative to this file.
    const std::string yaml =
        "# Written by tagwright-export: images in images/, labels in labels/.\n"
        "train: images\n"
        "val: images\n"
        "nc: 1\n"
        "names:\n"
        "  0: polyp\n";
    return WriteFileAtomically(m_options.out / "data.yaml", yaml, error);
}
