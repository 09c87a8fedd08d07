#include "export/CocoWriter.h"

#include <ctime>
#include <map>
#include <system_error>

#include <nlohmann/json.hpp>

#include "export/JsonText.h"
#include "export/OutputFiles.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string Dump(const json& j) {
    return j.dump(-1, ' ', false, json::error_handler_t::replace);
}

// One record per line: compact, yet a diff or a grep still shows single images.
std::string DumpLines(const json& array) {
    std::string out = "[";
    bool first = true;
    for (const json& item : array) {
        out += first ? "\n" : ",\n";
        first = false;
        out += Dump(item);
    }
    return out + "]";
}

std::string CocoFile(const std::string& split) {
    return split.empty() ? "annotations.json" : "annotations/instances_" + split + ".json";
}

}  // namespace

bool CCocoWriter::Prepare(std::string& error) {
    return MakeFolder(m_options.out / "images", error);
}

void CCocoWriter::RemoveListings() {
    std::error_code ec;
    fs::remove(m_options.out / "annotations.json", ec);
    for (fs::directory_iterator it(m_options.out / "annotations", ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("instances_", 0) == 0 && it->path().extension() == ".json") {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

bool CCocoWriter::StartVideo(VideoExport& video, std::string&) {
    RemoveEarlierFrames(m_options.out / "images", video.stem + "_", {".jpg", ".png"});
    return true;
}

std::string CCocoWriter::ImageFile(const VideoExport& video, int frame) const {
    return "images/" + FrameImageName(video, frame);
}

std::string CCocoWriter::MakeJson(const std::vector<VideoExport>& records,
                                  const std::string& split) {
    json videos = json::array();
    json images = json::array();
    json annotations = json::array();
    long long videoId = 0;
    long long imageId = 0;
    long long annotationId = 0;
    long long instanceId = 0;
    for (const VideoExport& v : records) {
        if (v.split != split) {
            continue;
        }
        ++videoId;
        json video{{"id", videoId}, {"name", v.stem}};
        PutJsonText(video, "file_name", v.name);
        PutJsonText(video, "path", v.key);
        videos.push_back(video);
        // Labels are objects of one video: the same number in another video is another object.
        std::map<int, long long> instances;
        long long index = 0;
        for (const ExportedImage& im : v.images) {
            ++imageId;
            // frame_id counts the video's images from 0, as video readers index them; the
            // video's own frame number is frame_number.
            json image{{"id", imageId},
                       {"file_name", im.file.substr(im.file.find('/') + 1)},
                       {"width", im.width},
                       {"height", im.height},
                       {"video_id", videoId},
                       {"frame_id", index++},
                       {"frame_number", im.frame},
                       {"video", v.stem}};
            if (v.haveCrop) {
                image["crop"] = {v.region.left, v.region.top, im.width, im.height};
            }
            images.push_back(image);
            for (const ExportBox& b : im.boxes) {
                auto inst = instances.find(b.label);
                if (inst == instances.end()) {
                    inst = instances.emplace(b.label, ++instanceId).first;
                }
                const CRect& r = b.rect;
                const long long w = r.Width();
                const long long h = r.Height();
                annotations.push_back(
                    {{"id", ++annotationId},
                     {"image_id", imageId},
                     {"category_id", 1},
                     {"bbox", {r.left, r.top, w, h}},
                     {"area", w * h},
                     {"iscrowd", b.kind == BoxKind::kSkip ? 1 : 0},
                     {"segmentation", json::array({{r.left, r.top, r.right, r.top, r.right,
                                                    r.bottom, r.left, r.bottom}})},
                     {"track_id", b.label},
                     {"instance_id", inst->second},
                     {"attributes",
                      {{"track_id", b.label},
                       {"removed", b.kind == BoxKind::kRemoved},
                       {"class", b.nClass}}}});
            }
        }
    }
    json info{{"description", "labels exported by tagwright-export"},
              {"version", "1.0"},
              {"date_created", UtcNow()}};
    json categories = json::array({{{"id", 1}, {"name", "polyp"}, {"supercategory", "polyp"}}});
    return "{\"info\":" + Dump(info) + ",\n\"licenses\":[],\n\"categories\":" + Dump(categories) +
           ",\n\"videos\":" + DumpLines(videos) + ",\n\"images\":" + DumpLines(images) +
           ",\n\"annotations\":" + DumpLines(annotations) + "}\n";
}

bool CCocoWriter::Finish(const std::vector<VideoExport>& records, std::string& error) {
    for (const std::string& split : SplitsOf(records)) {
        if (!split.empty() && !MakeFolder(m_options.out / "annotations", error)) {
            return false;
        }
        if (!WriteFileAtomically(m_options.out / CocoFile(split), MakeJson(records, split),
                                 error)) {
            return false;
        }
    }
    return true;
}
