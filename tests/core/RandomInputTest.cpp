// Random sequences of real input against the main dialog: presses, moves and releases inside and
// outside the picture, every key of the key table, the wheel, the slider, timer ticks (also
// while a box or the menu is open), buttons, menu choices and box answers, on a generated clip.
// Real timing is part of it: releases lost to a box, the menu or another window, a second button
// during a drag, resizes mid-drag, frames reached ahead of the frame index ("n?") and the index
// ticks that put them right, lost tracks, and held keys as timed auto-repeat streams on a clock
// that a step advances. After every event a table of invariants is checked; none of them knows
// how a handler works, only what the operator is promised, read from what is on screen: the
// frame's number stamped in its pixels and the counter. Ctrl+Z and Ctrl+Y are events too, and at
// the end of each sequence undoing every step must give back the label folder it started from. A
// failure prints the seed and the shortest sequence found that still fails.
//
// TAGWRIGHT_RANDOM_SEQUENCES sets how many sequences run (scripts/random-input runs many more),
// TAGWRIGHT_RANDOM_SEED the first seed.

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <opencv2/imgproc.hpp>
#include <opencv2/videoio.hpp>

#include "InputTestSupport.h"

namespace fs = std::filesystem;

namespace {

// A small clip keeps thousands of sequences fast. It is long enough that a jump from its start
// to its end lands ahead of the frame index (more than 48 frames on), where frames show "n?".
constexpr int kFrames = 64;
constexpr int kWidth = 160;
constexpr int kHeight = 120;
constexpr int kEventsPerSequence = 40;

// --- the world one sequence runs in ---

// A move under way: the box pressed and the press point, both in frame pixels.
struct MoveStart {
    int label = 0;
    int frame = 0;
    CRect box;
    CPoint at;
};

struct World {
    std::unique_ptr<DialogHarness> h;
    fs::path video;
    std::mt19937 rng;
    std::shared_ptr<ScriptedTrackerState> tracker;
    std::optional<MoveStart> move;
    // What the last release promised for the move under way: the ROIs of the move's frame as
    // they must be after it (the pressed one shifted, every other one as it was).
    std::optional<std::vector<ROI>> expectedMove;
    std::string lateWrite;  // a held key's step that wrote after its release

    int Rand(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); }
    bool Chance(int percent) { return Rand(0, 99) < percent; }
};

// The label folder's frame files: name -> bytes.
std::map<std::string, std::string> LabelFiles(const World& w) {
    std::map<std::string, std::string> files;
    std::error_code ec;
    for (fs::directory_iterator it(DialogHarness::LabelFolder(w.video), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (it->is_regular_file() && name != "crop.txt" && name.size() > 4 &&
            name.compare(name.size() - 4, 4, ".txt") == 0) {
            files[name] = ReadFileBytes(it->path());
        }
    }
    return files;
}

// Which frame files an event may write: what the key table and the mouse gestures promise.
enum class Writes {
    Nothing,      // navigation, playback, labels, a press, a move, a right-click
    ShownFrame,   // D and Delete, E, the release that ends a draw or a move
    ShownOrNext,  // C (copies forward and carries a move along) and T (tracks onto the next)
    LabelWide,    // the menu's delete-after, a fill (I): any frame of the label
    ClassChange,  // a class change: any frame of the label, whatever is on screen
    History,      // Ctrl+Z, Ctrl+Y: the frames of the step taken back or done again
    Stream,       // a held key: one step per repeat that is not dropped
};

struct Event {
    int kind = 0;     // row of kEventKinds
    int a = 0;        // x, key code, slider position, control id or wheel delta
    int b = 0;        // y
    bool yes = true;  // the answer to any box the event asks
    int menu = 0;     // what a menu opened by the event returns
};

struct EventKind {
    const char* name;
    int weight;
    Writes writes;
    int code;  // the key or control of a row that stands for one, else 0
    bool (*possible)(const World&, const EventKind&);
    void (*pick)(World&, const EventKind&, Event&);
    void (*run)(World&, const EventKind&, const Event&);
};

// --- picking parameters ---

bool Always(const World&, const EventKind&) {
    return true;
}
bool ButtonUp(const World& w, const EventKind&) {
    return !w.h->wnd.IsLeftButtonDown();
}
bool ButtonDown(const World& w, const EventKind&) {
    return w.h->wnd.IsLeftButtonDown();
}
void NoPick(World&, const EventKind&, Event&) {}

// A client point: on a ROI of the shown frame, anywhere in the picture, or outside it.
void PickPoint(World& w, const EventKind&, Event& e) {
    const CRect pic = w.h->PictureRect();
    std::vector<ROI> rois;
    if (CVideoManager* vm = w.h->dlg.GetVideoManager()) {
        w.h->dlg.GetLabelManager()->GetFrameROIs(vm->CurrentFrameIndex(), rois);
    }
    CPoint p;
    const int roll = w.Rand(0, 99);
    if (roll < 40 && !rois.empty()) {
        const CRect& r = rois[w.Rand(0, static_cast<int>(rois.size()) - 1)].rect;
        p = w.h->FrameToClient({(r.left + r.right) / 2, (r.top + r.bottom) / 2});
    } else if (roll < 80) {
        p = {w.Rand(pic.left, pic.right - 1), w.Rand(pic.top, pic.bottom - 1)};
    } else {
        switch (w.Rand(0, 3)) {
            case 0:
                p = {w.Rand(pic.right, pic.right + 60), w.Rand(pic.top, pic.bottom + 20)};
                break;
            case 1:
                p = {w.Rand(pic.left, pic.right + 20), w.Rand(pic.bottom, pic.bottom + 40)};
                break;
            case 2:
                p = {w.Rand(0, pic.left - 1), w.Rand(pic.top, pic.bottom)};
                break;
            default:
                p = {w.Rand(pic.left, pic.right), w.Rand(0, pic.top - 1)};
                break;
        }
    }
    e.a = p.x;
    e.b = p.y;
}

// A second button during a drag: mostly on another ROI of the frame than the one pressed.
void PickSecondButton(World& w, const EventKind& k, Event& e) {
    PickPoint(w, k, e);
    CLabelManager* lm = w.h->dlg.GetLabelManager();
    CVideoManager* vm = w.h->dlg.GetVideoManager();
    std::vector<ROI> rois;
    if (vm != nullptr && w.Chance(80)) {
        lm->GetFrameROIs(vm->CurrentFrameIndex(), rois);
    }
    for (const ROI& r : rois) {
        if (r.nLabel != lm->GetSelLabel()) {
            const CPoint p = w.h->FrameToClient(
                {(r.rect.left + r.rect.right) / 2, (r.rect.top + r.rect.bottom) / 2});
            e.a = p.x;
            e.b = p.y;
            break;
        }
    }
}

void PickMenu(World& w, const EventKind& k, Event& e) {
    PickPoint(w, k, e);
    e.menu = w.Chance(70) ? ID_DELETE_LABEL_AFTER : 0;
}
void PickWheel(World& w, const EventKind&, Event& e) {
    e.a = w.Chance(50) ? 120 : -120;
}
void PickSlider(World& w, const EventKind&, Event& e) {
    // Mostly near the labels at the start; the top position is one past the last frame.
    e.a = w.Chance(50) ? w.Rand(0, 3) : w.Rand(0, kFrames);
}
void PickDigit(World& w, const EventKind&, Event& e) {
    e.a = '0' + w.Rand(1, 9);
}
// Keys outside the key table: the dialog passes them on (their mnemonics are the button rows).
void PickOtherKey(World& w, const EventKind&, Event& e) {
    const int keys[] = {'A', 'K', 'M', 'O', 'P', 'Z', '0', VK_UP, VK_DOWN, VK_TAB, VK_BACK};
    e.a = keys[w.Rand(0, static_cast<int>(sizeof keys / sizeof keys[0]) - 1)];
}
void PickLabelButton(World& w, const EventKind&, Event& e) {
    e.a = kMainLabelButtonIds[w.Rand(0, 3)];
}
void PickGoButton(World& w, const EventKind&, Event& e) {
    e.a = kMainGoButtonIds[w.Rand(0, 3)];
}
void PickSpeedButton(World& w, const EventKind&, Event& e) {
    const int ids[] = {IDC_BTN_FASTER, IDC_BTN_SLOWER, IDC_BTN_SPEED};
    e.a = ids[w.Rand(0, 2)];
}
void PickRadio(World& w, const EventKind&, Event& e) {
    e.a = IDC_RADIO_CLASS0 + w.Rand(0, 2);
}
void PickMoreLabel(World& w, const EventKind&, Event& e) {
    e.a = kMoreLabelButtonIds[w.Rand(0, 29)];
}
void PickMoreGo(World& w, const EventKind&, Event& e) {
    e.a = kMoreGoButtonIds[w.Rand(0, 29)];
}
void PickHeldKey(World& w, const EventKind&, Event& e) {
    const int keys[] = {'T', 'T', 'C', VK_RIGHT, VK_LEFT, 0};  // 0: the wheel
    e.a = keys[w.Rand(0, 5)];
    e.b = w.Rand(100, 3000);  // how long it is held, ms
    e.menu = w.Rand(0, 160);  // what one step costs, ms
}
void PickLostRelease(World& w, const EventKind&, Event& e) {
    e.a = w.Chance(50) ? VK_ESCAPE : 'E';
}
void PickResize(World& w, const EventKind&, Event& e) {
    const CPoint sizes[] = {{1024, 760}, {1202, 781}, {1500, 1000}};
    const CPoint s = sizes[w.Rand(0, 2)];
    e.a = s.x;
    e.b = s.y;
}
void PickOpen(World& w, const EventKind&, Event& e) {
    e.a = w.Chance(80) ? 1 : 0;  // 1: the same video again, 0: the file dialog is cancelled
}

// --- running events ---

// Frame pixels of a client point at the picture's present scale.
CPoint ToFrame(const World& w, const CPoint& p) {
    return w.h->dlg.ViewPointToImage(p - w.h->PictureRect().TopLeft());
}

void StartMove(World& w, const CPoint& at) {
    CLabelManager* lm = w.h->dlg.GetLabelManager();
    w.move = MoveStart{lm->GetSelLabel(), lm->GetSelFrame(), lm->GetSelectedRect(), ToFrame(w, at)};
}

void RunPress(World& w, const EventKind&, const Event& e) {
    w.h->wnd.LButtonDown({e.a, e.b});
    if ((w.h->dlg.GetModeFlags() & MODE_GRAB) != 0) {
        StartMove(w, {e.a, e.b});
    }
}
void RunMove(World& w, const EventKind&, const Event& e) {
    w.h->wnd.MouseMove({e.a, e.b});
}
void RunRelease(World& w, const EventKind&, const Event& e) {
    CLabelManager* lm = w.h->dlg.GetLabelManager();
    CVideoManager* vm = w.h->dlg.GetVideoManager();
    std::vector<ROI> rois;
    if (w.move && vm != nullptr && w.h->PictureRect().Contains({e.a, e.b})) {
        lm->GetFrameROIs(w.move->frame, rois);
    }
    for (ROI& r : rois) {
        // Only the pressed box moves, and only while its frame is on screen and no crop mode
        // (CROP pressed during the drag) makes the release a crop: by the pointer's travel over
        // the frame, cut to the frame. A drop is as wrong as a move of another box.
        if (r.nLabel != w.move->label || vm->CurrentFrameIndex() != w.move->frame ||
            (w.h->dlg.GetModeFlags() & MODE_CROP) != 0) {
            continue;
        }
        const CPoint to = ToFrame(w, {e.a, e.b});
        const CRect m = w.move->box.Offset(to.x - w.move->at.x, to.y - w.move->at.y);
        const int fw = vm->GetWidth();
        const int fh = vm->GetHeight();
        r.rect = {std::clamp(m.left, 0, fw), std::clamp(m.top, 0, fh), std::clamp(m.right, 0, fw),
                  std::clamp(m.bottom, 0, fh)};
    }
    if (!rois.empty()) {
        w.expectedMove = rois;
    }
    w.h->wnd.LButtonUp({e.a, e.b});
}
// The left button is released while a box (Escape or E) or the menu is open: the release goes
// to the box.
void RunReleaseLostToBox(World& w, const EventKind&, const Event& e) {
    w.h->wnd.ReleaseInsideNextModal();
    w.h->wnd.KeyDown(e.a);
}
void RunReleaseLostToMenu(World& w, const EventKind&, const Event& e) {
    w.h->wnd.ReleaseInsideNextModal();
    w.h->dlg.OnContextMenu({e.a, e.b});
}
void RunLoseGrab(World& w, const EventKind&, const Event&) {
    w.h->wnd.LoseGrab();
}
void RunResize(World& w, const EventKind&, const Event& e) {
    w.h->wnd.Resize(e.a, e.b);
}
// The index worker reaches every frame and the index timer ticks: a frame shown "n?" is
// replaced by the exact one.
void RunIndexTick(World& w, const EventKind&, const Event&) {
    if (CVideoManager* vm = w.h->dlg.GetVideoManager()) {
        vm->StartIndexing();
        vm->WaitForIndex();
        w.h->wnd.FireTimer(INDEX_TIMER_ID);
    }
}
void RunLostTrack(World& w, const EventKind&, const Event&) {
    w.tracker->updateSucceeds = false;
    w.h->wnd.KeyDown('T');
    w.tracker->updateSucceeds = true;
}
// A key held for e.b ms: the first press, then after the usual 660 ms a repeat every 40 ms,
// stamped by the window system and handled in order, each when the step before it is done. A
// step costs e.menu ms. Only the step under way at the release may end after it.
void RunHeldKey(World& w, const EventKind&, const Event& e) {
    FakeWindow& wnd = w.h->wnd;
    wnd.SetPaintCost(e.menu);
    const std::uint32_t down = wnd.TickCount() + 1000;
    const std::uint32_t up = down + static_cast<std::uint32_t>(e.b);
    for (std::uint32_t t = down; static_cast<std::int32_t>(t - up) < 0; t += t == down ? 660 : 40) {
        InputMessage msg;
        msg.type = e.a != 0 ? InputMessage::Type::KeyDown : InputMessage::Type::MouseWheel;
        msg.vkCode = e.a;
        msg.wheelDelta = -120;
        msg.time = t;
        msg.repeat = t != down;
        const std::uint32_t starts = std::max(wnd.TickCount(), t);
        const std::map<std::string, std::string> before = LabelFiles(w);
        wnd.Send(msg);
        if (static_cast<std::int32_t>(starts - up) >= 0 && LabelFiles(w) != before &&
            w.lateWrite.empty()) {
            w.lateWrite = "a step that began " + std::to_string(starts - up) +
                          " ms after the key-up wrote a label file";
        }
    }
    wnd.SetPaintCost(0);
}
void RunRightPress(World& w, const EventKind&, const Event& e) {
    w.h->wnd.RButtonDown({e.a, e.b});
}
// The right button's release, the menu key or Shift+F10.
void RunMenu(World& w, const EventKind&, const Event& e) {
    w.h->dlg.OnContextMenu({e.a, e.b});
}
void RunTick(World& w, const EventKind&, const Event&) {
    w.h->wnd.FireTimer(PLAY_TIMER_ID);
}
void RunWheel(World& w, const EventKind&, const Event& e) {
    w.h->wnd.Wheel(e.a);
}
void RunSlider(World& w, const EventKind&, const Event& e) {
    w.h->wnd.ScrollSlider(e.a);
}
void RunKey(World& w, const EventKind& k, const Event&) {
    w.h->wnd.KeyDown(k.code);
}
void RunPickedKey(World& w, const EventKind&, const Event& e) {
    w.h->wnd.KeyDown(e.a);
}
void RunCtrlKey(World& w, const EventKind& k, const Event&) {
    w.h->wnd.SetCtrlDown(true);
    w.h->wnd.KeyDown(k.code);
    w.h->wnd.SetCtrlDown(false);
}
void RunCtrlShiftKey(World& w, const EventKind& k, const Event& e) {
    w.h->wnd.SetShiftDown(true);
    RunCtrlKey(w, k, e);
    w.h->wnd.SetShiftDown(false);
}
void RunButton(World& w, const EventKind& k, const Event&) {
    w.h->wnd.Click(k.code);
}
void RunPickedButton(World& w, const EventKind&, const Event& e) {
    w.h->wnd.Click(e.a);
}
// A click in the More Label window.
void RunMoreButton(World& w, const EventKind&, const Event& e) {
    if (FakeWindow* more = w.h->MoreWindow()) {
        more->Click(e.a);
    }
}
void RunOpen(World& w, const EventKind&, const Event& e) {
    w.h->app.SetFileDialogResult(e.a != 0 ? std::optional<fs::path>(w.video) : std::nullopt);
    w.h->wnd.Click(IDC_BTN_OPEN);
    if (w.h->dlg.GetVideoManager() != nullptr) {
        w.tracker = InstallScriptedTracker(*w.h);  // CSRT would make thousands of steps slow
    }
}

constexpr int kKeyB = 'B', kKeyC = 'C', kKeyD = 'D', kKeyE = 'E', kKeyL = 'L', kKeyN = 'N',
              kKeyT = 'T', kKeyI = 'I';

// Every kind of input the generator makes, in one table. A new command is a new row.
const EventKind kEventKinds[] = {
    {"press", 10, Writes::Nothing, 0, ButtonUp, PickPoint, RunPress},
    {"move", 10, Writes::Nothing, 0, Always, PickPoint, RunMove},
    {"release", 10, Writes::ShownFrame, 0, ButtonDown, PickPoint, RunRelease},
    {"release lost to a box", 2, Writes::ShownFrame, 0, ButtonDown, PickLostRelease,
     RunReleaseLostToBox},
    {"release lost to the menu", 2, Writes::LabelWide, 0, ButtonDown, PickMenu,
     RunReleaseLostToMenu},
    {"pointer grab lost", 1, Writes::Nothing, 0, ButtonDown, NoPick, RunLoseGrab},
    {"right press", 3, Writes::Nothing, 0, Always, PickPoint, RunRightPress},
    {"second button", 8, Writes::Nothing, 0, ButtonDown, PickSecondButton, RunRightPress},
    {"resize", 2, Writes::Nothing, 0, Always, PickResize, RunResize},
    {"index tick", 2, Writes::Nothing, 0, Always, NoPick, RunIndexTick},
    {"held key", 3, Writes::Stream, 0, Always, PickHeldKey, RunHeldKey},
    {"T, track lost", 1, Writes::Nothing, 0, Always, NoPick, RunLostTrack},
    {"menu", 3, Writes::LabelWide, 0, Always, PickMenu, RunMenu},
    {"tick", 14, Writes::Nothing, 0, Always, NoPick, RunTick},
    {"wheel", 3, Writes::Nothing, 0, Always, PickWheel, RunWheel},
    {"slider", 3, Writes::Nothing, 0, ButtonUp, PickSlider, RunSlider},
    {"Escape", 1, Writes::Nothing, VK_ESCAPE, Always, NoPick, RunKey},
    {"Space", 3, Writes::Nothing, VK_SPACE, Always, NoPick, RunKey},
    {"Left", 4, Writes::Nothing, VK_LEFT, Always, NoPick, RunKey},
    {"Right", 4, Writes::Nothing, VK_RIGHT, Always, NoPick, RunKey},
    {"Delete", 2, Writes::ShownFrame, VK_DELETE, Always, NoPick, RunKey},
    {"D", 2, Writes::ShownFrame, kKeyD, Always, NoPick, RunKey},
    {"digit", 3, Writes::Nothing, 0, Always, PickDigit, RunPickedKey},
    {"other key", 1, Writes::Nothing, 0, Always, PickOtherKey, RunPickedKey},
    {"B", 2, Writes::Nothing, kKeyB, Always, NoPick, RunKey},
    {"C", 4, Writes::ShownOrNext, kKeyC, Always, NoPick, RunKey},
    {"Ctrl+C", 1, Writes::Nothing, kKeyC, Always, NoPick, RunCtrlKey},
    {"E", 2, Writes::ShownFrame, kKeyE, Always, NoPick, RunKey},
    {"L", 1, Writes::Nothing, kKeyL, Always, NoPick, RunKey},
    {"N", 2, Writes::Nothing, kKeyN, Always, NoPick, RunKey},
    {"T", 3, Writes::ShownOrNext, kKeyT, Always, NoPick, RunKey},
    {"I", 2, Writes::LabelWide, kKeyI, Always, NoPick, RunKey},
    {"Ctrl+Z", 4, Writes::History, 'Z', Always, NoPick, RunCtrlKey},
    {"Ctrl+Y", 2, Writes::History, 'Y', Always, NoPick, RunCtrlKey},
    {"Ctrl+Shift+Z", 1, Writes::History, 'Z', Always, NoPick, RunCtrlShiftKey},
    // Buttons with a mnemonic can be pressed from the keyboard (Alt+letter) during a drag.
    {"PLAY", 2, Writes::Nothing, IDC_BTN_PLAY, Always, NoPick, RunButton},
    {"CROP", 2, Writes::Nothing, IDC_BTN_CROP, Always, NoPick, RunButton},
    {"SKIP", 1, Writes::Nothing, IDC_BTN_SKIP, Always, NoPick, RunButton},
    {"OPEN", 1, Writes::Nothing, 0, Always, PickOpen, RunOpen},
    {"speed button", 1, Writes::Nothing, 0, ButtonUp, PickSpeedButton, RunPickedButton},
    {"label button", 2, Writes::Nothing, 0, ButtonUp, PickLabelButton, RunPickedButton},
    {"GO button", 2, Writes::Nothing, 0, ButtonUp, PickGoButton, RunPickedButton},
    {"class radio", 2, Writes::ClassChange, 0, ButtonUp, PickRadio, RunPickedButton},
    {"More label button", 1, Writes::Nothing, 0, ButtonUp, PickMoreLabel, RunMoreButton},
    {"More GO button", 1, Writes::Nothing, 0, ButtonUp, PickMoreGo, RunMoreButton},
};
constexpr int kKindCount = static_cast<int>(sizeof kEventKinds / sizeof kEventKinds[0]);

std::string Describe(const Event& e) {
    const EventKind& k = kEventKinds[e.kind];
    std::ostringstream out;
    out << k.name;
    if (k.pick == PickPoint || k.pick == PickMenu || k.pick == PickResize ||
        k.pick == PickSecondButton) {
        out << " at " << e.a << "," << e.b;
    } else if (k.pick == PickHeldKey) {
        out << " 0x" << std::hex << e.a << std::dec << " for " << e.b << " ms, steps of " << e.menu
            << " ms";
    } else if (k.pick != NoPick) {
        out << " " << e.a;
    }
    if (k.pick == PickMenu) {
        out << (e.menu != 0 ? ", item chosen" : ", menu dismissed");
    }
    out << (e.yes ? " (boxes: Yes)" : " (boxes: No)");
    return out.str();
}

// --- what an invariant sees ---

struct Observation {
    std::map<std::string, std::string> files;  // the label folder's frame files: name -> bytes
    int shown = -1;                            // the frame index the counter shows
    bool exact = true;                         // the counter shows no "?"
    cv::Mat picture;                           // what the picture shows
    int current = -1;                          // the frame index edits go to
    int flags = 0;
    bool buttonDown = false;
    bool timerRunning = false;
    std::string playCaption;
};

// The frame the picture shows, by the counter painted with it. (The stamp in the picture is no
// help here: the random outlines are often drawn right across it.)
int ShownFrame(const DialogHarness& h) {
    const std::string counter = h.wnd.GetControlText(IDC_STATIC_FRAME);
    return counter == "--" ? -1 : std::atoi(counter.c_str());
}

Observation Observe(const World& w) {
    Observation o;
    o.files = LabelFiles(w);
    o.shown = ShownFrame(*w.h);
    o.exact = w.h->wnd.GetControlText(IDC_STATIC_FRAME).find('?') == std::string::npos;
    o.picture = w.h->wnd.Ctl(IDC_PICTURE).image.clone();
    CVideoManager* vm = w.h->dlg.GetVideoManager();
    o.current = vm != nullptr ? vm->CurrentFrameIndex() : -1;
    o.flags = w.h->dlg.GetModeFlags();
    o.buttonDown = w.h->wnd.IsLeftButtonDown();
    o.timerRunning = w.h->wnd.TimerRunning(PLAY_TIMER_ID);
    o.playCaption = w.h->wnd.GetControlText(IDC_BTN_PLAY);
    return o;
}

fs::path SharedClip();

// The frame whose number the picture shows in its pixels: the frame of the clip that differs
// from the picture in the fewest pixels. Frames differ at least in their stamped number; the
// stamp alone cannot be read back, as an outline across it can flip two bits and pass parity.
int FrameInPixels(const cv::Mat& picture) {
    static const std::vector<cv::Mat> frames = [] {
        std::vector<cv::Mat> out;
        cv::VideoCapture capture(SharedClip().string());
        cv::Mat f;
        while (capture.read(f) && !f.empty()) {
            out.push_back(f.clone());
        }
        return out;
    }();
    if (picture.empty()) {
        return -1;
    }
    int best = -1;
    int fewest = INT_MAX;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (frames[i].size() != picture.size() || frames[i].type() != picture.type()) {
            continue;
        }
        cv::Mat diff;
        cv::absdiff(frames[i], picture, diff);
        cv::cvtColor(diff, diff, cv::COLOR_BGR2GRAY);
        const int n = cv::countNonZero(diff > 40);
        if (n < fewest) {
            fewest = n;
            best = static_cast<int>(i);
        }
    }
    return best;
}

// The frame a file name stands for, or INT_MIN for a name that is no frame number.
int FrameOfName(const std::string& name) {
    const std::string stem = name.substr(0, name.size() - 4);
    if (stem.empty() || stem.find_first_not_of("-0123456789") != std::string::npos) {
        return INT_MIN;
    }
    return std::atoi(stem.c_str());
}

std::vector<std::string> ChangedFiles(const Observation& before, const Observation& after) {
    std::vector<std::string> changed;
    for (const auto& [name, bytes] : after.files) {
        auto it = before.files.find(name);
        if (it == before.files.end() || it->second != bytes) {
            changed.push_back(name);
        }
    }
    for (const auto& [name, bytes] : before.files) {
        if (after.files.count(name) == 0) {
            changed.push_back(name);
        }
    }
    return changed;
}

struct Check {
    const World& w;
    const Observation& before;
    const Observation& after;
    const EventKind& kind;
};

// --- the invariants: each returns what is wrong, or "" ---

std::string StoreMatchesFolder(const Check& c) {
    // A press on empty area holds the active label's ROI out of the store until the draw ends;
    // its file keeps it meanwhile.
    if ((c.after.flags & MODE_DRAW) != 0) {
        return {};
    }
    CLabelManager loaded;
    loaded.LoadFolder(DialogHarness::LabelFolder(c.w.video));
    const CLabelManager& store = *c.w.h->dlg.GetLabelManager();
    for (int f = -1; f <= kFrames + 1; ++f) {
        std::vector<ROI> mine, disk;
        store.GetFrameROIs(f, mine);
        loaded.GetFrameROIs(f, disk);
        bool same = mine.size() == disk.size();
        for (std::size_t i = 0; same && i < mine.size(); ++i) {
            same = mine[i].nLabel == disk[i].nLabel && mine[i].nClass == disk[i].nClass &&
                   mine[i].rect == disk[i].rect;
        }
        if (!same) {
            return "frame " + std::to_string(f) + ": the store holds " +
                   std::to_string(mine.size()) + " ROIs, its file " + std::to_string(disk.size());
        }
    }
    return {};
}

std::string FilesNameFramesOfTheVideo(const Check& c) {
    for (const auto& [name, bytes] : c.after.files) {
        const int f = FrameOfName(name);
        if (f < 0 || f >= kFrames) {
            return "the label folder holds " + name;
        }
    }
    return {};
}

// Every file an event writes names the frame whose number was on screen when it began: in the
// picture's pixels, and in the counter without "?" (a frame reached ahead of the frame index may
// be another frame). A step forward (C, T) also writes the frame after it.
std::string WritesOnlyWhereAllowed(const Check& c) {
    const std::vector<std::string> changed = ChangedFiles(c.before, c.after);
    if (changed.empty()) {
        return {};
    }
    const bool frameBound =
        c.kind.writes != Writes::ClassChange && c.kind.writes != Writes::History;
    if (frameBound && c.kind.writes != Writes::Nothing && !c.before.exact) {
        return std::string(c.kind.name) + " changed " + changed.front() +
               " while the counter showed " + std::to_string(c.before.shown) + "?";
    }
    const int onScreen = FrameInPixels(c.before.picture);
    for (const std::string& name : changed) {
        const int f = FrameOfName(name);
        bool allowed = false;
        switch (c.kind.writes) {
            case Writes::Nothing:
                break;
            case Writes::ShownFrame:
                allowed = f == onScreen;
                break;
            case Writes::ShownOrNext:
                allowed = f == onScreen || f == onScreen + 1;
                break;
            case Writes::LabelWide:
            case Writes::ClassChange:
            case Writes::History:
            case Writes::Stream:
                allowed = true;
                break;
        }
        if (!allowed) {
            return std::string(c.kind.name) + " with frame " + std::to_string(onScreen) +
                   " in the picture (counter " + std::to_string(c.before.shown) + ") changed " +
                   name;
        }
    }
    return {};
}

// A move writes the pressed box shifted by the pointer's travel over the frame (cut to the
// frame), measured at the picture's scale when each point was taken, and no other box.
std::string MoveIsThePointersTravel(const Check& c) {
    if (!c.w.expectedMove) {
        return {};
    }
    const std::vector<ROI>& want = *c.w.expectedMove;
    std::vector<ROI> got;
    c.w.h->dlg.GetLabelManager()->GetFrameROIs(want.front().nFrame, got);
    for (const ROI& r : want) {
        const ROI* now = nullptr;
        for (const ROI& g : got) {
            now = g.nLabel == r.nLabel ? &g : now;
        }
        if (now == nullptr || now->rect != r.rect) {
            const CRect n = now != nullptr ? now->rect : CRect{};
            char text[160];
            std::snprintf(text, sizeof text, "label %d on frame %d is %d,%d,%d,%d, not %d,%d,%d,%d",
                          r.nLabel, r.nFrame, n.left, n.top, n.right, n.bottom, r.rect.left,
                          r.rect.top, r.rect.right, r.rect.bottom);
            return text;
        }
    }
    return {};
}

std::string HeldKeyStopsAtItsRelease(const Check& c) {
    return c.w.lateWrite;
}

std::string FlagsReachable(const Check& c) {
    const int flags = c.after.flags;
    const int withoutPlaying = flags & ~MODE_PLAYING;
    const int reachable[] = {
        MODE_VIDEO_OPEN | MODE_IDLE,              // idle
        MODE_VIDEO_OPEN | MODE_DRAW,              // drawing
        MODE_VIDEO_OPEN | MODE_IDLE | MODE_GRAB,  // moving a ROI
        MODE_VIDEO_OPEN | MODE_CROP,              // waiting for the crop drag
        MODE_VIDEO_OPEN | MODE_CROP | MODE_GRAB,  // CROP (Alt+C) during a move
    };
    bool ok = flags == MODE_IDLE;  // no video
    for (int r : reachable) {
        ok = ok || withoutPlaying == r;
    }
    if (!ok) {
        return "flags " + std::to_string(flags);
    }
    if ((flags & (MODE_DRAW | MODE_GRAB)) != 0 && !c.after.buttonDown) {
        return "a draw or move outlives the left button (flags " + std::to_string(flags) + ")";
    }
    return {};
}

std::string PlaybackAgrees(const Check& c) {
    const bool playing = (c.after.flags & MODE_PLAYING) != 0;
    if (playing != c.after.timerRunning || playing != (c.after.playCaption == "&PAUSE")) {
        return std::string("playing flag ") + (playing ? "set" : "clear") + ", timer " +
               (c.after.timerRunning ? "running" : "stopped") + ", caption " + c.after.playCaption;
    }
    return {};
}

std::string PictureShowsTheEditedFrame(const Check& c) {
    if ((c.after.flags & MODE_VIDEO_OPEN) != 0 && c.after.shown != c.after.current) {
        return "the picture shows frame " + std::to_string(c.after.shown) + ", edits go to " +
               std::to_string(c.after.current);
    }
    return {};
}

struct Invariant {
    const char* name;
    std::string (*violation)(const Check&);
};

const Invariant kInvariants[] = {
    {"the store equals what the label folder loads back", StoreMatchesFolder},
    {"no file names a frame outside the video", FilesNameFramesOfTheVideo},
    {"an event writes only the frame on screen (and the next, stepping forward)",
     WritesOnlyWhereAllowed},
    {"a move writes the pressed box shifted by the pointer's travel", MoveIsThePointersTravel},
    {"no file is written after a held key's release beyond the step under way",
     HeldKeyStopsAtItsRelease},
    {"the mode flags are a reachable combination", FlagsReachable},
    {"the playing flag, the timer and the PLAY caption agree", PlaybackAgrees},
    {"the picture shows the frame edits go to", PictureShowsTheEditedFrame},
};

// --- one sequence ---

struct Failure {
    int at = -1;  // index of the event after which an invariant failed; -1 when none did
    std::string what;
};

fs::path SharedClip() {
    static TempDir dir;
    // The index is built only when an "index tick" event asks for it, so jumps land on frames
    // marked "?" until then.
    static fs::path clip;
    if (clip.empty()) {
        SampleVideoOptions o = DialogHarness::SmallVideo();
        o.width = kWidth;
        o.height = kHeight;
        o.blobStart = 20;
        o.blobEnd = 30;
        o.frames = kFrames;
        clip = dir / "clip.avi";
        if (!WriteSampleVideo(clip, o)) {
            clip.clear();
        }
    }
    return clip;
}

// Sets up a fresh dialog on the clip with a few labels already on disk. The setup depends on
// the seed only, so that a replay starts from the same state.
bool StartWorld(World& w, std::uint32_t seed) {
    w.h = std::make_unique<DialogHarness>();
    w.rng.seed(seed);
    w.video = w.h->tmp / "clip.avi";
    std::error_code ec;
    fs::create_symlink(SharedClip(), w.video, ec);
    if (ec) {
        return false;
    }
    std::map<int, std::vector<ROI>> files;
    // Mostly on the first frames, so that a frame often holds two or three labels; some far
    // on, where N and GO jump ahead of the frame index.
    const int count = w.Rand(0, 8);
    for (int i = 0; i < count; ++i) {
        const int frame = w.Chance(70) ? w.Rand(0, 2) : w.Rand(0, kFrames - 1);
        const int label = w.Rand(1, 3);
        const int x = w.Rand(10, kWidth - 40);
        const int y = w.Rand(10, kHeight - 35);
        std::vector<ROI>& rois = files[frame];
        bool taken = false;
        for (const ROI& r : rois) {
            taken = taken || r.nLabel == label;
        }
        if (!taken) {
            rois.push_back(DialogHarness::MakeRoi(frame, label, w.Rand(0, 2),
                                                  {x, y, x + w.Rand(6, 30), y + w.Rand(6, 25)}));
        }
    }
    for (const auto& [frame, rois] : files) {
        DialogHarness::WriteLabelFile(w.video, frame, rois);
    }
    w.h->wnd.SetTicksPerModalCall(w.Rand(0, 2));
    // Jumps land on frames the index has not reached ("n?") until an index tick event.
    w.h->dlg.SetVideoSourceFactory([] {
        auto* vm = new CVideoManager();
        vm->SetIndexOnOpen(false);
        vm->SetIndexWaitFrames(0);
        return vm;
    });
    if (!w.h->OpenViaButton(w.video)) {
        return false;
    }
    w.tracker = InstallScriptedTracker(*w.h);
    w.h->app.ClearBoxes();
    return true;
}

Event PickEvent(World& w) {
    int total = 0;
    for (const EventKind& k : kEventKinds) {
        total += k.possible(w, k) ? k.weight : 0;
    }
    int roll = w.Rand(0, total - 1);
    Event e;
    for (int i = 0; i < kKindCount; ++i) {
        const EventKind& k = kEventKinds[i];
        if (!k.possible(w, k)) {
            continue;
        }
        if (roll < k.weight) {
            e.kind = i;
            break;
        }
        roll -= k.weight;
    }
    e.yes = w.Chance(60);
    kEventKinds[e.kind].pick(w, kEventKinds[e.kind], e);
    return e;
}

// Undoing every step taken since the video was last opened gives back the label folder as that
// open found it. A gesture still pending is ended first (a release outside the picture ends a
// draw or a move, a drag completes a waiting crop), as the operator would before pressing Ctrl+Z.
std::string UndoEverything(World& w, const Observation& opened) {
    const CRect pic = w.h->PictureRect();
    if (w.h->wnd.IsLeftButtonDown()) {
        w.h->wnd.LButtonUp({pic.right + 10, pic.bottom + 10});
    }
    if ((w.h->dlg.GetModeFlags() & MODE_CROP) != 0) {
        w.h->wnd.LButtonDown({pic.left + 2, pic.top + 2});
        w.h->wnd.LButtonUp({pic.left + 20, pic.top + 20});
    }
    CLabelManager* store = w.h->dlg.GetLabelManager();
    for (int i = 0; store != nullptr && store->CanUndo(); ++i) {
        // A held key makes a step per repeat: at most one per 40 ms of a 3 s hold.
        if (i > kEventsPerSequence * 80) {
            return "Ctrl+Z still has steps to undo after more than the events could make";
        }
        w.h->wnd.SetCtrlDown(true);
        w.h->wnd.KeyDown('Z');
        w.h->wnd.SetCtrlDown(false);
    }
    const Observation now = Observe(w);
    const std::vector<std::string> changed = ChangedFiles(opened, now);
    return changed.empty() ? std::string()
                           : "after undoing everything " + changed.front() +
                                 " differs from the folder as opened";
}

// Runs a sequence; with `generate` set, events are made as it goes and appended to `events`.
// When no event breaks an invariant, undoing every step must give back the folder it started
// from; a failure there is reported at the last event.
Failure RunSequence(std::uint32_t seed, std::vector<Event>& events, bool generate) {
    World w;
    if (!StartWorld(w, seed)) {
        return {0, "the sequence could not be set up"};
    }
    Observation opened = Observe(w);
    // Nothing changes between two events, so what one event left is what the next one starts
    // from: each state is observed once.
    Observation after = opened;
    const std::size_t n = generate ? kEventsPerSequence : events.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (generate) {
            events.push_back(PickEvent(w));
        }
        const Event& e = events[i];
        const EventKind& kind = kEventKinds[e.kind];
        const Observation before = std::move(after);
        w.h->app.ClearAnswers();
        for (int j = 0; j < 3; ++j) {
            w.h->app.QueueAnswer(e.yes ? MessageBoxResult::Yes : MessageBoxResult::No);
        }
        w.h->wnd.SetMenuAnswer(e.menu);
        w.expectedMove.reset();
        w.lateWrite.clear();
        kind.run(w, kind, e);
        w.h->app.ClearAnswers();
        after = Observe(w);
        if ((after.flags & MODE_GRAB) == 0) {
            w.move.reset();
        } else if (w.move && w.move->frame != w.h->dlg.GetLabelManager()->GetSelFrame()) {
            StartMove(w, w.h->wnd.GetCursorPos());  // C carried the move to the next frame
        }
        for (const Invariant& inv : kInvariants) {
            const std::string what = inv.violation({w, before, after, kind});
            if (!what.empty()) {
                return {static_cast<int>(i), std::string(inv.name) + ": " + what};
            }
        }
        if (kind.run == RunOpen && e.a == 1) {
            opened = after;  // opening the video again forgets the steps before it
        }
    }
    const std::string what = n > 0 ? UndoEverything(w, opened) : std::string();
    if (!what.empty()) {
        return {static_cast<int>(n) - 1, "undoing every step gives back the folder: " + what};
    }
    return {};
}

// The shortest failing sequence we can find: the prefix up to the failing event, then runs of
// one or two events dropped for as long as it still fails (two, because a pair such as a
// pause and its resume often only goes away together).
std::vector<Event> Shrink(std::uint32_t seed, std::vector<Event> events, Failure& failure) {
    events.resize(static_cast<std::size_t>(failure.at) + 1);
    bool dropped = true;
    while (dropped) {
        dropped = false;
        for (std::size_t run = 1; run <= 2 && !dropped; ++run) {
            for (std::size_t i = 0; i + run <= events.size() && !dropped; ++i) {
                std::vector<Event> shorter = events;
                shorter.erase(shorter.begin() + static_cast<long>(i),
                              shorter.begin() + static_cast<long>(i + run));
                const Failure f = RunSequence(seed, shorter, false);
                if (f.at >= 0) {
                    shorter.resize(static_cast<std::size_t>(f.at) + 1);
                    events = shorter;
                    failure = f;
                    dropped = true;
                }
            }
        }
    }
    return events;
}

int EnvInt(const char* name, int fallback) {
    const char* v = std::getenv(name);
    return v != nullptr && *v != '\0' ? std::atoi(v) : fallback;
}

TEST(RandomInput, NoSequenceBreaksAnInvariant) {
    ASSERT_FALSE(SharedClip().empty());
    const int sequences = EnvInt("TAGWRIGHT_RANDOM_SEQUENCES", 1000);
    const auto firstSeed = static_cast<std::uint32_t>(EnvInt("TAGWRIGHT_RANDOM_SEED", 1));
    long long eventsRun = 0;
    for (int s = 0; s < sequences; ++s) {
        const std::uint32_t seed = firstSeed + static_cast<std::uint32_t>(s);
        std::vector<Event> events;
        Failure failure = RunSequence(seed, events, true);
        if (failure.at < 0) {
            eventsRun += static_cast<long long>(events.size());
            continue;
        }
        const std::vector<Event> shortest = Shrink(seed, events, failure);
        std::ostringstream report;
        report << "seed " << seed << " (TAGWRIGHT_RANDOM_SEED=" << seed
               << " TAGWRIGHT_RANDOM_SEQUENCES=1 replays it)\n"
               << failure.what << "\nafter this sequence of " << shortest.size() << " events:\n";
        for (const Event& e : shortest) {
            report << "  " << Describe(e) << "\n";
        }
        FAIL() << report.str();
    }
    std::printf("random input: %d sequences, %lld events, no invariant broken\n", sequences,
                eventsRun);
}

}  // namespace
