// Marks along the frame slider: which pixel columns hold labelled frames, and how the marks
// the window shows follow edits, label changes and a new video without costing a step anything.

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "InputTestSupport.h"
#include "app/SliderMarks.h"

namespace {

// '.' unmarked, '#' labelled, 'C' the current label's: one character per column.
std::string Picture(const std::vector<SliderMark>& columns) {
    std::string s;
    for (SliderMark m : columns) {
        s += m == SliderMark::None ? '.' : m == SliderMark::Labelled ? '#' : 'C';
    }
    return s;
}

FrameFinder FinderOf(const std::set<int>& frames) {
    return [&frames](int from) {
        auto it = frames.lower_bound(from);
        return it == frames.end() ? -1 : *it;
    };
}

TEST(SliderColumns, LabelledAndCurrentFramesMarkTheColumnsTheirHandlePositionsOwn) {
    const struct {
        const char* name;
        int frames, span;
        std::set<int> labelled, current;
        const char* expected;
    } cases[] = {
        // Sparser than pixels: each frame owns the columns nearest its handle position, so the
        // stretch 1..2 is one bar; the columns nearest the top position (no frame) stay clear.
        {"fewer frames than pixels", 4, 8, {1, 2}, {2}, ".##CC...."},
        {"single frame at the start", 4, 8, {0}, {}, "#........"},
        // About eleven frames per column: one labelled frame marks its column, and a column
        // holding both kinds shows the current label.
        {"more frames than pixels", 100, 9, {0, 17, 50, 51, 99}, {51}, "#.#..C...#"},
        {"frames past the end of the video", 10, 9, {9, 12, 2000000000}, {}, "........#."},
        {"one column takes every frame", 10, 0, {9}, {}, "#"},
        {"no frames", 0, 4, {0, 1}, {}, "....."},
        // A range so long that the slider truncates rather than rounds its handle position.
        {"very long video", 1000000, 9, {0, 111112, 999999}, {111112}, "#C......#."},
    };
    for (const auto& c : cases) {
        std::vector<SliderMark> columns(static_cast<size_t>(c.span) + 1, SliderMark::None);
        const SliderScale scale{c.frames, c.span};
        MarkSliderColumns(scale, FinderOf(c.labelled), SliderMark::Labelled, columns);
        MarkSliderColumns(scale, FinderOf(c.current), SliderMark::CurrentLabel, columns);
        EXPECT_EQ(Picture(columns), c.expected) << c.name;
        // Whatever the density, the handle standing on a labelled frame stands on a mark.
        for (int f : c.labelled) {
            if (f < c.frames) {
                EXPECT_NE(columns[static_cast<size_t>(scale.ColumnOf(f))], SliderMark::None)
                    << c.name << ", frame " << f;
            }
        }
    }
}

TEST_F(DialogTest, SliderMarksFollowEditsLabelsAndVideosButNotSteps) {
    const auto video = MakeVideo();
    ASSERT_FALSE(video.empty());
    const CRect roi{200, 150, 260, 200};
    for (int f : {3, 4, 5}) {
        WriteLabelFile(video, f, {MakeRoi(f, 1, 0, roi)});
    }
    WriteLabelFile(video, 10, {MakeRoi(10, 2, 0, roi)});
    ASSERT_TRUE(OpenViaButton(video));
    const FakeWindow::Control& slider = wnd.Ctl(IDC_SLIDER);
    const SliderScale scale{slider.sliderMax, slider.rect.Width() - 1};  // no handle here
    auto markOf = [&](int f) { return slider.marks.at(scale.ColumnOf(f)); };
    EXPECT_EQ(markOf(4), SliderMark::CurrentLabel);
    EXPECT_EQ(markOf(10), SliderMark::Labelled);
    EXPECT_EQ(markOf(7), SliderMark::None);
    EXPECT_EQ(slider.marksColor, (Rgb{0, 0, 255}));  // label 1's colour

    const int handOvers = slider.marksHandOvers;
    wnd.KeyDown(VK_RIGHT);
    wnd.ScrollSlider(10);
    ASSERT_EQ(ShownFrameIndex(), 10);
    EXPECT_EQ(slider.marksHandOvers, handOvers) << "a step changes nothing the marks show";

    ASSERT_TRUE(wnd.Click(kMainLabelButtonIds[1]));  // Label 02
    EXPECT_EQ(markOf(10), SliderMark::CurrentLabel);
    EXPECT_EQ(markOf(4), SliderMark::Labelled);
    EXPECT_EQ(slider.marksColor, (Rgb{0, 128, 0}));

    wnd.KeyDown('E');  // frame 10 loses its last ROI
    EXPECT_EQ(markOf(10), SliderMark::None);

    // The menu deletion refreshes nothing, yet the stretch after frame 3 leaves the slider.
    wnd.ScrollSlider(3);
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    wnd.RButtonDown(FrameToClient({220, 170}));
    dlg.OnContextMenu(FrameToClient({220, 170}));
    EXPECT_NE(markOf(3), SliderMark::None);
    EXPECT_EQ(markOf(4), SliderMark::None);

    ASSERT_FALSE(MakeAndOpen("other.avi").empty());
    EXPECT_EQ(Picture(slider.marks).find_first_not_of('.'), std::string::npos);
}

}  // namespace
