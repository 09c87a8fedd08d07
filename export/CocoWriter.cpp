#include "export/CocoWriter.h"

#include <cstdio>
#include <ctime>
#include <map>

#include "export/OutputFiles.h"

namespace {

void AppendJsonString(std::string& out, const std::string& text) {
    out += '"';
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", u);
            out += esc;
        } else {
            out += c;
        }
    }
    out += '"';
}

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string Int(long long v) {
    return std::to_string(v);
}

}  // namespace

bool CCocoWriter::Prepare(std::string& error) {
    return MakeFolder(m_options.out / "images", error);
}

bool CCocoWriter::StartVideo(VideoExport& video, std::string&) {
    RemoveEarlierFrames(m_options.out / "images", video.stem + "_", {".jpg", ".png"});
    return true;
}

std::string CCocoWriter::ImageFile(const VideoExport& video, int frame) const {
    return "images/" + FrameImageName(video, frame);
}

std::string CCocoWriter::MakeJson(const std::vector<VideoExport>& videos,
                                  const ExportOptions& options) {
    std::string j;
    j += "{\"info\":{\"description\":\"labels exported by tagwright-export\",\"version\":\"1.0\","
         "\"date_created\":\"" +
         UtcNow() + "\"},\n\"licenses\":[],\n";
    j += "\"categories\":[{\"id\":1,\"name\":\"polyp\",\"supercategory\":\"polyp\"}],\n";
    j += "\"videos\":[";
    long long videoId = 0;
    bool first = true;
    for (const VideoExport& v : videos) {
        if (!Exported(v)) {
            continue;
        }
        ++videoId;
        j += first ? "\n" : ",\n";
        first = false;
        j += "{\"id\":" + Int(videoId) + ",\"name\":";
        AppendJsonString(j, v.name);
        j += ",\"stem\":";
        AppendJsonString(j, v.stem);
        j += "}";
    }
    j += "],\n\"images\":[";
    std::string annotations;
    long long imageId = 0;
    long long annotationId = 0;
    long long instanceId = 0;
    videoId = 0;
    first = true;
    for (const VideoExport& v : videos) {
        if (!Exported(v)) {
            continue;
        }
        ++videoId;
        // Labels are objects of one video: the same number in another video is another object.
        std::map<int, long long> instances;
        for (const ExportedImage& im : v.images) {
            ++imageId;
            j += first ? "\n" : ",\n";
            first = false;
            j += "{\"id\":" + Int(imageId) + ",\"file_name\":";
            AppendJsonString(j, im.file.substr(im.file.find('/') + 1));
            j += ",\"width\":" + Int(im.width) + ",\"height\":" + Int(im.height) +
                 ",\"video_id\":" + Int(videoId) + ",\"frame_id\":" + Int(im.frame) + ",\"video\":";
            AppendJsonString(j, v.name);
            if (options.crop) {
                j += ",\"crop\":[" + Int(v.region.left) + "," + Int(v.region.top) + "," +
                     Int(im.width) + "," + Int(im.height) + "]";
            }
            j += "}";
            for (const ExportBox& b : im.boxes) {
                auto inst = instances.find(b.label);
                if (inst == instances.end()) {
                    inst = instances.emplace(b.label, ++instanceId).first;
                }
                const CRect& r = b.rect;
                const long long w = r.Width();
                const long long h = r.Height();
                annotations += annotationId == 0 ? "\n" : ",\n";
                annotations += "{\"id\":" + Int(++annotationId) + ",\"image_id\":" + Int(imageId) +
                               ",\"category_id\":1,\"bbox\":[" + Int(r.left) + "," + Int(r.top) +
                               "," + Int(w) + "," + Int(h) + "],\"area\":" + Int(w * h) +
                               ",\"iscrowd\":" + (b.kind == BoxKind::kSkip ? "1" : "0") +
                               ",\"segmentation\":[[" + Int(r.left) + "," + Int(r.top) + "," +
                               Int(r.right) + "," + Int(r.top) + "," + Int(r.right) + "," +
                               Int(r.bottom) + "," + Int(r.left) + "," + Int(r.bottom) +
                               "]],\"track_id\":" + Int(b.label) +
                               ",\"instance_id\":" + Int(inst->second);
                if (b.kind == BoxKind::kRemoved) {
                    annotations += ",\"removed\":true";
                }
                annotations += "}";
            }
        }
    }
    j += "],\n\"annotations\":[" + annotations + "]}\n";
    return j;
}

bool CCocoWriter::Finish(const std::vector<VideoExport>& videos, std::string& error) {
    return WriteFileAtomically(m_options.out / "annotations.json", MakeJson(videos, m_options),
                               error);
}
