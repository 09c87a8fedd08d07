// Reading COCO, YOLO and MOT data into Sources, for tagwright-import.

#include "export/ImportSources.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <system_error>

#include <yaml-cpp/yaml.h>
#include <nlohmann/json.hpp>

#include "export/Boxes.h"
#include "export/Dataset.h"
#include "export/JsonText.h"
#include "export/OutputFiles.h"
#include "export/VideoExport.h"
#include "labels/LabelFileFormat.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {
constexpr double kFarPixel = 1 << 28;

}  // namespace

int RoundPixel(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::round(v), -kFarPixel, kFarPixel));
}

int Denormalise(int millionths, int size) {
    return RoundPixel(static_cast<double>(millionths) * size / 1e6);
}

namespace {

// "<anything>_<digits>" -> the digits as the frame; false without them.
bool SplitFrameName(const std::string& stem, std::string& prefix, int& frame) {
    const size_t us = stem.rfind('_');
    if (us == std::string::npos || us + 1 >= stem.size()) {
        return false;
    }
    const std::string digits = stem.substr(us + 1);
    if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        digits.size() > 9) {
        return false;
    }
    prefix = stem.substr(0, us);
    frame = std::stoi(digits);
    return true;
}

int IntField(const json& object, const char* field, int fallback) {
    const auto it = object.find(field);
    return it != object.end() && it->is_number() ? RoundPixel(it->get<double>()) : fallback;
}

// --- COCO ---

bool ReadCocoFileOrThrow(const fs::path& file, std::map<std::string, Source>& sources,
                         std::string& error) {
    std::ifstream in(file, std::ios::binary);
    const json j = json::parse(in, nullptr, false);
    if (!j.is_object() || !j.contains("images") || !j["images"].is_array()) {
        error = PathError(file, "is not a COCO annotation file (no \"images\")");
        return false;
    }
    std::map<long long, std::string> videoOf;  // video id -> source id
    for (const json& v : j.value("videos", json::array())) {
        if (!v.is_object()) {
            continue;
        }
        const std::string name = GetJsonText(v, "name");
        Source& s = sources[name];
        s.name = name;
        s.key = GetJsonText(v, "path");
        s.fileName = GetJsonText(v, "file_name");
        videoOf[v.value("id", -1LL)] = name;
    }
    struct ImageRef {
        std::string source;
        int frame;
        int dx;
        int dy;
    };
    std::map<long long, ImageRef> images;
    for (const json& im : j["images"]) {
        if (!im.is_object()) {
            continue;
        }
        const std::string fileName = GetJsonText(im, "file_name");
        std::string prefix = fs::path(fileName).stem().string();
        int frame = -1;
        int fromName = -1;
        if (SplitFrameName(prefix, prefix, fromName)) {
            frame = fromName;
        }
        std::string source = prefix;
        const auto v = videoOf.find(im.value("video_id", -1LL));
        if (v != videoOf.end()) {
            source = v->second;
        }
        // The video's own frame number where the export recorded it; a video reader's frame_id
        // is only an index among the images.
        frame = IntField(im, "frame_number", frame >= 0 ? frame : IntField(im, "frame_id", -1));
        if (frame < 0) {
            continue;
        }
        Source& s = sources[source];
        s.name = source;
        ImageRef ref{source, frame, 0, 0};
        const auto crop = im.find("crop");
        if (crop != im.end() && crop->is_array() && crop->size() == 4) {
            ref.dx = RoundPixel((*crop)[0].get<double>());
            ref.dy = RoundPixel((*crop)[1].get<double>());
            s.haveCrop = true;
            s.crop = {ref.dx, ref.dy, ref.dx + RoundPixel((*crop)[2].get<double>()),
                      ref.dy + RoundPixel((*crop)[3].get<double>())};
        }
        s.frames[frame];
        images[im.value("id", -1LL)] = ref;
    }
    for (const json& a : j.value("annotations", json::array())) {
        if (!a.is_object() || !a.contains("bbox") || !a["bbox"].is_array() ||
            a["bbox"].size() != 4) {
            continue;
        }
        const auto im = images.find(a.value("image_id", -1LL));
        if (im == images.end()) {
            continue;
        }
        const json& b = a["bbox"];
        const double x = b[0].get<double>(), y = b[1].get<double>();
        InBox box;
        box.rect = {RoundPixel(x), RoundPixel(y), RoundPixel(x + b[2].get<double>()),
                    RoundPixel(y + b[3].get<double>())};
        const json attributes = a.value("attributes", json::object());
        box.id = IntField(attributes, "track_id",
                          IntField(a, "track_id", IntField(a, "instance_id", kNoId)));
        box.nClass = IntField(attributes, "class", -1);
        box.skip = IntField(a, "iscrowd", 0) == 1;
        box.removed = attributes.value("removed", false) || a.value("removed", false);
        if (a.contains("score") && a["score"].is_number()) {
            box.score = a["score"].get<double>();
        }
        sources[im->second.source].frames[im->second.frame].push_back(box);
    }
    return true;
}

// A field of an unexpected type (a string where a number belongs) is a damaged file, named.
bool ReadCocoFile(const fs::path& file, std::map<std::string, Source>& sources,
                  std::string& error) {
    try {
        return ReadCocoFileOrThrow(file, sources, error);
    } catch (const json::exception& e) {
        error = PathError(file, std::string("is not a COCO file this program reads: ") + e.what());
        return false;
    }
}

bool ReadCoco(const fs::path& in, std::map<std::string, Source>& sources, std::string& error) {
    std::vector<fs::path> files;
    std::error_code ec;
    if (fs::is_regular_file(in, ec)) {
        files.push_back(in);
    } else {
        if (fs::is_regular_file(in / "annotations.json", ec)) {
            files.push_back(in / "annotations.json");
        }
        for (fs::directory_iterator it(in / "annotations", ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().extension() == ".json") {
                files.push_back(it->path());
            }
        }
    }
    if (files.empty()) {
        error = PathError(in, "holds no annotations.json or annotations/*.json");
        return false;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        if (!ReadCocoFile(f, sources, error)) {
            return false;
        }
    }
    return true;
}

// --- YOLO ---

// The label folders and class names data.yaml gives: for each image folder of train, val and
// test (relative to "path:" or to the file), the folder of the same place with its last
// "images" made "labels", as Ultralytics finds them. Without data.yaml, everything under labels/.
bool ReadDataYaml(const fs::path& in, std::vector<fs::path>& folders,
                  std::map<int, std::string>& names, std::string& error) {
    const fs::path file = in / "data.yaml";
    std::error_code ec;
    if (!fs::exists(file, ec)) {
        folders.push_back(in / "labels");
        return true;
    }
    try {
        const YAML::Node yaml = YAML::LoadFile(file.string());
        fs::path base = in;
        if (yaml["path"] && yaml["path"].IsScalar()) {
            const fs::path path = yaml["path"].as<std::string>();
            base = path.is_absolute() ? path : in / path;
        }
        for (const char* split : {"train", "val", "test"}) {
            const YAML::Node node = yaml[split];
            std::vector<std::string> entries;
            if (node && node.IsScalar()) {
                entries.push_back(node.as<std::string>());
            } else if (node && node.IsSequence()) {
                for (const YAML::Node& e : node) {
                    entries.push_back(e.as<std::string>());
                }
            }
            for (const std::string& entry : entries) {
                fs::path images = fs::path(entry).is_absolute() ? fs::path(entry) : base / entry;
                fs::path labels;
                bool swapped = false;
                std::vector<fs::path> parts(images.begin(), images.end());
                for (auto it = parts.rbegin(); it != parts.rend() && !swapped; ++it) {
                    if (*it == "images") {
                        *it = "labels";
                        swapped = true;
                    }
                }
                for (const fs::path& part : parts) {
                    labels /= part;
                }
                if (swapped && std::find(folders.begin(), folders.end(), labels) == folders.end()) {
                    folders.push_back(labels);
                }
            }
        }
        const YAML::Node list = yaml["names"];
        if (list && list.IsMap()) {
            for (const auto& kv : list) {
                names[kv.first.as<int>()] = kv.second.as<std::string>();
            }
        } else if (list && list.IsSequence()) {
            for (size_t i = 0; i < list.size(); ++i) {
                names[static_cast<int>(i)] = list[i].as<std::string>();
            }
        }
    } catch (const YAML::Exception& e) {
        error = PathError(file, std::string("cannot be read: ") + e.what());
        return false;
    }
    if (folders.empty()) {
        error = PathError(file, "names no train, val or test images");
        return false;
    }
    return true;
}

bool ReadYolo(const fs::path& in, std::map<std::string, Source>& sources, std::string& error) {
    std::vector<fs::path> folders;
    std::map<int, std::string> names;
    if (!ReadDataYaml(in, folders, names, error)) {
        return false;
    }
    std::error_code ec;
    bool any = false;
    for (const fs::path& folder : folders) {
        any = any || fs::is_directory(folder, ec);
        for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->path().extension() != ".txt" || !it->is_regular_file(ec)) {
                continue;
            }
            std::string prefix;
            int frame = 0;
            if (!SplitFrameName(it->path().stem().string(), prefix, frame)) {
                continue;
            }
            std::string text;
            if (!ReadWholeFile(it->path(), text)) {
                error = PathError(it->path(), "cannot be read");
                return false;
            }
            Source& s = sources[prefix];
            s.name = prefix;
            std::vector<InBox>& boxes = s.frames[frame];
            std::istringstream lines(text);
            std::string line;
            while (std::getline(lines, line)) {
                std::istringstream fields(line);
                int cls = 0;
                double cx = 0, cy = 0, w = 0, h = 0, score = 0;
                if (!(fields >> cls >> cx >> cy >> w >> h)) {
                    continue;
                }
                InBox box;
                // Normalised until the image size is known; kept in millionths, as written.
                box.rect = {RoundPixel((cx - w / 2) * 1e6), RoundPixel((cy - h / 2) * 1e6),
                            RoundPixel((cx + w / 2) * 1e6), RoundPixel((cy + h / 2) * 1e6)};
                // A class named like one of ours maps back to it; any other is a polyp.
                const auto name = names.find(cls);
                box.skip = name != names.end() && name->second == "skip";
                box.removed = name != names.end() && name->second == "removed";
                if (fields >> score) {
                    box.score = score;
                }
                boxes.push_back(box);
            }
        }
    }
    if (!any) {
        error = PathError(in, "holds no label folder (labels/, or as data.yaml names it)");
        return false;
    }
    return true;
}

// --- MOT ---

void ReadMotSequence(const std::string& name, const fs::path& gtFile, const fs::path& sourceFile,
                     bool scores, std::map<std::string, Source>& sources) {
    Source& s = sources[name];
    s.name = name;
    int first = 0;
    std::string text;
    if (ReadWholeFile(sourceFile, text)) {
        std::istringstream lines(text);
        std::string line;
        while (std::getline(lines, line)) {
            const size_t eq = line.find('=');
            const std::string key = line.substr(0, eq);
            const std::string value = eq == std::string::npos ? "" : line.substr(eq + 1);
            if (key == "video") {
                s.key = value;
            } else if (key == "file_name") {
                s.fileName = value;
            } else if (key == "first_frame" && ParseLabelInt(value, first)) {
                first = RoundPixel(first);
            } else if (key == "crop") {
                s.haveCrop = ParseCropText(value, s.crop);
            }
        }
    }
    if (!ReadWholeFile(gtFile, text)) {
        return;
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        double f = 0, id = 0, l = 0, t = 0, w = 0, h = 0, flag = 1;
        if (std::sscanf(line.c_str(), "%lf,%lf,%lf,%lf,%lf,%lf,%lf", &f, &id, &l, &t, &w, &h,
                        &flag) < 6 ||
            f < 1) {
            continue;
        }
        InBox box;
        // Left and top are 1-based in the format's own description.
        box.rect = {RoundPixel(l) - 1, RoundPixel(t) - 1, RoundPixel(l + w) - 1,
                    RoundPixel(t + h) - 1};
        box.id = id >= 0 ? RoundPixel(id) : kNoId;
        if (scores) {
            box.score = flag;  // a tracker's or detector's confidence
        } else {
            box.skip = flag == 0;
        }
        s.frames[RoundPixel(f) - 1 + first].push_back(box);
    }
}

bool ReadMot(const fs::path& in, bool scores, std::map<std::string, Source>& sources,
             std::string& error) {
    std::error_code ec;
    bool any = false;
    for (fs::directory_iterator it(in, ec), end; !ec && it != end; it.increment(ec)) {
        const fs::path p = it->path();
        const std::string name = p.filename().string();
        if (fs::is_regular_file(p / "gt" / "gt.txt")) {
            ReadMotSequence(name, p / "gt" / "gt.txt", p / "source.txt", scores, sources);
            any = true;
        } else if (p.extension() == ".txt" && name != "seqmap.txt" && it->is_regular_file()) {
            // A tracker's results: one "<sequence>.txt" per sequence.
            ReadMotSequence(p.stem().string(), p, in / p.stem() / "source.txt", scores, sources);
            any = true;
        }
    }
    if (!any) {
        error = PathError(in, "holds no <sequence>/gt/gt.txt nor <sequence>.txt");
        return false;
    }
    return true;
}

// What our own export recorded for the video, when IN holds it: the crop and image sizes, and
// the label number and class of boxes the format could not carry (YOLO keeps neither, MOT no
// Removed). A record is used only for an image whose boxes it lists in the same places.
void ApplyRecord(const VideoExport& record, ExportFormat format, Source& s) {
    s.key = s.key.empty() ? record.key : s.key;
    s.fileName = s.fileName.empty() ? record.name : s.fileName;
    if (record.haveCrop && !s.haveCrop) {
        s.haveCrop = true;
        s.crop = record.region;
    }
    for (const ExportedImage& im : record.images) {
        s.sizes[im.frame] = {im.width, im.height};
        const auto it = s.frames.find(im.frame);
        if (it == s.frames.end() || it->second.size() != im.boxes.size()) {
            continue;
        }
        std::vector<InBox>& boxes = it->second;
        for (size_t i = 0; i < boxes.size(); ++i) {
            CRect rect = boxes[i].rect;
            if (format == ExportFormat::kYolo) {
                rect = {Denormalise(rect.left, im.width), Denormalise(rect.top, im.height),
                        Denormalise(rect.right, im.width), Denormalise(rect.bottom, im.height)};
            }
            if (rect != im.boxes[i].rect) {
                break;
            }
            boxes[i].id = im.boxes[i].label;
            boxes[i].nClass = im.boxes[i].nClass;
        }
    }
}

}  // namespace

bool ReadSources(ExportFormat format, const fs::path& in, bool scores,
                 std::map<std::string, Source>& sources, std::string& error) {
    bool read = false;
    switch (format) {
        case ExportFormat::kCoco:
            // COCO carries everything itself.
            return ReadCoco(in, sources, error);
        case ExportFormat::kYolo:
            read = ReadYolo(in, sources, error);
            break;
        case ExportFormat::kMot:
            read = ReadMot(in, scores, sources, error);
            break;
    }
    if (!read) {
        return false;
    }
    for (const VideoExport& record : ReadVideoRecords(in)) {
        const auto s = sources.find(record.stem);
        if (s != sources.end()) {
            ApplyRecord(record, format, s->second);
        }
    }
    return true;
}

Source* FindSource(std::map<std::string, Source>& sources, const fs::path& video,
                   const std::string& key) {
    const std::string name = DatasetName(video, key);
    for (auto& [id, s] : sources) {
        if (!s.key.empty() && s.key == key) {
            return &s;
        }
    }
    for (auto& [id, s] : sources) {
        if (s.name == name) {
            return &s;
        }
    }
    // Another tool's dataset: by the file name, else by the stem its images are named after.
    const std::string fileName = video.filename().string();
    const std::string stem = video.stem().string();
    for (auto& [id, s] : sources) {
        if (s.key.empty() && (s.fileName == fileName || (s.fileName.empty() && s.name == stem))) {
            return &s;
        }
    }
    return nullptr;
}
