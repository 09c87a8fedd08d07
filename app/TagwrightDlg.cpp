// Lifecycle of the main dialog, command dispatch and opening a video.

#include "app/TagwrightDlg.h"

#include <algorithm>
#include <string>

#include "dialogs/DlgHelp.h"
#include "dialogs/DlgMoreLabel.h"
#include "dialogs/DlgReport.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

namespace {

constexpr Rgb kWhite{255, 255, 255};
constexpr const char* kOpenFilter = "video file(*.mp4;)|*.mp4;|All Files(*.*)|*.*||";
constexpr const char* kPressOpen = "Open 버튼을 누르세요";
constexpr const char* kPlayCaption = "&PLAY";
constexpr const char* kNoFrameCounter = "--";

// The label number behind a main-palette label button, 0 when id is none of them.
int MainLabelForButton(int id) {
    for (int i = 0; i < 12; ++i) {
        if (kMainLabelButtonIds[i] == id) {
            return i + 1;
        }
    }
    return id == IDC_BTN_SKIP ? kSkipLabel : 0;
}

// The label number behind a main-palette GO button, 0 when id is none of them.
int MainLabelForGo(int id) {
    for (int i = 0; i < 12; ++i) {
        if (kMainGoButtonIds[i] == id) {
            return i + 1;
        }
    }
    return 0;
}

}  // namespace

CTagwrightDlg::CTagwrightDlg(IDialogWindow& window, IAppServices& app)
    : m_wnd(window), m_app(app) {}

CTagwrightDlg::~CTagwrightDlg() {
    // The window may already be gone here, so only memory is released; OnDestroy is where the
    // window is still there to stop the timer.
    ReleaseOwnedObjects();
}

void CTagwrightDlg::ReleaseOwnedObjects() {
    delete m_pVideoManager;
    m_pVideoManager = nullptr;
    delete m_pLabelManager;
    m_pLabelManager = nullptr;
    delete m_pDlgHelp;
    m_pDlgHelp = nullptr;
    delete m_pDlgMoreLabel;
    m_pDlgMoreLabel = nullptr;
    delete m_pDlgReport;
    m_pDlgReport = nullptr;
}

bool CTagwrightDlg::OnInitDialog() {
    m_wnd.SetIcon(IDR_MAINFRAME);
    m_wnd.SetBackgroundColor(kWhite);

    const FontSpec bigButtons{"Tahoma", 35, 700};
    for (int id : {IDC_BTN_OPEN, IDC_BTN_CROP, IDC_BTN_PLAY}) {
        m_wnd.SetControlFont(id, bigButtons);
    }

    m_nModeFlags = MODE_IDLE;
    m_nViewWidth = 0;
    m_nViewHeight = 0;
    m_fScaleX = 1.0f;
    m_fScaleY = 1.0f;
    m_nPlayInterval = 30;
    m_nClass = 0;
    WriteClassToRadios();

    m_ptDragOffset = {0, 0};
    m_pVideoManager = nullptr;

    delete m_pLabelManager;
    m_pLabelManager = new CLabelManager();
    m_pLabelManager->SetMessageSink([this](const std::string& text) { ShowStoreMessage(text); });
    m_pLabelManager->SetGoButtonSink(
        [this](int label, bool enabled) { SetGoButtonEnabled(label, enabled); });
    // Taking over labels locked from another computer is the operator's call.
    m_pLabelManager->SetQuestionSink([this](const std::string& text) {
        return ShowMessageBox(text, MessageBoxType::YesNo) == MessageBoxResult::Yes;
    });

    // Side dialogs live as long as this window, hidden until their buttons show them. Their
    // initialisation runs here, as a modeless creation would run it.
    if (std::unique_ptr<IDialogWindow> w = m_app.CreateDialogWindow(IDD_DLG_HELP)) {
        m_pDlgHelp = new CDlgHelp(std::move(w), m_app);
        m_pDlgHelp->OnInitDialog();
        m_pDlgHelp->Hide();
    }
    if (std::unique_ptr<IDialogWindow> w = m_app.CreateDialogWindow(IDD_DLG_MORELABEL)) {
        m_pDlgMoreLabel = new CDlgMoreLabel(std::move(w), m_app);
        m_pDlgMoreLabel->OnInitDialog();
        m_pDlgMoreLabel->Hide();
    }
    if (std::unique_ptr<IDialogWindow> w = m_app.CreateDialogWindow(IDD_DLG_REPORT)) {
        m_pDlgReport = new CDlgReport(std::move(w), m_app);
        m_pDlgReport->OnInitDialog();
        m_pDlgReport->Hide();
    }

    m_strVideoPath.clear();
    m_bRoiAtRightClick = 0;
    return true;
}

void CTagwrightDlg::OnCommand(int id) {
    EndGestureIfButtonLost();
    if (int label = MainLabelForButton(id)) {
        SelectLabel(label, true);
        return;
    }
    if (int label = MainLabelForGo(id)) {
        GoToLabel(label);
        return;
    }
    switch (id) {
        case IDC_BTN_OPEN:
            OnBtnOpen();
            break;
        case IDC_BTN_CROP:
            OnBtnCrop();
            break;
        case IDC_BTN_PLAY:
            TogglePlayback();
            break;
        case IDC_BTN_SLOWER:
            PlaySlower();
            break;
        case IDC_BTN_FASTER:
            PlayFaster();
            break;
        case IDC_BTN_SPEED:
            ResetPlaySpeed();
            break;
        case IDC_RADIO_CLASS0:
        case IDC_RADIO_CLASS1:
        case IDC_RADIO_CLASS2:
            OnClassRadioClicked();
            break;
        case IDC_BTN_HELP:
            // A side window takes the keyboard and often the pointer: a drag ends here.
            EndGesture();
            if (m_pDlgHelp != nullptr) {
                m_pDlgHelp->Show();
            }
            break;
        case IDC_BTN_MORE:
            EndGesture();
            if (m_pDlgMoreLabel != nullptr) {
                m_pDlgMoreLabel->Show();
            }
            break;
        case IDC_BTN_REPORT:
            EndGesture();
            ShowReportDialog();
            break;
        case IDOK:
            m_wnd.EndDialog(IDOK);
            break;
        case IDCANCEL:
            m_wnd.EndDialog(IDCANCEL);
            break;
        case ID_OPEN_VIDEO:
            OpenCurrentVideo();
            break;
        case ID_DELETE_LABEL_AFTER:
            OnDeleteLabelAfter();
            break;
        default:
            // 20002, 20003 and 20005 are accepted and do nothing, like any unknown id.
            break;
    }
}

void CTagwrightDlg::OnSize(int /*cx*/, int /*cy*/) {
    // The window has already applied its layout, so the picture area has its full layout space
    // back and the fit can grow as well as shrink.
    FitPictureToFrame();
    RefreshView(1);
}

void CTagwrightDlg::OnDestroy() {
    m_hCursor = CursorShape::Arrow;
    // The marks read the store, which goes away below.
    m_wnd.SetSliderMarks(IDC_SLIDER, nullptr);
    m_sliderMarks.Follow(nullptr, Rgb{});
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        // The timer must stop before the video source it reads from goes away.
        m_wnd.KillTimer(PLAY_TIMER_ID);
        m_nModeFlags &= ~MODE_PLAYING;
    }
    ReleaseOwnedObjects();
}

void CTagwrightDlg::OnBtnOpen() {
    // The dialog starts in the folder of the previous choice; it remembers nothing else.
    std::filesystem::path initialDir;
    if (!m_strVideoPath.empty()) {
        initialDir = m_strVideoPath.parent_path();
    }
    // The dialog takes the pointer; a drag under way ends as if released outside the picture.
    EndGesture();
    ++m_nModalDepth;
    std::optional<std::filesystem::path> chosen = m_app.OpenFileDialog(kOpenFilter, initialDir);
    --m_nModalDepth;
    if (!chosen || chosen->empty()) {
        return;
    }
    SetVideoPath(*chosen);
    OpenCurrentVideo();
}

void CTagwrightDlg::SetVideoPath(const std::filesystem::path& path) {
    m_strVideoPath = path;
    m_wnd.SetControlText(IDC_EDIT_PATH, m_strVideoPath.string());
}

void CTagwrightDlg::OpenCurrentVideo() {
    if (m_strVideoPath.empty()) {
        ShowMessageBox(kPressOpen, MessageBoxType::Ok);
        return;
    }

    if (m_pVideoManager != nullptr) {
        if ((m_nModeFlags & MODE_PLAYING) != 0) {
            m_wnd.KillTimer(PLAY_TIMER_ID);
        }
        m_wnd.KillTimer(INDEX_TIMER_ID);
        delete m_pVideoManager;
        m_pVideoManager = nullptr;
    }

    m_pVideoManager = m_videoSourceFactory ? m_videoSourceFactory() : new CVideoManager();
    // A file that cannot be opened, or that opens but yields no first frame, would leave the
    // window claiming a video while showing none, and edits would then target frame -1. Go back
    // to the no-video state instead and say which file failed.
    if (!m_pVideoManager->Open(m_strVideoPath) || !m_pVideoManager->ReadNextFrame()) {
        ReturnToNoVideo();
        ShowMessageBox("Can't open the video file: " + m_strVideoPath.string(), MessageBoxType::Ok);
        return;
    }

    FollowFrameCount();

    m_nModeFlags |= MODE_VIDEO_OPEN;
    ComputeViewSize();
    FitPictureToFrame();
    ResetForNewVideo(m_strVideoPath);
    // The frame index lives in the label folder, which the store has just opened (a name too
    // short for a label folder of its own gets none: the index then stays in memory).
    if (m_pLabelManager != nullptr && m_strVideoPath.filename().string().size() > 4) {
        m_pVideoManager->SetIndexFolder(m_pLabelManager->GetLabelFolder());
    }
    // An index taken from the label folder knows the exact count at once.
    FollowFrameCount();
    if (!m_pVideoManager->IsIndexComplete()) {
        m_wnd.SetTimer(INDEX_TIMER_ID, 250);
    }
    RefreshView(1);
}

void CTagwrightDlg::ResetForNewVideo(const std::filesystem::path& path) {
    // Whatever was under way (playback, a drag, crop mode, a tracking step) ends here, and a
    // right-click on the previous video no longer offers its label to the menu.
    m_nModeFlags = MODE_VIDEO_OPEN | MODE_IDLE;
    m_bGesture = false;
    m_bRoiAtRightClick = 0;
    m_wnd.EnableControl(IDC_BTN_PLAY, true);
    m_wnd.SetControlText(IDC_BTN_PLAY, kPlayCaption);
    m_nPlayInterval = 30;
    m_nClass = 0;
    WriteClassToRadios();
    ResetLabelPalette(path);
}

void CTagwrightDlg::ReadClassFromRadios() {
    const int index = m_wnd.GetRadioIndex(IDC_RADIO_CLASS0);
    // With no radio checked the class falls back to Polyp rather than an invalid -1.
    m_nClass = (index >= 0 && index <= 2) ? index : 0;
}

void CTagwrightDlg::WriteClassToRadios() {
    m_wnd.SetRadioIndex(IDC_RADIO_CLASS0, m_nClass);
}

CRect CTagwrightDlg::PictureRect() const {
    return m_wnd.GetControlRect(IDC_PICTURE);
}

void CTagwrightDlg::ReloadAndRefresh() {
    if (m_pVideoManager != nullptr && m_pVideoManager->ReloadCurrentFrame()) {
        RefreshView(1);
    }
}

void CTagwrightDlg::RefreshOrStay(bool came, int previous) {
    if (came) {
        RefreshView(1);
        return;
    }
    // A read past either end or into a damaged stretch can leave the source counting another
    // frame than the one the picture still shows; a D, C or T would then edit a frame the
    // operator never saw.
    if (m_pVideoManager != nullptr && previous >= 0 &&
        m_pVideoManager->CurrentFrameIndex() != previous) {
        m_pVideoManager->SeekFrame(previous);
    }
}

void CTagwrightDlg::ReturnToNoVideo() {
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        m_wnd.KillTimer(PLAY_TIMER_ID);
    }
    m_wnd.KillTimer(INDEX_TIMER_ID);
    delete m_pVideoManager;
    m_pVideoManager = nullptr;
    m_nModeFlags = MODE_IDLE;
    m_bGesture = false;
    m_bRoiAtRightClick = 0;

    m_wnd.ClearImage(IDC_PICTURE);
    m_wnd.SetSliderPos(IDC_SLIDER, 0);
    m_wnd.SetControlText(IDC_STATIC_FRAME, kNoFrameCounter);
    m_wnd.SetControlText(IDC_BTN_PLAY, kPlayCaption);
    m_wnd.EnableControl(IDC_BTN_PLAY, false);

    // The previous video's records are all on disk already; dropping them and its GO buttons
    // keeps the palette from offering jumps into a video that is no longer open.
    if (m_pLabelManager != nullptr) {
        // The folder's lock goes with the video, so another window may take the labels over.
        m_pLabelManager->CloseVideo();
        // The palette keeps showing the current label, so the store keeps it too.
        const int current = m_pLabelManager->GetCurLabel();
        m_pLabelManager->ResetStore();
        m_pLabelManager->SetCurLabel(current);
    }
    for (int n = kFirstLabel; n <= kSkipLabel; ++n) {
        SetGoButtonEnabled(n, false);
    }
    m_sliderMarks.SetFrameCount(0);
    UpdateSliderMarks();
}

MessageBoxResult CTagwrightDlg::ShowMessageBox(const std::string& text, MessageBoxType type) {
    // The box takes the pointer and keeps the release of a held button: whatever that button
    // was doing ends now, as a release outside the picture would end it.
    EndGesture();
    ++m_nModalDepth;
    const MessageBoxResult result = m_app.MessageBox(text, type);
    --m_nModalDepth;
    return result;
}

void CTagwrightDlg::ShowStoreMessage(const std::string& text) {
    if (!m_bBatchMessages) {
        ShowMessageBox(text, MessageBoxType::Ok);
        return;
    }
    // A label-wide operation on a folder that cannot be written fails once per frame; the
    // operator needs to hear it once, not hundreds of times.
    if (std::find(m_batchedMessages.begin(), m_batchedMessages.end(), text) ==
        m_batchedMessages.end()) {
        m_batchedMessages.push_back(text);
    }
}

void CTagwrightDlg::BeginMessageBatch() {
    m_bBatchMessages = true;
    m_batchedMessages.clear();
}

void CTagwrightDlg::EndMessageBatch() {
    m_bBatchMessages = false;
    std::vector<std::string> texts;
    texts.swap(m_batchedMessages);
    for (const std::string& text : texts) {
        ShowMessageBox(text, MessageBoxType::Ok);
    }
}
