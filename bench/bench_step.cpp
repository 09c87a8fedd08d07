// One frame step of the main dialog against the plain decode of one frame, on a 1920 x 1080
// H.264 clip. A held arrow key or playback at the default 30 ms interval keeps up only when a
// step costs little more than the decode it cannot avoid.
//
// The step is the dialog's own: the Right key through PreTranslateMessage (next frame, overlay
// of three ROIs, display image, paint) on a window whose paint draws the display image into an
// off-screen 1000 x 562 QImage with QPainter and no smoothing, as the Qt window does. The
// decode is CVideoManager::ReadNextFrame alone on a second, warm source of the same file. Both run
// in alternating rounds so that a noisy machine affects them alike; figures are medians.
//
// Prints human-readable figures and "RATIO step_vs_decode <value>" (target: at most 2.0).

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <opencv2/imgproc.hpp>

#include "app/TagwrightDlg.h"
#include "labels/LabelManager.h"
#include "res/Layout.h"
#include "res/Resource.h"
#include "res/Templates.h"
#include "video/SampleVideo.h"
#include "video/VideoManager.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

double Ms(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
}

double Median(std::vector<double> v) {
    if (v.empty()) {
        return 0.0;
    }
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2.0;
}

// Paints like the Qt picture control: the window keeps its own copy of the display image, and
// a paint fills the view black and stretches the whole image onto it without smoothing, into an
// off-screen image of the view size.
//
// Two ways of keeping the copy are measured. As BGR888 (a plain copy), Qt's scaled drawing
// first converts the whole 1920 x 1080 source on every paint. As RGB32 (the copy made by a
// BGR -> BGRA conversion), the scaled drawing samples the source directly. Both show the same
// pixels; the benchmark checks that.
class OffscreenPainter {
  public:
    enum class Keep { Bgr888Copy, Rgb32Converted };

    void SetKeep(Keep keep) { m_keep = keep; }

    void Paint(const cv::Mat& bgr, int viewWidth, int viewHeight) {
        if (m_keep == Keep::Bgr888Copy) {
            m_kept = QImage(bgr.data, bgr.cols, bgr.rows, static_cast<qsizetype>(bgr.step),
                            QImage::Format_BGR888)
                         .copy();
        } else {
            cv::cvtColor(bgr, m_bgra, cv::COLOR_BGR2BGRA);
            m_kept = QImage(m_bgra.data, m_bgra.cols, m_bgra.rows,
                            static_cast<qsizetype>(m_bgra.step), QImage::Format_RGB32);
        }
        if (m_target.width() != viewWidth || m_target.height() != viewHeight) {
            m_target = QImage(viewWidth, viewHeight, QImage::Format_RGB32);
        }
        QPainter p(&m_target);
        p.setRenderHint(QPainter::SmoothPixmapTransform, false);
        p.fillRect(m_target.rect(), Qt::black);
        p.drawImage(QRect(0, 0, viewWidth, viewHeight), m_kept);
        ++m_paints;
    }
    int Paints() const { return m_paints; }
    const QImage& Target() const { return m_target; }

  private:
    Keep m_keep = Keep::Bgr888Copy;
    cv::Mat m_bgra;
    QImage m_kept;
    QImage m_target;
    int m_paints = 0;
};

// A window with just enough state for the main dialog and its side dialogs to run: control
// rectangles from the template and its layout, texts, slider, radios; painting goes to the
// off-screen painter.
class BenchWindow : public IDialogWindow {
  public:
    BenchWindow(int templateId, const CPoint& clientSize, OffscreenPainter* painter)
        : m_tmpl(FindDialogTemplate(templateId)), m_painter(painter) {
        m_client = clientSize.x > 0 ? clientSize
                                    : (m_tmpl ? TemplateClientSize(*m_tmpl) : CPoint{100, 100});
        if (m_tmpl != nullptr) {
            for (size_t i = 0; i < m_tmpl->controlCount; ++i) {
                const ControlTemplate& c = m_tmpl->controls[i];
                m_rects[c.id] = LayoutControlRect(*m_tmpl, c, m_client);
                m_texts[c.id] = c.caption != nullptr ? c.caption : "";
            }
        }
    }
    void SetEventHandler(IDialogEvents*) override {}
    void ShowWindow(bool show) override { m_visible = show; }
    bool IsWindowVisible() const override { return m_visible; }
    void EndDialog(int) override {}
    void SetBackgroundColor(const Rgb&) override {}
    void SetIcon(int) override {}
    CPoint GetClientSize() const override { return m_client; }
    void EnableControl(int id, bool enable) override { m_enabled[id] = enable; }
    bool IsControlEnabled(int id) const override {
        auto it = m_enabled.find(id);
        return it == m_enabled.end() || it->second;
    }
    void SetControlText(int id, const std::string& text) override { m_texts[id] = text; }
    std::string GetControlText(int id) const override {
        auto it = m_texts.find(id);
        return it == m_texts.end() ? std::string() : it->second;
    }
    void SetCaptionColor(int, const Rgb&) override {}
    void SetControlFont(int, const FontSpec&) override {}
    void SetFocus(int) override {}
    void SetRadioIndex(int firstId, int index) override { m_radio[firstId] = index; }
    int GetRadioIndex(int firstId) const override {
        auto it = m_radio.find(firstId);
        return it == m_radio.end() ? 0 : it->second;
    }
    void SetSliderRange(int, int, int, bool) override {}
    void SetSliderTickFrequency(int, int) override {}
    void SetSliderPos(int, int pos) override { m_slider = pos; }
    int GetSliderPos(int) const override { return m_slider; }
    CRect GetControlRect(int id) const override {
        auto it = m_rects.find(id);
        return it == m_rects.end() ? CRect{} : it->second;
    }
    void ResizeControl(int id, int width, int height) override {
        CRect& r = m_rects[id];
        r.right = r.left + width;
        r.bottom = r.top + height;
    }
    void PaintImage(int, const cv::Mat& bgr, int viewWidth, int viewHeight) override {
        if (m_painter != nullptr) {
            m_painter->Paint(bgr, viewWidth, viewHeight);
        }
    }
    void ClearImage(int) override {}
    void SetTimer(int, int) override {}
    void KillTimer(int) override {}
    CPoint GetCursorPos() const override { return {}; }
    bool IsLeftButtonDown() const override { return false; }
    bool IsCtrlDown() const override { return false; }
    void SetCursor(CursorShape) override {}
    int TrackPopupMenu(const CPoint&, const std::string&, int, bool) override { return 0; }

  private:
    const DialogTemplate* m_tmpl;
    OffscreenPainter* m_painter;
    CPoint m_client;
    bool m_visible = false;
    std::map<int, CRect> m_rects;
    std::map<int, std::string> m_texts;
    std::map<int, bool> m_enabled;
    std::map<int, int> m_radio;
    int m_slider = 0;
};

class BenchApp : public IAppServices {
  public:
    MessageBoxResult MessageBox(const std::string& text, MessageBoxType type) override {
        std::printf("  (message box: %s)\n", text.c_str());
        return type == MessageBoxType::Ok ? MessageBoxResult::Ok : MessageBoxResult::Yes;
    }
    std::optional<fs::path> OpenFileDialog(const std::string&, const fs::path&) override {
        return std::nullopt;
    }
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void BeginProgress(const std::string&, int) override {}
    bool StepProgress(int) override { return true; }
    void EndProgress() override {}
    void DebugTrace(const std::string&) override {}
    std::unique_ptr<IDialogWindow> CreateDialogWindow(int templateId) override {
        return std::make_unique<BenchWindow>(templateId, CPoint{}, nullptr);
    }
    CTagwrightDlg* GetMainDialog() override { return nullptr; }
};

// The main window's client size whose picture area is 1000 pixels wide after the layout, so a
// 16:9 frame is fitted to 1000 x 562.
CPoint ClientSizeForPictureWidth(int width) {
    const DialogTemplate* tmpl = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG);
    CPoint client = TemplateClientSize(*tmpl);
    for (size_t i = 0; i < tmpl->controlCount; ++i) {
        if (tmpl->controls[i].id == IDC_PICTURE) {
            const CRect r = TemplateRectPixels(*tmpl, tmpl->controls[i]);
            client.x += width - r.Width();  // the picture takes the whole width change
        }
    }
    return client;
}

fs::path EnsureClip() {
    const fs::path shared = "/tmp/tagwright-bench-1080p.mp4";
    std::error_code ec;
    if (fs::exists(shared, ec) && fs::file_size(shared, ec) > 0) {
        std::printf("clip: %s (reused)\n", shared.c_str());
        return shared;
    }
    SampleVideoOptions o;
    o.width = 1920;
    o.height = 1080;
    o.frames = 120;
    o.blobStart = 200;
    o.blobEnd = 420;
    // Written beside the final name and renamed, so another benchmark never reads half a file.
    const fs::path part = "/tmp/tagwright-bench-1080p.step-" + std::to_string(::getpid()) + ".mp4";
    std::printf("clip: writing %s (1920 x 1080, %d frames, H.264) ...\n", shared.c_str(), o.frames);
    if (!WriteSampleVideo(part, o)) {
        fs::remove(part, ec);
        return {};
    }
    fs::rename(part, shared, ec);
    if (ec) {
        fs::remove(part, ec);
    }
    return fs::exists(shared, ec) ? shared : fs::path();
}

std::string Line(const CRect& r, int label) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%d,%d,%d,%d,%d,0\r\n", r.left, r.top, r.right, r.bottom, label);
    return buf;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication qapp(argc, argv);

    const fs::path clip = EnsureClip();
    if (clip.empty()) {
        std::fprintf(stderr, "could not write the 1080p clip\n");
        return 1;
    }

    // The dialog opens a link to the clip in a folder of our own, so its label folder (the
    // path without ".mp4") holds three ROIs per frame and is removed afterwards.
    const fs::path work =
        fs::temp_directory_path() / ("tagwright-bench-step-" + std::to_string(::getpid()));
    std::error_code ec;
    fs::create_directories(work, ec);
    const fs::path video = work / "clip.mp4";
    fs::create_symlink(fs::absolute(clip), video, ec);
    if (ec) {
        fs::copy_file(clip, video, fs::copy_options::overwrite_existing, ec);
    }
    const fs::path labels = work / "clip";
    fs::create_directories(labels, ec);

    CVideoManager probe;
    if (!probe.Open(video) || !probe.ReadNextFrame()) {
        std::fprintf(stderr, "could not open %s\n", video.c_str());
        return 1;
    }
    const int frameCount = probe.GetFrameCount();
    for (int f = 0; f < frameCount; ++f) {
        const std::string bytes = Line({300 + f, 200, 700 + f, 560}, 1) +
                                  Line({900, 300 + f, 1200, 650 + f}, 2) +
                                  Line({1300, 600, 1700, 900}, 3);
        std::FILE* out = std::fopen((labels / (std::to_string(f) + ".txt")).c_str(), "wb");
        if (out != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
    }

    OffscreenPainter painter;
    BenchApp app;
    BenchWindow wnd(IDD_TAGWRIGHT_DIALOG, ClientSizeForPictureWidth(1000), &painter);
    auto dlg = std::make_unique<CTagwrightDlg>(wnd, app);
    dlg->OnInitDialog();
    dlg->SetVideoPath(video);
    dlg->OnCommand(ID_OPEN_VIDEO);
    if ((dlg->GetModeFlags() & MODE_VIDEO_OPEN) == 0 || dlg->GetVideoManager() == nullptr) {
        std::fprintf(stderr, "the dialog could not open %s\n", video.c_str());
        return 1;
    }
    const CPoint view = dlg->GetViewSize();
    std::vector<ROI> probeRois;
    dlg->GetLabelManager()->GetFrameROIs(0, probeRois);
    std::printf("frames: %d of %d x %d, view %d x %d, %zu ROIs per frame\n", frameCount,
                probe.GetWidth(), probe.GetHeight(), view.x, view.y, probeRois.size());

    InputMessage right;
    right.type = InputMessage::Type::KeyDown;
    right.vkCode = VK_RIGHT;

    // Alternating rounds. The dialog steps on through the clip instead of going back: frames it
    // has shown once are kept decoded, and a step onto one of those would time a copy, not the
    // decode that playback and the arrow keys meet on new frames.
    const int perRound = std::max(1, std::min(40, (frameCount - 2) / 8));
    const int rounds = 3;
    std::vector<double> decode, stepCopy, stepConverted;
    auto stepRound = [&](OffscreenPainter::Keep keep, std::vector<double>& out) {
        painter.SetKeep(keep);
        const int paintsBefore = painter.Paints();
        for (int i = 0; i < perRound; ++i) {
            const auto t0 = Clock::now();
            dlg->PreTranslateMessage(right);
            const auto t1 = Clock::now();
            out.push_back(Ms(t0, t1));
        }
        return painter.Paints() - paintsBefore == perRound;
    };
    // The plain decode runs on a warm decoder: opened once, past its start-up (the first frames
    // of a fresh decoder include filling its threads), and reading frames it has not shown.
    CVideoManager plain;
    plain.SetIndexOnOpen(false);
    plain.Open(video);
    for (int i = 0; i < 8; ++i) {
        plain.ReadNextFrame();
    }
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < perRound; ++i) {
            const auto t0 = Clock::now();
            const bool ok = plain.ReadNextFrame();
            const auto t1 = Clock::now();
            if (ok) {
                decode.push_back(Ms(t0, t1));
            }
        }
        if (!stepRound(OffscreenPainter::Keep::Bgr888Copy, stepCopy) ||
            !stepRound(OffscreenPainter::Keep::Rgb32Converted, stepConverted)) {
            std::fprintf(stderr, "a step did not paint\n");
            return 1;
        }
    }

    // Both ways of keeping the image must show the same pixels.
    bool samePixels = true;
    {
        CVideoManager* vm = dlg->GetVideoManager();
        vm->SeekFrame(frameCount / 2);
        dlg->DrawFrameOverlay();
        const cv::Mat display = vm->MakeDisplayImage().clone();
        OffscreenPainter a, b;
        a.SetKeep(OffscreenPainter::Keep::Bgr888Copy);
        b.SetKeep(OffscreenPainter::Keep::Rgb32Converted);
        a.Paint(display, view.x, view.y);
        b.Paint(display, view.x, view.y);
        for (int y = 0; y < view.y && samePixels; ++y) {
            const QRgb* ra = reinterpret_cast<const QRgb*>(a.Target().constScanLine(y));
            const QRgb* rb = reinterpret_cast<const QRgb*>(b.Target().constScanLine(y));
            for (int x = 0; x < view.x; ++x) {
                if (qRed(ra[x]) != qRed(rb[x]) || qGreen(ra[x]) != qGreen(rb[x]) ||
                    qBlue(ra[x]) != qBlue(rb[x])) {
                    samePixels = false;
                    break;
                }
            }
        }
    }

    // Where a step's time goes, stage by stage, on the dialog's own video source.
    std::vector<double> tRead, tOverlay, tDisplay, tPaintCopy, tPaintConverted;
    {
        CVideoManager* vm = dlg->GetVideoManager();
        CLabelManager* lm = dlg->GetLabelManager();
        // Past every frame the rounds showed, so each read below decodes.
        vm->SeekFrame(std::min(frameCount - perRound - 1, 2 * rounds * perRound + 2));
        for (int i = 0; i < perRound; ++i) {
            const auto t0 = Clock::now();
            vm->ReadNextFrame();
            const auto t1 = Clock::now();
            std::vector<ROI> list;
            lm->GetFrameROIs(vm->CurrentFrameIndex(), list);
            vm->DrawRois(list);
            const auto t2 = Clock::now();
            const cv::Mat& display = vm->MakeDisplayImage();
            const auto t3 = Clock::now();
            painter.SetKeep(OffscreenPainter::Keep::Bgr888Copy);
            painter.Paint(display, view.x, view.y);
            const auto t4 = Clock::now();
            painter.SetKeep(OffscreenPainter::Keep::Rgb32Converted);
            painter.Paint(display, view.x, view.y);
            const auto t5 = Clock::now();
            tRead.push_back(Ms(t0, t1));
            tOverlay.push_back(Ms(t1, t2));
            tDisplay.push_back(Ms(t2, t3));
            tPaintCopy.push_back(Ms(t3, t4));
            tPaintConverted.push_back(Ms(t4, t5));
        }
    }

    dlg->OnDestroy();
    dlg.reset();
    fs::remove_all(work, ec);

    const double decodeMs = Median(decode);
    const double copyMs = Median(stepCopy);
    const double convertedMs = Median(stepConverted);
    std::printf("plain decode of one frame:            %7.2f ms (median of %zu)\n", decodeMs,
                decode.size());
    std::printf("full step, image kept as BGR888 copy: %7.2f ms (median of %zu)\n", copyMs,
                stepCopy.size());
    std::printf("full step, image kept as RGB32:       %7.2f ms (median of %zu)\n", convertedMs,
                stepConverted.size());
    std::printf(
        "  stage medians: read %.2f ms, overlay %.2f ms, display image %.2f ms,\n"
        "                 paint %.2f ms (BGR888 copy) / %.2f ms (RGB32)\n",
        Median(tRead), Median(tOverlay), Median(tDisplay), Median(tPaintCopy),
        Median(tPaintConverted));
    std::printf("both paints show the same pixels: %s\n", samePixels ? "yes" : "NO");
    std::printf("playback at 30 ms per tick holds: %s\n", convertedMs <= 30.0 ? "yes" : "no");
    std::printf("RATIO step_vs_decode %.3f\n", decodeMs > 0 ? convertedMs / decodeMs : 0.0);
    std::printf("RATIO step_vs_decode_bgr888_copy %.3f\n", decodeMs > 0 ? copyMs / decodeMs : 0.0);
    if (!samePixels) {
        return 1;
    }
    return 0;
}
