// Timed playback, the speed buttons and the frame slider.

#include <algorithm>

#include "app/TagwrightDlg.h"
#include "video/VideoManager.h"

namespace {

constexpr int kDefaultPlayInterval = 30;
constexpr int kPlayIntervalStep = 10;
constexpr int kMinPlayInterval = 1;
constexpr int kMaxPlayInterval = 200;

}  // namespace

void CTagwrightDlg::TogglePlayback() {
    if ((m_nModeFlags & MODE_VIDEO_OPEN) == 0) {
        return;
    }
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        m_nModeFlags ^= MODE_PLAYING;
        m_wnd.SetControlText(IDC_BTN_PLAY, "&PLAY");
        m_wnd.KillTimer(PLAY_TIMER_ID);
        return;
    }
    // The first frame comes with the first tick, one interval from now.
    m_nModeFlags ^= MODE_PLAYING;
    m_wnd.SetControlText(IDC_BTN_PLAY, "&PAUSE");
    m_wnd.SetTimer(PLAY_TIMER_ID, m_nPlayInterval);
}

void CTagwrightDlg::OnTimer(int id) {
    if (id == INDEX_TIMER_ID) {
        OnIndexTick();
        return;
    }
    OnPlaybackTick(id);
}

void CTagwrightDlg::OnIndexTick() {
    if (m_pVideoManager == nullptr) {
        m_wnd.KillTimer(INDEX_TIMER_ID);
        return;
    }
    m_pVideoManager->PollIndex();
    // The index has reached a frame shown as not verified: show the exact one, unless a drag,
    // a crop or a tracking step is working on the picture right now.
    const int busy = MODE_GRAB | MODE_DRAW | MODE_CROP | MODE_TRACK;
    if (m_pVideoManager->CanVerifyCurrentFrame() && (m_nModeFlags & busy) == 0 &&
        (m_nModeFlags & MODE_VIDEO_OPEN) != 0) {
        ReloadAndRefresh();
    }
    FollowFrameCount();
    // The progress goes beside the path, on the line under the counter: the counter itself is
    // only wide enough for the frame number.
    const bool complete = m_pVideoManager->IsIndexComplete();
    const int lastReadable = m_pVideoManager->LastReadableFrame();
    std::string line = m_strVideoPath.string();
    if (lastReadable >= 0) {
        line += "   (could not be read past frame " + std::to_string(lastReadable) + ")";
    } else if (!complete) {
        line += "   (indexing frames: " + std::to_string(m_pVideoManager->IndexPercent()) + "%)";
    }
    m_wnd.SetControlText(IDC_EDIT_PATH, line);
    if (complete || lastReadable >= 0) {
        m_wnd.KillTimer(INDEX_TIMER_ID);
    }
    if (lastReadable >= 0) {
        // A read error is not the end of the video: frames after it exist but cannot be shown,
        // and reopening will not help while the file cannot be read.
        ShowMessageBox("The video could not be read past frame " + std::to_string(lastReadable) +
                           ". Frames after it cannot be shown until the file can be read again.",
                       MessageBoxType::Ok);
    }
}

void CTagwrightDlg::FollowFrameCount() {
    // The container's count at first, the exact count once the index knows it; a raw stream,
    // which reports no count, gets a slider that grows with the index.
    const int frameCount = m_pVideoManager->GetFrameCount();
    if (frameCount == m_sliderMarks.GetFrameCount()) {
        return;
    }
    m_wnd.SetSliderRange(IDC_SLIDER, 0, frameCount, false);
    m_wnd.SetSliderTickFrequency(IDC_SLIDER, frameCount + 1);
    m_sliderMarks.SetFrameCount(frameCount);
    UpdateSliderMarks();
}

void CTagwrightDlg::OnPlaybackTick(int id) {
    if (id != PLAY_TIMER_ID || m_pVideoManager == nullptr) {
        return;
    }
    // A modal box or menu asks about the frame on screen, and its answer acts on that frame;
    // the ticks that arrive meanwhile must not move it away underneath. They are dropped, not
    // kept: playback simply goes on from the same frame once the box closes.
    if (m_nModalDepth > 0) {
        return;
    }
    // One tick, one frame. At the end of the video the read fails quietly and the timer keeps
    // firing until the operator pauses.
    const int shown = m_pVideoManager->CurrentFrameIndex();
    RefreshOrStay(m_pVideoManager->ReadNextFrame(), shown);
}

void CTagwrightDlg::OnHScroll() {
    OnSliderScroll();
}

void CTagwrightDlg::OnSliderScroll() {
    if (m_pVideoManager == nullptr) {
        return;
    }
    // Every notification seeks, so dragging the thumb shows frames continuously. The top
    // position is one past the last frame: no frame comes and the picture stays.
    const int pos = m_wnd.GetSliderPos(IDC_SLIDER);
    const int shown = m_pVideoManager->CurrentFrameIndex();
    RefreshOrStay(m_pVideoManager->SeekFrame(pos), shown);
}

void CTagwrightDlg::PlayFaster() {
    m_nPlayInterval = std::max(kMinPlayInterval, m_nPlayInterval - kPlayIntervalStep);
    RestartPlayTimer();
}

void CTagwrightDlg::PlaySlower() {
    m_nPlayInterval = std::min(kMaxPlayInterval, m_nPlayInterval + kPlayIntervalStep);
    RestartPlayTimer();
}

void CTagwrightDlg::ResetPlaySpeed() {
    m_nPlayInterval = kDefaultPlayInterval;
    RestartPlayTimer();
}

void CTagwrightDlg::RestartPlayTimer() {
    // While paused the new interval only takes effect at the next start.
    if ((m_nModeFlags & MODE_PLAYING) != 0) {
        m_wnd.KillTimer(PLAY_TIMER_ID);
        m_wnd.SetTimer(PLAY_TIMER_ID, m_nPlayInterval);
    }
}
