// The kinds of file recorders and editors write that defeat a frame seek by timestamp, made here
// as tiny clips: every jump, at every stage of the frame index (none yet, partial, complete,
// read back from the label folder), shows a picture, and the frame read in order at that number
// whenever it says it is verified. The index file belongs to the content of its video, and a
// read error never passes for the end of the file.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>
#include <opencv2/videoio.hpp>

#include "VideoTestClips.h"
#include "support/TempDir.h"
#include "video/FrameIndexBuilder.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

bool Ffmpeg(const std::string& args) {
    return std::system(("ffmpeg -v error -y " + args + " >/dev/null 2>&1").c_str()) == 0;
}

// 60 distinct frames (a counter and moving patterns), 160 x 120 at 25 frames a second.
const std::string kSource = "-f lavfi -i testsrc2=s=160x120:r=25:d=2.4 ";

struct Kind {
    const char* name;
    const char* file;
    // ffmpeg arguments before the output path; the joined file is made of two of them.
    const char* args;
};

const Kind kKinds[] = {
    {"RawH264", "raw.h264", "-c:v libx264 -bf 2 -g 24 -f h264"},
    {"JoinedTs", "joined.ts", "-c:v libx264 -bf 2 -g 12"},
    {"EditListCutMidGroup", "cut.mp4", ""},
    {"HevcOpenGopBPyramid", "hevc.mp4",
     "-c:v libx265 -x265-params log-level=none:keyint=24:open-gop=1:bframes=4:b-pyramid=1"},
    {"Vp9AltRef", "vp9.webm",
     "-c:v libvpx-vp9 -auto-alt-ref 1 -lag-in-frames 16 -g 24 -deadline realtime -cpu-used 8"},
    {"InterlacedTs", "interlaced.ts", "-c:v mpeg2video -flags +ildct+ilme -top 1 -bf 2 -g 12"},
    {"ProgramStream", "program.mpg", "-c:v mpeg2video -bf 2 -g 12 -f vob"},
    {"AviBFrames", "bframes.avi", "-c:v mpeg4 -bf 2 -g 12"},
    {"Mjpeg", "mjpeg.avi", "-c:v mjpeg"},
    {"TimestampWrap", "wrap.ts", "-c:v libx264 -bf 2 -g 24 -output_ts_offset 95443.5"},
    {"DuplicatedTimestamps", "dup.mkv",
     "-c:v libx264 -bf 0 -g 24 -bsf:v 'setts=ts=TS-mod(N\\,2)*40'"},
    {"NonMonotonicTimestamps", "nonmono.mkv",
     "-c:v libx264 -bf 0 -g 24 "
     "-bsf:v "
     "'setts=pts=TS+if(eq(mod(N\\,4)\\,1)\\,80\\,0)-if(eq(mod(N\\,4)\\,2)\\,40\\,0):dts=DTS'"},
};

bool MakeKind(const fs::path& dir, const Kind& k) {
    const fs::path out = dir / k.file;
    const std::string name = k.name;
    if (name == "JoinedTs") {
        // Two recordings joined with cat: the second part's timestamps repeat the first's.
        const fs::path a = dir / "part-a.ts";
        const fs::path b = dir / "part-b.ts";
        if (!Ffmpeg(kSource + "-t 1.2 " + k.args + " " + a.string()) ||
            !Ffmpeg(kSource + "-t 1.2 -vf hflip " + k.args + " " + b.string())) {
            return false;
        }
        WriteFileBytes(out, ReadFileBytes(a) + ReadFileBytes(b));
        return true;
    }
    if (name == "EditListCutMidGroup") {
        // Cut without re-encoding in the middle of a group of pictures: the edit list hides
        // the frames before the cut that the decoder still needs.
        const fs::path whole = dir / "whole.mp4";
        return Ffmpeg(kSource + "-c:v libx264 -bf 2 -g 24 " + whole.string()) &&
               Ffmpeg("-ss 0.5 -i " + whole.string() + " -c copy " + out.string());
    }
    return Ffmpeg(kSource + k.args + " '" + out.string() + "'");
}

// The frames as a plain capture reads them in order from the start: the truth.
std::vector<uint64_t> ReadInOrder(const fs::path& path) {
    std::vector<uint64_t> digests;
    cv::VideoCapture capture(path.string(), cv::CAP_ANY);
    cv::Mat frame;
    while (capture.isOpened() && capture.read(frame) && !frame.empty()) {
        digests.push_back(Digest(frame));
    }
    return digests;
}

struct Clips : ::testing::Environment {
    void SetUp() override {
        dir = new TempDir;
        for (const Kind& k : kKinds) {
            made[k.name] = MakeKind(dir->Path(), k);
        }
    }
    void TearDown() override { delete dir; }
    TempDir* dir = nullptr;
    std::map<std::string, bool> made;
};
Clips* g_clips = static_cast<Clips*>(::testing::AddGlobalTestEnvironment(new Clips));

enum class Stage { kNone, kPartial, kComplete, kFromFile };
const char* const kStageNames[] = {"none", "partial", "complete", "from-file"};

class HardFiles : public ::testing::TestWithParam<Kind> {};

TEST_P(HardFiles, EveryJumpShowsAPictureAndOnlyTheRightFrameIsVerified) {
    const Kind& kind = GetParam();
    // A clip that cannot be made fails: CI must not pass without it.
    ASSERT_TRUE(g_clips->made[kind.name]) << "ffmpeg could not make " << kind.file;
    const fs::path clip = g_clips->dir->Path() / kind.file;
    const std::vector<uint64_t> truth = ReadInOrder(clip);
    const int count = static_cast<int>(truth.size());
    ASSERT_GE(count, 40) << kind.file;
    TempDir labels;
    for (Stage stage : {Stage::kNone, Stage::kPartial, Stage::kComplete, Stage::kFromFile}) {
        const std::string at =
            std::string(kind.name) + ", index " + kStageNames[static_cast<int>(stage)];
        CVideoManager vm;
        vm.SetIndexOnOpen(stage != Stage::kNone);
        if (stage == Stage::kPartial) {
            vm.StopIndexAfterForTests(count * 2 / 3);
        }
        // The complete index is built with a second worker on the second half, as on long
        // videos, and the stored one that the next stage reads back with it.
        CFrameIndexBuilder::SetSplitForTests(stage == Stage::kComplete
                                                 ? CFrameIndexBuilder::Split::kAlways
                                                 : CFrameIndexBuilder::Split::kByRule);
        ASSERT_TRUE(vm.Open(clip)) << at;
        if (stage == Stage::kComplete || stage == Stage::kFromFile) {
            vm.SetIndexFolder(labels.Path());
            EXPECT_EQ(vm.IndexLoadedFromFile(), stage == Stage::kFromFile) << at;
        }
        if (stage != Stage::kNone) {
            vm.WaitForIndex();
        }
        CFrameIndexBuilder::SetSplitForTests(CFrameIndexBuilder::Split::kByRule);
        EXPECT_EQ(vm.IsIndexComplete(), stage >= Stage::kComplete) << at;
        if (vm.IsIndexComplete()) {
            EXPECT_EQ(vm.GetFrameCount(), count) << at << ": the slider covers every frame";
        }
        ASSERT_TRUE(vm.ReadNextFrame()) << at;
        std::mt19937 rng(static_cast<unsigned>(count) * 7 + static_cast<unsigned>(stage));
        std::uniform_int_distribution<int> pick(0, count - 1);
        int wrong = 0, verifiedWrong = 0, failed = 0;
        auto check = [&](int n, bool came, bool counts) {
            if (!came || vm.CurrentFrame().empty()) {
                failed += counts ? 1 : 0;
                ADD_FAILURE() << at << ": no picture for frame " << n;
                return;
            }
            const bool right = Digest(vm.CurrentFrame()) == truth[static_cast<size_t>(n)];
            if (counts) {
                wrong += right ? 0 : 1;
                verifiedWrong += !right && vm.IsCurrentFrameVerified() ? 1 : 0;
            }
            EXPECT_TRUE(right || !vm.IsCurrentFrameVerified())
                << at << ": frame " << n << " is shown as verified but is not frame " << n;
        };
        for (int k = 0; k < 40; ++k) {
            // The last frame, the first, then anywhere; each followed by a step on.
            const int n = k == 0 ? count - 1 : k == 1 ? 0 : pick(rng);
            check(n, vm.SeekFrame(n), true);
            if (n + 1 < count) {
                check(n + 1, vm.ReadNextFrame(), false);
            }
        }
        std::printf("JUMPS %-24s %-10s wrong %2d, verified but wrong %d, failed %d of 40\n",
                    kind.name, kStageNames[static_cast<int>(stage)], wrong, verifiedWrong, failed);
        if (vm.IsIndexComplete()) {
            EXPECT_EQ(wrong, 0) << at;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(FrameIndex, HardFiles, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.name); });

// The frame index read from the packets' headers is the one decoding gives, frame for frame and
// key flag for key flag, on every H.264 encoding a recorder or encoder may choose; where the
// headers cannot vouch for the order, decoding takes over (from the start, or after what the
// headers settled). `from`: how far the headers carry it.
enum class From { kAll, kPart, kNone };
struct Encoding {
    const char* name;
    const char* file;
    const char* args;  // empty: one of the hard kinds above
    From from;
};

const Encoding kEncodings[] = {
    {"NoBFrames", "e-nob.mp4", "-c:v libx264 -bf 0 -g 24", From::kAll},
    {"BFramesLongGroup", "e-b3.mp4", "-c:v libx264 -bf 3 -g 250", From::kAll},
    {"StrictPyramid", "e-strict.mp4",
     "-c:v libx264 -x264-params bframes=8:b-pyramid=strict:b-adapt=0:keyint=30", From::kAll},
    {"OpenGop", "e-open.mp4", "-c:v libx264 -x264-params open-gop=1:keyint=20:bframes=3",
     From::kAll},
    {"IntraRefresh", "e-refresh.mp4", "-c:v libx264 -x264-params intra-refresh=1:keyint=15",
     From::kAll},
    {"FourSlices", "e-slices.mp4", "-c:v libx264 -x264-params slices=4:bframes=2", From::kAll},
    {"Mbaff", "e-mbaff.mp4", "-c:v libx264 -flags +ildct+ilme -x264-params interlaced=1",
     From::kAll},
    {"Baseline", "e-base.mp4", "-c:v libx264 -profile:v baseline -g 10", From::kAll},
    {"ShortGroupsMkv", "e-short.mkv", "-c:v libx264 -x264-params keyint=5:min-keyint=1",
     From::kAll},
    {"Ref16Weighted", "e-ref.mp4", "-c:v libx264 -x264-params ref=16:bframes=3:weightb=1",
     From::kAll},
    {"PocType2", "e-poc2.mp4", "-c:v libx264 -bf 0 -x264-params keyint=12", From::kAll},
    // A recording that lost a packet on its way: the decoder makes up for a lost reference
    // picture in ways the headers do not tell (it drops frames after a lost IDR picture here),
    // so decoding takes over from the last settled sequence.
    {"LostReferenceFrame", "e-lostref.mp4",
     "-c:v libx264 -x264-params keyint=24:bframes=2 -bsf:v 'noise=drop=eq(n\\,31)'", From::kPart},
    {"LostIdrPicture", "e-lostidr.mp4",
     "-c:v libx264 -x264-params keyint=20:min-keyint=20:bframes=0 -bsf:v "
     "'noise=drop=key*gt(n\\,10)'",
     From::kNone},
    {"RawH264", "raw.h264", "", From::kAll},
    // The demuxer marks the packet where the second recording begins as damaged.
    {"JoinedTs", "joined.ts", "", From::kPart},
    {"TimestampWrap", "wrap.ts", "", From::kAll},
    {"DuplicatedTimestamps", "dup.mkv", "", From::kAll},
    {"NonMonotonicTimestamps", "nonmono.mkv", "", From::kAll},
    {"EditListCutMidGroup", "cut.mp4", "", From::kNone},
    {"HevcOpenGopBPyramid", "hevc.mp4", "", From::kNone},
};

std::vector<IndexedFrame> BuildIndex(const fs::path& clip, bool headers, int* fromHeaders) {
    CFrameIndexBuilder::SetHeaderOrderForTests(headers);
    CFrameIndexBuilder builder;
    builder.Start(clip);
    std::vector<IndexedFrame> frames;
    builder.WaitFor(INT32_MAX);
    const CFrameIndexBuilder::End end = builder.Take(frames);
    CFrameIndexBuilder::SetHeaderOrderForTests(true);
    EXPECT_EQ(end, CFrameIndexBuilder::End::kEndOfFile) << clip;
    *fromHeaders = builder.FramesFromHeaders();
    return frames;
}

// Both indexes of a clip agree frame for frame; how many frames came from the headers.
int ExpectSameIndexes(const fs::path& clip, const std::string& name) {
    int fromHeaders = 0;
    int none = 0;
    const std::vector<IndexedFrame> decoded = BuildIndex(clip, false, &none);
    const std::vector<IndexedFrame> read = BuildIndex(clip, true, &fromHeaders);
    EXPECT_EQ(none, 0);
    EXPECT_EQ(read.size(), decoded.size()) << name;
    for (size_t i = 0; i < std::min(read.size(), decoded.size()); ++i) {
        if (!(read[i].id == decoded[i].id && read[i].key == decoded[i].key)) {
            ADD_FAILURE() << name << ": frame " << i << " is packet " << read[i].id.pos << " (key "
                          << read[i].key << ") from the headers, " << decoded[i].id.pos << " (key "
                          << decoded[i].key << ") decoded";
            break;
        }
    }
    return fromHeaders;
}

class HeaderOrder : public ::testing::TestWithParam<Encoding> {};

TEST_P(HeaderOrder, IsTheDecodersOrderOrLeavesItToDecoding) {
    const Encoding& e = GetParam();
    const fs::path clip = g_clips->dir->Path() / e.file;
    if (*e.args != '\0') {
        ASSERT_TRUE(Ffmpeg(kSource + e.args + " '" + clip.string() + "'"))
            << "ffmpeg could not make " << e.file;
    } else {
        ASSERT_TRUE(g_clips->made[e.name]) << "ffmpeg could not make " << e.file;
    }
    const int count = static_cast<int>(ReadInOrder(clip).size());
    ASSERT_GE(count, 40) << e.file;
    const int fromHeaders = ExpectSameIndexes(clip, e.name);
    const From from = fromHeaders == count ? From::kAll
                      : fromHeaders > 0    ? From::kPart
                                           : From::kNone;
    EXPECT_EQ(from, e.from) << e.name << ": " << fromHeaders << " of " << count
                            << " frames from the headers";
}

INSTANTIATE_TEST_SUITE_P(FrameIndex, HeaderOrder, ::testing::ValuesIn(kEncodings),
                         [](const auto& info) { return std::string(info.param.name); });

// Damaged bytes in the headers of the frames (a failing disk, a bad copy): the decoder refuses
// some packets and reading in order ends there; the headers never count a frame past that, nor
// put one elsewhere.
TEST(HeaderOrderDamaged, NeverCountsAFrameThatReadingInOrderDoesNotGive) {
    TempDir dir;
    std::mt19937 rng(2026);
    int fromHeaders = 0;
    for (const char* kind : {"RawH264", "TimestampWrap"}) {
        ASSERT_TRUE(g_clips->made[kind]);
        const std::string file = std::string(kind) == "RawH264" ? "raw.h264" : "wrap.ts";
        const std::string bytes = ReadFileBytes(g_clips->dir->Path() / file);
        // Where NAL units start: their headers follow.
        std::vector<size_t> units;
        for (size_t i = 0; i + 3 < bytes.size(); ++i) {
            if (bytes[i] == 0 && bytes[i + 1] == 0 && bytes[i + 2] == 1) {
                units.push_back(i + 3);
            }
        }
        ASSERT_GT(units.size(), 60u) << file;
        std::uniform_int_distribution<size_t> unit(units.size() / 4, units.size() - 1);
        std::uniform_int_distribution<int> offset(1, 8);
        std::uniform_int_distribution<int> value(0, 255);
        for (int copy = 0; copy < 40; ++copy) {
            std::string damaged = bytes;
            for (int i = 0; i <= copy % 3; ++i) {
                const size_t at = units[unit(rng)] + static_cast<size_t>(offset(rng));
                damaged[std::min(at, damaged.size() - 1)] = static_cast<char>(value(rng));
            }
            const fs::path clip = dir / (std::to_string(copy) + "-" + file);
            WriteFileBytes(clip, damaged);
            fromHeaders += ExpectSameIndexes(clip, clip.filename().string());
        }
    }
    EXPECT_GT(fromHeaders, 0) << "the headers were never used";
}

// Another video padded to this one's size and given its modification time (as cp -p and touch -r
// do) is not this video: its index is rebuilt, not taken.
TEST(HardFilesIndexFile, AnIndexBelongsToTheContentNotToSizeAndTime) {
    ASSERT_TRUE(g_clips->made["Mjpeg"] && g_clips->made["AviBFrames"]);
    TempDir labels;
    const fs::path video = labels / "video.avi";
    fs::copy_file(g_clips->dir->Path() / "mjpeg.avi", video);
    {
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(video));
        vm.SetIndexFolder(labels.Path());
        vm.WaitForIndex();
        ASSERT_TRUE(fs::exists(CVideoManager::IndexFilePath(labels.Path())));
    }
    const auto time = fs::last_write_time(video);
    std::string other = ReadFileBytes(g_clips->dir->Path() / "bframes.avi");
    other.resize(fs::file_size(video), '\0');
    WriteFileBytes(video, other);
    fs::last_write_time(video, time);
    CVideoManager vm;
    ASSERT_TRUE(vm.Open(video));
    vm.SetIndexFolder(labels.Path());
    EXPECT_FALSE(vm.IndexLoadedFromFile());
}

// A read error (a failing disk or network share) ends reading but is not the end: the index
// stays partial and unsaved, the frame it happened after is known, and once the file reads
// again the index completes.
TEST(HardFilesIndexFile, AReadErrorIsNotTheEndOfTheVideo) {
    // Decoded (MPEG-2), and read from the headers (H.264).
    for (const char* kind : {"InterlacedTs", "TimestampWrap"}) {
        ASSERT_TRUE(g_clips->made[kind]);
        const fs::path clip = g_clips->dir->Path() /
                              (std::string(kind) == "InterlacedTs" ? "interlaced.ts" : "wrap.ts");
        const int count = static_cast<int>(ReadInOrder(clip).size());
        TempDir labels;
        const fs::path file = CVideoManager::IndexFilePath(labels.Path());
        struct Reader {
            const char* name;
            bool worker;
        };
        for (const Reader& r : {Reader{"the worker", true}, Reader{"reading in order", false}}) {
            const std::string at = std::string(kind) + ", " + r.name;
            CFrameDecoder::FailReadsPastForTests(static_cast<int64_t>(fs::file_size(clip) / 2));
            CVideoManager vm;
            vm.SetIndexOnOpen(r.worker);
            ASSERT_TRUE(vm.Open(clip)) << at;
            vm.SetIndexFolder(labels.Path());
            int read = 0;
            if (r.worker) {
                vm.WaitForIndex();
            } else {
                while (vm.ReadNextFrame()) {
                    ++read;
                }
            }
            CFrameDecoder::FailReadsPastForTests(-1);
            EXPECT_FALSE(vm.IsIndexComplete()) << at;
            EXPECT_GT(vm.LastReadableFrame(), 0) << at;
            EXPECT_LT(vm.LastReadableFrame(), count - 1) << at;
            if (!r.worker) {
                EXPECT_EQ(vm.LastReadableFrame(), read - 1) << at;
            }
            EXPECT_FALSE(fs::exists(file)) << at << ": an index of part of the file was saved";
        }
        CVideoManager vm;
        ASSERT_TRUE(vm.Open(clip));
        vm.SetIndexFolder(labels.Path());
        vm.WaitForIndex();
        EXPECT_TRUE(vm.IsIndexComplete()) << kind;
        EXPECT_EQ(vm.IndexedFrames(), count) << kind;
        EXPECT_EQ(vm.LastReadableFrame(), -1) << kind;
        EXPECT_TRUE(fs::exists(file)) << kind;
    }
}

}  // namespace
