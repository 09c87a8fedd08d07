// tagwright-import through its command line: an export brought back gives the label folder it
// was made from, and another tool's data is mapped by the documented rules.

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "export/ExportRun.h"
#include "export/ImportRun.h"
#include "labels/FolderLock.h"
#include "support/TempDir.h"
#include "support/TreeSnapshot.h"
#include "video/SampleVideo.h"

namespace fs = std::filesystem;

namespace {

int Import(const std::vector<std::string>& args, std::string& err) {
    std::ostringstream out;
    std::ostringstream e;
    const int status = RunImport(args, out, e);
    err = e.str();
    return status;
}

int Export(const std::vector<std::string>& args, std::string& err) {
    std::ostringstream out;
    std::ostringstream e;
    const int status = RunExport(args, out, e, false);
    err = e.str();
    return status;
}

class ImportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SampleVideoOptions o;
        o.width = 320;
        o.height = 240;
        o.frames = 24;
        fs::create_directories(m_dir.Path() / "videos" / "case1");
        ASSERT_TRUE(WriteSampleVideo(Video(m_dir.Path() / "videos"), o));
    }
    static fs::path Video(const fs::path& root) { return root / "case1" / "video.avi"; }
    static fs::path Folder(const fs::path& root) { return root / "case1" / "video"; }

    TempDir m_dir;
};

struct RoundTripRow {
    const char* format;
    bool crop;
};

void PrintTo(const RoundTripRow& row, std::ostream* os) {
    *os << row.format << (row.crop ? " --crop" : "");
}

class ImportRoundTripTest : public ImportTest,
                            public ::testing::WithParamInterface<RoundTripRow> {};

// Every label number and class the editor writes, on frames with gaps between them. YOLO cannot
// carry a frame holding a skip region (it leaves the image out), so its folder has none.
TEST_P(ImportRoundTripTest, AnExportImportedIntoAnEmptyFolderGivesBackTheSameFiles) {
    const RoundTripRow& p = GetParam();
    const bool yolo = std::string(p.format) == "yolo";
    const fs::path root = m_dir.Path() / "videos";
    const fs::path folder = Folder(root);
    fs::create_directories(folder);
    WriteFileBytes(folder / "0.txt",
                   std::string("10,20,110,190,1,0\r\n") + (yolo ? "" : "150,100,200,140,30,0\r\n"));
    WriteFileBytes(folder / "3.txt", "100,50,200,150,2,0\r\n20,30,60,90,3,2\r\n");
    WriteFileBytes(folder / "12.txt", "200,120,281,193,29,0\r\n");
    if (!yolo) {
        WriteFileBytes(folder / "20.txt", "40,40,80,90,6,1\r\n7,9,31,33,7,0\r\n");
    }
    if (p.crop) {
        WriteFileBytes(folder / "crop.txt", "4,4,300,200\r\n");
    }

    const fs::path out = m_dir.Path() / "out";
    std::vector<std::string> args{
        "-f", p.format, "-o", out.string(), "--root", root.string(), Video(root).string()};
    if (p.crop) {
        args.push_back("--crop");
    }
    std::string err;
    ASSERT_EQ(Export(args, err), 0) << err;

    // The same video under another root, with no label folder yet.
    const fs::path back = m_dir.Path() / "back";
    fs::create_directories(Video(back).parent_path());
    fs::copy_file(Video(root), Video(back));
    ASSERT_EQ(
        Import({"-f", p.format, "--root", back.string(), out.string(), Video(back).string()}, err),
        0)
        << err;
    EXPECT_EQ(SnapshotTree(Folder(back)), SnapshotTree(folder)) << err;
}

INSTANTIATE_TEST_SUITE_P(Formats, ImportRoundTripTest,
                         ::testing::Values(RoundTripRow{"coco", false}, RoundTripRow{"coco", true},
                                           RoundTripRow{"yolo", false}, RoundTripRow{"yolo", true},
                                           RoundTripRow{"mot", false}, RoundTripRow{"mot", true}),
                         [](const ::testing::TestParamInfo<RoundTripRow>& info) {
                             return std::string(info.param.format) +
                                    (info.param.crop ? "Cropped" : "Whole");
                         });

// A detector's or tracker's output in COCO, by another tool: no videos, no label numbers.
// Track 200 ends before track 300 starts, so 300 takes its number; boxes without a track take
// the free numbers of their frame, best score first, and an ignore region becomes SKIP.
TEST_F(ImportTest, AnotherToolsTracksBecomeLabelNumbersByTheRule) {
    const fs::path pred = m_dir.Path() / "pred.json";
    WriteFileBytes(pred, R"({"images":[
        {"id":1,"file_name":"video_000001.jpg","width":320,"height":240},
        {"id":2,"file_name":"video_000002.jpg","width":320,"height":240},
        {"id":3,"file_name":"video_000003.jpg","width":320,"height":240}],
      "annotations":[
        {"id":1,"image_id":1,"bbox":[10.2,20,100,50.4],"track_id":100,"score":0.9},
        {"id":2,"image_id":1,"bbox":[150,20,40,40],"track_id":200,"score":0.3},
        {"id":3,"image_id":2,"bbox":[12,22,100,50],"track_id":100,"score":0.8},
        {"id":4,"image_id":2,"bbox":[200,100,30,30],"track_id":300,"score":0.7},
        {"id":5,"image_id":3,"bbox":[5,5,20,20],"score":0.6},
        {"id":6,"image_id":3,"bbox":[50,50,20,20],"score":0.95},
        {"id":7,"image_id":3,"bbox":[90,90,30,30],"iscrowd":1}]})");
    struct Row {
        const char* what;
        std::vector<std::string> options;
        std::map<std::string, std::string> files;
    };
    const Row rows[] = {
        {"every box",
         {},
         {{"1.txt", "10,20,110,70,1,0\r\n150,20,190,60,2,0\r\n"},
          {"2.txt", "12,22,112,72,1,0\r\n200,100,230,130,2,0\r\n"},
          {"3.txt", "50,50,70,70,1,0\r\n5,5,25,25,2,0\r\n90,90,120,120,30,1\r\n"}}},
        {"--min-score 0.65",
         {"--min-score", "0.65"},
         {{"1.txt", "10,20,110,70,1,0\r\n"},
          {"2.txt", "12,22,112,72,1,0\r\n200,100,230,130,2,0\r\n"},
          {"3.txt", "50,50,70,70,1,0\r\n90,90,120,120,30,1\r\n"}}},
    };
    const fs::path video = Video(m_dir.Path() / "videos");
    const fs::path folder = Folder(m_dir.Path() / "videos");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        fs::remove_all(folder);
        std::vector<std::string> args{"-f", "coco"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        args.insert(args.end(), {pred.string(), video.string()});
        std::string err;
        ASSERT_EQ(Import(args, err), 0) << err;
        std::map<std::string, std::string> files;
        for (const std::string& name : ListFolderNames(folder)) {
            files[name] = ReadFileBytes(folder / name);
        }
        EXPECT_EQ(files, row.files);
    }
}

TEST_F(ImportTest, ALabelFileIsReplacedOnlyWithForceAndNamed) {
    const fs::path root = m_dir.Path() / "videos";
    const fs::path folder = Folder(root);
    fs::create_directories(folder);
    WriteFileBytes(folder / "2.txt", "10,10,50,50,1,0\r\n");
    const fs::path out = m_dir.Path() / "out";
    std::string err;
    ASSERT_EQ(Export({"-f", "mot", "-o", out.string(), Video(root).string()}, err), 0) << err;
    // The same content again is no conflict; other content is, and nothing is written then.
    ASSERT_EQ(Import({"-f", "mot", out.string(), Video(root).string()}, err), 0) << err;
    WriteFileBytes(folder / "2.txt", "1,1,5,5,3,0\r\n");
    WriteFileBytes(folder / "9.txt", "mine\r\n");
    const TreeSnapshot edited = SnapshotTree(folder);
    EXPECT_EQ(Import({"-f", "mot", out.string(), Video(root).string()}, err), 1);
    EXPECT_NE(err.find("already holds 1 of the files to import"), std::string::npos) << err;
    EXPECT_EQ(SnapshotTree(folder), edited);
    {
        // While an editor holds the video, not even --force writes there.
        CFolderLock editor;
        ASSERT_EQ(editor.Acquire(folder), CFolderLock::Result::Acquired);
        EXPECT_EQ(Import({"-f", "mot", "--force", out.string(), Video(root).string()}, err), 1);
        EXPECT_NE(err.find("is being edited by"), std::string::npos) << err;
        EXPECT_EQ(ReadFileBytes(folder / "2.txt"), "1,1,5,5,3,0\r\n");
    }

    EXPECT_EQ(Import({"-f", "mot", "--force", out.string(), Video(root).string()}, err), 0) << err;
    EXPECT_NE(err.find("replaced " + (folder / "2.txt").string()), std::string::npos) << err;
    EXPECT_EQ(ReadFileBytes(folder / "2.txt"), "10,10,50,50,1,0\r\n");
    EXPECT_EQ(ReadFileBytes(folder / "9.txt"), "mine\r\n");  // not the import's
    EXPECT_EQ(ListFolderNames(folder), (std::vector<std::string>{"2.txt", "9.txt"}));
}

TEST_F(ImportTest, BadInputIsNamedAndWritesNothing) {
    const fs::path video = Video(m_dir.Path() / "videos");
    const fs::path garbage = m_dir.Path() / "garbage.json";
    WriteFileBytes(garbage, "{\"images\": [");
    const fs::path mistyped = m_dir.Path() / "mistyped.json";
    WriteFileBytes(mistyped, R"({"images":[{"id":1,"file_name":"video_000001.jpg"}],
        "annotations":[{"id":1,"image_id":1,"bbox":["1","2","3","4"]}]})");
    const fs::path other = m_dir.Path() / "other.json";
    WriteFileBytes(other, R"({"images":[{"id":1,"file_name":"case9_000001.jpg"}]})");
    struct Row {
        const char* what;
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const Row rows[] = {
        {"not JSON", {"-f", "coco", garbage.string(), video.string()}, 1, "is not a COCO"},
        {"a field of the wrong type",
         {"-f", "coco", mistyped.string(), video.string()},
         1,
         "is not a COCO file this program reads"},
        {"no such video in the data",
         {"-f", "coco", other.string(), video.string()},
         1,
         video.string() + ": nothing in"},
        {"no YOLO labels",
         {"-f", "yolo", m_dir.Path().string(), video.string()},
         1,
         "holds no label folder"},
        {"bad score",
         {"-f", "mot", "--min-score", "x", other.string(), video.string()},
         2,
         "--min-score takes a number"},
    };
    const TreeSnapshot before = SnapshotTree(m_dir.Path() / "videos");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string err;
        EXPECT_EQ(Import(row.args, err), row.status) << err;
        EXPECT_NE(err.find(row.message), std::string::npos) << err;
    }
    EXPECT_EQ(SnapshotTree(m_dir.Path() / "videos"), before);
}

}  // namespace
