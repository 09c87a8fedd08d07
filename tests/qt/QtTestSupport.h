#pragma once

#include <QApplication>
#include <QTest>
#include <QWidget>
#include <QWindow>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/platform/IDialogWindow.h"
#include "qt/QtDialogWindow.h"

// One QApplication for the whole test program, on the offscreen platform unless the caller chose
// another. It is never destroyed: Qt's global state does not like to be torn down at exit.
inline QApplication& TestApp() {
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        static int argc = 1;
        static char name[] = "test_qt";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Records every event a window hands to its logic, in order, and lets a test decide what the
// pre-dispatch hook consumes and what a command does.
class RecordingEvents : public IDialogEvents {
  public:
    struct Mouse {
        std::string what;  // "ldown", "move", "lup", "rdown", "context"
        CPoint p;
    };

    std::vector<std::string> log;  // everything, in order ("cmd 1046", "key 0x20", ...)
    std::vector<int> commands;
    std::vector<Mouse> mouse;
    std::vector<InputMessage> messages;
    std::vector<CPoint> sizes;
    std::vector<CRect> pictureRectsAtSize;  // the picture's rectangle when OnSize came
    std::vector<int> timers;
    std::vector<int> sliderPosAtScroll;  // GetSliderPos(IDC_SLIDER) inside each OnHScroll
    int hscrolls = 0;

    IDialogWindow* window = nullptr;  // for reading state inside the callbacks
    std::function<bool(const InputMessage&)> consume = [](const InputMessage&) { return false; };
    std::function<void(int)> onCommand;
    std::function<void(int)> onTimer;

    void OnCommand(int id) override {
        commands.push_back(id);
        log.push_back("cmd " + std::to_string(id));
        if (onCommand) {
            onCommand(id);
        }
    }
    void OnSize(int cx, int cy) override;
    void OnLButtonDown(const CPoint& p) override { Record("ldown", p); }
    void OnMouseMove(const CPoint& p) override { Record("move", p); }
    void OnLButtonUp(const CPoint& p) override { Record("lup", p); }
    void OnRButtonDown(const CPoint& p) override { Record("rdown", p); }
    void OnContextMenu(const CPoint& p) override { Record("context", p); }
    void OnTimer(int id) override {
        timers.push_back(id);
        log.push_back("timer " + std::to_string(id));
        if (onTimer) {
            onTimer(id);
        }
    }
    void OnHScroll() override;
    bool PreTranslateMessage(const InputMessage& msg) override {
        messages.push_back(msg);
        char text[40];
        if (msg.type == InputMessage::Type::KeyDown) {
            std::snprintf(text, sizeof text, "key 0x%x", static_cast<unsigned>(msg.vkCode));
        } else {
            std::snprintf(text, sizeof text, "wheel %d", msg.wheelDelta);
        }
        log.emplace_back(text);
        return consume(msg);
    }

    // The key codes the hook saw, in order.
    std::vector<int> KeyCodes() const {
        std::vector<int> out;
        for (const InputMessage& m : messages) {
            if (m.type == InputMessage::Type::KeyDown) {
                out.push_back(m.vkCode);
            }
        }
        return out;
    }
    std::vector<Mouse> MouseOf(const std::string& what) const {
        std::vector<Mouse> out;
        for (const Mouse& m : mouse) {
            if (m.what == what) {
                out.push_back(m);
            }
        }
        return out;
    }

  private:
    void Record(const char* what, const CPoint& p) {
        mouse.push_back({what, p});
        log.push_back(std::string(what) + " " + std::to_string(p.x) + "," + std::to_string(p.y));
    }
};

// Shows a window and makes it the active one, so that focus and key events behave as on a
// desktop. Returns false when the platform would not activate it.
bool ShowAndActivate(QWidget& w);

// The main window of template 102 with a recording handler attached.
struct MainWindowFixture : public ::testing::Test {
    MainWindowFixture();
    ~MainWindowFixture() override;

    QWidget* Ctl(int id) const;
    QWindow* Handle() const { return window->windowHandle(); }
    // A point of the control's rectangle in window client pixels.
    static QPoint CentreOf(const QWidget* w) { return w->geometry().center(); }

    RecordingEvents events;
    std::unique_ptr<QtDialogWindow> window;
};
