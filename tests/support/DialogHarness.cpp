#include "support/DialogHarness.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>

#include "video/VideoManager.h"

DialogHarness::DialogHarness() {
    wnd.SetEventHandler(&dlg);
    app.SetMainDialog(&dlg);
    app.SetModalTickWindow(&wnd);
    initResult = wnd.InitDialog();
}

DialogHarness::~DialogHarness() {
    // The real window runs the destroy handler before the dialog object goes away.
    dlg.OnDestroy();
    app.SetMainDialog(nullptr);
    app.SetModalTickWindow(nullptr);
    wnd.SetEventHandler(nullptr);
}

SampleVideoOptions DialogHarness::SmallVideo() {
    SampleVideoOptions o;
    o.width = 320;
    o.height = 240;
    o.frames = 20;
    o.blobStart = 40;
    o.blobEnd = 60;
    return o;
}

std::filesystem::path DialogHarness::MakeVideo(const std::string& name,
                                               const SampleVideoOptions& options) {
    std::filesystem::path p = tmp / name;
    if (!WriteSampleVideo(p, options)) {
        return {};
    }
    return p;
}

bool DialogHarness::OpenViaButton(const std::filesystem::path& path) {
    app.SetFileDialogResult(path);
    if (!wnd.Click(IDC_BTN_OPEN)) {
        return false;
    }
    return (dlg.GetModeFlags() & MODE_VIDEO_OPEN) != 0 && dlg.GetVideoManager() != nullptr;
}

std::filesystem::path DialogHarness::MakeAndOpen(const std::string& name,
                                                 const SampleVideoOptions& options) {
    std::filesystem::path p = MakeVideo(name, options);
    if (p.empty() || !OpenViaButton(p)) {
        return {};
    }
    return p;
}

std::filesystem::path DialogHarness::LabelFolder(const std::filesystem::path& video) {
    std::string s = video.string();
    return std::filesystem::path(s.size() > 4 ? s.substr(0, s.size() - 4) : std::string());
}

void DialogHarness::WriteLabelFile(const std::filesystem::path& video, int frame,
                                   const std::vector<ROI>& rois) {
    std::filesystem::path folder = LabelFolder(video);
    std::filesystem::create_directories(folder);
    std::string bytes;
    for (const ROI& r : rois) {
        char line[128];
        std::snprintf(line, sizeof line, "%d,%d,%d,%d,%d,%d\r\n", r.rect.left, r.rect.top,
                      r.rect.right, r.rect.bottom, r.nLabel, r.nClass);
        bytes += line;
    }
    WriteFileBytes(folder / (std::to_string(frame) + ".txt"), bytes);
}

std::string DialogHarness::ReadLabelFile(const std::filesystem::path& video, int frame) {
    return ReadFileBytes(LabelFolder(video) / (std::to_string(frame) + ".txt"));
}

ROI DialogHarness::MakeRoi(int frame, int label, int nClass, const CRect& rect) {
    ROI r;
    r.nFrame = frame;
    r.nLabel = label;
    r.nClass = nClass;
    r.rect = rect;
    return r;
}

int DialogHarness::ShownFrameIndex() const {
    // The painted image is the display image at frame resolution (its width raised to a
    // multiple of 4), so the stamp survives; the stretched rendering may not keep it.
    const cv::Mat& painted = wnd.Ctl(IDC_PICTURE).image;
    if (painted.empty()) {
        return -1;
    }
    return ReadStampedIndex(painted);
}

int DialogHarness::SourceFrameIndex() const {
    CVideoManager* vm = dlg.GetVideoManager();
    if (vm == nullptr || vm->CurrentFrame().empty()) {
        return -1;
    }
    return ReadStampedIndex(vm->CurrentFrame());
}

CPoint DialogHarness::FrameToClient(const CPoint& framePixel) const {
    const CRect pic = PictureRect();
    // Per axis: the smallest picture offset whose conversion reaches the wanted frame pixel.
    // Conversions are monotonic, so a short search from an estimate is enough.
    auto solve = [&](int want, int extent, bool xAxis) {
        auto convert = [&](int v) {
            CPoint p = xAxis ? CPoint{v, 0} : CPoint{0, v};
            CPoint img = dlg.ViewPointToImage(p);
            return xAxis ? img.x : img.y;
        };
        CVideoManager* vm = dlg.GetVideoManager();
        int frameExtent = vm ? (xAxis ? vm->GetWidth() : vm->GetHeight()) : extent;
        double scale = frameExtent > 0 ? static_cast<double>(extent) / frameExtent : 1.0;
        int v = std::max(0, static_cast<int>(std::floor(want * scale)) - 2);
        while (v > 0 && convert(v) >= want) {
            --v;
        }
        while (convert(v) < want && v < 100000) {
            ++v;
        }
        return v;
    };
    int px = solve(framePixel.x, pic.Width(), true);
    int py = solve(framePixel.y, pic.Height(), false);
    return {pic.left + px, pic.top + py};
}
