#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "app/TagwrightDlg.h"
#include "labels/ROI.h"
#include "res/Resource.h"
#include "support/FakeWindow.h"
#include "support/TempDir.h"
#include "video/SampleVideo.h"

// The main dialog wired to an in-memory window and in-memory application services, initialised
// as the real program initialises it, with a temporary folder for generated videos and their
// label folders.
//
// Members are destroyed in reverse order: the dialog first (it frees its video source, store and
// side dialogs), then the window, the services and finally the temporary folder.
//
// Use it as a member of a test fixture, or derive the fixture from DialogTest below.
struct DialogHarness {
    DialogHarness();
    ~DialogHarness();
    DialogHarness(const DialogHarness&) = delete;
    DialogHarness& operator=(const DialogHarness&) = delete;

    TempDir tmp;
    FakeAppServices app;
    FakeWindow wnd{IDD_TAGWRIGHT_DIALOG};
    CTagwrightDlg dlg{wnd, app};
    // What OnInitDialog returned.
    bool initResult = false;

    // --- videos ---
    // Small clips keep the tests fast: 320 x 240, 20 frames.
    static SampleVideoOptions SmallVideo();
    // Writes a generated clip into the temporary folder (".avi" = MJPG with exact pixels,
    // ".mp4" = H.264). Returns the path; an empty path when the writer failed.
    std::filesystem::path MakeVideo(const std::string& name = "clip.avi",
                                    const SampleVideoOptions& options = SmallVideo());
    // Chooses path in the (scripted) file dialog and clicks OPEN. True when the dialog ends up
    // with a video open.
    bool OpenViaButton(const std::filesystem::path& path);
    // MakeVideo + OpenViaButton; returns the path (empty when either step failed).
    std::filesystem::path MakeAndOpen(const std::string& name = "clip.avi",
                                      const SampleVideoOptions& options = SmallVideo());

    // --- label folder ---
    // The label folder of a video: its path without the last four characters.
    static std::filesystem::path LabelFolder(const std::filesystem::path& video);
    // Writes "<frame>.txt" with one "left,top,right,bottom,label,class" CR LF line per ROI into
    // the video's label folder (created when missing). Call before opening to set up labels.
    static void WriteLabelFile(const std::filesystem::path& video, int frame,
                               const std::vector<ROI>& rois);
    // Reads "<frame>.txt" of the video's label folder ("" when missing).
    static std::string ReadLabelFile(const std::filesystem::path& video, int frame);
    // One ROI value, for the two helpers above.
    static ROI MakeRoi(int frame, int label, int nClass, const CRect& rect);

    // --- what is shown ---
    // The index stamped into the frame the picture shows, -1 when nothing is shown or the stamp
    // cannot be read.
    int ShownFrameIndex() const;
    // The index stamped into the video source's current frame (-1 without a source).
    int SourceFrameIndex() const;
    // The picture as the window shows it (last image stretched to the view size).
    cv::Mat Rendered() const { return wnd.RenderedPicture(IDC_PICTURE); }
    // The picture area's rectangle in window client pixels.
    CRect PictureRect() const { return wnd.GetControlRect(IDC_PICTURE); }

    // --- coordinates ---
    // A window-client point inside the picture that the dialog maps to the given frame pixel
    // (the smallest picture offset whose conversion reaches it): the inverse of
    // ViewPointToImage, so that a test can press at frame positions.
    CPoint FrameToClient(const CPoint& framePixel) const;

    // --- side windows ---
    FakeWindow* HelpWindow() const { return app.Window(IDD_DLG_HELP); }
    FakeWindow* MoreWindow() const { return app.Window(IDD_DLG_MORELABEL); }
    FakeWindow* ReportWindow() const { return app.Window(IDD_DLG_REPORT); }

    // --- palette shortcuts ---
    // The caption colour of a main-window control; nullopt while it has the platform default.
    std::optional<Rgb> CaptionColor(int id) const { return wnd.Ctl(id).captionColor; }
};

// Fixture base for tests that want the harness members directly in scope.
class DialogTest : public ::testing::Test, public DialogHarness {};

// Caption colours used by the palettes.
constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};
