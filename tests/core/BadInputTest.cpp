// Bad input met through the main dialog, as an operator meets it: label folders that cannot be
// written or made, frame files that are folders or dangling links, damaged video files, and
// names with spaces, Korean characters and quotes. Each case says what the operator is told,
// what reaches the disk, and that nothing is written anywhere else.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <system_error>

#include "InputTestSupport.h"
#include "support/TreeSnapshot.h"

namespace fs = std::filesystem;

namespace {

const char* const kNoAccess = "Can't access working directory. Check the permissions!";
const char* const kLogName = "loading_time_log.txt";
constexpr int VK_KEY_C = 0x43;
constexpr int VK_KEY_D = 0x44;

// A ROI away from the stamped frame index in the top-left corner of every frame.
const CPoint kDrawFrom{200, 150};
const CPoint kDrawTo{260, 200};

// --- making damaged videos ---

uint32_t Be32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[at])) << 24 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 1])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 2])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[at + 3]));
}

void PutBe32(std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        s[at + i] = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
    }
}

// Adds `delta` to every chunk offset ("stco") in the boxes of s[begin, end).
bool ShiftChunkOffsets(std::string& s, size_t begin, size_t end, uint32_t delta) {
    bool found = false;
    while (begin + 8 <= end) {
        const uint32_t size = Be32(s, begin);
        const std::string type = s.substr(begin + 4, 4);
        if (size < 8 || begin + size > end) {
            return false;
        }
        if (type == "trak" || type == "mdia" || type == "minf" || type == "stbl") {
            found = ShiftChunkOffsets(s, begin + 8, begin + size, delta) || found;
        } else if (type == "stco") {
            const uint32_t entries = Be32(s, begin + 12);
            for (uint32_t i = 0; i < entries; ++i) {
                const size_t at = begin + 16 + 4 * i;
                PutBe32(s, at, Be32(s, at) + delta);
            }
            found = true;
        }
        begin += size;
    }
    return found;
}

// The MP4 writer puts the index ("moov") after the frames, so any cut loses it and nothing can
// be decoded. A file made for streaming has it first; cut, it keeps its earlier frames. This
// rewrites a clip into that layout. Empty when the clip is not laid out as expected.
std::string IndexFirst(const std::string& mp4) {
    std::string head, mdat, moov;
    size_t at = 0;
    while (at + 8 <= mp4.size()) {
        const uint32_t size = Be32(mp4, at);
        if (size < 8 || at + size > mp4.size()) {
            return {};
        }
        const std::string type = mp4.substr(at + 4, 4);
        std::string& part = type == "moov" ? moov : type == "mdat" ? mdat : head;
        part += mp4.substr(at, size);
        at += size;
    }
    if (moov.empty() || mdat.empty() ||
        !ShiftChunkOffsets(moov, 8, moov.size(), static_cast<uint32_t>(moov.size()))) {
        return {};
    }
    return head + moov + mdat;
}

std::string RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 gen(seed);
    std::string bytes(n, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(gen() & 0xFF);
    }
    return bytes;
}

// The names of the working directory the store could have written into by mistake: label
// files, the log, the report, its hidden folder. Build outputs around them may change.
std::vector<std::string> StoreLikeNamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const std::string& name : ListFolderNames(folder)) {
        const bool txt = name.size() >= 4 && name.compare(name.size() - 4, 4, ".txt") == 0;
        if (txt || name == ".tagwright-tmp") {
            names.push_back(name);
        }
    }
    return names;
}

class BadInput : public DialogTest {
  protected:
    BadInput() : m_cwdBefore(StoreLikeNamesIn(fs::current_path())) {}
    void TearDown() override {
        // The store never uses the working directory, whatever went wrong.
        EXPECT_EQ(StoreLikeNamesIn(fs::current_path()), m_cwdBefore);
    }

    CLabelManager& Store() { return *dlg.GetLabelManager(); }

    // A small MJPG clip at tmp/<relative>, its folders made first.
    fs::path MakeClip(const std::string& relative, const SampleVideoOptions& o = SmallVideo()) {
        fs::create_directories((tmp / relative).parent_path());
        return MakeVideo(relative, o);
    }

    // Draws a ROI of the active label on the shown frame; returns it in frame pixels.
    CRect Draw() {
        const CPoint a = FrameToClient(kDrawFrom);
        const CPoint b = FrameToClient(kDrawTo);
        DragClient(*this, a, b);
        return DragToImage(*this, a, b);
    }

    // How many message boxes said `text`, and whether every box did.
    // Boxes whose first line is `text` (a file error names the folder on the next line).
    int Boxes(const std::string& text) const {
        int n = 0;
        for (const auto& box : app.Boxes()) {
            n += box.text.substr(0, box.text.find('\n')) == text && box.type == MessageBoxType::Ok
                     ? 1
                     : 0;
        }
        return n;
    }

    // The no-video state a failed open must leave (the operator may move the slider later).
    void ExpectNoVideo(bool sliderAtStart = true) {
        EXPECT_EQ(dlg.GetModeFlags(), MODE_IDLE);
        EXPECT_EQ(dlg.GetVideoManager(), nullptr);
        EXPECT_TRUE(Rendered().empty());
        if (sliderAtStart) {
            EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), 0);
        }
        EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), "--");
        EXPECT_FALSE(wnd.IsControlEnabled(IDC_BTN_PLAY));
        for (int id : kMainGoButtonIds) {
            EXPECT_FALSE(wnd.IsControlEnabled(id)) << id;
        }
    }

  private:
    std::vector<std::string> m_cwdBefore;
};

// --- a label folder that cannot be written ---

enum class Blocker { FileInPlaceOfTheFolder, FileInPlaceOfTheHiddenFolder, ReadOnlyFileSystem };

struct BlockerCase {
    const char* name;
    Blocker blocker;
};

void PrintTo(const BlockerCase& c, std::ostream* os) {
    *os << c.name;
}

class UnwritableFolder : public BadInput, public ::testing::WithParamInterface<BlockerCase> {};

TEST_P(UnwritableFolder, EveryEditTellsAndIsTakenBackAndNothingIsWrittenElsewhere) {
    const fs::path video = MakeClip("videos/clip.avi");
    ASSERT_FALSE(video.empty());
    const fs::path folder = LabelFolder(video);
    switch (GetParam().blocker) {
        case Blocker::FileInPlaceOfTheFolder:
            WriteFileBytes(folder, "a file where the label folder should be");
            break;
        case Blocker::FileInPlaceOfTheHiddenFolder:
            WriteLabelFile(video, 5, {MakeRoi(5, 2, 0, {10, 20, 30, 40})});
            WriteFileBytes(folder / ".tagwright-tmp", "in the way");
            break;
        case Blocker::ReadOnlyFileSystem: {
            // Permissions do not stop this test's user; a read-only file system does, and
            // /sys is one on Linux. Reached through a link it stands for a write-protected
            // medium.
            std::error_code ec;
            if (fs::create_directory("/sys/.tagwright-probe", ec)) {
                fs::remove("/sys/.tagwright-probe", ec);
                GTEST_SKIP() << "/sys is writable here";
            }
            fs::create_symlink("/sys", folder);
            break;
        }
    }
    const std::vector<std::string> sysBefore = ListFolderNames("/sys");
    const TreeSnapshot beforeOpen = SnapshotTree(tmp.Path());

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_TRUE(app.Boxes().empty());
    // The frame index is written into the label folder once complete, when it is a folder.
    dlg.GetVideoManager()->WaitForIndex();
    TreeSnapshot afterOpen = SnapshotTree(tmp.Path());
    const std::string index = "videos/clip/.tagwright-index";
    EXPECT_EQ(afterOpen.count(index + "/frames.idx"),
              GetParam().blocker == Blocker::FileInPlaceOfTheHiddenFolder ? 1u : 0u);
    // A folder that exists is loaded, and a load leaves its log line beside it.
    const bool loaded = GetParam().blocker != Blocker::FileInPlaceOfTheFolder;
    EXPECT_EQ(afterOpen.count("videos/" + std::string(kLogName)), loaded ? 1u : 0u);
    TreeSnapshot openedWithoutLog = afterOpen;
    openedWithoutLog.erase("videos/" + std::string(kLogName));
    openedWithoutLog.erase(index);
    openedWithoutLog.erase(index + "/frames.idx");
    EXPECT_EQ(openedWithoutLog, beforeOpen);
    EXPECT_EQ(wnd.IsControlEnabled(kMainGoButtonIds[1]),
              GetParam().blocker == Blocker::FileInPlaceOfTheHiddenFolder);

    // A new ROI: told once, and taken back: the screen shows only what is stored.
    const CRect drawn = Draw();
    EXPECT_EQ(Boxes(kNoAccess), 1);
    EXPECT_EQ(app.Boxes().size(), 1u);
    EXPECT_FALSE(HasRoi(*this, 1, 0));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_NE(PaintedPixel(*this, drawn.left, (drawn.top + drawn.bottom) / 2), kLabel1Color);
    EXPECT_EQ(Store().GetFrameCount(0), 0);

    // The crop region cannot be written either; crop mode ends all the same.
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    DragClient(*this, FrameToClient({20, 30}), FrameToClient({300, 220}));
    EXPECT_EQ(Boxes(kNoAccess), 2);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);

    EXPECT_EQ(app.Boxes().size(), 2u);  // nothing but the one message
    EXPECT_EQ(SnapshotTree(tmp.Path()), afterOpen);
    EXPECT_EQ(ListFolderNames("/sys"), sysBefore);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, UnwritableFolder,
    ::testing::Values(BlockerCase{"FileInPlaceOfTheFolder", Blocker::FileInPlaceOfTheFolder},
                      BlockerCase{"FileInPlaceOfTheHiddenFolder",
                                  Blocker::FileInPlaceOfTheHiddenFolder},
                      BlockerCase{"ReadOnlyFileSystem", Blocker::ReadOnlyFileSystem}),
    [](const auto& info) { return std::string(info.param.name); });

// A plain click on empty area takes the active label's ROI out for a draw that never comes and
// puts it back; the file never lost it, so nothing is written and nothing is said.
TEST_F(BadInput, PlainClickOnEmptyAreaWritesNothingEvenWhereWritesFail) {
    const fs::path video = MakeClip("clip.avi");
    ASSERT_FALSE(video.empty());
    const CRect roi{200, 150, 260, 200};
    WriteLabelFile(video, 0, {MakeRoi(0, 1, 0, roi)});
    WriteFileBytes(LabelFolder(video) / ".tagwright-tmp", "in the way");
    ASSERT_TRUE(OpenViaButton(video));
    dlg.GetVideoManager()
        ->WaitForIndex();  // the frame index is stored by then, not during the click
    const TreeSnapshot before = SnapshotTree(tmp.Path());

    const CPoint p = FrameToClient({60, 100});
    wnd.LButtonDown(p);
    wnd.LButtonUp(p);
    EXPECT_TRUE(app.Boxes().empty());
    CRect stored;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &stored));
    EXPECT_EQ(stored, roi);
    EXPECT_EQ(SnapshotTree(tmp.Path()), before);
}

// Operations that rewrite many frames tell of a folder that cannot be written once, not once per
// frame; the frame deletion, which removes a file instead, tells of it too. Each is taken back
// whole: the screen shows what the files hold.
struct OneMessageCase {
    const char* name;
    void (*operation)(DialogHarness& h);
};

void PrintTo(const OneMessageCase& c, std::ostream* os) {
    *os << c.name;
}

class OneMessagePerOperation : public BadInput,
                               public ::testing::WithParamInterface<OneMessageCase> {};

TEST_P(OneMessagePerOperation, OnAFolderThatCannotBeWritten) {
    const fs::path video = MakeClip("videos/clip.avi");
    ASSERT_FALSE(video.empty());
    // Label 1 on frames 0 to 5; a file where the hidden folder of every write belongs.
    for (int f = 0; f <= 5; ++f) {
        WriteLabelFile(video, f, {MakeRoi(f, 1, 0, {200, 150, 260, 200})});
    }
    WriteFileBytes(LabelFolder(video) / ".tagwright-tmp", "in the way");
    ASSERT_TRUE(OpenViaButton(video));
    wnd.ScrollSlider(5);
    ASSERT_EQ(Store().GetCount(), 6);
    ASSERT_EQ(ShownFrameIndex(), 5);
    app.ClearBoxes();

    GetParam().operation(*this);
    EXPECT_EQ(Boxes(kNoAccess), 1);
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, OneMessagePerOperation,
    ::testing::Values(OneMessageCase{"DeleteLabelAfterFrame",
                                     [](DialogHarness& h) {
                                         h.wnd.ScrollSlider(0);
                                         h.wnd.RButtonDown(h.FrameToClient({230, 175}));
                                         h.wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
                                         h.dlg.OnContextMenu({0, 0});
                                         EXPECT_EQ(h.dlg.GetLabelManager()->GetCount(), 6);
                                     }},
                      OneMessageCase{"ClassOfALabel",
                                     [](DialogHarness& h) {
                                         ASSERT_TRUE(h.wnd.Click(IDC_RADIO_CLASS2));
                                         EXPECT_EQ(h.dlg.GetLabelManager()->GetLabelClass(1), 0);
                                         EXPECT_EQ(h.wnd.GetRadioIndex(IDC_RADIO_CLASS0), 0);
                                     }},
                      OneMessageCase{"DeleteFrame",
                                     [](DialogHarness& h) {
                                         ASSERT_TRUE(h.wnd.KeyDown('E'));
                                         EXPECT_EQ(h.dlg.GetLabelManager()->GetCount(), 6);
                                     }}),
    [](const auto& info) { return std::string(info.param.name); });

// --- a label folder that cannot be made ---

struct UncreatableCase {
    const char* name;
    const char* videoName;  // inside tmp/videos
    bool danglingLink;      // the folder's path is a link to a place that does not exist
};

void PrintTo(const UncreatableCase& c, std::ostream* os) {
    *os << c.name;
}

class UncreatableFolder : public BadInput, public ::testing::WithParamInterface<UncreatableCase> {};

TEST_P(UncreatableFolder, VideoOpensAndEditsTellWithoutWritingAnything) {
    // Written as .avi, so that the writer picks its container, then given the name under test.
    const fs::path written = MakeClip("videos/written.avi");
    ASSERT_FALSE(written.empty());
    const fs::path video = tmp / "videos" / GetParam().videoName;
    fs::rename(written, video);
    if (GetParam().danglingLink) {
        fs::create_symlink(tmp / "elsewhere" / "clip", LabelFolder(video));
    }
    const TreeSnapshot before = SnapshotTree(tmp.Path());

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string());
    EXPECT_TRUE(app.Boxes().empty());

    Draw();
    EXPECT_EQ(Boxes(kNoAccess), 1);
    EXPECT_EQ(app.Boxes().size(), 1u);
    EXPECT_FALSE(HasRoi(*this, 1, 0));  // not stored, so not shown

    // A deletion rewrites the frame: told once more.
    wnd.SetCursorPos(FrameToClient({230, 175}));
    EXPECT_TRUE(wnd.KeyDown(VK_KEY_D));
    EXPECT_EQ(Boxes(kNoAccess), 2);
    EXPECT_FALSE(HasRoi(*this, 1, 0));

    EXPECT_EQ(SnapshotTree(tmp.Path()), before);
    EXPECT_FALSE(fs::exists(tmp / "elsewhere"));
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, UncreatableFolder,
    ::testing::Values(
        UncreatableCase{"DanglingLinkInPlaceOfTheFolder", "clip.avi", true},
        // Four characters: without them the label folder would be the video's own folder.
        UncreatableCase{"NameOfFourCharacters", ".avi", false},
        // Two: without four the name would reach into the parent ("video" beside "videos").
        UncreatableCase{"NameOfTwoCharacters", "ab", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- frame files that are not files ---

TEST_F(BadInput, FrameFileThatIsAFolderFailsOnlyThatFrame) {
    const fs::path video = MakeClip("clip.avi");
    ASSERT_FALSE(video.empty());
    fs::create_directories(LabelFolder(video) / "0.txt" / "keep");
    WriteFileBytes(LabelFolder(video) / "0.txt" / "keep" / "note", "someone's folder");
    WriteLabelFile(video, 1, {MakeRoi(1, 3, 1, {40, 160, 100, 220})});

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[2]));  // frame 1 was read
    EXPECT_EQ(Store().GetCount(), 1);

    const CRect onZero = Draw();
    EXPECT_EQ(Boxes(kNoAccess), 1);
    EXPECT_FALSE(HasRoi(*this, 1, 0));  // not stored, so not shown
    EXPECT_EQ(ReadFileBytes(LabelFolder(video) / "0.txt" / "keep" / "note"), "someone's folder");
    // No temporary left: only the lock and this window's (empty) folder.
    for (const auto& e : fs::recursive_directory_iterator(LabelFolder(video) / ".tagwright-tmp")) {
        EXPECT_TRUE(e.is_directory() || e.path().filename() == "lock") << e.path();
    }

    // The next frame saves as usual.
    EXPECT_TRUE(wnd.KeyDown(VK_RIGHT));
    ASSERT_EQ(ShownFrameIndex(), 1);
    const CRect onOne = Draw();
    EXPECT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(ReadLabelFile(video, 1),
              LabelLine(onOne, 1, 0) + LabelLine(CRect{40, 160, 100, 220}, 3, 1));
    EXPECT_EQ(onOne, onZero);
}

TEST_F(BadInput, DanglingFrameLinkIsReplacedInsideTheFolderByTheFirstSave) {
    const fs::path video = MakeClip("clip.avi");
    ASSERT_FALSE(video.empty());
    fs::create_directories(tmp / "outside");
    WriteLabelFile(video, 1, {MakeRoi(1, 2, 0, {40, 160, 100, 220})});
    fs::create_symlink(tmp / "outside" / "0.txt", LabelFolder(video) / "0.txt");

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[1]));
    EXPECT_EQ(Store().GetCount(), 1);

    const CRect drawn = Draw();
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(fs::symlink_status(LabelFolder(video) / "0.txt").type(), fs::file_type::regular);
    EXPECT_EQ(ReadLabelFile(video, 0), LabelLine(drawn, 1, 0));
    EXPECT_TRUE(fs::is_empty(tmp / "outside"));
}

// --- damaged video files ---

enum class Damage { CutInHalf, CutInsideTheFirstFrame, RandomBytes };

struct DamageCase {
    const char* name;
    Damage damage;
};

void PrintTo(const DamageCase& c, std::ostream* os) {
    *os << c.name;
}

class UnreadableVideo : public BadInput, public ::testing::WithParamInterface<DamageCase> {};

TEST_P(UnreadableVideo, FailedOpenNamesTheFileAndLeavesNoVideoAndNoFiles) {
    // A good video is open first, with labels, so the failed open has a state to undo.
    const fs::path good = MakeClip("good.avi");
    ASSERT_FALSE(good.empty());
    WriteLabelFile(good, 0, {MakeRoi(0, 2, 0, {40, 160, 100, 220})});
    ASSERT_TRUE(OpenViaButton(good));
    ASSERT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[1]));
    // The good video's frame index is stored at a tick of its timer, which may come while the
    // failed open's message is up; store it before the snapshot.
    dlg.GetVideoManager()->WaitForIndex();
    wnd.FireTimer(INDEX_TIMER_ID);

    SampleVideoOptions o = SmallVideo();
    o.frames = 60;
    o.gop = 10;
    const fs::path whole = MakeVideo("whole.mp4", o);
    ASSERT_FALSE(whole.empty());
    const std::string clip = ReadFileBytes(whole);
    fs::remove(whole);
    std::string bytes;
    switch (GetParam().damage) {
        case Damage::CutInHalf:
            bytes = clip.substr(0, clip.size() / 2);
            break;
        case Damage::CutInsideTheFirstFrame: {
            // Index first, so the file opens; cut a few bytes into the frame data.
            const std::string indexFirst = IndexFirst(clip);
            ASSERT_FALSE(indexFirst.empty());
            const size_t frames = indexFirst.find("mdat");
            ASSERT_NE(frames, std::string::npos);
            bytes = indexFirst.substr(0, frames + 4 + 64);
            break;
        }
        case Damage::RandomBytes:
            bytes = RandomBytes(clip.size(), 12345);
            break;
    }
    const fs::path broken = tmp / "검사 영상 1.mp4";
    WriteFileBytes(broken, bytes);
    TreeSnapshot before = SnapshotTree(tmp.Path());
    before.erase("good/.tagwright-tmp/lock");  // the previous video's lock goes with it
    app.ClearBoxes();

    EXPECT_FALSE(OpenViaButton(broken));
    ExpectNoVideo();
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text, "Can't open the video file: " + broken.string());
    EXPECT_EQ(app.Boxes()[0].type, MessageBoxType::Ok);
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), broken.string());

    // Everything an operator might try now does nothing, says nothing and writes nothing.
    for (int vk : {VK_RIGHT, VK_LEFT, VK_KEY_C, VK_KEY_D, static_cast<int>('T'),
                   static_cast<int>('E'), static_cast<int>('N'), static_cast<int>('B'), VK_SPACE}) {
        wnd.KeyDown(vk);
    }
    wnd.FireTimer(PLAY_TIMER_ID);
    wnd.Wheel(-120);
    const CRect pic = PictureRect();
    DragClient(*this, {pic.left + 40, pic.top + 40}, {pic.left + 120, pic.top + 120});
    wnd.Click(kMainGoButtonIds[1]);
    wnd.ScrollSlider(5);
    ExpectNoVideo(false);
    EXPECT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(SnapshotTree(tmp.Path()), before);
    EXPECT_FALSE(fs::exists(LabelFolder(broken)));
    EXPECT_FALSE(fs::exists(LabelFolder(good) / "-1.txt"));
}

INSTANTIATE_TEST_SUITE_P(BadInput, UnreadableVideo,
                         ::testing::Values(DamageCase{"H264CutInHalf", Damage::CutInHalf},
                                           DamageCase{"H264CutInsideTheFirstFrame",
                                                      Damage::CutInsideTheFirstFrame},
                                           DamageCase{"RandomBytes", Damage::RandomBytes}),
                         [](const auto& info) { return std::string(info.param.name); });

struct TruncatedCase {
    const char* name;
    const char* file;  // its extension picks the codec
    bool indexFirst;   // H.264 laid out for streaming, so that a cut keeps the first frames
};

void PrintTo(const TruncatedCase& c, std::ostream* os) {
    *os << c.name;
}

class TruncatedVideo : public BadInput, public ::testing::WithParamInterface<TruncatedCase> {};

TEST_P(TruncatedVideo, ReadableFramesShowAndSteppingPastTheDamageFailsQuietly) {
    SampleVideoOptions o = SmallVideo();
    o.frames = 60;
    o.gop = 10;
    const fs::path whole = MakeVideo(std::string("whole") + GetParam().file, o);
    ASSERT_FALSE(whole.empty());
    std::string bytes = ReadFileBytes(whole);
    fs::remove(whole);
    if (GetParam().indexFirst) {
        bytes = IndexFirst(bytes);
        ASSERT_FALSE(bytes.empty());
    }
    const fs::path video = tmp / (std::string("cut") + GetParam().file);
    WriteFileBytes(video, bytes.substr(0, bytes.size() / 2));
    // A label on a frame that the cut took away.
    WriteLabelFile(video, 50, {MakeRoi(50, 2, 0, {40, 160, 100, 220})});

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(app.Boxes().empty());
    ASSERT_EQ(ShownFrameIndex(), 0);

    // Step until the counter stops: the read failed. Every frame before the damage is the
    // right one; the last one may be what the decoder made of a frame cut in two.
    int last = 0;
    std::vector<int> stamps;
    for (int i = 0; i < o.frames; ++i) {
        wnd.KeyDown(VK_RIGHT);
        const int counter = std::stoi(wnd.GetControlText(IDC_STATIC_FRAME));
        if (counter == last) {
            break;
        }
        ASSERT_EQ(counter, last + 1);
        stamps.push_back(ShownFrameIndex());
        last = counter;
    }
    EXPECT_GE(last, 2) << "the cut keeps some frames";
    EXPECT_LT(last, o.frames - 1) << "and loses others";
    for (size_t k = 0; k + 1 < stamps.size(); ++k) {
        EXPECT_EQ(stamps[k], static_cast<int>(k) + 1);
    }
    const cv::Mat shown = wnd.Ctl(IDC_PICTURE).image.clone();
    const int paints = wnd.Ctl(IDC_PICTURE).paintCount;

    // More steps, the wheel, playback ticks and the slider beyond the damage change nothing.
    wnd.KeyDown(VK_RIGHT);
    wnd.Wheel(-120);
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    for (int i = 0; i < 5; ++i) {
        wnd.FireTimer(PLAY_TIMER_ID);
    }
    ASSERT_TRUE(wnd.Click(IDC_BTN_PLAY));
    wnd.ScrollSlider(o.frames - 2);
    EXPECT_TRUE(app.Boxes().empty());
    // Jumping to that label cannot show it: the next-label key does nothing, the GO button
    // says that the frame cannot be reached.
    EXPECT_FALSE(wnd.KeyDown(static_cast<int>('N')));
    EXPECT_TRUE(app.Boxes().empty());
    ASSERT_TRUE(wnd.Click(kMainGoButtonIds[1]));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text,
              "frame index와 roi정보 매칭이 필요합니다. 동영상을 다시 오픈하세요.");
    app.ClearBoxes();
    EXPECT_EQ(wnd.Ctl(IDC_PICTURE).paintCount, paints);
    EXPECT_EQ(cv::norm(wnd.Ctl(IDC_PICTURE).image, shown, cv::NORM_INF), 0.0);
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), std::to_string(last));
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);

    // A ROI drawn now belongs to the frame on screen, and the picture shows it there.
    const CRect drawn = Draw();
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(ReadLabelFile(video, last), LabelLine(drawn, 1, 0));
    EXPECT_EQ(wnd.GetControlText(IDC_STATIC_FRAME), std::to_string(last));
    EXPECT_EQ(PaintedPixel(*this, drawn.left, (drawn.top + drawn.bottom) / 2), kLabel1Color);
    // Beside the labels: the frame index of what could be read, once complete.
    dlg.GetVideoManager()->WaitForIndex();
    std::vector<std::string> files = {".tagwright-index", ".tagwright-tmp",
                                      std::to_string(last) + ".txt", "50.txt"};
    std::sort(files.begin(), files.end());
    EXPECT_EQ(ListFolderNames(LabelFolder(video)), files);

    // And the readable part can still be browsed.
    wnd.KeyDown(VK_LEFT);
    EXPECT_EQ(ShownFrameIndex(), last - 1);
    wnd.ScrollSlider(0);
    EXPECT_EQ(ShownFrameIndex(), 0);
}

INSTANTIATE_TEST_SUITE_P(BadInput, TruncatedVideo,
                         ::testing::Values(TruncatedCase{"H264IndexFirst", ".mp4", true},
                                           TruncatedCase{"Mjpg", ".avi", false}),
                         [](const auto& info) { return std::string(info.param.name); });

// --- names with spaces, Korean characters and quotes ---

struct NameCase {
    const char* name;
    const char* folder;
    const char* video;
};

void PrintTo(const NameCase& c, std::ostream* os) {
    *os << c.name;
}

class PathNames : public BadInput, public ::testing::WithParamInterface<NameCase> {};

TEST_P(PathNames, OpenLabelReopenAndLogWork) {
    const std::string relative = std::string(GetParam().folder) + "/" + GetParam().video;
    const fs::path video = MakeClip(relative);
    ASSERT_FALSE(video.empty());
    const fs::path videoDir = video.parent_path();
    const std::string videoName = GetParam().video;
    const fs::path folder = videoDir / videoName.substr(0, videoName.size() - 4);
    WriteLabelFile(video, 2, {MakeRoi(2, 3, 1, {40, 160, 100, 220})});

    ASSERT_TRUE(OpenViaButton(video));
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(wnd.GetControlText(IDC_EDIT_PATH), video.string());
    EXPECT_EQ(ShownFrameIndex(), 0);
    EXPECT_EQ(Store().GetLabelFolder(), folder);
    EXPECT_EQ(Store().GetVideoName(), videoName);
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[2]));

    const CRect drawn = Draw();
    EXPECT_TRUE(app.Boxes().empty());
    EXPECT_EQ(ReadFileBytes(folder / "0.txt"), LabelLine(drawn, 1, 0));

    // Opened again, both labels come back from that folder.
    ASSERT_TRUE(OpenViaButton(video));
    CRect stored;
    ASSERT_TRUE(HasRoi(*this, 1, 0, &stored));
    EXPECT_EQ(stored, drawn);
    EXPECT_TRUE(HasRoi(*this, 3, 2));
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[0]));
    EXPECT_TRUE(wnd.IsControlEnabled(kMainGoButtonIds[2]));
    EXPECT_EQ(PaintedPixel(*this, drawn.left, (drawn.top + drawn.bottom) / 2), kLabel1Color);

    // One log line per load, naming the folder byte for byte.
    const std::string log = ReadFileBytes(videoDir / kLogName);
    const std::string prefix = "loading folder execution time: " + folder.string();
    size_t lines = 0;
    for (size_t at = 0; at < log.size();) {
        const size_t end = log.find("\r\n", at);
        ASSERT_NE(end, std::string::npos);
        const std::string line = log.substr(at, end - at);
        EXPECT_EQ(line.substr(0, prefix.size()), prefix);
        EXPECT_EQ(line.size(), prefix.size() + 10 + 8) << line;  // time field, " seconds"
        ++lines;
        at = end + 2;
    }
    EXPECT_EQ(lines, 2u);
    std::vector<std::string> expected = {videoName, folder.filename().string(), kLogName};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ListFolderNames(videoDir), expected);
    EXPECT_TRUE(app.Boxes().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadInput, PathNames,
    ::testing::Values(NameCase{"Korean", "검사 폴더", "검사 영상 1.mp4"},
                      NameCase{"SingleQuotes", "it's mine", "O'Brien's clip.mp4"},
                      NameCase{"DoubleQuotes", "say \"hi\"", "\"quoted\" clip.mp4"},
                      NameCase{"AllTogether", "내시경 'a' \"b\"", "검사 'x' \"y\"  z.mp4"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
