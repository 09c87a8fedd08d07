#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/SliderMarks.h"
#include "app/platform/IAppServices.h"
#include "app/platform/IDialogWindow.h"
#include "labels/Geometry.h"
#include "labels/ROI.h"
#include "res/Resource.h"

class CVideoManager;
class CLabelManager;
class CDlgHelp;
class CDlgMoreLabel;
class CDlgReport;

// Mode-flag bits of m_nModeFlags.
constexpr int MODE_VIDEO_OPEN = 0x01;
constexpr int MODE_PLAYING = 0x02;
constexpr int MODE_GRAB = 0x04;
constexpr int MODE_DRAW = 0x08;
constexpr int MODE_IDLE = 0x10;
constexpr int MODE_CROP = 0x20;
constexpr int MODE_TRACK = 0x40;

// The main dialog: the editor. Owns the video source, the label store and the three side
// dialogs; every user input arrives at its handlers on the one user-interface thread.
//
// It talks to its window only through IDialogWindow and to the application through IAppServices,
// so every handler runs without a display (tests use an in-memory window).
//
// Member definitions are split by concern:
//   app/TagwrightDlg.cpp   lifecycle, command dispatch, opening a video
//   app/FrameView.cpp      fitting, painting, coordinate conversion, overlay drawing
//   app/MouseEditing.cpp   left-button editing, AddRoiAtCurrentFrame
//   app/Tracking.cpp       InitTracker, TrackToNextFrame
//   app/GapFill.cpp        OnKeyFillGap
//   app/Keyboard.cpp       PreTranslateMessage: the key table, one handler per key
//   app/Playback.cpp       play/pause, timer, speed, slider
//   app/ContextMenu.cpp    right-click selection, pop-up menu, commands 20001..20005
//   app/UndoRedo.cpp       UndoEdit
//   dialogs/LabelPalette.cpp  label buttons, GO buttons, class radios
//   dialogs/ReportActions.cpp CROP button, report dialog actions
class CTagwrightDlg : public IDialogEvents {
  public:
    CTagwrightDlg(IDialogWindow& window, IAppServices& app);
    ~CTagwrightDlg() override;
    CTagwrightDlg(const CTagwrightDlg&) = delete;
    CTagwrightDlg& operator=(const CTagwrightDlg&) = delete;

    // --- window events (IDialogEvents) ---
    bool OnInitDialog() override;
    void OnCommand(int id) override;
    void OnSize(int cx, int cy) override;
    void OnDestroy() override;
    void OnLButtonDown(const CPoint& point) override;
    void OnMouseMove(const CPoint& point) override;
    void OnLButtonUp(const CPoint& point) override;
    void OnRButtonDown(const CPoint& point) override;
    void OnContextMenu(const CPoint& screen) override;
    void OnTimer(int id) override;
    void OnHScroll() override;
    void OnCancelMode() override;
    bool PreTranslateMessage(const InputMessage& msg) override;

    // --- opening a video ---
    void OnBtnOpen();
    void OpenCurrentVideo();
    void ResetForNewVideo(const std::filesystem::path& path);
    // Stores a path given on the command line and shows it in the path box.
    void SetVideoPath(const std::filesystem::path& path);

    // --- frame view ---
    bool ComputeViewSize();
    bool FitPictureToFrame();
    bool RefreshView(int drawOverlay);
    bool PaintFrame(const cv::Mat& displayImage);
    CRect ViewRectToImage(const CRect& rect) const;
    CPoint ViewPointToImage(const CPoint& point) const;
    bool DrawFrameOverlay();
    bool DrawDragRectangle(const CRect& rect);

    // --- mouse editing and tracking ---
    int AddRoiAtCurrentFrame(const CRect& rect);
    // Ends a draw in progress without adding anything (see MouseEditing.cpp).
    void AbandonDraw();
    // Ends the draw, move or crop drag of a held left button the way a release outside the
    // picture does: nothing drawn, nothing moved. Called when a box, menu, file dialog or side
    // window opens and when the window loses the pointer.
    void EndGesture();
    // True when a left-button gesture is under way.
    bool IsGestureUnderWay() const { return m_bGesture; }
    bool InitTracker(const CRect& rect);
    void TrackToNextFrame();
    // The I key: fills the gap between the current label's box here and its previous box.
    void OnKeyFillGap();

    // --- playback ---
    void TogglePlayback();
    void OnPlaybackTick(int id);
    void OnIndexTick();
    // Sets the slider's range to the video's frame count when that has changed.
    void FollowFrameCount();
    // The frame counter: the index, and "?" while the frame is not verified.
    std::string FrameCounterText() const;
    void OnSliderScroll();
    void PlayFaster();
    void PlaySlower();
    void ResetPlaySpeed();
    void RestartPlayTimer();

    // --- context menu ---
    void OnDeleteLabelAfter();

    // --- undo and redo (Ctrl+Z, Ctrl+Y) ---
    // Takes back (or, with redo, makes again) the last operator edit and shows the frame it was
    // made on; nothing while a draw, a crop drag or a grab is pending.
    void UndoEdit(bool redo);

    // --- label palette ---
    void SelectLabel(int n, bool notifyMoreLabel);
    void ShowLabelClass(int n);
    void GoToLabel(int n);
    void SetGoButtonEnabled(int n, bool enabled);
    void ResetLabelPalette(const std::filesystem::path& videoPath);
    void OnClassRadioClicked();

    // --- crop and report ---
    void OnBtnCrop();
    void ShowReportDialog();
    // The report action behind the report dialog's OK.
    void SaveReport(const std::string& comment);

    // --- read access for side dialogs and tests ---
    int GetModeFlags() const { return m_nModeFlags; }
    int GetPlayInterval() const { return m_nPlayInterval; }
    int GetClass() const { return m_nClass; }
    CPoint GetViewSize() const { return {m_nViewWidth, m_nViewHeight}; }
    const std::filesystem::path& GetVideoPath() const { return m_strVideoPath; }
    CVideoManager* GetVideoManager() const { return m_pVideoManager; }
    CLabelManager* GetLabelManager() const { return m_pLabelManager; }
    CDlgHelp* GetHelpDialog() const { return m_pDlgHelp; }
    CDlgMoreLabel* GetMoreLabelDialog() const { return m_pDlgMoreLabel; }
    CDlgReport* GetReportDialog() const { return m_pDlgReport; }
    // Test seam: how the dialog makes the video source of each OPEN (plain `new` by default).
    void SetVideoSourceFactory(std::function<CVideoManager*()> factory) {
        m_videoSourceFactory = std::move(factory);
    }
    IDialogWindow& Window() { return m_wnd; }
    IAppServices& App() { return m_app; }

  private:
    // --- keys (app/Keyboard.cpp): one handler per command of the key table ---
    struct KeyCommand;
    static const KeyCommand* FindKeyCommand(int vk);
    // True for an auto-repeated key-down (or a wheel step) made while the previous step of a
    // repeating command still ran: it is dropped, so a held key stops with its release.
    bool IsRepeatBacklog(const InputMessage& msg) const;
    bool KeyEscape(const InputMessage& msg);
    bool KeySpace(const InputMessage& msg);
    bool KeyLeft(const InputMessage& msg);
    bool KeyRight(const InputMessage& msg);
    bool KeyDelete(const InputMessage& msg);
    bool KeyDigit(const InputMessage& msg);
    bool KeyPrevLabelled(const InputMessage& msg);
    bool KeyNextLabelled(const InputMessage& msg);
    bool KeyCopyForward(const InputMessage& msg);
    bool KeyDeleteFrame(const InputMessage& msg);
    bool KeyNextLabel(const InputMessage& msg);
    bool KeyTrack(const InputMessage& msg);
    bool KeyFillGap(const InputMessage& msg);
    bool KeyUndoRedo(const InputMessage& msg);
    bool WheelStep(const InputMessage& msg);

    // A gesture whose release went elsewhere (to a box, a menu) ends when input shows the
    // button is no longer down.
    void EndGestureIfButtonLost();
    // What a release outside the picture does: a draw is abandoned, a move (grabbing) ends
    // unmoved and shows the other ROIs again.
    void EndUnchanged(bool grabbing);
    // The frame on screen is marked "?" (reached by the frame rate ahead of the frame index):
    // says so, with how far the index is, and returns true. Edits are refused there.
    bool RefuseUnverifiedFrame();
    // A point in window client pixels as a frame pixel, at the picture's present scale.
    CPoint ClientToImage(const CPoint& point) const;
    // The selected ROI moved by the pointer's travel from the press to `point`, clipped to
    // the frame.
    CRect MovedSelection(const CPoint& point) const;

    // Controls to members (radios into m_nClass) and members to controls.
    void ReadClassFromRadios();
    void WriteClassToRadios();
    // The picture area's rectangle in window client pixels.
    CRect PictureRect() const;
    // Reloads the shown frame and refreshes with overlay when a frame came.
    void ReloadAndRefresh();
    // Hands the slider its marks again when the store, the current label or the video changed.
    void UpdateSliderMarks();
    // After a step or seek: shows the frame when one came; when none came, goes back to the
    // frame `previous` that stays on screen, so that edits still go to the frame shown.
    void RefreshOrStay(bool came, int previous);
    // The window's state when no video is open (after a failed open).
    void ReturnToNoVideo();
    // Deletes the video source, the label store and the side dialogs (safe to repeat).
    void ReleaseOwnedObjects();
    // Every modal box of the main window goes through here, so that playback holds still
    // while it is open (see OnPlaybackTick).
    MessageBoxResult ShowMessageBox(const std::string& text, MessageBoxType type);
    // The store's messages: shown at once, or collected while an operation that rewrites many
    // frames runs and then shown once each (EndMessageBatch).
    void ShowStoreMessage(const std::string& text);
    void BeginMessageBatch();
    void EndMessageBatch();

    IDialogWindow& m_wnd;
    IAppServices& m_app;

    CDlgHelp* m_pDlgHelp = nullptr;
    CDlgMoreLabel* m_pDlgMoreLabel = nullptr;
    CDlgReport* m_pDlgReport = nullptr;
    CursorShape m_hCursor = CursorShape::Arrow;
    CVideoManager* m_pVideoManager = nullptr;
    CLabelManager* m_pLabelManager = nullptr;
    int m_nPlayInterval = 30;
    int m_nClass = 0;
    CPoint m_ptDragOffset;
    std::filesystem::path m_strVideoPath;
    CPoint m_ptAnchor;
    // The press point in frame pixels, taken at the scale of that moment: a move measures its
    // travel from here, so a resize during the drag does not change the distance.
    CPoint m_ptAnchorImage;
    // A left-button gesture (draw, move, crop drag) lives from its press to its release.
    bool m_bGesture = false;
    // A right press ended a gesture: its release opens no menu.
    bool m_bSkipContextMenu = false;
    // Auto-repeats made before this time (the window system's) came while a step ran.
    bool m_bHaveRepeatCutoff = false;
    std::uint32_t m_nRepeatCutoff = 0;
    std::function<CVideoManager*()> m_videoSourceFactory;
    int m_nModeFlags = MODE_IDLE;
    int m_nViewWidth = 0;
    int m_nViewHeight = 0;
    float m_fScaleX = 1.0f;
    float m_fScaleY = 1.0f;
    unsigned m_nImageWidth = 0;
    unsigned m_nImageHeight = 0;
    int m_bRoiAtRightClick = 0;
    // The ROI that a press on empty picture area removed, put back if the draw is abandoned.
    bool m_bHavePendingRemoved = false;
    ROI m_pendingRemoved;
    CSliderMarks m_sliderMarks;
    // Modal boxes and menus open right now; no playback tick moves the frame meanwhile.
    int m_nModalDepth = 0;
    bool m_bBatchMessages = false;
    std::vector<std::string> m_batchedMessages;
};
