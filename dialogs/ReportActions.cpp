// The CROP button and the report actions of the main dialog.

#include <cstdio>

#include "app/TagwrightDlg.h"
#include "dialogs/DlgReport.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

void CTagwrightDlg::OnBtnCrop() {
    // Crop mode starts only from "video open and idle"; during a drag or an earlier crop the
    // button does nothing.
    if ((m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE)) {
        m_nModeFlags = (m_nModeFlags | MODE_CROP) ^ MODE_IDLE;
    }
}

void CTagwrightDlg::ShowReportDialog() {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pVideoManager == nullptr ||
        m_pLabelManager == nullptr || m_pDlgReport == nullptr) {
        return;
    }
    // Frame count and record count (not distinct labels) start the comment.
    char text[64];
    std::snprintf(text, sizeof text, "%d frames, %d labels, ", m_pVideoManager->GetFrameCount(),
                  m_pLabelManager->GetCount());
    m_pDlgReport->SetComment(text);
    m_pDlgReport->Show();
}

void CTagwrightDlg::SaveReport(const std::string& comment) {
    // The report lives beside the open video's label folder; with no video open there is no
    // folder to put it beside, so nothing is written.
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0 || m_pLabelManager == nullptr) {
        return;
    }
    m_app.BeginWaitCursor();
    if (m_pLabelManager->WriteReport(comment)) {
        ShowMessageBox("레포트 생성 완료. ..//labeling_report.txt", MessageBoxType::Ok);
    }
    m_app.EndWaitCursor();
}
