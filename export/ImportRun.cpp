// tagwright-import: boxes of a COCO, YOLO or MOT dataset back into the label folders of their
// videos, mapped with the export's table read backwards.
//
// Reading: every video the dataset holds becomes a Source (its recorded path and name, its crop,
// its boxes by video frame). Each VIDEO on the command line is matched to one Source, its boxes
// become records (crop offset undone, class and SKIP mapped back, track ids made label numbers),
// and the records are written as the editor's per-frame files.

#include "export/ImportRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <limits>
#include <map>
#include <set>
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
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"
#include "video/FrameDecoder.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

constexpr const char* kProgram = "tagwright-import";
constexpr int kSkipLabel = 30;
constexpr int kLastTrackLabel = 29;
constexpr int kNoId = -1;

struct ImportOptions {
    ExportFormat format = ExportFormat::kCoco;
    fs::path in;
    std::vector<fs::path> videos;
    fs::path root;
    bool haveMinScore = false;
    double minScore = 0.0;
    bool force = false;
};

// A box as the dataset has it: image pixels, and what the format says about it.
struct InBox {
    CRect rect;
    int id = kNoId;     // track id, label number or instance id
    int nClass = -1;    // the stored class when the dataset kept it
    bool skip = false;  // an ignore region (iscrowd, MOT flag 0)
    bool removed = false;
    double score = std::numeric_limits<double>::quiet_NaN();
};

// One video as the dataset holds it.
struct Source {
    std::string key;       // recorded path (relative to the export's --root), may be empty
    std::string name;      // the dataset's name for it
    std::string fileName;  // the video's file name, when recorded
    bool haveCrop = false;
    CRect crop;  // frame pixels
    // Image size per frame when the dataset says it (YOLO needs it to undo the normalising).
    std::map<int, std::pair<int, int>> sizes;
    std::map<int, std::vector<InBox>> frames;  // video frame -> boxes
};

const char* Usage() {
    return "usage: tagwright-import --format coco|yolo|mot [options] IN VIDEO...\n"
           "\n"
           "Writes the boxes that the dataset IN holds for each VIDEO into the video's label\n"
           "folder (the video path without its last four characters), one file per frame as\n"
           "the editor writes them: an earlier export, another tool's labels or a detector's\n"
           "output to correct in the editor.\n"
           "\n"
           "  -f, --format coco|yolo|mot  the format of IN (required); IN is the dataset folder\n"
           "                              (coco: or one annotation .json file)\n"
           "      --root DIR              videos are known by their path relative to DIR, as\n"
           "                              tagwright-export --root recorded them\n"
           "      --min-score S           only boxes scored S or more (a detector's \"score\",\n"
           "                              YOLO's sixth column, MOT's seventh); unscored boxes "
           "stay\n"
           "      --force                 replace label files the folder already holds (one at a\n"
           "                              time, atomically; each one is named)\n"
           "  -h, --help                  this text\n"
           "\n"
           "Track ids 1 to 30 stay label numbers; when any id lies outside, ids in the order\n"
           "they first appear take the lowest number 1 to 29 that no overlapping track holds.\n"
           "Exit status: 0 all imported, 1 some video not imported, 2 bad command line.\n";
}

ParseOutcome ParseImportOptions(const std::vector<std::string>& args, ImportOptions& o,
                                std::string& error) {
    bool haveFormat = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1,
                              args.end());
            break;
        }
        std::string value;
        bool inlineValue = false;
        const size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            inlineValue = true;
        }
        const bool takesValue =
            arg == "-f" || arg == "--format" || arg == "--root" || arg == "--min-score";
        if (inlineValue && !takesValue) {
            error = "option " + arg + " takes no value";
            return ParseOutcome::kUsageError;
        }
        if (takesValue && !inlineValue) {
            if (i + 1 >= args.size()) {
                error = arg + " needs a value";
                return ParseOutcome::kUsageError;
            }
            value = args[++i];
        }
        if (arg == "-h" || arg == "--help") {
            return ParseOutcome::kHelp;
        } else if (arg == "-f" || arg == "--format") {
            if (value == "coco") {
                o.format = ExportFormat::kCoco;
            } else if (value == "yolo") {
                o.format = ExportFormat::kYolo;
            } else if (value == "mot") {
                o.format = ExportFormat::kMot;
            } else {
                error = "unknown format '" + value + "' (coco, yolo or mot)";
                return ParseOutcome::kUsageError;
            }
            haveFormat = true;
        } else if (arg == "--root") {
            o.root = value;
        } else if (arg == "--min-score") {
            char* end = nullptr;
            errno = 0;
            o.minScore = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(o.minScore)) {
                error = "--min-score takes a number, not '" + value + "'";
                return ParseOutcome::kUsageError;
            }
            o.haveMinScore = true;
        } else if (arg == "--force") {
            o.force = true;
        } else {
            error = "unknown option " + arg;
            return ParseOutcome::kUsageError;
        }
    }
    if (!haveFormat) {
        error = "no --format given";
        return ParseOutcome::kUsageError;
    }
    if (positional.size() < 2) {
        error = positional.empty() ? "no dataset given (IN)" : "no video given";
        return ParseOutcome::kUsageError;
    }
    o.in = positional.front();
    o.videos.assign(positional.begin() + 1, positional.end());
    return ParseOutcome::kRun;
}

// Pixels far beyond any frame (or not a number at all) are a damaged file's; held within a range
// where shifting by the crop cannot overflow.
constexpr double kFarPixel = 1 << 28;

int Round(double v) {
    if (std::isnan(v)) {
        return 0;
    }
    return static_cast<int>(std::clamp(std::round(v), -kFarPixel, kFarPixel));
}

// A YOLO coordinate (millionths of the image size) in pixels of an image `size` wide or high.
int Denormalise(int millionths, int size) {
    return Round(static_cast<double>(millionths) * size / 1e6);
}

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
    return it != object.end() && it->is_number() ? Round(it->get<double>()) : fallback;
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
            ref.dx = Round((*crop)[0].get<double>());
            ref.dy = Round((*crop)[1].get<double>());
            s.haveCrop = true;
            s.crop = {ref.dx, ref.dy, ref.dx + Round((*crop)[2].get<double>()),
                      ref.dy + Round((*crop)[3].get<double>())};
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
        box.rect = {Round(x), Round(y), Round(x + b[2].get<double>()),
                    Round(y + b[3].get<double>())};
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
                box.rect = {Round((cx - w / 2) * 1e6), Round((cy - h / 2) * 1e6),
                            Round((cx + w / 2) * 1e6), Round((cy + h / 2) * 1e6)};
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
                first = Round(first);
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
        box.rect = {Round(l) - 1, Round(t) - 1, Round(l + w) - 1, Round(t + h) - 1};
        box.id = id >= 0 ? Round(id) : kNoId;
        if (scores) {
            box.score = flag;  // a tracker's or detector's confidence
        } else {
            box.skip = flag == 0;
        }
        s.frames[Round(f) - 1 + first].push_back(box);
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

// --- matching a VIDEO to a source ---

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

// --- boxes to records ---

struct Tally {
    long long boxes = 0;
    long long belowScore = 0;
    long long noArea = 0;
    long long noLabel = 0;    // more tracks at once than label numbers
    long long duplicate = 0;  // a second box of one label on one frame
};

// Track ids to label numbers. Ids 1..30 are label numbers already (our own exports); when any id
// lies outside, ids in the order they first appear (then by id) take the lowest number 1..29
// that no track overlapping their frames holds; an id that finds none is not imported.
std::map<int, int> LabelsOfIds(const std::map<int, std::vector<InBox>>& frames) {
    std::map<int, std::pair<int, int>> span;  // id -> first and last frame
    bool allLabels = true;
    for (const auto& [frame, boxes] : frames) {
        for (const InBox& b : boxes) {
            if (b.id == kNoId) {
                continue;
            }
            auto [it, fresh] = span.emplace(b.id, std::make_pair(frame, frame));
            if (!fresh) {
                it->second.second = frame;
            }
            allLabels = allLabels && b.id >= 1 && b.id <= kSkipLabel;
        }
    }
    std::map<int, int> labels;
    if (allLabels) {
        for (const auto& [id, s] : span) {
            labels[id] = id;
        }
        return labels;
    }
    std::vector<std::pair<std::pair<int, int>, int>> order;  // ((first, id), id)
    for (const auto& [id, s] : span) {
        order.push_back({{s.first, id}, id});
    }
    std::sort(order.begin(), order.end());
    std::map<int, int> until;  // label -> last frame of the track holding it
    for (const auto& [firstAndId, id] : order) {
        const auto [first, last] = span[id];
        for (int label = 1; label <= kLastTrackLabel; ++label) {
            const auto held = until.find(label);
            if (held == until.end() || held->second < first) {
                until[label] = last;
                labels[id] = label;
                break;
            }
        }
    }
    return labels;
}

std::map<int, std::vector<ROI>> ToRecords(const ImportOptions& o, Source& s, int frameWidth,
                                          int frameHeight, Tally& tally) {
    const std::map<int, int> labelOfId = LabelsOfIds(s.frames);
    std::map<int, std::vector<ROI>> out;
    for (auto& [frame, boxes] : s.frames) {
        if (frame < 0) {
            continue;  // before the video's start: a damaged frame number
        }
        std::map<int, ROI> byLabel;
        std::vector<const InBox*> unnumbered;
        const auto addRecord = [&](const InBox& b, int label) {
            CRect rect = b.rect;
            if (o.format == ExportFormat::kYolo) {
                // Normalised to the image: its size from the record, else the (cropped) frame.
                const auto size = s.sizes.find(frame);
                const int w = size != s.sizes.end() ? size->second.first
                              : s.haveCrop          ? s.crop.Width()
                                                    : frameWidth;
                const int h = size != s.sizes.end() ? size->second.second
                              : s.haveCrop          ? s.crop.Height()
                                                    : frameHeight;
                rect = {Denormalise(rect.left, w), Denormalise(rect.top, h),
                        Denormalise(rect.right, w), Denormalise(rect.bottom, h)};
            }
            if (s.haveCrop) {
                rect = rect.Offset(s.crop.left, s.crop.top);
            }
            if (rect.Width() <= 0 || rect.Height() <= 0) {
                ++tally.noArea;
                return;
            }
            ROI roi;
            roi.nFrame = frame;
            roi.nLabel = label;
            roi.rect = rect;
            roi.nClass = b.nClass >= 0 && b.nClass <= 2 ? b.nClass : b.skip ? 1 : b.removed ? 2 : 0;
            if (!byLabel.emplace(label, roi).second) {
                ++tally.duplicate;
                return;
            }
            ++tally.boxes;
        };
        for (const InBox& b : boxes) {
            if (o.haveMinScore && !std::isnan(b.score) && b.score < o.minScore) {
                ++tally.belowScore;
                continue;
            }
            if (b.id == kNoId) {
                unnumbered.push_back(&b);
                continue;
            }
            const auto label = labelOfId.find(b.id);
            if (label == labelOfId.end()) {
                ++tally.noLabel;
                continue;
            }
            addRecord(b, label->second);
        }
        // Boxes without a track (a detector's): an ignore region is SKIP; the others take the
        // free numbers of their frame, best score first.
        std::stable_sort(unnumbered.begin(), unnumbered.end(), [](const InBox* a, const InBox* b) {
            return (std::isnan(a->score) ? 0 : a->score) > (std::isnan(b->score) ? 0 : b->score);
        });
        for (const InBox* b : unnumbered) {
            int label = b->skip ? kSkipLabel : 0;
            for (int l = 1; label == 0 && l <= kLastTrackLabel; ++l) {
                label = byLabel.count(l) == 0 ? l : 0;
            }
            if (label == 0) {
                ++tally.noLabel;
                continue;
            }
            addRecord(*b, label);
        }
        for (auto& [label, roi] : byLabel) {
            out[frame].push_back(roi);
        }
    }
    return out;
}

// --- writing the label folder ---

// Replaces one file of a label folder atomically, through the folder's hidden temporary folder
// that the editor's loader never reads.
bool ReplaceLabelFile(const fs::path& folder, const std::string& name, const std::string& content,
                      std::string& error) {
    const fs::path tmpDir = folder / kTempFolderName;
    std::error_code ec;
    if (fs::symlink_status(tmpDir, ec).type() == fs::file_type::not_found) {
        fs::create_directory(tmpDir, ec);
    }
    if (fs::symlink_status(tmpDir, ec).type() != fs::file_type::directory) {
        error = PathError(tmpDir, "cannot be made as a folder");
        return false;
    }
    const fs::path tmp = tmpDir / (name + ".import");
    if (!WriteFileAtomically(tmp, content, error)) {
        return false;
    }
    fs::rename(tmp, folder / name, ec);
    if (ec) {
        error = PathError(folder / name, ec.message());
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

// Every write of the import goes through here, one label folder at a time: this is where the
// folder's writer lock is to be held, so the editor never sees a half-imported folder change
// under it. Nothing is written when the folder holds a different file of the same name and
// --force is not given.
bool WriteLabelFolder(const fs::path& folder, const std::map<std::string, std::string>& files,
                      bool force, std::ostream& err, int& written, std::string& error) {
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() == fs::file_type::not_found) {
        if (!fs::create_directory(folder, ec) || ec) {
            error = PathError(folder, "the label folder cannot be made: " + ec.message());
            return false;
        }
    } else if (!fs::is_directory(folder, ec)) {
        error = PathError(folder, "the label folder is not a folder");
        return false;
    }
    std::vector<std::string> differing;
    std::map<std::string, std::string> old;
    for (const auto& [name, content] : files) {
        std::string existing;
        if (fs::exists(folder / name, ec) && ReadWholeFile(folder / name, existing) &&
            existing != content) {
            differing.push_back(name);
            old[name] = existing;
        }
    }
    if (!differing.empty() && !force) {
        std::string names;
        for (size_t i = 0; i < differing.size() && i < 5; ++i) {
            names += (i == 0 ? "" : ", ") + differing[i];
        }
        error = PathError(folder, "already holds " + std::to_string(differing.size()) +
                                      " of the files to import, with other content (" + names +
                                      (differing.size() > 5 ? ", ..." : "") +
                                      "): nothing written; --force replaces them");
        return false;
    }
    written = 0;
    for (const auto& [name, content] : files) {
        std::string existing;
        if (ReadWholeFile(folder / name, existing) && existing == content) {
            continue;  // already so
        }
        if (!ReplaceLabelFile(folder, name, content, error)) {
            return false;
        }
        ++written;
        const auto was = old.find(name);
        if (was != old.end()) {
            const auto lines = [](const std::string& t) {
                return std::count(t.begin(), t.end(), '\n');
            };
            err << kProgram << ": replaced " << (folder / name).string() << " ("
                << lines(was->second) << " line(s), now " << lines(content) << ")\n";
        }
    }
    std::error_code ignored;
    fs::remove(folder / kTempFolderName, ignored);  // only when empty
    return true;
}

}  // namespace

int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ImportOptions o;
    std::string error;
    switch (ParseImportOptions(args, o, error)) {
        case ParseOutcome::kHelp:
            out << Usage();
            return 0;
        case ParseOutcome::kUsageError:
            err << kProgram << ": " << error << "\n" << Usage();
            return 2;
        case ParseOutcome::kRun:
            break;
    }

    std::map<std::string, Source> sources;
    bool read = false;
    switch (o.format) {
        case ExportFormat::kCoco:
            read = ReadCoco(o.in, sources, error);
            break;
        case ExportFormat::kYolo:
            read = ReadYolo(o.in, sources, error);
            break;
        case ExportFormat::kMot:
            read = ReadMot(o.in, o.haveMinScore, sources, error);
            break;
    }
    if (!read) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }
    if (o.format != ExportFormat::kCoco) {
        for (const VideoExport& record : ReadVideoRecords(o.in)) {
            const auto s = sources.find(record.stem);
            if (s != sources.end()) {
                ApplyRecord(record, o.format, s->second);
            }
        }
    }

    bool ok = true;
    std::set<std::string> done;
    for (const fs::path& video : o.videos) {
        std::string key;
        if (!DatasetKey(video, o.root, key)) {
            err << kProgram << ": " << PathError(video, "lies outside --root") << "\n";
            ok = false;
            continue;
        }
        if (!done.insert(key).second) {
            continue;  // named twice
        }
        Source* s = FindSource(sources, video, key);
        if (s == nullptr) {
            err << kProgram << ": " << PathError(video, "nothing in " + o.in.string() + " for it")
                << "\n";
            ok = false;
            continue;
        }
        const fs::path folder = CLabelManager::LabelFolderOf(video);
        if (folder.empty()) {
            err << kProgram << ": "
                << PathError(video, "the file name is too short to have a label folder") << "\n";
            ok = false;
            continue;
        }
        // The frame size, when YOLO's normalised boxes need it and the dataset does not say.
        int width = 0;
        int height = 0;
        if (o.format == ExportFormat::kYolo && s->sizes.empty() && !s->haveCrop) {
            CFrameDecoder decoder;
            if (!decoder.Open(video, 1, true)) {
                err << kProgram << ": "
                    << PathError(video,
                                 "cannot be opened as a video (YOLO boxes need its frame size)")
                    << "\n";
                ok = false;
                continue;
            }
            width = decoder.Width();
            height = decoder.Height();
        }
        Tally tally;
        const std::map<int, std::vector<ROI>> records = ToRecords(o, *s, width, height, tally);
        std::map<std::string, std::string> files;
        for (const auto& [frame, list] : records) {
            std::string& text = files[std::to_string(frame) + ".txt"];
            for (const ROI& roi : list) {
                AppendLabelLine(text, roi);
            }
        }
        if (s->haveCrop) {
            const CRect& c = s->crop;
            files[kCropFileName] = std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                                   std::to_string(c.right) + "," + std::to_string(c.bottom) +
                                   "\r\n";
        }
        int written = 0;
        if (!WriteLabelFolder(folder, files, o.force, err, written, error)) {
            err << kProgram << ": " << error << "\n";
            ok = false;
            continue;
        }
        err << kProgram << ": " << video.string() << ": " << tally.boxes << " boxes on "
            << records.size() << " frames, " << written << " file(s) written";
        if (tally.belowScore > 0) {
            err << ", " << tally.belowScore << " below --min-score";
        }
        if (tally.noArea > 0) {
            err << ", " << tally.noArea << " without area";
        }
        if (tally.noLabel > 0) {
            err << ", " << tally.noLabel << " not imported (more than 29 tracks at once)";
        }
        if (tally.duplicate > 0) {
            err << ", " << tally.duplicate << " not imported (a second box of one label)";
        }
        err << "\n";
    }
    return ok ? 0 : 1;
}
