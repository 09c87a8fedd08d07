// The label store against bad input on disk: folders that cannot be made or written, links and
// folders where frame files should be, video names too short to leave a label folder, and names
// with spaces, Korean characters and quotes. Whatever happens, nothing may be written outside
// the label folder (and the log and report beside it), and the store keeps every change.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <system_error>

#include "LabelTestSupport.h"
#include "support/TreeSnapshot.h"

namespace fs = std::filesystem;

namespace {

const char* const kLogName = "loading_time_log.txt";
const char* const kReportName = "labeling_report.txt";

// Lines of the loading-time log, each with its CR LF.
std::vector<std::string> LogLines(const fs::path& log) {
    std::vector<std::string> lines;
    const std::string text = ReadFileBytes(log);
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end + 2 - pos));
        pos = end + 2;
    }
    return lines;
}

// The folder named in a log line, byte for byte, then the ten-character time and " seconds".
void ExpectLogNames(const std::string& line, const fs::path& folder) {
    const std::string prefix = "loading folder execution time: " + folder.string();
    const std::string suffix = " seconds\r\n";
    ASSERT_EQ(line.size(), prefix.size() + 10 + suffix.size()) << line;
    EXPECT_EQ(line.substr(0, prefix.size()), prefix);
    EXPECT_EQ(line.substr(line.size() - suffix.size()), suffix);
}

// Every way of writing the store has: a new record, a class change, a crop file, a report.
// Each file write that fails must say so; the report fails silently.
void WriteEverything(CLabelManager& store) {
    store.SetCurLabel(4);
    store.AddROI(3, CRect{1, 2, 30, 40}, 1, 0);
    store.SetLabelClass(4, 2);
    store.WriteCropFile(CRect{5, 6, 70, 80});
    store.WriteReport("comment");
    store.DeleteFrameROIs(9);
}

TEST_F(LabelStoreTest, VideoNameTooShortForALabelFolderWritesNothingAnywhere) {
    // Without the last four characters these names leave the video's own folder (".mp4",
    // "a.ts", "abcd") or reach into its parent ("ab", "x"); neither is a label folder.
    const std::vector<std::string> names = {".mp4", "a.ts", "abcd", "ab", "x"};
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        const fs::path videos = dir / "videos";
        fs::create_directories(videos);
        WriteFileBytes(videos / name, "video bytes");
        WriteFileBytes(videos / "0.txt", "1,1,5,5,2,0\r\n");  // must not be read as labels
        const TreeSnapshot before = SnapshotTree(dir.Path());
        messages.clear();
        goButtons.clear();

        EXPECT_FALSE(store.OpenVideo(videos / name));
        EXPECT_EQ(store.GetVideoName(), name);
        EXPECT_EQ(store.GetCount(), 0);
        EXPECT_FALSE(goButtons[2]);

        WriteEverything(store);
        EXPECT_EQ(CountOf(kNoAccess), 2);  // the new record, the crop file
        EXPECT_EQ(messages.size(), 2u);
        EXPECT_EQ(store.GetFrameCount(3), 0);  // nothing stored, nothing shown
        ROI roi;
        EXPECT_FALSE(store.FindROI(4, 3, roi));

        EXPECT_EQ(SnapshotTree(dir.Path()), before);
        fs::remove_all(videos);
    }
}

TEST_F(LabelStoreTest, FileInThePathOfTheVideoFolderFailsEveryWriteAndTouchesNothing) {
    WriteFileBytes(dir / "plain", "a file, not a folder");
    const TreeSnapshot before = SnapshotTree(dir.Path());
    EXPECT_FALSE(store.OpenVideo(dir / "plain" / "case7.mp4"));
    WriteEverything(store);
    EXPECT_EQ(CountOf(kNoAccess), 2);
    EXPECT_EQ(store.GetFrameCount(3), 0);
    EXPECT_EQ(SnapshotTree(dir.Path()), before);
}

TEST_F(LabelStoreTest, DanglingLinkInPlaceOfTheLabelFolderIsNeverFollowed) {
    // One link points into a folder that does not exist, one at a free name in one that does:
    // creating either target would put the labels outside the video's folder.
    const std::vector<fs::path> targets = {dir / "gone" / "case7", dir / "elsewhere" / "case7"};
    fs::create_directories(dir / "elsewhere");
    for (const fs::path& target : targets) {
        SCOPED_TRACE(target.string());
        fs::create_symlink(target, LabelFolder());
        const TreeSnapshot before = SnapshotTree(dir.Path());
        messages.clear();
        goButtonCalls = 0;

        EXPECT_TRUE(store.OpenVideo(VideoPath()));  // something is there, so it is not new
        EXPECT_EQ(goButtonCalls, 0);                // and it is no folder: nothing loaded
        WriteEverything(store);
        EXPECT_EQ(CountOf(kNoAccess), 2);
        EXPECT_EQ(store.GetFrameCount(3), 0);
        EXPECT_FALSE(fs::exists(target));
        EXPECT_EQ(SnapshotTree(dir.Path()), before);  // no log line either
        fs::remove(LabelFolder());
    }
}

TEST_F(LabelStoreTest, LinkedLabelFolderKeepsLogAndReportBesideTheVideo) {
    // The label folder may live on another disk through a link; the log and the report still
    // belong in the video's own folder, not in the parent of the link's target.
    const fs::path store7 = dir / "store" / "real7";
    fs::create_directories(store7);
    WriteFileBytes(store7 / "3.txt", "1,1,5,5,2,0\r\n");
    fs::create_symlink(store7, LabelFolder());

    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_EQ(Frame(3).size(), 1u);
    EXPECT_TRUE(goButtons[2]);
    store.SetCurLabel(5);
    store.AddROI(4, CRect{2, 2, 9, 9}, 1, 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(ReadFileBytes(store7 / "4.txt"), "2,2,9,9,5,1\r\n");
    EXPECT_TRUE(store.WriteReport("c"));

    const auto lines = LogLines(dir / kLogName);
    ASSERT_EQ(lines.size(), 1u);
    ExpectLogNames(lines[0], LabelFolder());
    EXPECT_TRUE(fs::exists(dir / kReportName));
    EXPECT_EQ(ListFolderNames(dir / "store"), std::vector<std::string>{"real7"});
}

TEST_F(LabelStoreTest, ReadOnlyLabelFolderFailsEveryWriteAndWritesNothingElsewhere) {
    // Permissions do not stop this test's user, but a read-only file system does. /sys is one
    // on every Linux system; reached through a link it stands for a label folder on a
    // write-protected medium.
    const fs::path readOnly = "/sys";
    std::error_code ec;
    if (fs::create_directory(readOnly / ".tagwright-probe", ec)) {
        fs::remove(readOnly / ".tagwright-probe", ec);
        GTEST_SKIP() << readOnly << " is writable here";
    }
    ASSERT_TRUE(fs::is_directory(readOnly));
    fs::create_symlink(readOnly, LabelFolder());
    const bool rootLogBefore = fs::exists("/" + std::string(kLogName));
    const bool rootReportBefore = fs::exists("/" + std::string(kReportName));
    const std::vector<std::string> sysBefore = ListFolderNames(readOnly);

    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_EQ(store.GetCount(), 0);  // only folders in there
    WriteEverything(store);
    EXPECT_EQ(CountOf(kNoAccess), 2);
    EXPECT_EQ(messages.size(), 2u);
    EXPECT_EQ(store.GetFrameCount(3), 0);

    EXPECT_EQ(ListFolderNames(readOnly), sysBefore);
    EXPECT_EQ(fs::exists("/" + std::string(kLogName)), rootLogBefore);
    EXPECT_EQ(fs::exists("/" + std::string(kReportName)), rootReportBefore);
    // The log line of the load and the report are beside the video.
    ASSERT_EQ(LogLines(dir / kLogName).size(), 1u);
    ExpectLogNames(LogLines(dir / kLogName)[0], LabelFolder());
    EXPECT_TRUE(fs::exists(dir / kReportName));
    EXPECT_EQ(ListFolderNames(dir.Path()),
              (std::vector<std::string>{"case7", kReportName, kLogName}));
}

TEST_F(LabelStoreTest, DanglingFrameLinkIsSkippedThenReplacedInsideTheFolder) {
    fs::create_directories(dir / "outside");
    WriteFileBytes(dir / "outside" / "shared.txt", "7,7,17,17,7,0\r\n");
    WriteLabelFile("4.txt", "1,1,5,5,2,0\r\n");
    fs::create_symlink(dir / "outside" / "5.txt", FrameFile(5));  // dangling
    fs::create_symlink(dir / "outside" / "shared.txt", FrameFile(6));
    fs::create_symlink(dir / "outside" / "8.txt", FrameFile(8));  // dangling

    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(Frame(4).size(), 1u);
    EXPECT_TRUE(Frame(5).empty());
    ASSERT_EQ(Frame(6).size(), 1u);  // a link to a file is read like the file
    EXPECT_EQ(store.GetCount(), 2);
    EXPECT_TRUE(goButtons[2] && goButtons[7]);

    // Saving replaces the link itself: the file lands in the label folder, and neither the
    // missing target nor the shared file is written.
    store.SetCurLabel(3);
    EXPECT_EQ(store.AddROI(5, CRect{1, 2, 3, 4}, 0, 0), 3);
    EXPECT_EQ(store.AddROI(6, CRect{5, 6, 7, 8}, 1, 0), 3);
    EXPECT_TRUE(messages.empty());
    EXPECT_EQ(fs::symlink_status(FrameFile(5)).type(), fs::file_type::regular);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "1,2,3,4,3,0\r\n");
    EXPECT_EQ(fs::symlink_status(FrameFile(6)).type(), fs::file_type::regular);
    EXPECT_EQ(ReadFileBytes(FrameFile(6)), "5,6,7,8,3,1\r\n7,7,17,17,7,0\r\n");
    EXPECT_EQ(ReadFileBytes(dir / "outside" / "shared.txt"), "7,7,17,17,7,0\r\n");

    // A frame without records has no file: the dangling link goes, its target stays missing.
    EXPECT_EQ(store.SaveFrame(8), 1);
    EXPECT_FALSE(fs::exists(fs::symlink_status(FrameFile(8))));
    EXPECT_EQ(ListFolderNames(dir / "outside"), std::vector<std::string>{"shared.txt"});

    // And the folder reads back as the store holds it.
    CLabelManager other;
    EXPECT_TRUE(other.OpenVideo(VideoPath()));
    EXPECT_EQ(other.GetCount(), 4);
    EXPECT_EQ(other.GetFrameCount(6), 2);
}

TEST_F(LabelStoreTest, LinkInPlaceOfTheHiddenFolderIsNeverWrittenThrough) {
    // A temporary written through the link would land outside the label folder first, and
    // would overwrite a file of the same name there.
    fs::create_directories(dir / "outside");
    WriteFileBytes(dir / "outside" / "5.txt.tmp", "someone else's file");
    const std::vector<fs::path> targets = {dir / "outside", dir / "missing"};
    for (const fs::path& target : targets) {
        SCOPED_TRACE(target.string());
        OpenFresh();
        WriteFileBytes(FrameFile(5), "1,1,2,2,2,0\r\n");
        fs::remove_all(LabelFolder() / ".tagwright-tmp");  // its lock goes with it
        fs::create_symlink(target, LabelFolder() / ".tagwright-tmp");
        const TreeSnapshot before = SnapshotTree(dir.Path());
        messages.clear();

        store.SetCurLabel(2);
        EXPECT_EQ(store.AddROI(5, CRect{7, 7, 9, 9}, 0, 0), 2);
        EXPECT_EQ(CountOf(kNoAccess), 1);
        EXPECT_EQ(store.WriteCropFile(CRect{1, 2, 3, 4}), -1);
        EXPECT_EQ(CountOf(kNoAccess), 2);
        ROI roi;
        EXPECT_FALSE(store.FindROI(2, 5, roi));  // taken back: it was never stored
        EXPECT_EQ(SnapshotTree(dir.Path()), before);

        // Once the link is gone the folder (and the lock) is made again and saving works.
        fs::remove(LabelFolder() / ".tagwright-tmp");
        EXPECT_EQ(store.AddROI(5, CRect{7, 7, 9, 9}, 0, 0), 2);
        EXPECT_EQ(ReadFileBytes(FrameFile(5)), "7,7,9,9,2,0\r\n");
        EXPECT_TRUE(fs::is_directory(fs::symlink_status(LabelFolder() / ".tagwright-tmp")));
        fs::remove_all(LabelFolder());
    }
    EXPECT_EQ(ReadFileBytes(dir / "outside" / "5.txt.tmp"), "someone else's file");
}

TEST_F(LabelStoreTest, NamesWithSpacesKoreanAndQuotesKeepTheirFolderAndLogIt) {
    struct Case {
        std::string folder;
        std::string video;
    };
    const std::vector<Case> cases = {
        {"검사 폴더", "검사 영상 1.mp4"},
        {"it's here", "O'Brien's \"first\" clip.mp4"},
        {"say \"hi\" 'there'", "a  b  .mp4"},
        {"내시경 \"검사\" 'x'", "'\".mp4"},  // nothing but quotes before the extension
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder + " / " + c.video);
        const fs::path videoDir = dir / c.folder;
        fs::create_directories(videoDir);
        const fs::path video = videoDir / c.video;
        const fs::path labels = videoDir / c.video.substr(0, c.video.size() - 4);
        messages.clear();

        EXPECT_FALSE(store.OpenVideo(video));
        EXPECT_EQ(store.GetVideoName(), c.video);
        EXPECT_EQ(store.GetLabelFolder(), labels);
        EXPECT_TRUE(fs::is_directory(labels));
        store.SetCurLabel(2);
        store.AddROI(11, CRect{3, 4, 50, 60}, 1, 0);
        EXPECT_EQ(ReadFileBytes(labels / "11.txt"), "3,4,50,60,2,1\r\n");

        CLabelManager other;
        EXPECT_TRUE(other.OpenVideo(video));
        std::vector<ROI> rois;
        other.GetFrameROIs(11, rois);
        ASSERT_EQ(rois.size(), 1u);
        EXPECT_EQ(rois[0].rect, (CRect{3, 4, 50, 60}));
        const auto lines = LogLines(videoDir / kLogName);
        ASSERT_EQ(lines.size(), 1u);
        ExpectLogNames(lines[0], labels);
        EXPECT_TRUE(messages.empty());
        std::vector<std::string> expected = {labels.filename().string(), kLogName};
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(ListFolderNames(videoDir), expected);
    }
}

}  // namespace
