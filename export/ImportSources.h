#pragma once

#include <filesystem>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "export/ExportOptions.h"
#include "labels/Geometry.h"

// Reading COCO, YOLO and MOT data for tagwright-import: every video the data holds becomes a
// Source, its boxes keyed by the video's own frame numbers, in image pixels.

inline constexpr int kNoId = -1;

// A box as the dataset has it: image pixels (YOLO: millionths of the image until its size is
// known), and what the format says about it.
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

// Reads IN. `scores`: MOT's seventh column is a score (--min-score given), not the flag.
// Where IN is our own export, the records add what the format does not carry (label numbers
// and classes, image sizes, the crop, the video's path).
bool ReadSources(ExportFormat format, const std::filesystem::path& in, bool scores,
                 std::map<std::string, Source>& sources, std::string& error);

// The source of a video: by the path the export recorded (its key), then by the dataset's name,
// then (another tool's data) by the file name or the stem the images are named after.
Source* FindSource(std::map<std::string, Source>& sources, const std::filesystem::path& video,
                   const std::string& key);

// A number read from a file as pixels: rounded, held within a range where shifting by a crop
// cannot overflow (damaged values), 0 for NaN.
int RoundPixel(double v);
// A YOLO coordinate (millionths of the image size) in pixels of an image `size` wide or high.
int Denormalise(int millionths, int size);
