#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <iomanip>
#include <sstream>

#include "LabelTestSupport.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> SplitCrLfLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find("\r\n", pos);
        if (end == std::string::npos) {
            lines.push_back(text.substr(pos));
            break;
        }
        lines.push_back(text.substr(pos, end + 2 - pos));
        pos = end + 2;
    }
    return lines;
}

std::vector<std::string> ListNames(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// The log line is fixed but for the elapsed time: check every byte around it, and that the time
// is printed exactly as a default-formatted stream prints it in a ten-character field. The load
// ran inside a call that took `callSeconds`, so the time, in seconds, cannot be more than that
// (a time in milliseconds or microseconds would be).
void ExpectLogLine(const std::string& line, const fs::path& folder, double callSeconds) {
    const std::string prefix = "loading folder execution time: " + folder.string();
    const std::string suffix = " seconds\r\n";
    ASSERT_EQ(line.substr(0, prefix.size()), prefix) << line;
    ASSERT_GE(line.size(), prefix.size() + 10 + suffix.size()) << line;
    ASSERT_EQ(line.substr(line.size() - suffix.size()), suffix) << line;
    const std::string field =
        line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
    ASSERT_EQ(field.size(), 10u) << '"' << field << '"';
    double seconds = -1;
    std::istringstream(field) >> seconds;
    EXPECT_GE(seconds, 0.0);
    // Six significant digits may round the printed value up by a hair.
    EXPECT_LE(seconds, callSeconds * 1.00001 + 1e-6);
    std::ostringstream again;
    again << std::setw(10) << seconds;
    EXPECT_EQ(again.str(), field);
}

TEST_F(LabelStoreTest, NewVideoCreatesItsFolderAndLogsNothing) {
    EXPECT_FALSE(store.OpenVideo(VideoPath()));
    EXPECT_TRUE(fs::is_directory(LabelFolder()));
    EXPECT_EQ(store.GetVideoName(), "case7.mp4");
    EXPECT_EQ(store.GetLabelFolder(), LabelFolder());
    EXPECT_EQ(goButtonCalls, 0);
    EXPECT_FALSE(fs::exists(dir / "loading_time_log.txt"));
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(LabelStoreTest, ReopeningAppendsOneLogLinePerLoadBesideTheFolder) {
    OpenFresh();
    std::vector<double> callSeconds;
    for (int i = 0; i < 2; ++i) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(store.OpenVideo(VideoPath()));
        callSeconds.push_back(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    const auto lines = SplitCrLfLines(ReadFileBytes(dir / "loading_time_log.txt"));
    ASSERT_EQ(lines.size(), 2u);
    for (size_t i = 0; i < lines.size(); ++i) {
        ExpectLogLine(lines[i], LabelFolder(), callSeconds[i]);
    }
    EXPECT_FALSE(fs::exists(LabelFolder() / "loading_time_log.txt"));
    // Every GO button told, all disabled for an empty folder.
    EXPECT_EQ(goButtons.size(), 30u);
    for (const auto& [label, enabled] : goButtons) {
        EXPECT_FALSE(enabled) << label;
    }
}

TEST_F(LabelStoreTest, VideoNameAndFolderFollowTheLastFourCharacters) {
    const fs::path video = dir / "내시경 검사 1.mp4";
    EXPECT_FALSE(store.OpenVideo(video));
    EXPECT_EQ(store.GetVideoName(), "내시경 검사 1.mp4");
    EXPECT_TRUE(fs::is_directory(dir / "내시경 검사 1"));
    const fs::path avi = dir / "clip.mpeg";  // four characters go whatever the extension
    EXPECT_FALSE(store.OpenVideo(avi));
    EXPECT_TRUE(fs::is_directory(dir / "clip."));
}

TEST_F(LabelStoreTest, SaveFrameWritesSixColumnsWithCrLfInTheStoresOrder) {
    OpenFresh();
    store.SetCurLabel(5);
    store.AddROI(0, CRect{0, 0, 50, 50}, 2, 0);
    store.SetCurLabel(2);
    store.AddROI(0, CRect{10, 20, 110, 220}, 0, 0);
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "10,20,110,220,2,0\r\n0,0,50,50,5,2\r\n");
    EXPECT_EQ(store.SaveFrame(0), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "10,20,110,220,2,0\r\n0,0,50,50,5,2\r\n");
    // The temporary is renamed into place: nothing remains beside it.
    EXPECT_EQ(StrayTemporaries(), std::vector<std::string>{});
    EXPECT_EQ(ListNames(LabelFolder()), (std::vector<std::string>{".tagwright-tmp", "0.txt"}));
}

TEST_F(LabelStoreTest, SavingAFrameWithoutRecordsLeavesNoFile) {
    OpenFresh();
    EXPECT_EQ(store.SaveFrame(3), 1);
    EXPECT_FALSE(fs::exists(FrameFile(3)));
    WriteFileBytes(FrameFile(4), "1,1,2,2,1,0\r\n");  // stale file of a frame now empty
    EXPECT_EQ(store.SaveFrame(4), 1);
    EXPECT_FALSE(fs::exists(FrameFile(4)));
    EXPECT_TRUE(messages.empty());
}

TEST_F(LabelStoreTest, FiveColumnFileLoadsWithClassZeroAndIsWrittenWithSix) {
    WriteLabelFile("7.txt", "1,2,3,4,9\r\n");
    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    auto rois = Frame(7);
    ASSERT_EQ(rois.size(), 1u);
    EXPECT_EQ(rois[0].nLabel, 9);
    EXPECT_EQ(rois[0].nClass, 0);
    EXPECT_EQ(rois[0].rect, (CRect{1, 2, 3, 4}));
    EXPECT_EQ(store.GetFrameCount(7), 1);
    EXPECT_EQ(store.SaveFrame(7), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(7)), "1,2,3,4,9,0\r\n");
}

TEST_F(LabelStoreTest, ShortLineEndsAFileAndLaterFilesStillLoad) {
    WriteLabelFile("3.txt", "1,1,5,5,1,0\r\n2,2,6,6,2,1\r\n\r\n3,3,7,7,3,0\r\n");
    WriteLabelFile("4.txt", "1,1,5,5,4,2\r\n");
    store.OpenVideo(VideoPath());
    EXPECT_EQ(Frame(3).size(), 2u);
    EXPECT_EQ(store.GetFrameCount(3), 2);
    EXPECT_EQ(Frame(4).size(), 1u);
    EXPECT_TRUE(goButtons[1] && goButtons[2] && goButtons[4]);
    EXPECT_FALSE(goButtons[3]);
}

TEST_F(LabelStoreTest, LabelZeroIsKeptUncountedAndReportedOncePerLoad) {
    WriteLabelFile("2.txt", "1,1,5,5,0,0\r\n2,2,6,6,3,1\r\n");
    WriteLabelFile("9.txt", "1,1,5,5,0,1\r\n1,1,5,5,-4,1\r\n");
    store.OpenVideo(VideoPath());
    EXPECT_EQ(CountOf(kBadLabel), 1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(store.GetCount(), 4);
    EXPECT_EQ(store.GetFrameCount(2), 1);
    EXPECT_EQ(store.GetFrameCount(9), 0);
    EXPECT_FALSE(goButtons.count(0));

    // Kept and written back with the frame; removing it does not eat another record's count.
    store.SetCurLabel(3);
    store.AddROI(2, CRect{2, 2, 7, 7}, 1, 0);
    EXPECT_EQ(ReadFileBytes(FrameFile(2)), "1,1,5,5,0,0\r\n2,2,7,7,3,1\r\n");
    store.DeleteROI(2, 0);
    EXPECT_EQ(store.GetFrameCount(2), 1);
    EXPECT_EQ(store.NextLabelledFrame(0), 2);

    store.OpenVideo(VideoPath());  // a new load may tell again, once
    EXPECT_EQ(CountOf(kBadLabel), 2);
}

TEST_F(LabelStoreTest, CropAndLogFilesAreSkippedButOtherNamesAreFrames) {
    WriteLabelFile("crop.txt", "1,1,5,5,3,0\r\n");
    WriteLabelFile("loading_time_log.txt", "1,1,5,5,4,0\r\n");
    WriteLabelFile("Crop.txt", "1,1,5,5,6,0\r\n");
    WriteLabelFile("notes.txt", "2,2,8,8,7,1\r\n");
    store.OpenVideo(VideoPath());
    auto rois = Frame(0);
    ASSERT_EQ(rois.size(), 2u);
    EXPECT_EQ(rois[0].nLabel, 6);
    EXPECT_EQ(rois[1].nLabel, 7);
    EXPECT_EQ(store.GetCount(), 2);
    EXPECT_FALSE(goButtons[3]);
    EXPECT_FALSE(goButtons[4]);

    EXPECT_EQ(store.SaveFrame(0), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(0)), "1,1,5,5,6,0\r\n2,2,8,8,7,1\r\n");
    EXPECT_EQ(ReadFileBytes(LabelFolder() / "notes.txt"), "2,2,8,8,7,1\r\n");
}

TEST_F(LabelStoreTest, LaterLineOfTheSameLabelWinsAndCountsOnce) {
    WriteLabelFile("5.txt", "1,1,5,5,2,0\r\n9,9,19,19,2,1\r\n");
    WriteLabelFile("005.txt", "3,3,4,4,8,0\r\n");  // another file of the same frame
    store.OpenVideo(VideoPath());
    EXPECT_EQ(store.GetFrameCount(5), 2);
    ROI roi;
    ASSERT_TRUE(store.FindROI(2, 5, roi));
    EXPECT_EQ(roi.rect, (CRect{9, 9, 19, 19}));
    EXPECT_EQ(roi.nClass, 1);
    EXPECT_TRUE(store.FindROI(8, 5, roi));
}

TEST_F(LabelStoreTest, GoButtonsFollowTheLabelsRead) {
    WriteLabelFile("1.txt", "1,1,5,5,1,0\r\n1,1,5,5,30,0\r\n1,1,5,5,31,0\r\n1,1,5,5,1000,0\r\n");
    WriteLabelFile("2.txt", "1,1,5,5,12,0\r\n1,1,5,5,13,2\r\n");
    store.OpenVideo(VideoPath());
    ASSERT_EQ(goButtons.size(), 30u);  // labels above 30 never reach the table
    EXPECT_EQ(goButtons.begin()->first, 1);
    EXPECT_EQ(goButtons.rbegin()->first, 30);
    for (const auto& [label, enabled] : goButtons) {
        const bool expected = label == 1 || label == 12 || label == 13 || label == 30;
        EXPECT_EQ(enabled, expected) << label;
    }
    // Labels above 30 are kept, counted and written back.
    EXPECT_EQ(store.GetFrameCount(1), 4);
    EXPECT_EQ(store.SaveFrame(1), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(1)),
              "1,1,5,5,1,0\r\n1,1,5,5,30,0\r\n1,1,5,5,31,0\r\n1,1,5,5,1000,0\r\n");
}

TEST_F(LabelStoreTest, LeftOverTemporaryIsNeverReadAsAFrame) {
    WriteLabelFile("5.txt", "1,1,5,5,2,0\r\n");
    fs::create_directories(LabelFolder() / ".tagwright-tmp");
    WriteFileBytes(LabelFolder() / ".tagwright-tmp" / "5.txt.tmp", "1,1,5,");  // torn write
    WriteFileBytes(LabelFolder() / ".tagwright-tmp" / "6.txt.tmp", "7,7,8,8,9,0\r\n");
    store.OpenVideo(VideoPath());
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_EQ(store.GetFrameCount(6), 0);
    store.SetCurLabel(3);
    store.AddROI(5, CRect{2, 2, 3, 3}, 1, 0);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "1,1,5,5,2,0\r\n2,2,3,3,3,1\r\n");
    EXPECT_FALSE(fs::exists(LabelFolder() / ".tagwright-tmp" / "5.txt.tmp"));
}

TEST_F(LabelStoreTest, NothingInAFolderStopsTheLoader) {
    fs::create_directories(LabelFolder());
    WriteLabelFile("1.txt", "1,1,5,5,1,0\r\n");
    WriteLabelFile("2.txt", "");
    WriteLabelFile("3.txt", std::string("\0\x01\xfe\xff,,,,\n\n\x80garbage", 18));
    std::string huge(4u << 20, 'x');
    WriteLabelFile("4.txt", huge + "\r\n1,1,5,5,4,0\r\n");  // first line 4 MB: a short line
    std::string hugeField(3u << 20, '9');
    WriteLabelFile("14.txt", hugeField + ",1,5,5,14,0\r\n1,1,5,5,15,0\r\n");
    fs::create_directories(LabelFolder() / "5.txt" / "inner");  // a folder named like a frame
    WriteFileBytes(LabelFolder() / "5.txt" / "6.txt", "1,1,5,5,5,0\r\n");
    fs::create_symlink(LabelFolder() / "nowhere.txt", LabelFolder() / "6.txt");  // dangling
    ASSERT_EQ(mkfifo((LabelFolder() / "7.txt").c_str(), 0644), 0);  // would block a reader
    fs::create_symlink("/dev/zero", LabelFolder() / "8.txt");       // endless content
    WriteLabelFile("-3.txt", "1,1,5,5,3,0\r\n");                    // negative frame
    WriteLabelFile("99999999999.txt", "1,1,5,5,9,0\r\n");           // beyond 32 bits
    WriteLabelFile("2000000000.txt", "1,1,5,5,20,0\r\n");           // far but valid

    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_EQ(store.GetCount(), 3);
    EXPECT_EQ(Frame(1).size(), 1u);
    EXPECT_EQ(Frame(2).size(), 0u);
    EXPECT_EQ(Frame(4).size(), 0u);
    ASSERT_EQ(Frame(14).size(), 1u);
    EXPECT_EQ(Frame(14)[0].nLabel, 15);
    EXPECT_EQ(Frame(2000000000).size(), 1u);
    EXPECT_EQ(store.GetFrameCountLength(), 2000000001);
    EXPECT_EQ(store.NextLabelledFrame(14), 2000000000);
    EXPECT_EQ(store.PrevLabelledFrame(2000000000), 14);
    EXPECT_TRUE(messages.empty());
    EXPECT_TRUE(fs::exists(dir / "loading_time_log.txt"));
    // Nothing was disturbed by the load.
    EXPECT_TRUE(fs::is_directory(LabelFolder() / "5.txt"));
    EXPECT_TRUE(fs::is_symlink(LabelFolder() / "6.txt"));
}

TEST_F(LabelStoreTest, FileTooBigToBeALabelFileIsSkippedWhole) {
    WriteLabelFile("3.txt", "1,1,5,5,3,0\r\n");
    WriteLabelFile("4.txt", "1,1,5,5,4,0\r\n");
    fs::resize_file(LabelFolder() / "4.txt", 80u << 20);  // sparse: cheap to make
    WriteLabelFile("5.txt", "1,1,5,5,5,0\r\n");
    fs::resize_file(LabelFolder() / "5.txt", 64u << 20);  // at the limit: still read
    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_EQ(Frame(3).size(), 1u);
    EXPECT_TRUE(Frame(4).empty());
    EXPECT_EQ(Frame(5).size(), 1u);  // the NUL bytes after the line end the file
    EXPECT_FALSE(goButtons[4]);
}

TEST_F(LabelStoreTest, NegativeFramesNeverGetAFile) {
    OpenFresh();
    store.SetCurLabel(2);
    EXPECT_EQ(store.AddROI(-1, CRect{1, 1, 2, 2}, 0, 0), 2);
    EXPECT_EQ(store.GetCount(), 1);
    EXPECT_EQ(store.SaveFrame(-1), -1);
    EXPECT_EQ(ListNames(LabelFolder()), std::vector<std::string>{".tagwright-tmp"});  // the lock
    EXPECT_EQ(StrayTemporaries(), std::vector<std::string>{});
    EXPECT_EQ(store.GetFrameCountLength(), 0);
    EXPECT_TRUE(messages.empty());
}

TEST_F(LabelStoreTest, LoadFolderOnSomethingElseThanAFolderDoesNothing) {
    WriteFileBytes(dir / "plain", "1,1,5,5,1,0\r\n");
    EXPECT_EQ(store.LoadFolder(dir / "plain"), 0);
    EXPECT_EQ(store.LoadFolder(dir / "missing"), 0);
    EXPECT_EQ(goButtonCalls, 0);
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_FALSE(fs::exists(dir / "loading_time_log.txt"));
}

TEST_F(LabelStoreTest, FileInPlaceOfTheLabelFolderFailsEveryWriteAndTakesTheEditBack) {
    WriteFileBytes(LabelFolder(), "not a folder");
    EXPECT_TRUE(store.OpenVideo(VideoPath()));
    EXPECT_EQ(goButtonCalls, 0);
    EXPECT_EQ(store.GetCount(), 0);

    store.SetCurLabel(4);
    EXPECT_EQ(store.AddROI(3, CRect{1, 2, 3, 4}, 1, 0), 4);
    EXPECT_EQ(CountOf(kNoAccess), 1);
    EXPECT_EQ(store.SaveFrame(3), -1);
    EXPECT_EQ(CountOf(kNoAccess), 2);
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(store.GetFrameCount(3), 0);
    EXPECT_EQ(store.WriteCropFile(CRect{1, 2, 3, 4}), -1);
    EXPECT_EQ(CountOf(kNoAccess), 3);
    EXPECT_FALSE(store.WriteReport("comment"));

    EXPECT_EQ(ReadFileBytes(LabelFolder()), "not a folder");
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{"case7"});
}

TEST_F(LabelStoreTest, FolderThatCannotBeCreatedFailsEveryWrite) {
    const fs::path video = dir / "no" / "such" / "case7.mp4";
    EXPECT_FALSE(store.OpenVideo(video));
    EXPECT_FALSE(fs::exists(dir / "no"));
    store.AddROI(0, CRect{1, 1, 2, 2}, 0, 0);
    EXPECT_EQ(CountOf(kNoAccess), 1);
    EXPECT_EQ(store.GetCount(), 0);
    EXPECT_EQ(ListNames(dir.Path()), std::vector<std::string>{});
}

TEST_F(LabelStoreTest, DirectoryInPlaceOfAFrameFileFailsThatWriteOnly) {
    OpenFresh();
    fs::create_directories(FrameFile(5) / "keep");
    store.SetCurLabel(2);
    EXPECT_EQ(store.AddROI(5, CRect{1, 1, 2, 2}, 0, 0), 2);
    EXPECT_EQ(CountOf(kNoAccess), 1);
    EXPECT_EQ(store.GetFrameCount(5), 0);  // taken back: it was never stored
    EXPECT_EQ(store.SaveFrame(5), 1);      // nothing to store: the folder is not ours
    EXPECT_TRUE(fs::is_directory(FrameFile(5) / "keep"));
    EXPECT_EQ(StrayTemporaries(), std::vector<std::string>{});  // no temporary left behind

    store.AddROI(6, CRect{1, 1, 2, 2}, 0, 0);  // other frames are fine
    EXPECT_EQ(ReadFileBytes(FrameFile(6)), "1,1,2,2,2,0\r\n");
    EXPECT_EQ(CountOf(kNoAccess), 1);
}

TEST_F(LabelStoreTest, BlockedTemporaryFolderFailsTheWriteAndKeepsTheOldFile) {
    OpenFresh();
    store.SetCurLabel(2);
    store.AddROI(5, CRect{1, 1, 2, 2}, 0, 0);
    fs::remove_all(LabelFolder() / ".tagwright-tmp");
    WriteFileBytes(LabelFolder() / ".tagwright-tmp", "in the way");
    store.AddROI(5, CRect{7, 7, 9, 9}, 0, 0);
    EXPECT_EQ(CountOf(kNoAccess), 1);
    EXPECT_EQ(ReadFileBytes(FrameFile(5)), "1,1,2,2,2,0\r\n");
    ROI roi;
    ASSERT_TRUE(store.FindROI(2, 5, roi));
    EXPECT_EQ(roi.rect, (CRect{1, 1, 2, 2}));  // the move is taken back: the file still holds this
}

TEST_F(LabelStoreTest, ReloadGivesBackWhatWasSaved) {
    OpenFresh();
    for (int label = 1; label <= 3; ++label) {
        store.SetCurLabel(label);
        for (int f = 0; f < 20; f += label) {
            store.AddROI(f, CRect{f, label, f + 10, label + 10}, label % 3, 0);
        }
    }
    std::vector<std::vector<ROI>> before;
    for (int f = 0; f < 20; ++f) {
        before.push_back(Frame(f));
    }
    CLabelManager other;
    EXPECT_TRUE(other.OpenVideo(VideoPath()));
    EXPECT_EQ(other.GetCount(), store.GetCount());
    for (int f = 0; f < 20; ++f) {
        std::vector<ROI> after;
        other.GetFrameROIs(f, after);
        ASSERT_EQ(after.size(), before[f].size()) << f;
        for (size_t i = 0; i < after.size(); ++i) {
            EXPECT_EQ(after[i].nLabel, before[f][i].nLabel);
            EXPECT_EQ(after[i].nClass, before[f][i].nClass);
            EXPECT_EQ(after[i].rect, before[f][i].rect);
        }
        EXPECT_EQ(other.GetFrameCount(f), store.GetFrameCount(f));
    }
}

}  // namespace
