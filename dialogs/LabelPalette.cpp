// The label palette of the main dialog: label and SKIP buttons, GO buttons and the class radios.

#include <cstdio>
#include <string>

#include "app/TagwrightDlg.h"
#include "dialogs/DlgMoreLabel.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

namespace {

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kBlack{0, 0, 0};
constexpr int kMainPaletteLabels = 12;

constexpr const char* kSeekMismatch =
    "frame index와 roi정보 매칭이 필요합니다. 동영상을 다시 오픈하세요.";
constexpr const char* kClassChanged = "변경 완료";

int MainLabelButton(int n) {
    return kMainLabelButtonIds[n - 1];
}

}  // namespace

void CTagwrightDlg::SelectLabel(int n, bool notifyMoreLabel) {
    if (n < 1 || n > kSkipLabel) {
        return;
    }
    if (n <= kMainPaletteLabels) {
        m_wnd.SetCaptionColor(MainLabelButton(n), kRed);
    }
    if (n == kSkipLabel) {
        m_wnd.SetCaptionColor(IDC_BTN_SKIP, kRed);
    }
    const int previous = m_pLabelManager != nullptr ? m_pLabelManager->GetCurLabel() : 1;
    if (previous != n && previous >= 1 && previous <= kMainPaletteLabels) {
        m_wnd.SetCaptionColor(MainLabelButton(previous), kBlack);
    }
    if (n != kSkipLabel) {
        m_wnd.SetCaptionColor(IDC_BTN_SKIP, kBlack);
    }
    if (m_pLabelManager != nullptr) {
        m_pLabelManager->SetCurLabel(n);
    }
    ShowLabelClass(n);
    if (notifyMoreLabel && m_pDlgMoreLabel != nullptr) {
        m_pDlgMoreLabel->SelectLabelInMoreLabel(n, false);
    }
    UpdateSliderMarks();  // the new label's marks stand out now
}

void CTagwrightDlg::ShowLabelClass(int n) {
    const int c = m_pLabelManager != nullptr ? m_pLabelManager->GetLabelClass(n) : -1;
    m_nClass = c >= 0 ? c : 0;
    WriteClassToRadios();
    // SKIP regions carry no meaningful class, so the radios are out of reach for them.
    const bool enable = n != kSkipLabel;
    for (int id : {IDC_RADIO_CLASS0, IDC_RADIO_CLASS1, IDC_RADIO_CLASS2}) {
        m_wnd.EnableControl(id, enable);
    }
}

void CTagwrightDlg::GoToLabel(int n) {
    if (m_pLabelManager == nullptr || m_pVideoManager == nullptr) {
        return;
    }
    // The store tells the operator itself when the label does not exist.
    const int frame = m_pLabelManager->FindFirstFrame(n);
    if (frame == -1) {
        return;
    }
    const int shown = m_pVideoManager->CurrentFrameIndex();
    if (m_pVideoManager->SeekFrame(frame)) {
        RefreshView(1);
        SelectLabel(n, true);
    } else {
        RefreshOrStay(false, shown);
        ShowMessageBox(kSeekMismatch, MessageBoxType::Ok);
    }
}

void CTagwrightDlg::SetGoButtonEnabled(int n, bool enabled) {
    if (n < 1 || n > kSkipLabel) {
        return;
    }
    if (n <= kMainPaletteLabels) {
        m_wnd.EnableControl(kMainGoButtonIds[n - 1], enabled);
    }
    if (m_pDlgMoreLabel != nullptr) {
        m_pDlgMoreLabel->SetGoButtonEnabled(n, enabled);
    }
}

void CTagwrightDlg::ResetLabelPalette(const std::filesystem::path& videoPath) {
    for (int n = 1; n <= kMainPaletteLabels; ++n) {
        m_wnd.SetCaptionColor(MainLabelButton(n), kBlack);
        m_wnd.EnableControl(kMainGoButtonIds[n - 1], false);
    }
    m_wnd.SetCaptionColor(IDC_BTN_SKIP, kBlack);
    if (m_pDlgMoreLabel != nullptr) {
        m_pDlgMoreLabel->ResetMoreLabel();
    }
    // Loading the folder enables the GO buttons of the labels it holds, through the GO sink.
    if (m_pLabelManager != nullptr) {
        m_pLabelManager->OpenVideo(videoPath);
    }
    m_wnd.SetCaptionColor(MainLabelButton(1), kRed);
    if (m_pLabelManager != nullptr) {
        m_pLabelManager->SetCurLabel(1);
    }
    ShowLabelClass(1);
}

void CTagwrightDlg::OnClassRadioClicked() {
    if (m_pLabelManager == nullptr) {
        return;
    }
    const int label = m_pLabelManager->GetCurLabel();
    const int current = m_pLabelManager->GetLabelClass(label);
    // Without a video, or for a label with no region yet, the checked radio simply becomes the
    // class of the next region drawn.
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || current < 0) {
        return;
    }
    char question[160];
    std::snprintf(question, sizeof question, "Label %d의 Class를 일괄 변경합니다. 오래 걸려요... ",
                  label);
    if (ShowMessageBox(question, MessageBoxType::YesNo) == MessageBoxResult::Yes) {
        m_app.BeginWaitCursor();
        ReadClassFromRadios();
        BeginMessageBatch();
        {
            CLabelManager::StepScope step(
                *m_pLabelManager,
                m_pVideoManager != nullptr ? m_pVideoManager->CurrentFrameIndex() : -1);
            m_pLabelManager->SetLabelClass(label, m_nClass);
        }
        EndMessageBatch();
        // A change that could not be written was taken back (and its reason shown): the radios
        // then show the class that is stored, and nothing claims it was done.
        if (m_pLabelManager->GetLabelClass(label) == m_nClass) {
            ShowMessageBox(kClassChanged, MessageBoxType::Ok);
        } else {
            m_nClass = m_pLabelManager->GetLabelClass(label);
            WriteClassToRadios();
        }
        m_app.EndWaitCursor();
    } else {
        m_nClass = current;
        WriteClassToRadios();
    }
}
