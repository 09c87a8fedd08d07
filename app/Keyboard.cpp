// The keyboard workflow. Every key-down and wheel message of the window comes here before the
// focused control sees it; what we return false for goes on to the standard dialog keys
// (Enter presses EXIT, Escape cancels, Tab moves focus, button mnemonics).

#include <cstdio>

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "video/VideoManager.h"

namespace {

constexpr int VK_KEY_B = 0x42;
constexpr int VK_KEY_C = 0x43;
constexpr int VK_KEY_D = 0x44;
constexpr int VK_KEY_E = 0x45;
constexpr int VK_KEY_I = 0x49;
constexpr int VK_KEY_L = 0x4C;
constexpr int VK_KEY_N = 0x4E;
constexpr int VK_KEY_T = 0x54;
constexpr int VK_KEY_Y = 0x59;
constexpr int VK_KEY_Z = 0x5A;
constexpr int VK_DIGIT_1 = 0x31;
constexpr int VK_DIGIT_9 = 0x39;

constexpr int kLastLabel = 30;

const char kAskExit[] = "프로그램을 종료합니다.";
const char kAskDeleteFrame[] = "현재 프레임의 모든 Label 항목을 삭제 합니다.";

}  // namespace

bool CTagwrightDlg::PreTranslateMessage(const InputMessage& msg) {
    if (msg.type == InputMessage::Type::MouseWheel) {
        // Away from the user steps back, towards the user (or a zero delta) steps forward; the
        // wheel message itself always goes on.
        if (m_pVideoManager == nullptr) {
            return false;
        }
        const int shown = m_pVideoManager->CurrentFrameIndex();
        RefreshOrStay(msg.wheelDelta > 0 ? m_pVideoManager->ReadPreviousFrame()
                                         : m_pVideoManager->ReadNextFrame(),
                      shown);
        return false;
    }
    if (msg.type != InputMessage::Type::KeyDown) {
        return false;
    }

    const int vk = msg.vkCode;
    char trace[32];
    std::snprintf(trace, sizeof trace, "[Key] %x\n", static_cast<unsigned>(vk));
    m_app.DebugTrace(trace);
    // No button or the slider keeps the focus, so arrows never reach the slider.
    m_wnd.SetFocus(IDC_PICTURE);

    const bool videoOpen = (m_nModeFlags & MODE_VIDEO_OPEN) != 0;
    const bool openAndIdle =
        (m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE);
    CVideoManager* vm = m_pVideoManager;
    CLabelManager* lm = m_pLabelManager;
    // The frame on screen, or -1 when there is none; nothing is ever written for -1.
    const int f = vm != nullptr ? vm->CurrentFrameIndex() : -1;

    if (msg.ctrl && (vk == VK_KEY_Z || vk == VK_KEY_Y)) {
        // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo. No command of the table uses these
        // letters, and without Ctrl they still go on to the standard keys.
        UndoEdit(vk == VK_KEY_Y || msg.shift);
        return true;
    }

    if (vk >= VK_DIGIT_1 && vk <= VK_DIGIT_9) {
        SelectLabel(vk - VK_DIGIT_1 + 1, true);
        return true;
    }

    switch (vk) {
        case VK_ESCAPE:
            // Passing Escape on lets the standard processing end the dialog as Cancel.
            return ShowMessageBox(kAskExit, MessageBoxType::YesNo) != MessageBoxResult::Yes;

        case VK_SPACE:
            TogglePlayback();
            return true;

        case VK_LEFT:
            if (vm != nullptr) {
                RefreshOrStay(vm->ReadPreviousFrame(), f);
            }
            return true;

        case VK_RIGHT:
            if (vm != nullptr) {
                RefreshOrStay(vm->ReadNextFrame(), f);
            }
            return true;

        case VK_DELETE:
        case VK_KEY_D:
            if (vm != nullptr && lm != nullptr && f >= 0) {
                // The frame is rewritten below; a draw in progress ends first, or the ROI its
                // press holds out of the store would be dropped from the file.
                AbandonDraw();
                // The ROI under the pointer wins over the selection; the pointer need not be
                // over the picture.
                const CPoint p = m_wnd.GetCursorPos();
                const int label = lm->HitTest(f, ViewPointToImage(p - PictureRect().TopLeft()));
                lm->BeginEditStep();
                if (videoOpen && label > 0) {
                    lm->DeleteROI(f, label);
                } else if (openAndIdle) {
                    lm->DeleteSelectedROI(f);
                }
                lm->SaveFrame(f);
                lm->EndEditStep(f);
                ReloadAndRefresh();
            }
            return true;

        case VK_KEY_B:
            if (vm != nullptr && lm != nullptr) {
                const int r = lm->PrevLabelledFrame(f);
                if (r >= 0) {
                    RefreshOrStay(vm->SeekFrame(r), f);
                }
            }
            return false;

        case VK_KEY_N:
            if (vm != nullptr && lm != nullptr) {
                const int r = lm->NextLabelledFrame(f);
                if (r != -1) {
                    RefreshOrStay(vm->SeekFrame(r), f);
                }
            }
            return false;

        case VK_KEY_C:
            if (m_wnd.IsCtrlDown()) {
                return false;
            }
            if (openAndIdle && vm != nullptr && lm != nullptr && f >= 0) {
                // The last frame has nothing after it to copy to: a file for a frame the video
                // does not have would only come back as a label no one can see or reach.
                if (!vm->ReadNextFrame()) {
                    RefreshOrStay(false, f);
                    return true;
                }
                lm->BeginEditStep();
                // A move is carried along only while its ROI is on screen; after playback or a
                // key changed the frame during the drag it would land on a frame nobody sees.
                if ((m_nModeFlags & MODE_GRAB) != 0 && lm->GetSelFrame() == f) {
                    // Fix the drag on this frame, then carry the grab to the same label on the
                    // next frame: the continuing drag moves the copy.
                    CRect rect = lm->GetSelectedRect();
                    const CPoint p = m_wnd.GetCursorPos();
                    m_ptDragOffset = p - m_ptAnchor;
                    const CPoint d = ViewPointToImage(m_ptDragOffset);
                    lm->SetSelectedRect(rect.Offset(d.x, d.y));
                    lm->SelectROI(lm->GetSelLabel(), lm->GetSelFrame() + 1);
                    m_ptAnchor = p;
                    m_ptDragOffset = {0, 0};
                }
                lm->CopyFrameToNext(f);
                // Undone, it shows the frame the copies went to.
                lm->EndEditStep(vm->CurrentFrameIndex());
                RefreshView(1);
            }
            return true;

        case VK_KEY_E:
            if (openAndIdle && lm != nullptr && f >= 0 &&
                ShowMessageBox(kAskDeleteFrame, MessageBoxType::YesNo) == MessageBoxResult::Yes) {
                lm->BeginEditStep();
                lm->DeleteFrameROIs(f);
                lm->EndEditStep(f);
                ReloadAndRefresh();
            }
            return true;

        case VK_KEY_I:
            OnKeyFillGap();
            return true;

        case VK_KEY_L:
            if (lm != nullptr && lm->GetCurLabel() < kLastLabel) {
                SelectLabel(lm->GetCurLabel() + 1, true);
            }
            return true;

        case VK_KEY_T:
            if (videoOpen) {
                TrackToNextFrame();
            }
            return true;

        default:
            return false;
    }
}
