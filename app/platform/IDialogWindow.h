#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include <opencv2/core.hpp>

#include "labels/Geometry.h"

class CSliderMarks;

// The window services a dialog's logic needs. One IDialogWindow is one real window built from a
// dialog template (see res/Templates.h); controls are addressed by their template id. The Qt
// implementation lives in qt/, an in-memory one in tests/support/. Logic never includes Qt.

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb& a, const Rgb& b2) {
        return a.r == b2.r && a.g == b2.g && a.b == b2.b;
    }
};

enum class CursorShape { Arrow, Hand };

struct FontSpec {
    std::string face;
    int heightPx = 0;  // cell height in pixels
    int weight = 400;  // 400 normal, 500 medium, 700 bold
};

// A key-down or wheel message as seen before dispatch.
struct InputMessage {
    enum class Type { KeyDown, MouseWheel };
    Type type = Type::KeyDown;
    int vkCode = 0;      // virtual-key code (Escape 0x1B, Space 0x20, Left 0x25, 'A' 0x41 ...)
    int wheelDelta = 0;  // signed; above 0 = rotated away from the user
    // Modifiers held with a key-down. Ctrl with Alt is AltGr on many keyboards, which types
    // ordinary keys, so it does not count as Ctrl here.
    bool ctrl = false;
    bool shift = false;
    // When the window system made the event, in milliseconds on its own clock (wraps after
    // about 49 days); 0 when the window cannot tell.
    std::uint32_t time = 0;
    // A key-down of a key that is still held since its last press: the platform's auto-repeat,
    // however the window system marks it.
    bool repeat = false;
};

// Virtual-key codes used by the program.
constexpr int VK_BACK = 0x08;
constexpr int VK_TAB = 0x09;
constexpr int VK_RETURN = 0x0D;
constexpr int VK_ESCAPE = 0x1B;
constexpr int VK_SPACE = 0x20;
constexpr int VK_LEFT = 0x25;
constexpr int VK_UP = 0x26;
constexpr int VK_RIGHT = 0x27;
constexpr int VK_DOWN = 0x28;
constexpr int VK_DELETE = 0x2E;

// What a window hands to its logic. Every method has a do-nothing default so that side dialogs
// implement only what they use.
class IDialogEvents {
  public:
    virtual ~IDialogEvents() = default;
    virtual bool OnInitDialog() { return true; }
    // Buttons, radio clicks, menu commands. IDOK/IDCANCEL come from Enter/Escape, the default
    // button and the window manager's close request (IDCANCEL).
    virtual void OnCommand(int /*id*/) {}
    virtual void OnSize(int /*cx*/, int /*cy*/) {}
    virtual void OnDestroy() {}
    virtual void OnLButtonDown(const CPoint& /*client*/) {}
    virtual void OnMouseMove(const CPoint& /*client*/) {}
    virtual void OnLButtonUp(const CPoint& /*client*/) {}
    virtual void OnRButtonDown(const CPoint& /*client*/) {}
    virtual void OnContextMenu(const CPoint& /*screen*/) {}
    virtual void OnTimer(int /*id*/) {}
    virtual void OnHScroll() {}  // every slider notification, user-initiated only
    // The window lost the pointer: a modal box, a menu or another window took it, or the window
    // was hidden or deactivated. A button held down now sends no release here.
    virtual void OnCancelMode() {}
    // True when the message is consumed; false passes it on to the standard dialog keys.
    virtual bool PreTranslateMessage(const InputMessage& /*msg*/) { return false; }
};

class IDialogWindow {
  public:
    virtual ~IDialogWindow() = default;

    // The logic that receives this window's events (not owned).
    virtual void SetEventHandler(IDialogEvents* handler) = 0;

    // Window
    virtual void ShowWindow(bool show) = 0;
    virtual bool IsWindowVisible() const = 0;
    virtual void EndDialog(int result) = 0;
    virtual void SetBackgroundColor(const Rgb& color) = 0;
    virtual void SetIcon(int resourceId) = 0;
    virtual CPoint GetClientSize() const = 0;  // (width, height) in pixels

    // Controls by id
    virtual void EnableControl(int id, bool enable) = 0;
    virtual bool IsControlEnabled(int id) const = 0;
    virtual void SetControlText(int id, const std::string& text) = 0;
    virtual std::string GetControlText(int id) const = 0;
    virtual void SetCaptionColor(int id, const Rgb& color) = 0;  // redraws the control
    virtual void SetControlFont(int id, const FontSpec& font) = 0;
    virtual void SetFocus(int id) = 0;
    // Radio group starting at firstId: index of the checked radio (-1 when none).
    virtual void SetRadioIndex(int firstId, int index) = 0;
    virtual int GetRadioIndex(int firstId) const = 0;
    // Slider
    virtual void SetSliderRange(int id, int minPos, int maxPos, bool redraw) = 0;
    virtual void SetSliderTickFrequency(int id, int freq) = 0;
    virtual void SetSliderPos(int id, int pos) = 0;  // never raises OnHScroll
    virtual int GetSliderPos(int id) const = 0;
    // Marks along a slider (see app/SliderMarks.h): the window keeps the pointer (not owned),
    // asks it for the columns of the slider's pixel span whenever it paints the slider, and
    // paints again now. Called after anything the marks show has changed; null removes them.
    // A window without such a slider ignores it.
    virtual void SetSliderMarks(int /*id*/, CSliderMarks* /*marks*/) {}

    // A control's rectangle in window client pixels, and resizing it without moving it.
    virtual CRect GetControlRect(int id) const = 0;
    virtual void ResizeControl(int id, int width, int height) = 0;

    // Paints a BGR 8-bit image into the control: the view rectangle (0, 0, viewWidth,
    // viewHeight) is filled black and the whole image is stretched onto it without smoothing.
    // The window keeps the picture and repaints it when it is uncovered.
    virtual void PaintImage(int id, const cv::Mat& bgr, int viewWidth, int viewHeight) = 0;
    // Forgets the last painted picture (the area shows its background again).
    virtual void ClearImage(int id) = 0;

    // Timers: repeating, by id; expiries never pile up.
    virtual void SetTimer(int id, int intervalMs) = 0;
    virtual void KillTimer(int id) = 0;

    // Pointer and keyboard state on demand
    virtual CPoint GetCursorPos() const = 0;  // window client pixels
    virtual bool IsLeftButtonDown() const = 0;
    virtual bool IsCtrlDown() const = 0;
    virtual void SetCursor(CursorShape shape) = 0;
    // A millisecond clock for measuring how long input handling takes; only differences count.
    virtual std::uint32_t TickCount() const {
        return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                              std::chrono::steady_clock::now().time_since_epoch())
                                              .count());
    }

    // One-item pop-up menu at a screen point; returns the chosen command id or 0.
    virtual int TrackPopupMenu(const CPoint& screen, const std::string& text, int commandId,
                               bool enabled) = 0;
};
