// The keyboard workflow. Every key-down and wheel message of the window comes here before the
// focused control sees it; what we return false for goes on to the standard dialog keys
// (Enter presses EXIT, Escape cancels, Tab moves focus, button mnemonics).
//
// Each command is one row of kKeyCommands and one small handler. A new key is a new row and a
// new handler; the dispatch below does the rest (trace, focus, held keys).

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

const char kAskExit[] = "프로그램을 종료합니다.";
const char kAskDeleteFrame[] = "현재 프레임의 모든 Label 항목을 삭제 합니다.";

// Whether a is earlier than b on the window system's millisecond clock, which wraps.
bool Earlier(std::uint32_t a, std::uint32_t b) {
    return static_cast<std::int32_t>(a - b) < 0;
}

}  // namespace

// One command of the key table: the key codes it answers (one, or a range such as the digits),
// whether holding the key repeats it (its auto-repeats are paced, see IsRepeatBacklog), whether
// it needs Ctrl held, and its handler, which returns whether the key is consumed.
struct CTagwrightDlg::KeyCommand {
    int firstVk;
    int lastVk;
    bool repeats;
    bool ctrl;
    bool (CTagwrightDlg::*handler)(const InputMessage&);
};

namespace {

using Dlg = CTagwrightDlg;

}  // namespace

const CTagwrightDlg::KeyCommand* CTagwrightDlg::FindKeyCommand(int vk) {
    static const KeyCommand kKeyCommands[] = {
        {VK_ESCAPE, VK_ESCAPE, false, false, &Dlg::KeyEscape},
        {VK_SPACE, VK_SPACE, false, false, &Dlg::KeySpace},
        {VK_LEFT, VK_LEFT, true, false, &Dlg::KeyLeft},
        {VK_RIGHT, VK_RIGHT, true, false, &Dlg::KeyRight},
        {VK_DELETE, VK_DELETE, false, false, &Dlg::KeyDelete},
        {VK_KEY_D, VK_KEY_D, false, false, &Dlg::KeyDelete},
        {VK_DIGIT_1, VK_DIGIT_9, false, false, &Dlg::KeyDigit},
        {VK_KEY_B, VK_KEY_B, false, false, &Dlg::KeyPrevLabelled},
        {VK_KEY_N, VK_KEY_N, false, false, &Dlg::KeyNextLabelled},
        {VK_KEY_C, VK_KEY_C, true, false, &Dlg::KeyCopyForward},
        {VK_KEY_E, VK_KEY_E, false, false, &Dlg::KeyDeleteFrame},
        {VK_KEY_L, VK_KEY_L, false, false, &Dlg::KeyNextLabel},
        {VK_KEY_T, VK_KEY_T, true, false, &Dlg::KeyTrack},
        {VK_KEY_I, VK_KEY_I, false, false, &Dlg::KeyFillGap},
        // Ctrl+Z undoes, Ctrl+Y and Ctrl+Shift+Z redo; without Ctrl these letters go on to the
        // standard keys.
        {VK_KEY_Y, VK_KEY_Z, false, true, &Dlg::KeyUndoRedo},
    };
    for (const KeyCommand& k : kKeyCommands) {
        if (vk >= k.firstVk && vk <= k.lastVk) {
            return &k;
        }
    }
    return nullptr;
}

bool CTagwrightDlg::IsRepeatBacklog(const InputMessage& msg) const {
    // A step slower than the key's repeat rate would otherwise queue repeats that run on long
    // after the key is up, each on a frame the operator never saw. Only repeats are dropped:
    // a fresh press always acts.
    return msg.repeat && msg.time != 0 && m_bHaveRepeatCutoff && Earlier(msg.time, m_nRepeatCutoff);
}

bool CTagwrightDlg::PreTranslateMessage(const InputMessage& msg) {
    EndGestureIfButtonLost();
    const KeyCommand* cmd = nullptr;
    if (msg.type == InputMessage::Type::KeyDown) {
        char trace[32];
        std::snprintf(trace, sizeof trace, "[Key] %x\n", static_cast<unsigned>(msg.vkCode));
        m_app.DebugTrace(trace);
        // No button or the slider keeps the focus, so arrows never reach the slider.
        m_wnd.SetFocus(IDC_PICTURE);
        cmd = FindKeyCommand(msg.vkCode);
        if (cmd == nullptr || (cmd->ctrl && !msg.ctrl)) {
            return false;
        }
    }
    const bool repeats = cmd == nullptr || cmd->repeats;  // the wheel repeats like a held key
    if (repeats && IsRepeatBacklog(msg)) {
        return cmd != nullptr;  // the wheel message itself still goes on
    }
    const std::uint32_t started = m_wnd.TickCount();
    const bool consumed = cmd != nullptr ? (this->*cmd->handler)(msg) : WheelStep(msg);
    if (repeats && msg.time != 0) {
        // Repeats made before the step ended (its start on the event's clock plus how long it
        // took) were queued behind it.
        m_nRepeatCutoff = msg.time + (m_wnd.TickCount() - started);
        m_bHaveRepeatCutoff = true;
    }
    return consumed;
}

bool CTagwrightDlg::WheelStep(const InputMessage& msg) {
    // Away from the user steps back, towards the user (or a zero delta) steps forward; the
    // wheel message itself always goes on.
    if (m_pVideoManager != nullptr) {
        const int shown = m_pVideoManager->CurrentFrameIndex();
        RefreshOrStay(msg.wheelDelta > 0 ? m_pVideoManager->ReadPreviousFrame()
                                         : m_pVideoManager->ReadNextFrame(),
                      shown);
    }
    return false;
}

bool CTagwrightDlg::KeyEscape(const InputMessage&) {
    // Passing Escape on lets the standard processing end the dialog as Cancel.
    return ShowMessageBox(kAskExit, MessageBoxType::YesNo) != MessageBoxResult::Yes;
}

bool CTagwrightDlg::KeySpace(const InputMessage&) {
    TogglePlayback();
    return true;
}

bool CTagwrightDlg::KeyLeft(const InputMessage&) {
    if (m_pVideoManager != nullptr) {
        const int shown = m_pVideoManager->CurrentFrameIndex();
        RefreshOrStay(m_pVideoManager->ReadPreviousFrame(), shown);
    }
    return true;
}

bool CTagwrightDlg::KeyRight(const InputMessage&) {
    if (m_pVideoManager != nullptr) {
        const int shown = m_pVideoManager->CurrentFrameIndex();
        RefreshOrStay(m_pVideoManager->ReadNextFrame(), shown);
    }
    return true;
}

bool CTagwrightDlg::KeyDelete(const InputMessage&) {
    CVideoManager* vm = m_pVideoManager;
    CLabelManager* lm = m_pLabelManager;
    const int f = vm != nullptr ? vm->CurrentFrameIndex() : -1;
    if (vm == nullptr || lm == nullptr || f < 0 || RefuseUnverifiedFrame()) {
        return true;
    }
    // During a draw or a move only the ROI under the pointer goes, not the selection.
    const bool videoOpen = (m_nModeFlags & MODE_VIDEO_OPEN) != 0;
    const bool openAndIdle =
        (m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE);
    // The frame is rewritten below; a draw in progress ends first, or the ROI its press holds
    // out of the store would be dropped from the file.
    AbandonDraw();
    // The ROI under the pointer wins over the selection; the pointer need not be over the
    // picture.
    const int label = lm->HitTest(f, ClientToImage(m_wnd.GetCursorPos()));
    lm->BeginEditStep();
    if (videoOpen && label > 0) {
        lm->DeleteROI(f, label);
    } else if (openAndIdle) {
        lm->DeleteSelectedROI(f);
    }
    lm->SaveFrame(f);
    lm->EndEditStep(f);
    ReloadAndRefresh();
    return true;
}

bool CTagwrightDlg::KeyDigit(const InputMessage& msg) {
    SelectLabel(msg.vkCode - VK_DIGIT_1 + 1, true);
    return true;
}

bool CTagwrightDlg::KeyPrevLabelled(const InputMessage&) {
    if (m_pVideoManager != nullptr && m_pLabelManager != nullptr) {
        const int f = m_pVideoManager->CurrentFrameIndex();
        const int r = m_pLabelManager->PrevLabelledFrame(f);
        if (r >= 0) {
            RefreshOrStay(m_pVideoManager->SeekFrame(r), f);
        }
    }
    return false;  // passed on in every case
}

bool CTagwrightDlg::KeyNextLabelled(const InputMessage&) {
    if (m_pVideoManager != nullptr && m_pLabelManager != nullptr) {
        const int f = m_pVideoManager->CurrentFrameIndex();
        const int r = m_pLabelManager->NextLabelledFrame(f);
        if (r != -1) {
            RefreshOrStay(m_pVideoManager->SeekFrame(r), f);
        }
    }
    return false;  // passed on in every case
}

bool CTagwrightDlg::KeyCopyForward(const InputMessage&) {
    if (m_wnd.IsCtrlDown()) {
        return false;  // Ctrl+C is not the copy command
    }
    CVideoManager* vm = m_pVideoManager;
    CLabelManager* lm = m_pLabelManager;
    const bool openAndIdle =
        (m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE);
    const int f = vm != nullptr ? vm->CurrentFrameIndex() : -1;
    if (!openAndIdle || vm == nullptr || lm == nullptr || f < 0 || RefuseUnverifiedFrame()) {
        return true;
    }
    // The last frame has nothing after it to copy to: a file for a frame the video does not
    // have would only come back as a label no one can see or reach.
    if (!vm->ReadNextFrame()) {
        RefreshOrStay(false, f);
        return true;
    }
    lm->BeginEditStep();
    // A move is carried along only while its ROI is on screen; after playback or a key changed
    // the frame during the drag it would land on a frame nobody sees.
    if (m_bGesture && (m_nModeFlags & MODE_GRAB) != 0 && lm->GetSelFrame() == f) {
        // Fix the drag on this frame, then carry the grab to the same label on the next frame:
        // the continuing drag moves the copy, measured from here.
        const CPoint p = m_wnd.GetCursorPos();
        lm->SetSelectedRect(MovedSelection(p));
        lm->SelectROI(lm->GetSelLabel(), lm->GetSelFrame() + 1);
        m_ptAnchor = p;
        m_ptAnchorImage = ClientToImage(p);
        m_ptDragOffset = {0, 0};
    }
    lm->CopyFrameToNext(f);
    // Undone, it shows the frame the copies went to.
    lm->EndEditStep(vm->CurrentFrameIndex());
    RefreshView(1);
    return true;
}

bool CTagwrightDlg::KeyDeleteFrame(const InputMessage&) {
    CLabelManager* lm = m_pLabelManager;
    const bool openAndIdle =
        (m_nModeFlags & (MODE_VIDEO_OPEN | MODE_IDLE)) == (MODE_VIDEO_OPEN | MODE_IDLE);
    const int f = m_pVideoManager != nullptr ? m_pVideoManager->CurrentFrameIndex() : -1;
    if (!openAndIdle || lm == nullptr || f < 0 || RefuseUnverifiedFrame()) {
        return true;
    }
    if (ShowMessageBox(kAskDeleteFrame, MessageBoxType::YesNo) == MessageBoxResult::Yes) {
        lm->BeginEditStep();
        lm->DeleteFrameROIs(f);
        lm->EndEditStep(f);
        ReloadAndRefresh();
    }
    return true;
}

bool CTagwrightDlg::KeyNextLabel(const InputMessage&) {
    if (m_pLabelManager != nullptr && m_pLabelManager->GetCurLabel() < kSkipLabel) {
        SelectLabel(m_pLabelManager->GetCurLabel() + 1, true);
    }
    return true;
}

bool CTagwrightDlg::KeyTrack(const InputMessage&) {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) != 0 && !RefuseUnverifiedFrame()) {
        TrackToNextFrame();
    }
    return true;
}

bool CTagwrightDlg::KeyFillGap(const InputMessage&) {
    OnKeyFillGap();
    return true;
}

bool CTagwrightDlg::KeyUndoRedo(const InputMessage& msg) {
    UndoEdit(msg.vkCode == VK_KEY_Y || msg.shift);
    return true;
}
