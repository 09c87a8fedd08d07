// The road of one typical edit, as an operator takes it: start on a video, draw a ROI, track it,
// add a second label, copy forward, delete, quit and start again. Every step is checked through
// the label files on disk and the pixels on screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include "e2e/X11Driver.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"

namespace {

const char* const kTitle = "KORVALEN Video Tagwright";

struct Record {
    CRect rect;
    int label = 0;
    int cls = 0;
};

std::vector<Record> ReadLabelFile(const std::filesystem::path& path) {
    std::vector<Record> out;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        Record r;
        if (std::sscanf(line.c_str(), "%d,%d,%d,%d,%d,%d", &r.rect.left, &r.rect.top, &r.rect.right,
                        &r.rect.bottom, &r.label, &r.cls) == 6) {
            out.push_back(r);
        }
    }
    return out;
}

double IoU(const CRect& a, const CRect& b) {
    const int ix = std::max(0, std::min(a.right, b.right) - std::max(a.left, b.left));
    const int iy = std::max(0, std::min(a.bottom, b.bottom) - std::max(a.top, b.top));
    const double inter = double(ix) * iy;
    const double uni = double(a.Width()) * a.Height() + double(b.Width()) * b.Height() - inter;
    return uni > 0 ? inter / uni : 0.0;
}

int CountLines(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    int n = 0;
    std::string line;
    while (std::getline(in, line)) {
        ++n;
    }
    return n;
}

// The picture area on screen: the rows and columns of the window in which strongly coloured
// (video) pixels dominate. Buttons, slider and background are white or grey; the few coloured
// caption pixels of the palette stay far below the threshold.
CRect FindPicture(const cv::Mat& shot, const CRect& window) {
    const int x1 = std::min(shot.cols, window.right);
    const int y1 = std::min(shot.rows, window.bottom);
    std::vector<int> cols(shot.cols, 0), rows(shot.rows, 0);
    for (int y = std::max(0, window.top); y < y1; ++y) {
        const cv::Vec3b* row = shot.ptr<cv::Vec3b>(y);
        for (int x = std::max(0, window.left); x < x1; ++x) {
            const cv::Vec3b p = row[x];
            const int mx = std::max({p[0], p[1], p[2]});
            const int mn = std::min({p[0], p[1], p[2]});
            if (mx - mn > 40) {
                ++cols[x];
                ++rows[y];
            }
        }
    }
    const int colMax = *std::max_element(cols.begin(), cols.end());
    const int rowMax = *std::max_element(rows.begin(), rows.end());
    CRect r{-1, -1, -1, -1};
    for (int x = 0; x < shot.cols; ++x) {
        if (cols[x] > colMax / 3) {
            if (r.left < 0)
                r.left = x;
            r.right = x + 1;
        }
    }
    for (int y = 0; y < shot.rows; ++y) {
        if (rows[y] > rowMax / 3) {
            if (r.top < 0)
                r.top = y;
            r.bottom = y + 1;
        }
    }
    return r;
}

class TypicalEdit : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("QT_QPA_PLATFORM");
        if (std::getenv("DISPLAY") == nullptr) {
            GTEST_SKIP() << "no X display (run under xvfb-run)";
        }
        m_opts.width = 640;
        m_opts.height = 360;
        m_opts.frames = 30;
        m_opts.gop = 30;
        m_opts.blobStart = 70;
        m_opts.blobEnd = 90;
        m_video = m_dir / "case.mp4";
        ASSERT_TRUE(WriteSampleVideo(m_video, m_opts));
        m_labels = m_dir / "case";
    }

    void TearDown() override {
        if (HasFailure()) {
            const cv::Mat shot = Screenshot();
            if (!shot.empty()) {
                const std::string name =
                    std::string("e2e-failure-") +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".png";
                cv::imwrite(name, shot);
                std::cerr << "screenshot saved to " << std::filesystem::absolute(name) << "\n";
            }
            std::cerr << "program log:\n" << ReadFileBytes(m_dir / "app.log") << "\n";
        }
        m_app.Kill();
    }

    void StartProgram() {
        ASSERT_TRUE(
            m_app.Start(TAGWRIGHT_EXE, {m_video.string()}, m_dir.Path(), m_dir / "app.log"));
        auto win = FindWindowByTitle(kTitle, 30000);
        ASSERT_TRUE(win.has_value()) << "the main window did not appear";
        m_window = *win;
        FocusWindow(m_window.id);
        Settle(1500);
        const cv::Mat shot = Screenshot();
        ASSERT_FALSE(shot.empty());
        m_picture = FindPicture(shot, m_window.rect);
        ASSERT_GT(m_picture.Width(), 100);
        ASSERT_GT(m_picture.Height(), 100);
    }

    // Frame pixels to screen pixels (the centre of the picture pixels that show it).
    CPoint ToScreen(int fx, int fy) const {
        const double s = Scale();
        return {m_picture.left + static_cast<int>(std::lround((fx + 0.5) * s)),
                m_picture.top + static_cast<int>(std::lround((fy + 0.5) * s))};
    }

    double Scale() const {
        return std::min(double(m_picture.Width()) / m_opts.width,
                        double(m_picture.Height()) / m_opts.height);
    }

    // What a drag from a to b (screen) stores, by the program's own conversion.
    CRect DragToFrame(const CPoint& a, const CPoint& b) const {
        const double s = Scale();
        const int l = a.x - m_picture.left, t = a.y - m_picture.top;
        const int r = b.x - m_picture.left, btm = b.y - m_picture.top;
        const int left = static_cast<int>(l / s), top = static_cast<int>(t / s);
        return {left, top, left + static_cast<int>((r - l) / s),
                top + static_cast<int>((btm - t) / s)};
    }

    // The frame shown, read from the index stamped into it.
    int ShownIndex() {
        const cv::Mat shot = Screenshot();
        if (shot.empty()) {
            return -2;
        }
        cv::Mat pic =
            shot(cv::Rect(m_picture.left, m_picture.top, m_picture.Width(), m_picture.Height()))
                .clone();
        cv::Mat frame;
        cv::resize(pic, frame, cv::Size(m_opts.width, m_opts.height), 0, 0, cv::INTER_AREA);
        return ReadStampedIndex(frame);
    }

    // How many pixels along the top edge of a stored rectangle show colour c (BGR) on screen.
    double EdgeColourShare(const CRect& fr, const cv::Vec3b& c) {
        const cv::Mat shot = Screenshot();
        int hits = 0, total = 0;
        const CPoint a = ToScreen(fr.left, fr.top);
        const CPoint b = ToScreen(fr.right - 1, fr.top);
        for (int x = a.x + 3; x <= b.x - 3; x += 2) {
            ++total;
            for (int dy = -2; dy <= 2; ++dy) {
                const cv::Vec3b p = shot.at<cv::Vec3b>(a.y + dy, x);
                if (std::abs(p[0] - c[0]) < 60 && std::abs(p[1] - c[1]) < 60 &&
                    std::abs(p[2] - c[2]) < 60) {
                    ++hits;
                    break;
                }
            }
        }
        return total > 0 ? double(hits) / total : 0.0;
    }

    TempDir m_dir;
    SampleVideoOptions m_opts;
    std::filesystem::path m_video;
    std::filesystem::path m_labels;
    AppProcess m_app;
    WindowInfo m_window;
    CRect m_picture;
};

const cv::Vec3b kLabel1Colour(255, 0, 0);  // BGR
const cv::Vec3b kLabel3Colour(0, 0, 255);

TEST_F(TypicalEdit, DrawTrackCopyDeleteQuitAndReload) {
    // 1. Start on the video: frame 0 fitted to the video's aspect ratio.
    StartProgram();
    EXPECT_NEAR(double(m_picture.Width()) / m_picture.Height(),
                double(m_opts.width) / m_opts.height, 0.02);
    EXPECT_EQ(ShownIndex(), 0);

    // 2. Draw a ROI around the blob of frame 0.
    const CRect blob0 = SampleBlobBox(m_opts, 0);
    const CPoint press = ToScreen(blob0.left, blob0.top);
    const CPoint release = ToScreen(blob0.right, blob0.bottom);
    MouseDrag(press, release);
    Settle(800);
    const CRect drawn = DragToFrame(press, release);
    {
        const auto recs = ReadLabelFile(m_labels / "0.txt");
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].rect, drawn);
        EXPECT_EQ(recs[0].label, 1);
        EXPECT_EQ(recs[0].cls, 0);
        EXPECT_EQ(
            ReadFileBytes(m_labels / "0.txt").substr(ReadFileBytes(m_labels / "0.txt").size() - 2),
            "\r\n");
    }
    MouseMove(m_window.rect.right - 5, m_window.rect.bottom - 5);
    Settle(300);
    EXPECT_GT(EdgeColourShare(drawn, kLabel1Colour), 0.8) << "label 1's rectangle is not on screen";

    // 3. Three tracking steps carry label 1 to frames 1..3 near the moving blob.
    for (int i = 0; i < 3; ++i) {
        PressKey("t");
        Settle(700);
    }
    for (int f = 1; f <= 3; ++f) {
        const auto recs = ReadLabelFile(m_labels / (std::to_string(f) + ".txt"));
        ASSERT_EQ(recs.size(), 1u) << "frame " << f;
        EXPECT_EQ(recs[0].label, 1);
        EXPECT_GT(IoU(recs[0].rect, SampleBlobBox(m_opts, f)), 0.5) << "frame " << f;
    }
    EXPECT_EQ(ShownIndex(), 3);

    // 4. Label 3, a second ROI in an empty corner of frame 3, then copy forward.
    PressKey("3");
    Settle(200);
    const CPoint p2 = ToScreen(m_opts.width - 150, m_opts.height - 110);
    const CPoint r2 = ToScreen(m_opts.width - 60, m_opts.height - 40);
    MouseDrag(p2, r2);
    Settle(800);
    const CRect second = DragToFrame(p2, r2);
    {
        const auto recs = ReadLabelFile(m_labels / "3.txt");
        ASSERT_EQ(recs.size(), 2u);
    }
    MouseMove(m_window.rect.right - 5, m_window.rect.bottom - 5);
    PressKey("c");
    Settle(800);
    {
        const auto recs = ReadLabelFile(m_labels / "4.txt");
        ASSERT_EQ(recs.size(), 2u);
        int labels = 0;
        for (const Record& r : recs) {
            labels += r.label;
            if (r.label == 3) {
                EXPECT_EQ(r.rect, second);
            }
        }
        EXPECT_EQ(labels, 4) << "expected labels 1 and 3";
    }
    EXPECT_EQ(ShownIndex(), 4);

    // 5. E answered Yes removes frame 4's file; D over label 3 on frame 3 removes its line.
    PressKey("e");
    Settle(800);
    PressKey("y");
    Settle(800);
    EXPECT_FALSE(std::filesystem::exists(m_labels / "4.txt"));
    PressKey("Left");
    Settle(800);
    EXPECT_EQ(ShownIndex(), 3);
    const CPoint over =
        ToScreen((second.left + second.right) / 2, (second.top + second.bottom) / 2);
    MouseMove(over.x, over.y);
    Settle(300);
    PressKey("d");
    Settle(800);
    {
        const auto recs = ReadLabelFile(m_labels / "3.txt");
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_EQ(recs[0].label, 1);
    }

    // 6. Escape answered Yes ends the program; a new start loads every label file again.
    const std::filesystem::path log = m_dir / "loading_time_log.txt";
    const int logLinesBefore = CountLines(log);
    PressKey("Escape");
    Settle(800);
    PressKey("y");
    const auto code = m_app.Wait(10000);
    ASSERT_TRUE(code.has_value()) << "the program did not end after Escape and Yes";
    EXPECT_EQ(*code, 0);

    StartProgram();
    EXPECT_EQ(CountLines(log), logLinesBefore + 1);
    MouseMove(m_window.rect.right - 5, m_window.rect.bottom - 5);
    for (int f = 0; f <= 3; ++f) {
        if (f > 0) {
            PressKey("Right");
            Settle(600);
        }
        EXPECT_EQ(ShownIndex(), f);
        const auto recs = ReadLabelFile(m_labels / (std::to_string(f) + ".txt"));
        ASSERT_FALSE(recs.empty()) << "frame " << f;
        for (const Record& r : recs) {
            EXPECT_GT(EdgeColourShare(r.rect, r.label == 3 ? kLabel3Colour : kLabel1Colour), 0.6)
                << "frame " << f << " label " << r.label << " is not drawn again";
        }
    }
    PressKey("Escape");
    Settle(500);
    PressKey("y");
    EXPECT_TRUE(m_app.Wait(10000).has_value());
}

}  // namespace
