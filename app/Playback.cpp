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
    OnPlaybackTick(id);
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
