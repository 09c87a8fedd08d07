#include "export/YoloWriter.h"

#include <cstdio>
#include <system_error>

#include <yaml-cpp/yaml.h>

#include "export/OutputFiles.h"

namespace fs = std::filesystem;

namespace {

// Ultralytics caches a scan of the labels keyed on file names and sizes only; a cache left by a
// training run on an earlier export would hide the new labels.
void RemoveCaches(const fs::path& folder) {
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (it->path().extension() == ".cache") {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

}  // namespace

bool CYoloWriter::Prepare(std::string& error) {
    if (!MakeFolder(m_options.out / "images", error) ||
        !MakeFolder(m_options.out / "labels", error)) {
        return false;
    }
    std::error_code ec;
    fs::remove(m_options.out / "labels.cache", ec);
    RemoveCaches(m_options.out / "labels");
    return true;
}

void CYoloWriter::RemoveListings() {
    std::error_code ec;
    fs::remove(m_options.out / "data.yaml", ec);
}

bool CYoloWriter::LeavesOut(const ExportedImage& image) const {
    for (const ExportBox& b : image.boxes) {
        if (b.kind == BoxKind::kSkip) {
            return true;
        }
    }
    return false;
}

bool CYoloWriter::StartVideo(VideoExport& video, std::string& error) {
    const fs::path images = m_options.out / "images" / SplitFolder(video);
    const fs::path labels = m_options.out / "labels" / SplitFolder(video);
    if (!MakeFolder(images, error) || !MakeFolder(labels, error)) {
        return false;
    }
    RemoveEarlierFrames(labels, video.stem + "_", {".txt"});
    RemoveEarlierFrames(images, video.stem + "_", {".jpg", ".png"});
    return true;
}

std::string CYoloWriter::ImageFile(const VideoExport& video, int frame) const {
    return "images/" + SplitFolder(video) + FrameImageName(video, frame);
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
    return WriteVideoFile(video, m_options.out / "labels" / SplitFolder(video) / name, text, error);
}

bool CYoloWriter::Finish(const std::vector<VideoExport>& records, std::string& error) {
    // No "path:": Ultralytics resolves a relative one against the working directory; without it
    // the folders are taken relative to this file.
    YAML::Emitter yaml;
    yaml << YAML::BeginMap;
    const std::vector<std::string> splits = SplitsOf(records);
    bool named = false;
    for (const std::string& split : splits) {
        if (!split.empty()) {
            yaml << YAML::Key << split << YAML::Value << "images/" + split;
            named = true;
        }
    }
    // Without a split every image is in images/, and validation runs on the training images:
    // say so where the trainer reads it. (Videos exported into OUT without --split beside
    // others with it are then in no split's folder; the trainer sees only the split ones.)
    if (!named) {
        yaml << YAML::Key << "train" << YAML::Value << "images";
        yaml << YAML::Key << "val" << YAML::Value << "images"
             << YAML::Comment("no --split: the training images");
    }
    yaml << YAML::Key << "nc" << YAML::Value << 1;
    yaml << YAML::Key << "names" << YAML::Value << YAML::BeginMap << YAML::Key << 0 << YAML::Value
         << "polyp" << YAML::EndMap;
    yaml << YAML::EndMap;
    return WriteFileAtomically(
        m_options.out / "data.yaml",
        "# Written by tagwright-export.\n" + std::string(yaml.c_str()) + "\n", error);
}
