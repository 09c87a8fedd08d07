// The I key on the main dialog: label 1 drawn on frames 2 and 30 of a generated clip whose blob
// path is known, the crop region cutting into it.

#include <gtest/gtest.h>

#include <fstream>

#include "InputTestSupport.h"
#include "support/TreeSnapshot.h"

namespace {

constexpr int VK_I = 0x49;

class GapFillKey : public DialogTest {
  protected:
    void SetUp() override {
        options = SmallVideo();
        options.frames = 40;
        video = MakeVideo("clip.avi", options);
        ASSERT_FALSE(video.empty());
        // A crop region that cuts the bottom off the blob's lowest boxes.
        int bottom = 0;
        for (int f = 2; f <= 30; ++f) {
            bottom = std::max(bottom, SampleBlobBox(options, f).bottom);
        }
        kCrop = {10, 10, 310, bottom - 8};
        for (int f : {2, 30}) {
            WriteLabelFile(video, f, {MakeRoi(f, 1, 2, SampleBlobBox(options, f))});
        }
        std::ofstream(LabelFolder(video) / "crop.txt", std::ios::binary)
            << kCrop.left << ',' << kCrop.top << ',' << kCrop.right << ',' << kCrop.bottom
            << "\r\n";
        ASSERT_TRUE(OpenViaButton(video));
        ShowFrame(30);
    }

    void ShowFrame(int n) {
        wnd.ScrollSlider(n);
        ASSERT_EQ(ShownFrameIndex(), n);
    }
    SliderMark MarkOf(int frame) const {
        const std::vector<SliderMark>& marks = wnd.Ctl(IDC_SLIDER).marks;
        const SliderScale scale{options.frames, static_cast<int>(marks.size()) - 1};
        return marks[static_cast<size_t>(scale.ColumnOf(frame))];
    }

    // The label folder without the hidden work folders (undo's parking, the frame index).
    TreeSnapshot LabelFiles() const {
        TreeSnapshot t = SnapshotTree(LabelFolder(video));
        for (auto it = t.begin(); it != t.end();) {
            it = it->first.rfind(".tagwright", 0) == 0 ? t.erase(it) : std::next(it);
        }
        return t;
    }

    SampleVideoOptions options;
    std::filesystem::path video;
    CRect kCrop;
};

TEST_F(GapFillKey, FillsEveryFrameBetweenWithinTheCropAsOneUndoStep) {
    const TreeSnapshot before = LabelFiles();
    ASSERT_EQ(MarkOf(16), SliderMark::None);
    EXPECT_TRUE(wnd.KeyDown(VK_I));
    EXPECT_TRUE(app.Boxes().empty());
    ASSERT_EQ(app.ProgressRuns().size(), 1u);
    EXPECT_EQ(app.ProgressRuns()[0].lastDone, app.ProgressRuns()[0].total);
    EXPECT_FALSE(app.ProgressOpen());
    EXPECT_EQ(ShownFrameIndex(), 30);
    EXPECT_EQ(dlg.GetModeFlags(), MODE_VIDEO_OPEN | MODE_IDLE);
    EXPECT_EQ(MarkOf(16), SliderMark::CurrentLabel);
    for (int f = 3; f < 30; ++f) {
        ROI roi;
        ASSERT_TRUE(dlg.GetLabelManager()->FindROI(1, f, roi)) << f;
        const CRect& r = roi.rect;
        EXPECT_EQ(ReadLabelFile(video, f), LabelLine(r, 1, 2)) << f;
        EXPECT_TRUE(r.left >= kCrop.left && r.top >= kCrop.top && r.right <= kCrop.right &&
                    r.bottom <= kCrop.bottom)
            << f;
        // The blob's own path, as far as the crop leaves it.
        const CRect t = SampleBlobBox(options, f);
        const CRect truth{std::max(t.left, kCrop.left), std::max(t.top, kCrop.top),
                          std::min(t.right, kCrop.right), std::min(t.bottom, kCrop.bottom)};
        EXPECT_LE(std::abs(r.left - truth.left) + std::abs(r.right - truth.right) +
                      std::abs(r.top - truth.top) + std::abs(r.bottom - truth.bottom),
                  24)
            << f;
    }
    wnd.SetCtrlDown(true);
    wnd.KeyDown('Z');
    wnd.SetCtrlDown(false);
    EXPECT_EQ(LabelFiles(), before);
    EXPECT_EQ(MarkOf(16), SliderMark::None);
}

TEST_F(GapFillKey, RefusedWithAMessageAndNothingWritten) {
    const struct {
        const char* name;
        std::function<void()> setUp;
        const char* message;
    } rows[] = {
        {"no box here", [&] { ShowFrame(20); }, "Fill (I): this frame holds no box of label 1."},
        {"no earlier box", [&] { ShowFrame(2); }, "Fill (I): no earlier frame holds a box"},
        {"box right before", [&] { wnd.KeyDown('C'); },  // copies frame 30 onto 31, shows 31
         "Fill (I): label 1 is on frame 30, right before this one"},
        {"playing", [&] { wnd.KeyDown(VK_SPACE); }, "Fill (I): pause playback first."},
        {"drawing",
         [&] {
             wnd.LButtonDown(FrameToClient({5, 200}));
         },
         "Fill (I): finish drawing, moving or cropping first."},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ShowFrame(30);
        row.setUp();
        app.ClearBoxes();
        const TreeSnapshot before = LabelFiles();
        const int flags = dlg.GetModeFlags();
        EXPECT_TRUE(wnd.KeyDown(VK_I));
        ASSERT_EQ(app.Boxes().size(), 1u);
        EXPECT_EQ(app.Boxes()[0].text.rfind(row.message, 0), 0u) << app.Boxes()[0].text;
        EXPECT_EQ(LabelFiles(), before);
        // The message box ends a draw under way as a release outside the picture would.
        const int drawEnded = (flags & ~MODE_DRAW) | MODE_IDLE;
        EXPECT_EQ(dlg.GetModeFlags(), (flags & MODE_DRAW) != 0 ? drawEnded : flags);
        EXPECT_TRUE(app.ProgressRuns().empty());
        if ((flags & MODE_PLAYING) != 0) {
            wnd.KeyDown(VK_SPACE);  // back to idle for the next row
        }
    }
}

}  // namespace
