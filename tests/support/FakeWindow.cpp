#include "support/FakeWindow.h"

#include <stdexcept>

#include <opencv2/imgproc.hpp>

#include "res/Layout.h"

FakeWindow::FakeWindow(int templateId) : m_tmpl(FindDialogTemplate(templateId)) {
    if (m_tmpl == nullptr) {
        throw std::runtime_error("unknown dialog template " + std::to_string(templateId));
    }
    m_clientSize = TemplateClientSize(*m_tmpl);
    for (std::size_t i = 0; i < m_tmpl->controlCount; ++i) {
        const ControlTemplate& t = m_tmpl->controls[i];
        Control c;
        c.id = t.id;
        c.kind = t.kind;
        c.text = t.caption;
        c.enabled = (t.style & STYLE_DISABLED) == 0;
        c.rect = TemplateRectPixels(*m_tmpl, t);
        m_controls[t.id] = c;
        m_order.push_back(t.id);
    }
}

void FakeWindow::EndDialog(int result) {
    m_endResult = result;
    m_visible = false;
}

FakeWindow::Control& FakeWindow::Ctl(int id) {
    auto it = m_controls.find(id);
    if (it == m_controls.end()) {
        throw std::runtime_error("no control " + std::to_string(id));
    }
    return it->second;
}

const FakeWindow::Control& FakeWindow::Ctl(int id) const {
    return const_cast<FakeWindow*>(this)->Ctl(id);
}

void FakeWindow::EnableControl(int id, bool enable) {
    Ctl(id).enabled = enable;
}
bool FakeWindow::IsControlEnabled(int id) const {
    return Ctl(id).enabled;
}
void FakeWindow::SetControlText(int id, const std::string& text) {
    Ctl(id).text = text;
}
std::string FakeWindow::GetControlText(int id) const {
    return Ctl(id).text;
}

void FakeWindow::SetCaptionColor(int id, const Rgb& color) {
    Control& c = Ctl(id);
    c.captionColor = color;
    ++c.captionColorChanges;
}

void FakeWindow::SetControlFont(int id, const FontSpec& font) {
    Ctl(id).font = font;
}

void FakeWindow::SetRadioIndex(int firstId, int index) {
    int i = 0;
    bool started = false;
    for (int id : m_order) {
        Control& c = m_controls[id];
        if (!started) {
            if (id != firstId) {
                continue;
            }
            started = true;
        } else if (c.kind != ControlKind::RadioButton) {
            break;
        }
        c.checked = (i == index);
        ++i;
    }
}

int FakeWindow::GetRadioIndex(int firstId) const {
    int i = 0;
    bool started = false;
    for (int id : m_order) {
        const Control& c = m_controls.at(id);
        if (!started) {
            if (id != firstId) {
                continue;
            }
            started = true;
        } else if (c.kind != ControlKind::RadioButton) {
            break;
        }
        if (c.checked) {
            return i;
        }
        ++i;
    }
    return -1;
}

void FakeWindow::SetSliderRange(int id, int minPos, int maxPos, bool /*redraw*/) {
    Control& c = Ctl(id);
    c.sliderMin = minPos;
    c.sliderMax = maxPos;
    if (c.sliderPos < minPos) {
        c.sliderPos = minPos;
    }
    if (c.sliderPos > maxPos) {
        c.sliderPos = maxPos;
    }
}

void FakeWindow::SetSliderTickFrequency(int id, int freq) {
    Ctl(id).sliderTickFreq = freq;
}

void FakeWindow::SetSliderPos(int id, int pos) {
    Control& c = Ctl(id);
    c.sliderPos = std::max(c.sliderMin, std::min(pos, c.sliderMax));
}

int FakeWindow::GetSliderPos(int id) const {
    return Ctl(id).sliderPos;
}

void FakeWindow::SetSliderMarks(int id, CSliderMarks* marks) {
    Control& c = Ctl(id);
    ++c.marksHandOvers;
    c.marks.clear();
    if (marks != nullptr) {
        c.marks = marks->Columns(c.rect.Width() - 1);
        c.marksColor = marks->CurrentColor();
    }
}

CRect FakeWindow::GetControlRect(int id) const {
    return Ctl(id).rect;
}

void FakeWindow::ResizeControl(int id, int width, int height) {
    Control& c = Ctl(id);
    c.rect.right = c.rect.left + width;
    c.rect.bottom = c.rect.top + height;
}

void FakeWindow::PaintImage(int id, const cv::Mat& bgr, int viewWidth, int viewHeight) {
    Control& c = Ctl(id);
    c.image = bgr.clone();
    c.viewWidth = viewWidth;
    c.viewHeight = viewHeight;
    ++c.paintCount;
    m_clock += static_cast<std::uint32_t>(m_paintCost);
}

void FakeWindow::ClearImage(int id) {
    Control& c = Ctl(id);
    c.image.release();
    c.viewWidth = c.viewHeight = 0;
}

void FakeWindow::SetTimer(int id, int intervalMs) {
    m_timers[id] = intervalMs;
    ++m_timerStarts;
}

void FakeWindow::KillTimer(int id) {
    m_timers.erase(id);
}

int FakeWindow::TimerInterval(int id) const {
    auto it = m_timers.find(id);
    return it == m_timers.end() ? -1 : it->second;
}

int FakeWindow::TrackPopupMenu(const CPoint& screen, const std::string& text, int commandId,
                               bool enabled) {
    m_menuCalls.push_back({screen, text, commandId, enabled});
    DeliverModalTicks();
    if (!enabled) {
        return 0;
    }
    return m_menuAnswer;
}

cv::Mat FakeWindow::RenderedPicture(int id) const {
    const Control& c = Ctl(id);
    if (c.image.empty() || c.viewWidth <= 0 || c.viewHeight <= 0) {
        return {};
    }
    cv::Mat out;
    cv::resize(c.image, out, cv::Size(c.viewWidth, c.viewHeight), 0, 0, cv::INTER_NEAREST);
    return out;
}

bool FakeWindow::InitDialog() {
    return m_handler != nullptr && m_handler->OnInitDialog();
}

bool FakeWindow::Click(int id) {
    auto it = m_controls.find(id);
    if (it == m_controls.end() || !it->second.enabled || m_handler == nullptr) {
        return false;
    }
    if (it->second.kind == ControlKind::RadioButton) {
        // Auto radio: the clicked one becomes the checked one of its group.
        int first = id;
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            if (m_order[i] != id) {
                continue;
            }
            std::size_t j = i;
            while (j > 0 && m_controls[m_order[j]].kind == ControlKind::RadioButton &&
                   (m_tmpl->controls[j].style & STYLE_GROUP) == 0) {
                --j;
            }
            first = m_order[j];
            break;
        }
        int index = 0;
        for (std::size_t i = 0; i < m_order.size(); ++i) {
            if (m_order[i] == first) {
                while (m_order[i + index] != id) {
                    ++index;
                }
                break;
            }
        }
        SetRadioIndex(first, index);
    }
    m_handler->OnCommand(id);
    return true;
}

void FakeWindow::LButtonDown(const CPoint& p) {
    m_cursor = p;
    m_leftDown = true;
    if (m_handler) {
        m_handler->OnLButtonDown(p);
    }
}

void FakeWindow::MouseMove(const CPoint& p) {
    m_cursor = p;
    if (m_handler) {
        m_handler->OnMouseMove(p);
    }
}

void FakeWindow::LButtonUp(const CPoint& p) {
    m_cursor = p;
    m_leftDown = false;
    if (m_handler) {
        m_handler->OnLButtonUp(p);
    }
}

void FakeWindow::RButtonDown(const CPoint& p) {
    m_cursor = p;
    if (m_handler) {
        m_handler->OnRButtonDown(p);
    }
}

bool FakeWindow::KeyDown(int vk) {
    InputMessage msg;
    msg.type = InputMessage::Type::KeyDown;
    msg.vkCode = vk;
    msg.ctrl = m_ctrlDown;
    msg.shift = m_shiftDown;
    return m_handler != nullptr && m_handler->PreTranslateMessage(msg);
}

bool FakeWindow::KeyDownAt(int vk, std::uint32_t time, bool repeat) {
    InputMessage msg;
    msg.type = InputMessage::Type::KeyDown;
    msg.vkCode = vk;
    msg.ctrl = m_ctrlDown;
    msg.shift = m_shiftDown;
    msg.time = time;
    msg.repeat = repeat;
    return Send(msg);
}

bool FakeWindow::Send(const InputMessage& msg) {
    if (static_cast<std::int32_t>(msg.time - m_clock) > 0) {
        m_clock = msg.time;
    }
    return m_handler != nullptr && m_handler->PreTranslateMessage(msg);
}

void FakeWindow::LoseGrab() {
    m_leftDown = false;
    if (m_handler) {
        m_handler->OnCancelMode();
    }
}

bool FakeWindow::Wheel(int delta) {
    InputMessage msg;
    msg.type = InputMessage::Type::MouseWheel;
    msg.wheelDelta = delta;
    return m_handler != nullptr && m_handler->PreTranslateMessage(msg);
}

void FakeWindow::FireTimer(int id) {
    if (m_handler && m_timers.count(id)) {
        m_handler->OnTimer(id);
    }
}

void FakeWindow::DeliverModalTicks() {
    if (m_releaseInModal) {
        m_releaseInModal = false;
        m_leftDown = false;
    }
    for (int i = 0; i < m_ticksPerModalCall; ++i) {
        // Copied: a tick's handler may start or stop timers.
        const std::map<int, int> running = m_timers;
        for (const auto& [id, interval] : running) {
            if (m_handler != nullptr && m_timers.count(id) != 0) {
                ++m_modalTicks;
                m_handler->OnTimer(id);
            }
        }
    }
}

void FakeWindow::ScrollSlider(int pos) {
    for (auto& [id, c] : m_controls) {
        if (c.kind == ControlKind::Slider) {
            c.sliderPos = std::max(c.sliderMin, std::min(pos, c.sliderMax));
        }
    }
    if (m_handler) {
        m_handler->OnHScroll();
    }
}

void FakeWindow::Resize(int cx, int cy) {
    if (m_tmpl->minWidthPx > 0) {
        cx = std::max(cx, m_tmpl->minWidthPx);
        cy = std::max(cy, m_tmpl->minHeightPx);
    }
    m_clientSize = {cx, cy};
    for (std::size_t i = 0; i < m_tmpl->controlCount; ++i) {
        const ControlTemplate& t = m_tmpl->controls[i];
        m_controls[t.id].rect = LayoutControlRect(*m_tmpl, t, m_clientSize);
    }
    if (m_handler) {
        m_handler->OnSize(cx, cy);
    }
}

MessageBoxResult FakeAppServices::MessageBox(const std::string& text, MessageBoxType type) {
    m_boxes.push_back({text, type});
    if (m_tickWindow != nullptr) {
        m_tickWindow->DeliverModalTicks();
    }
    if (type == MessageBoxType::Ok) {
        return MessageBoxResult::Ok;
    }
    if (m_answers.empty()) {
        return MessageBoxResult::Yes;
    }
    MessageBoxResult r = m_answers.front();
    m_answers.pop_front();
    return r;
}

void FakeAppServices::BeginProgress(const std::string& text, int total) {
    m_progress.push_back({text, total, 0, 0});
    m_progressOpen = true;
}

bool FakeAppServices::StepProgress(int done) {
    Progress& run = m_progress.back();
    ++run.steps;
    run.lastDone = done;
    if (m_tickWindow != nullptr) {
        m_tickWindow->DeliverModalTicks();
    }
    if (m_stopAfter >= 0 && run.steps >= m_stopAfter) {
        m_stopAfter = -1;
        return false;
    }
    return true;
}

std::optional<std::filesystem::path> FakeAppServices::OpenFileDialog(
    const std::string& filter, const std::filesystem::path& initialDir) {
    ++m_fileDialogCalls;
    if (m_tickWindow != nullptr) {
        m_tickWindow->DeliverModalTicks();
    }
    m_lastFilter = filter;
    m_lastInitialDir = initialDir;
    return m_fileResult;
}

std::unique_ptr<IDialogWindow> FakeAppServices::CreateDialogWindow(int templateId) {
    auto w = std::make_unique<FakeWindow>(templateId);
    m_windows[templateId] = w.get();
    return w;
}

FakeWindow* FakeAppServices::Window(int templateId) const {
    auto it = m_windows.find(templateId);
    return it == m_windows.end() ? nullptr : it->second;
}
