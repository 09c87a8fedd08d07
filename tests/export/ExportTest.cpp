// tagwright-export through its command line: the frames, boxes and files of each format, on a
// generated clip whose frames carry their own index.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <nlohmann/json.hpp>

#include "export/ExportRun.h"
#include "export/VideoExport.h"
#include "support/TempDir.h"
#include "support/TreeSnapshot.h"
#include "video/SampleVideo.h"

namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 30;
// crop.txt as dragged up and to the left; the region is (4, 4)-(300, 200).
constexpr const char* kCropLine = "300,200,4,4\r\n";
const CRect kCrop{4, 4, 300, 200};

// One stored record and what every format must make of it, without and with --crop.
struct BoxRow {
    const char* what;
    int frame;
    int label;
    int nClass;
    CRect stored;
    bool keptPlain;
    CRect plain;
    bool keptCropped;
    CRect cropped;
};

const BoxRow kBoxes[] = {
    {"inside", 0, 1, 0, {10, 20, 110, 220}, true, {10, 20, 110, 220}, true, {6, 16, 106, 196}},
    {"SKIP label",
     0,
     30,
     0,
     {150, 100, 200, 140},
     true,
     {150, 100, 200, 140},
     true,
     {146, 96, 196, 136}},
    {"dragged up-left",
     3,
     2,
     0,
     {200, 150, 100, 50},
     true,
     {100, 50, 200, 150},
     true,
     {96, 46, 196, 146}},
    {"Removed, over the edge",
     3,
     3,
     2,
     {-20, -10, 30, 40},
     true,
     {0, 0, 30, 40},
     true,
     {0, 0, 26, 36}},
    {"zero width", 7, 4, 0, {50, 50, 50, 90}, false, {}, false, {}},
    {"outside the crop", 12, 5, 0, {302, 202, 320, 240}, true, {302, 202, 320, 240}, false, {}},
    {"beyond the frame", 12, 8, 0, {310, 230, 400, 300}, true, {310, 230, 320, 240}, false, {}},
    {"class Skip", 20, 6, 1, {40, 40, 80, 90}, true, {40, 40, 80, 90}, true, {36, 36, 76, 86}},
};
const std::set<int> kLabelledFrames{0, 3, 7, 12, 20};

bool IsSkip(const BoxRow& row) {
    return row.label == 30 || row.nClass == 1;
}

// A box as read back from an export: label (-1 where the format has none), ignore flag, pixels.
struct Found {
    int label;
    bool ignore;
    CRect rect;
};
using FoundBoxes = std::map<int, std::vector<Found>>;  // frame -> boxes

// Frame by frame, sorted: a mismatch shows as a readable difference.
std::string Describe(FoundBoxes boxes) {
    std::ostringstream s;
    for (auto& [frame, list] : boxes) {
        std::sort(list.begin(), list.end(), [](const Found& a, const Found& b) {
            return std::tie(a.label, a.rect.left, a.rect.top) <
                   std::tie(b.label, b.rect.left, b.rect.top);
        });
        s << "frame " << frame << ":";
        for (const Found& f : list) {
            s << " [" << f.label << (f.ignore ? " ignore " : " ") << f.rect.left << ","
              << f.rect.top << "," << f.rect.right << "," << f.rect.bottom << "]";
        }
        s << "\n";
    }
    return s.str();
}

// What an export holds: boxes and the image file of every exported frame.
struct Seen {
    FoundBoxes boxes;
    std::map<int, fs::path> images;
};

Seen ReadCoco(const fs::path& out, const std::string& file = "annotations.json") {
    Seen seen;
    cv::FileStorage json((out / file).string(), cv::FileStorage::READ);
    EXPECT_TRUE(json.isOpened());
    std::map<int, int> frameOfImage;
    for (const cv::FileNode& im : json["images"]) {
        const int frame = static_cast<int>(im["frame_number"]);
        EXPECT_TRUE(frameOfImage.emplace(static_cast<int>(im["id"]), frame).second);
        seen.images[frame] = out / "images" / static_cast<std::string>(im["file_name"]);
        seen.boxes[frame];
    }
    std::set<int> ids;
    for (const cv::FileNode& a : json["annotations"]) {
        EXPECT_TRUE(ids.insert(static_cast<int>(a["id"])).second);
        const int x = a["bbox"][0], y = a["bbox"][1], w = a["bbox"][2], h = a["bbox"][3];
        EXPECT_EQ(static_cast<int>(a["area"]), w * h);
        seen.boxes[frameOfImage.at(static_cast<int>(a["image_id"]))].push_back(
            {static_cast<int>(a["track_id"]),
             static_cast<int>(a["iscrowd"]) == 1,
             {x, y, x + w, y + h}});
    }
    return seen;
}

Seen ReadYolo(const fs::path& out) {
    Seen seen;
    for (const auto& entry : fs::directory_iterator(out / "images")) {
        const std::string stem = entry.path().stem().string();
        const int frame = std::stoi(stem.substr(stem.rfind('_') + 1));
        seen.images[frame] = entry.path();
        const cv::Mat image = cv::imread(entry.path().string());
        std::ifstream labels(out / "labels" / (stem + ".txt"));
        EXPECT_TRUE(labels.is_open()) << stem;
        auto& list = seen.boxes[frame];
        int cls;
        double cx, cy, w, h;
        while (labels >> cls >> cx >> cy >> w >> h) {
            EXPECT_EQ(cls, 0);
            const auto px = [](double v, int size) {
                return static_cast<int>(std::lround(v * size));
            };
            list.push_back({-1,
                            false,
                            {px(cx - w / 2, image.cols), px(cy - h / 2, image.rows),
                             px(cx + w / 2, image.cols), px(cy + h / 2, image.rows)}});
        }
    }
    return seen;
}

// The sequences seqmap.txt lists, after its header line.
std::vector<std::string> MotSequences(const fs::path& out, const std::string& seqmap) {
    std::istringstream lines(ReadFileBytes(out / seqmap));
    std::vector<std::string> names;
    std::string line;
    while (std::getline(lines, line)) {
        names.push_back(line);
    }
    EXPECT_FALSE(names.empty()) << seqmap;
    if (!names.empty()) {
        names.erase(names.begin());
    }
    return names;
}

Seen ReadMot(const fs::path& out, std::string seq = "") {
    Seen seen;
    if (seq.empty()) {
        const std::vector<std::string> all = MotSequences(out, "seqmap.txt");
        EXPECT_EQ(all.size(), 1u);
        seq = all.empty() ? "none" : all.front();
    }
    const std::string source = ReadFileBytes(out / seq / "source.txt");
    const size_t at = source.find("first_frame=");
    EXPECT_NE(at, std::string::npos);
    const int first = std::stoi(source.substr(at + 12));
    for (const auto& entry : fs::directory_iterator(out / seq / "img1")) {
        const int frame = std::stoi(entry.path().stem().string()) - 1 + first;
        seen.images[frame] = entry.path();
        seen.boxes[frame];
    }
    const std::string seqinfo = ReadFileBytes(out / seq / "seqinfo.ini");
    EXPECT_NE(seqinfo.find("seqLength=" + std::to_string(seen.images.size()) + "\n"),
              std::string::npos)
        << seqinfo;
    std::ifstream gt(out / seq / "gt" / "gt.txt");
    std::string line;
    while (std::getline(gt, line)) {
        int f, id, l, t, w, h, flag, cls;
        float vis;
        if (std::sscanf(line.c_str(), "%d,%d,%d,%d,%d,%d,%d,%d,%f", &f, &id, &l, &t, &w, &h, &flag,
                        &cls, &vis) != 9) {
            ADD_FAILURE() << "not a gt row: " << line;
            continue;
        }
        EXPECT_EQ(cls, flag == 1 ? 1 : 8) << line;
        // Left and top are 1-based in the format's own description.
        seen.boxes[f - 1 + first].push_back({id, flag == 0, {l - 1, t - 1, l - 1 + w, t - 1 + h}});
    }
    return seen;
}

int Export(const std::vector<std::string>& args, std::string* err = nullptr,
           bool terminal = false) {
    std::ostringstream out;
    std::ostringstream errText;
    const int status = RunExport(args, out, errText, terminal);
    if (err != nullptr) {
        *err = errText.str();
    }
    return status;
}

// The clip, its label folder and crop file, made once for the whole suite.
class ExportTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        s_dir = new TempDir;
        SampleVideoOptions o;
        o.width = kWidth;
        o.height = kHeight;
        o.frames = kFrames;
        fs::create_directories(Videos());
        ASSERT_TRUE(WriteSampleVideo(Clip(), o));
        WriteLabels(LabelFolderOf(Clip()), true);
    }
    static void TearDownTestSuite() {
        delete s_dir;
        s_dir = nullptr;
    }

    static fs::path Videos() { return s_dir->Path() / "videos"; }
    static fs::path Clip() { return Videos() / "clip.avi"; }
    static fs::path LabelFolderOf(const fs::path& video) {
        return video.parent_path() / video.stem();
    }

    // The box table as label files, in the forms the editor reads: a five-column file (frame
    // 7), and a record with label 0 that only a damaged file holds (frame 3).
    static void WriteLabels(const fs::path& folder, bool crop) {
        fs::create_directories(folder);
        std::map<int, std::string> files;
        for (const BoxRow& row : kBoxes) {
            const CRect& r = row.stored;
            files[row.frame] += std::to_string(r.left) + "," + std::to_string(r.top) + "," +
                                std::to_string(r.right) + "," + std::to_string(r.bottom) + "," +
                                std::to_string(row.label) +
                                (row.frame == 7 ? "" : "," + std::to_string(row.nClass)) + "\r\n";
        }
        files[3] += "1,1,5,5,0,0\r\n";
        for (const auto& [frame, text] : files) {
            WriteFileBytes(folder / (std::to_string(frame) + ".txt"), text);
        }
        if (crop) {
            WriteFileBytes(folder / "crop.txt", kCropLine);
        }
    }

    // The boxes every format must show, frame by frame, before a format leaves anything out.
    static FoundBoxes Expected(bool crop) {
        FoundBoxes boxes;
        for (const int f : kLabelledFrames) {
            boxes[f];
        }
        for (const BoxRow& row : kBoxes) {
            if (crop ? row.keptCropped : row.keptPlain) {
                boxes[row.frame].push_back(
                    {row.label, IsSkip(row), crop ? row.cropped : row.plain});
            }
        }
        return boxes;
    }

    static TempDir* s_dir;
    TempDir m_out;
};
TempDir* ExportTest::s_dir = nullptr;

// Every image shows the frame it is named for: the stamp in its top-left corner, which a
// cropped image carries at the crop's offset.
void ExpectImagesShowTheirFrames(const Seen& seen, bool crop) {
    for (const auto& [frame, path] : seen.images) {
        const cv::Mat image = cv::imread(path.string());
        ASSERT_FALSE(image.empty()) << path;
        const CRect region = crop ? kCrop : CRect{0, 0, kWidth, kHeight};
        ASSERT_EQ(image.cols, region.Width()) << path;
        ASSERT_EQ(image.rows, region.Height()) << path;
        cv::Mat canvas(kHeight, kWidth, CV_8UC3, cv::Scalar(128, 128, 128));
        image.copyTo(canvas(cv::Rect(region.left, region.top, image.cols, image.rows)));
        EXPECT_EQ(ReadStampedIndex(canvas), frame) << path;
    }
}

struct FormatRow {
    const char* format;
    bool crop;
    const char* image;
};

void PrintTo(const FormatRow& row, std::ostream* os) {
    *os << row.format << (row.crop ? " --crop" : "") << " --image " << row.image;
}

class ExportFormatTest : public ExportTest, public ::testing::WithParamInterface<FormatRow> {};

TEST_P(ExportFormatTest, ImagesShowTheirFramesAndBoxesMatchTheLabelFiles) {
    const FormatRow& p = GetParam();
    const TreeSnapshot before = SnapshotTree(Videos());
    std::vector<std::string> args{"--format", p.format, "-o",           m_out.Path().string(),
                                  "--image",  p.image,  Clip().string()};
    if (p.crop) {
        args.push_back("--crop");
    }
    std::string err;
    ASSERT_EQ(Export(args, &err), 0) << err;
    // Nothing beside the video changes: no log line, no temporary, no file rewritten.
    EXPECT_EQ(SnapshotTree(Videos()), before);

    const std::string format = p.format;
    FoundBoxes expected = Expected(p.crop);
    Seen seen;
    if (format == "coco") {
        seen = ReadCoco(m_out.Path());
    } else if (format == "yolo") {
        seen = ReadYolo(m_out.Path());
        // No ignore regions in YOLO: frames holding one are left out, labels are not carried.
        for (auto it = expected.begin(); it != expected.end();) {
            const bool skip = std::any_of(it->second.begin(), it->second.end(),
                                          [](const Found& f) { return f.ignore; });
            for (Found& f : it->second) {
                f.label = -1;
            }
            it = skip ? expected.erase(it) : std::next(it);
        }
    } else {
        seen = ReadMot(m_out.Path());
        // A sequence holds every frame from the first labelled one to the last.
        for (int f = *kLabelledFrames.begin(); f <= *kLabelledFrames.rbegin(); ++f) {
            expected[f];
        }
    }
    EXPECT_EQ(Describe(seen.boxes), Describe(expected));
    ASSERT_EQ(seen.images.size(), expected.size());
    ExpectImagesShowTheirFrames(seen, p.crop);
}

INSTANTIATE_TEST_SUITE_P(
    Formats, ExportFormatTest,
    ::testing::Values(FormatRow{"coco", false, "png"}, FormatRow{"coco", true, "jpg"},
                      FormatRow{"yolo", false, "jpg"}, FormatRow{"yolo", true, "png"},
                      FormatRow{"mot", false, "png"}, FormatRow{"mot", true, "jpg"}),
    [](const ::testing::TestParamInfo<FormatRow>& info) {
        return std::string(info.param.format) + (info.param.crop ? "Cropped" : "Whole") +
               info.param.image;
    });

TEST_F(ExportTest, NegativesComeWithEveryFrameOrEveryNth) {
    struct Row {
        const char* format;
        const char* option;
        const char* value;
        std::set<int> frames;
    };
    std::set<int> all;
    for (int f = 0; f < kFrames; ++f) {
        all.insert(f);
    }
    std::set<int> allButSkip = all;
    allButSkip.erase(0);
    allButSkip.erase(20);
    const Row rows[] = {
        {"coco", "--every", "10", {0, 3, 7, 10, 12, 20}},
        {"yolo", "--frames", "all", allButSkip},
        {"mot", "--frames", "all", all},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.format) + " " + row.option);
        TempDir out;
        std::string err;
        ASSERT_EQ(Export({"-f", row.format, "-o", out.Path().string(), "--image", "png", row.option,
                          row.value, Clip().string()},
                         &err),
                  0)
            << err;
        const std::string format = row.format;
        const Seen seen = format == "coco"   ? ReadCoco(out.Path())
                          : format == "yolo" ? ReadYolo(out.Path())
                                             : ReadMot(out.Path());
        std::set<int> frames;
        for (const auto& [frame, path] : seen.images) {
            frames.insert(frame);
            // A negative has no box (YOLO: an empty label file, read above).
            if (kLabelledFrames.count(frame) == 0) {
                EXPECT_TRUE(seen.boxes.at(frame).empty()) << frame;
            }
        }
        EXPECT_EQ(frames, row.frames);
        ExpectImagesShowTheirFrames(seen, false);
    }
}

TEST_F(ExportTest, ForceReplacesTheFramesOfAnEarlierExport) {
    // Every frame first, then the labelled ones only: no frame of the first run may remain,
    // or training would see unlabelled polyps as negatives (and MOT's img1 would not match
    // seqLength, which ReadMot checks).
    for (const char* format : {"yolo", "mot"}) {
        SCOPED_TRACE(format);
        TempDir out;
        const fs::path keep = out.Path() / "notes.txt";
        WriteFileBytes(keep, "mine");
        std::string err;
        ASSERT_EQ(Export({"-f", format, "-o", out.Path().string(), "--frames", "all", "--force",
                          Clip().string()},
                         &err),
                  0)
            << err;
        ASSERT_EQ(
            Export({"-f", format, "-o", out.Path().string(), "--force", Clip().string()}, &err), 0)
            << err;
        const bool yolo = std::string(format) == "yolo";
        const Seen seen = yolo ? ReadYolo(out.Path()) : ReadMot(out.Path());
        EXPECT_EQ(seen.images.size(), yolo ? 3u : 21u);
        EXPECT_EQ(ReadFileBytes(keep), "mine");
        if (yolo) {
            EXPECT_EQ(ListFolderNames(out.Path() / "labels").size(), 3u);
        }
    }
}

TEST_F(ExportTest, LeftOutClassesAreNotExported) {
    TempDir out;
    std::string err;
    ASSERT_EQ(Export({"-f", "coco", "-o", out.Path().string(), "--leave-out", "skip,removed",
                      Clip().string()},
                     &err),
              0)
        << err;
    FoundBoxes expected;
    for (const BoxRow& row : kBoxes) {
        if (!IsSkip(row) && row.nClass != 2) {
            auto& list = expected[row.frame];
            if (row.keptPlain) {
                list.push_back({row.label, false, row.plain});
            }
        }
    }
    // Frame 20 held only a Skip box: it is no longer a labelled frame.
    EXPECT_EQ(Describe(ReadCoco(out.Path()).boxes), Describe(expected));
    EXPECT_NE(err.find("3 left out"), std::string::npos) << err;
}

// The image names of a COCO export, and that every image it lists exists.
std::set<std::string> ListedImages(const fs::path& out, const std::string& file) {
    const nlohmann::json j = nlohmann::json::parse(ReadFileBytes(out / file));
    std::set<std::string> names;
    for (const auto& im : j["images"]) {
        names.insert(im["file_name"].get<std::string>());
        EXPECT_TRUE(fs::exists(out / "images" / im["file_name"].get<std::string>()))
            << im["file_name"];
    }
    return names;
}

TEST_F(ExportTest, NamesDependOnTheVideoAloneAndForceTouchesOnlyTheNamedOnes) {
    // A second video of the same name in another folder.
    const fs::path other = s_dir->Path() / "more" / "clip.avi";
    fs::create_directories(other.parent_path());
    fs::copy_file(Clip(), other, fs::copy_options::overwrite_existing);
    WriteLabels(LabelFolderOf(other), false);
    const std::string root = s_dir->Path().string();

    std::string err;
    ASSERT_EQ(Export({"-f", "coco", "-o", m_out.Path().string(), "--jobs", "2", "--root", root,
                      Clip().string(), other.string()},
                     &err),
              0)
        << err;
    const std::set<std::string> both = ListedImages(m_out.Path(), "annotations.json");
    EXPECT_EQ(both.size(), 2 * kLabelledFrames.size());
    const nlohmann::json j =
        nlohmann::json::parse(ReadFileBytes(m_out.Path() / "annotations.json"));
    std::set<int> ids;
    for (const auto& a : j["annotations"]) {
        EXPECT_TRUE(ids.insert(a["id"].get<int>()).second);
    }
    EXPECT_EQ(ids.size(), 14u);  // 7 boxes with area, per video
    std::set<std::string> paths;
    for (const auto& v : j["videos"]) {
        paths.insert(v["path"].get<std::string>());
    }
    EXPECT_EQ(paths, (std::set<std::string>{"videos/clip.avi", "more/clip.avi"}));
    // Without a terminal: one line per video, then the summary.
    EXPECT_NE(err.find("clip.avi: 5 images, 7 boxes, 1 dropped"), std::string::npos) << err;
    EXPECT_NE(err.find("2 of 2 videos exported, 0 failed; 10 images, 14 boxes, 2 dropped"),
              std::string::npos)
        << err;

    // The other order, or one video alone: the same names.
    TempDir reversed;
    ASSERT_EQ(Export({"-f", "coco", "-o", reversed.Path().string(), "--root", root, other.string(),
                      Clip().string()},
                     &err),
              0)
        << err;
    EXPECT_EQ(ListedImages(reversed.Path(), "annotations.json"), both);
    // Re-exporting one of them leaves the other's files and keeps it listed.
    ASSERT_EQ(Export({"-f", "coco", "-o", m_out.Path().string(), "--force", "--root", root,
                      other.string()},
                     &err),
              0)
        << err;
    EXPECT_EQ(ListedImages(m_out.Path(), "annotations.json"), both);
    EXPECT_EQ(ListFolderNames(m_out.Path() / "images").size(), both.size());
}

TEST_F(ExportTest, NamesThatAreNotUtf8StayValidJsonWithTheirBytes) {
    // A Latin-1 file name, as copied from a hospital share.
    const std::string latin1 = "caf\xe9";
    const fs::path video = Videos() / (latin1 + ".avi");
    fs::copy_file(Clip(), video, fs::copy_options::overwrite_existing);
    WriteLabels(Videos() / latin1, false);
    std::string err;
    ASSERT_EQ(Export({"-f", "coco", "-o", m_out.Path().string(), video.string()}, &err), 0) << err;
    const nlohmann::json j =
        nlohmann::json::parse(ReadFileBytes(m_out.Path() / "annotations.json"), nullptr, false);
    ASSERT_FALSE(j.is_discarded());
    ASSERT_EQ(j["videos"].size(), 1u);
    std::string bytes;
    for (size_t i = 0; i + 1 < j["videos"][0]["file_name_hex"].get<std::string>().size(); i += 2) {
        bytes += static_cast<char>(std::stoi(
            j["videos"][0]["file_name_hex"].get<std::string>().substr(i, 2), nullptr, 16));
    }
    EXPECT_EQ(bytes, latin1 + ".avi");
    // The image files are named in valid UTF-8, the byte spelled out.
    EXPECT_EQ(ListedImages(m_out.Path(), "annotations.json").begin()->rfind("caf%E9-", 0), 0u);
    fs::remove_all(Videos() / latin1);
    fs::remove(video);
}

TEST_F(ExportTest, SplitsTakeWholeFoldersAndAreTheSameForASeed) {
    // Three videos in two folders (patients): each folder goes to one split.
    std::vector<std::string> videos;
    for (const char* name : {"p1/a.avi", "p1/b.avi", "p2/a.avi"}) {
        const fs::path v = m_out.Path() / "in" / name;
        fs::create_directories(v.parent_path());
        fs::copy_file(Clip(), v);
        WriteLabels(LabelFolderOf(v), false);
        videos.push_back(v.string());
    }
    const std::string root = (m_out.Path() / "in").string();
    const auto run = [&](const std::string& format, const fs::path& out, const char* seed) {
        std::vector<std::string> args{"-f",     format, "-o",         out.string(),
                                      "--root", root,   "--split",    "train=0.5,val=0.5",
                                      "--seed", seed,   "--group-by", "folder"};
        args.insert(args.end(), videos.begin(), videos.end());
        std::string err;
        EXPECT_EQ(Export(args, &err), 0) << err;
        return err;
    };
    // Seed 0 puts the two folders into different splits (the line of counts says which).
    const fs::path coco = m_out.Path() / "coco";
    const std::string err = run("coco", coco, "0");
    std::map<std::string, std::set<std::string>> folders;  // split -> folders of its videos
    for (const char* split : {"train", "val"}) {
        const nlohmann::json j = nlohmann::json::parse(
            ReadFileBytes(coco / "annotations" / ("instances_" + std::string(split) + ".json")));
        for (const auto& v : j["videos"]) {
            folders[split].insert(v["path"].get<std::string>().substr(0, 2));
        }
        ListedImages(coco, "annotations/instances_" + std::string(split) + ".json");
    }
    ASSERT_EQ(folders["train"].size(), 1u) << err;
    ASSERT_EQ(folders["val"].size(), 1u) << err;
    EXPECT_NE(*folders["train"].begin(), *folders["val"].begin());
    EXPECT_FALSE(fs::exists(coco / "annotations.json"));

    // YOLO and MOT make the same choice; YOLO's data.yaml names the split folders.
    const std::string train = *folders["train"].begin();
    const fs::path yolo = m_out.Path() / "yolo";
    run("yolo", yolo, "0");
    const std::string yaml = ReadFileBytes(yolo / "data.yaml");
    EXPECT_NE(yaml.find("train: images/train\nval: images/val\n"), std::string::npos) << yaml;
    EXPECT_EQ(ListFolderNames(yolo / "images" / "train").size(),
              (train == "p1" ? 6u : 3u));  // 3 frames without a skip box per video
    const fs::path mot = m_out.Path() / "mot";
    run("mot", mot, "0");
    EXPECT_EQ(MotSequences(mot, "seqmaps/train.txt").size(), train == "p1" ? 2u : 1u);
    EXPECT_EQ(MotSequences(mot, "seqmaps/val.txt").size(), train == "p1" ? 1u : 2u);
    EXPECT_EQ(MotSequences(mot, "seqmap.txt").size(), 3u);
}

struct InterruptRow {
    const char* format;
    long long afterFrames;  // frames read in the re-export before the stop
};

void PrintTo(const InterruptRow& row, std::ostream* os) {
    *os << row.format << " stopped after " << row.afterFrames << " frames";
}

class ExportInterruptTest : public ExportTest,
                            public ::testing::WithParamInterface<InterruptRow> {};

// Whatever OUT holds after a stop, no file that lists images names one that is missing, and
// either the whole earlier listing is there or OUT says it is incomplete.
void ExpectNoListedImageMissing(const fs::path& out, const std::string& format) {
    for (const auto& entry : fs::recursive_directory_iterator(out)) {
        EXPECT_NE(entry.path().extension(), ".part") << entry.path();
    }
    const bool incomplete = fs::exists(out / "EXPORT_INCOMPLETE.txt");
    if (format == "coco") {
        EXPECT_NE(fs::exists(out / "annotations.json"), incomplete);
        if (!incomplete) {
            ListedImages(out, "annotations.json");
        }
    } else if (format == "yolo") {
        EXPECT_NE(fs::exists(out / "data.yaml"), incomplete);
        for (const auto& label : fs::directory_iterator(out / "labels")) {
            const std::string stem = label.path().stem().string();
            EXPECT_TRUE(fs::exists(out / "images" / (stem + ".jpg"))) << stem;
        }
    } else {
        EXPECT_NE(fs::exists(out / "seqmap.txt"), incomplete);
        for (const auto& seq : fs::directory_iterator(out)) {
            if (!fs::exists(seq.path() / "seqinfo.ini")) {
                continue;
            }
            const std::string ini = ReadFileBytes(seq.path() / "seqinfo.ini");
            const size_t images = ListFolderNames(seq.path() / "img1").size();
            EXPECT_NE(ini.find("seqLength=" + std::to_string(images) + "\n"), std::string::npos)
                << seq.path() << "\n"
                << ini;
        }
    }
}

TEST_P(ExportInterruptTest, AStoppedReExportNeverListsAMissingImage) {
    const InterruptRow& p = GetParam();
    const fs::path other = m_out.Path() / "second" / "clip.avi";
    fs::create_directories(other.parent_path());
    fs::copy_file(Clip(), other);
    WriteLabels(LabelFolderOf(other), false);
    const fs::path out = m_out.Path() / "out";
    // Every frame of two videos first, then the labelled frames only, stopped part-way.
    const std::vector<std::string> videos{Clip().string(), other.string()};
    std::vector<std::string> args{"-f", p.format, "-o", out.string(), "--jobs", "1", "--force"};
    args.insert(args.end(), videos.begin(), videos.end());
    std::vector<std::string> all = args;
    all.insert(all.end(), {"--frames", "all"});
    std::string err;
    ASSERT_EQ(Export(all, &err), 0) << err;

    ExportStop stop;
    stop.afterFrames = p.afterFrames;
    std::ostringstream o;
    std::ostringstream e;
    EXPECT_EQ(RunExport(args, o, e, false, &stop), 130) << e.str();
    EXPECT_NE(e.str().find("interrupted"), std::string::npos) << e.str();
    ExpectNoListedImageMissing(out, p.format);

    // A run to the end makes OUT whole again.
    ASSERT_EQ(Export(args, &err), 0) << err;
    EXPECT_FALSE(fs::exists(out / "EXPORT_INCOMPLETE.txt"));
    ExpectNoListedImageMissing(out, p.format);
}

INSTANTIATE_TEST_SUITE_P(Points, ExportInterruptTest,
                         ::testing::Values(InterruptRow{"coco", 0}, InterruptRow{"coco", 4},
                                           InterruptRow{"coco", 25}, InterruptRow{"yolo", 2},
                                           InterruptRow{"yolo", 30}, InterruptRow{"mot", 1},
                                           InterruptRow{"mot", 24}),
                         [](const ::testing::TestParamInfo<InterruptRow>& info) {
                             return std::string(info.param.format) + "After" +
                                    std::to_string(info.param.afterFrames);
                         });

TEST_F(ExportTest, BadInputIsNamedAndTheOtherVideosAreStillExported) {
    const fs::path dir = m_out.Path() / "in";
    fs::create_directories(dir);
    const fs::path noLabels = dir / "nolabels.avi";
    fs::copy_file(Clip(), noLabels);
    const fs::path empty = dir / "empty.avi";
    fs::copy_file(Clip(), empty);
    fs::create_directories(dir / "empty");
    const fs::path noCrop = dir / "nocrop.avi";
    fs::copy_file(Clip(), noCrop);
    WriteLabels(dir / "nocrop", false);
    const fs::path broken = dir / "broken.mp4";
    WriteFileBytes(broken, "this is no video");
    WriteLabels(dir / "broken", true);
    // Labelled beyond its last frame, as a video cut short in copying is.
    const fs::path cut = dir / "cut.avi";
    fs::copy_file(Clip(), cut);
    WriteLabels(dir / "cut", false);
    WriteFileBytes(dir / "cut" / "40.txt", "1,1,9,9,1,0\r\n");
    const fs::path full = m_out.Path() / "full";
    fs::create_directories(full);
    WriteFileBytes(full / "keep.txt", "x");
    const fs::path plainFile = m_out.Path() / "file";
    WriteFileBytes(plainFile, "x");

    struct Row {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
        bool clipExported;
    };
    const std::string clip = Clip().string();
    const std::string out = (m_out.Path() / "out").string();
    const Row rows[] = {
        {"unknown option",
         {"-f", "coco", "-o", out, "--bogus", clip},
         2,
         "unknown option --bogus",
         false},
        {"no output", {"-f", "coco", clip}, 2, "no output folder", false},
        {"no video", {"-f", "coco", "-o", out}, 2, "no video given", false},
        {"bad format", {"-f", "voc", "-o", out, clip}, 2, "unknown format 'voc'", false},
        {"option without value",
         {"-f", "coco", "-o", out, clip, "--every"},
         2,
         "--every needs a value",
         false},
        {"mot thinned", {"-f", "mot", "-o", out, "--every", "5", clip}, 2, "--every", false},
        {"no label folder",
         {"-f", "coco", "-o", out, noLabels.string(), clip},
         1,
         (dir / "nolabels").string() + ": no label folder",
         true},
        {"empty label folder",
         {"-f", "yolo", "-o", out, clip, empty.string()},
         1,
         (dir / "empty").string() + ": the label folder holds no labels",
         false},
        {"no crop file",
         {"-f", "mot", "-o", out, "--crop", noCrop.string(), clip},
         1,
         (dir / "nocrop" / "crop.txt").string() + ": no crop file",
         false},
        {"not a video",
         {"-f", "coco", "-o", out, broken.string(), clip},
         1,
         broken.string() + ": cannot be opened as a video",
         true},
        {"missing video",
         {"-f", "coco", "-o", out, (dir / "gone.avi").string(), clip},
         1,
         (dir / "gone.avi").string() + ": no such file",
         true},
        {"labelled frames past the end",
         {"-f", "coco", "-o", out, cut.string()},
         1,
         "1 labelled frame(s) could not be exported",
         false},
        {"the same video twice",
         {"-f", "coco", "-o", out, clip, (Videos() / "." / "clip.avi").string()},
         0,
         "named more than once, exported once",
         true},
        {"outside --root",
         {"-f", "coco", "-o", out, "--root", dir.string(), clip},
         1,
         clip + ": lies outside --root",
         false},
        {"bad split", {"-f", "coco", "-o", out, "--split", "train", clip}, 2, "--split", false},
        {"output not empty",
         {"-f", "coco", "-o", full.string(), clip},
         1,
         full.string() + ": the output folder is not empty",
         false},
        {"output is a file",
         {"-f", "coco", "-o", plainFile.string(), clip},
         1,
         plainFile.string() + ": exists and is not a folder",
         false},
        {"output under a file",
         {"-f", "coco", "-o", (plainFile / "out").string(), clip},
         1,
         "the output folder cannot be created",
         false},
    };
    const TreeSnapshot before = SnapshotTree(dir);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(out);
        std::string err;
        EXPECT_EQ(Export(row.args, &err), row.status) << err;
        EXPECT_NE(err.find(row.message), std::string::npos) << err;
        if (row.status == 2) {
            EXPECT_NE(err.find("usage: tagwright-export"), std::string::npos);
            EXPECT_FALSE(fs::exists(out));
        }
        if (row.clipExported) {
            EXPECT_EQ(ReadCoco(out).images.size(), kLabelledFrames.size());
        }
    }
    // No label folder was made, nothing beside the videos was touched but for the frame index
    // of the one video read to its end (its labels run past it), which that read vouches for.
    const fs::path index = dir / "cut" / ".tagwright-index";
    EXPECT_TRUE(fs::exists(index / "frames.idx"));
    fs::remove_all(index);
    EXPECT_EQ(SnapshotTree(dir), before);
    EXPECT_EQ(ReadFileBytes(full / "keep.txt"), "x");
    EXPECT_EQ(ListFolderNames(full), std::vector<std::string>{"keep.txt"});
}

TEST_F(ExportTest, ProgressIsABarOnATerminal) {
    std::string err;
    ASSERT_EQ(Export({"-f", "yolo", "-o", m_out.Path().string(), Clip().string()}, &err, true), 0);
    // The bar ends at every frame read: up to the last labelled frame, 20. Above it only what
    // needs attention: the damaged record, not the counts (those are in the summary).
    EXPECT_NE(err.find("] 21/21 frames"), std::string::npos) << err;
    EXPECT_NE(err.find("clip.avi: 1 record(s) with a label outside"), std::string::npos) << err;
    EXPECT_EQ(err.find("clip.avi: 3 images"), std::string::npos) << err;
    // No bar is drawn or cleared wider than an 80-column terminal: a wrapped bar would leave a
    // blank line above every message.
    for (size_t at = 0; at < err.size();) {
        const size_t end = std::min(err.find('\r', at), err.find('\n', at));
        const std::string part = err.substr(at, end - at);
        if (!part.empty() && (part[0] == '[' || part.find_first_not_of(' ') == std::string::npos)) {
            EXPECT_LE(part.size(), 80u) << part;
        }
        at = end == std::string::npos ? err.size() : end + 1;
    }
}

}  // namespace
