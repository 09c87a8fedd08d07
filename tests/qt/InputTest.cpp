// Input reaching the dialog logic through the real window: clicks, the mouse over the picture,
// the pre-dispatch key hook and the standard dialog keys, the slider, the wheel, timers, the
// pop-up menu and the ways the window ends.

#include <QAction>
#include <QEventLoop>
#include <QMenu>
#include <QPushButton>
#include <QSlider>
#include <QTimer>
#include <QWheelEvent>
#include <algorithm>

#include "QtTestSupport.h"
#include "qt/QtAppServices.h"
#include "qt/QtKeyHook.h"
#include "res/Resource.h"

namespace {

bool ConsumeAll(const InputMessage&) {
    return true;
}

// Hands a wheel event to the window at a client point, where the window system delivers it.
void Wheel(QWindow* window, const QPoint& local, QPoint angle) {
    QWheelEvent ev(QPointF(local), window->mapToGlobal(QPointF(local)), QPoint(), angle,
                   Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(window, &ev);
}

void Wheel(QWindow* window, const QPoint& local, int angleY) {
    Wheel(window, local, QPoint(0, angleY));
}

void SendKey(QWindow* window, QEvent::Type type, int key, bool autoRepeat) {
    QKeyEvent ev(type, key, Qt::NoModifier, QString(), autoRepeat);
    QCoreApplication::sendEvent(window, &ev);
}

// Runs the event loop until done() says so; a safety limit keeps a broken build from hanging
// the suite (the tests assert on what happened, never on how long it took).
template <typename Done>
void SpinUntil(Done done) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    poll.start(1);
    loop.exec();
}

}  // namespace

using WindowInput = MainWindowFixture;

// --- clicks ---

TEST_F(WindowInput, ButtonClicksBecomeCommandsAndDisabledButtonsStaySilent) {
    ASSERT_TRUE(ShowAndActivate(*window));
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(IDC_BTN_SKIP)));
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(1010)));
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(1022)));          // GO, disabled
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(IDC_BTN_PLAY)));  // disabled
    EXPECT_EQ(events.commands, (std::vector<int>{IDC_BTN_SKIP, 1010}));
    // A press on a button is the button's, not the dialog surface's.
    EXPECT_TRUE(events.MouseOf("ldown").empty());
}

TEST_F(WindowInput, RadioClickChecksItAndSendsItsId) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->SetRadioIndex(IDC_RADIO_CLASS0, 0);
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(IDC_RADIO_CLASS2)));
    EXPECT_EQ(events.commands, (std::vector<int>{IDC_RADIO_CLASS2}));
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS0), 2);
    QTest::mouseClick(Handle(), Qt::LeftButton, {}, CentreOf(Ctl(IDC_RADIO_CLASS1)));
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS0), 1);
    EXPECT_EQ(events.commands.back(), IDC_RADIO_CLASS1);
}

// --- mouse over the picture ---

TEST_F(WindowInput, MouseOverThePictureReachesTheDialogInClientPixels) {
    ASSERT_TRUE(ShowAndActivate(*window));
    const QPoint press(100, 80);  // inside the picture (11,12 .. 1058,714)
    QTest::mousePress(Handle(), Qt::LeftButton, {}, press);
    QTest::mouseMove(Handle(), QPoint(300, 200));
    QTest::mouseRelease(Handle(), Qt::LeftButton, {}, QPoint(320, 240));
    ASSERT_EQ(events.MouseOf("ldown").size(), 1u);
    EXPECT_EQ(events.MouseOf("ldown")[0].p, (CPoint{100, 80}));
    const auto moves = events.MouseOf("move");
    EXPECT_TRUE(std::any_of(moves.begin(), moves.end(), [](const RecordingEvents::Mouse& m) {
        return m.p == CPoint{300, 200};
    }));
    ASSERT_EQ(events.MouseOf("lup").size(), 1u);
    EXPECT_EQ(events.MouseOf("lup")[0].p, (CPoint{320, 240}));
    EXPECT_TRUE(events.commands.empty());
}

TEST_F(WindowInput, MovesWithoutAButtonAreTracked) {
    ASSERT_TRUE(ShowAndActivate(*window));
    QTest::mouseMove(Handle(), QPoint(50, 60));
    QTest::mouseMove(Handle(), QPoint(400, 300));
    ASSERT_FALSE(events.MouseOf("move").empty());
    EXPECT_EQ(events.MouseOf("move").back().p, (CPoint{400, 300}));
}

TEST_F(WindowInput, ReleaseOutsideTheWindowStillArrives) {
    ASSERT_TRUE(ShowAndActivate(*window));
    QTest::mousePress(Handle(), Qt::LeftButton, {}, QPoint(900, 600));
    QTest::mouseMove(Handle(), QPoint(1400, 950));
    QTest::mouseRelease(Handle(), Qt::LeftButton, {}, QPoint(1400, 950));
    ASSERT_EQ(events.MouseOf("lup").size(), 1u);
    EXPECT_EQ(events.MouseOf("lup")[0].p, (CPoint{1400, 950}));
}

TEST_F(WindowInput, RightPressThenContextMenuOnRelease) {
    ASSERT_TRUE(ShowAndActivate(*window));
    const QPoint p(200, 150);
    QTest::mousePress(Handle(), Qt::RightButton, {}, p);
    ASSERT_EQ(events.MouseOf("rdown").size(), 1u);
    EXPECT_EQ(events.MouseOf("rdown")[0].p, (CPoint{200, 150}));
    EXPECT_TRUE(events.MouseOf("context").empty());  // not before the release
    QTest::mouseRelease(Handle(), Qt::RightButton, {}, p);
    ASSERT_EQ(events.MouseOf("context").size(), 1u);
    const QPoint global = window->mapToGlobal(p);
    EXPECT_EQ(events.MouseOf("context")[0].p, (CPoint{global.x(), global.y()}));
    // The right button draws nothing.
    EXPECT_TRUE(events.MouseOf("ldown").empty());
    EXPECT_TRUE(events.MouseOf("lup").empty());
}

TEST_F(WindowInput, MenuKeyAndShiftF10AskForTheContextMenuAtTheFocusedControl) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    const QPoint corner = Ctl(IDC_PICTURE)->mapToGlobal(QPoint(0, 0));

    // The menu key is a key-down like any other first; passed on, it asks for the menu.
    QTest::keyClick(Handle(), Qt::Key_Menu);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{0x5D}));
    ASSERT_EQ(events.MouseOf("context").size(), 1u);
    EXPECT_EQ(events.MouseOf("context")[0].p, (CPoint{corner.x(), corner.y()}));

    // Consumed by the hook, it asks for nothing.
    events.consume = ConsumeAll;
    QTest::keyClick(Handle(), Qt::Key_Menu);
    EXPECT_EQ(events.MouseOf("context").size(), 1u);

    // Shift+F10 is a menu key: the hook never sees F10, the menu is asked for all the same.
    QTest::keyClick(Handle(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{0x5D, 0x5D, 0x10}));
    ASSERT_EQ(events.MouseOf("context").size(), 2u);
    EXPECT_EQ(events.MouseOf("context")[1].p, (CPoint{corner.x(), corner.y()}));
    EXPECT_TRUE(events.MouseOf("rdown").empty());
}

TEST_F(WindowInput, CursorPositionAndButtonStateOnDemand) {
    ASSERT_TRUE(ShowAndActivate(*window));
    QCursor::setPos(window->mapToGlobal(QPoint(123, 45)));
    EXPECT_EQ(window->GetCursorPos(), (CPoint{123, 45}));
    QTest::mousePress(Handle(), Qt::LeftButton, {}, QPoint(123, 45));
    EXPECT_TRUE(window->IsLeftButtonDown());
    QTest::mouseRelease(Handle(), Qt::LeftButton, {}, QPoint(123, 45));
    EXPECT_FALSE(window->IsLeftButtonDown());
    QTest::keyPress(Handle(), Qt::Key_Control, Qt::ControlModifier);
    EXPECT_TRUE(window->IsCtrlDown());
    QTest::keyRelease(Handle(), Qt::Key_Control, Qt::NoModifier);
    EXPECT_FALSE(window->IsCtrlDown());
}

// A handler that shows the hand on the moves it is told to.
class HandOnRequest : public RecordingEvents {
  public:
    bool handNextMove = false;
    void OnMouseMove(const CPoint& p) override {
        RecordingEvents::OnMouseMove(p);
        if (handNextMove && window != nullptr) {
            window->SetCursor(CursorShape::Hand);
        }
    }
};

TEST(WindowCursor, AMoveThatChoosesNoCursorShowsTheArrow) {
    TestApp();
    QtDialogWindow window(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    HandOnRequest events;
    events.window = &window;
    window.SetEventHandler(&events);
    ASSERT_TRUE(ShowAndActivate(window));

    events.handNextMove = true;
    QTest::mouseMove(window.windowHandle(), QPoint(300, 200));
    ASSERT_FALSE(events.MouseOf("move").empty());
    EXPECT_EQ(window.cursor().shape(), Qt::PointingHandCursor);
    // The handler leaves the cursor alone now (a draw is under way): the arrow comes back.
    events.handNextMove = false;
    const std::size_t moves = events.MouseOf("move").size();
    QTest::mouseMove(window.windowHandle(), QPoint(310, 210));
    ASSERT_GT(events.MouseOf("move").size(), moves);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    window.SetEventHandler(nullptr);
}

TEST_F(WindowInput, HandCursorShowsOnTheDialogButNotOverButtons) {
    window->SetCursor(CursorShape::Hand);
    EXPECT_EQ(window->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(Ctl(IDC_BTN_OPEN)->cursor().shape(), Qt::ArrowCursor);
    window->SetCursor(CursorShape::Arrow);
    EXPECT_EQ(window->cursor().shape(), Qt::ArrowCursor);
}

// --- the pre-dispatch hook ---

TEST_F(WindowInput, HookSeesKeysBeforeAFocusedButtonAndConsumedKeysGoNoFurther) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_BTN_OPEN)->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Ctl(IDC_BTN_OPEN));
    events.consume = ConsumeAll;
    QTest::keyClick(Handle(), Qt::Key_Space);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_SPACE}));
    EXPECT_TRUE(events.commands.empty());  // Space would have clicked OPEN

    // Passed on, the same key reaches the button after the hook.
    events.consume = [](const InputMessage&) { return false; };
    QTest::keyClick(Handle(), Qt::Key_Space);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_SPACE, VK_SPACE}));
    ASSERT_EQ(events.commands, (std::vector<int>{IDC_BTN_OPEN}));
    EXPECT_EQ(events.log.end()[-2], "key 0x20");
    EXPECT_EQ(events.log.back(), "cmd 1000");
}

TEST_F(WindowInput, ConsumedArrowKeysNeverMoveAFocusedSlider) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->SetSliderRange(IDC_SLIDER, 0, 100, true);
    window->SetSliderPos(IDC_SLIDER, 50);
    auto* slider = qobject_cast<QSlider*>(Ctl(IDC_SLIDER));
    slider->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), slider);
    std::vector<int> valueSeenByHook;
    events.consume = [&](const InputMessage& m) {
        valueSeenByHook.push_back(slider->value());
        return m.vkCode == VK_LEFT || m.vkCode == VK_RIGHT;
    };
    QTest::keyClick(Handle(), Qt::Key_Right);
    QTest::keyClick(Handle(), Qt::Key_Left);
    QTest::keyClick(Handle(), Qt::Key_Right);
    EXPECT_EQ(slider->value(), 50);
    EXPECT_EQ(events.hscrolls, 0);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_RIGHT, VK_LEFT, VK_RIGHT}));

    // A key the hook passes on does reach the slider, after the hook saw the old value.
    QTest::keyClick(Handle(), Qt::Key_Up);
    ASSERT_EQ(valueSeenByHook.size(), 4u);
    EXPECT_EQ(valueSeenByHook.back(), 50);
    EXPECT_EQ(slider->value(), 51);
    EXPECT_EQ(events.hscrolls, 1);
    // The notification reads the new position although the value follows only afterwards.
    EXPECT_EQ(events.sliderPosAtScroll, (std::vector<int>{51}));
}

TEST_F(WindowInput, FocusMovedByTheHookDecidesWhoGetsAPassedOnKey) {
    ASSERT_TRUE(ShowAndActivate(*window));
    auto* slider = qobject_cast<QSlider*>(Ctl(IDC_SLIDER));
    window->SetSliderRange(IDC_SLIDER, 0, 100, true);
    window->SetSliderPos(IDC_SLIDER, 10);
    slider->setFocus();
    // Like the dialog logic: every key-down moves the focus to the picture area first.
    events.consume = [&](const InputMessage&) {
        window->SetFocus(IDC_PICTURE);
        return false;
    };
    QTest::keyClick(Handle(), Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), Ctl(IDC_PICTURE));
    EXPECT_EQ(slider->value(), 10);
    EXPECT_EQ(events.hscrolls, 0);
}

TEST_F(WindowInput, EachKeyIsHookedOnceEvenWhenNoWidgetTakesIt) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    QTest::keyClick(Handle(), Qt::Key_Q);  // not a mnemonic: travels up to the dialog unused
    QTest::keyClick(Handle(), Qt::Key_B);
    QTest::keyClick(Handle(), Qt::Key_F5);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{'Q', 'B', 0x74}));
    EXPECT_TRUE(events.commands.empty());
}

TEST_F(WindowInput, AutoRepeatedKeyDownsAreHookedLikePresses) {
    ASSERT_TRUE(ShowAndActivate(*window));
    events.consume = ConsumeAll;
    for (int i = 0; i < 3; ++i) {
        SendKey(Handle(), QEvent::KeyPress, Qt::Key_Right, i > 0);
    }
    SendKey(Handle(), QEvent::KeyRelease, Qt::Key_Right, false);
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_RIGHT, VK_RIGHT, VK_RIGHT}));
}

TEST_F(WindowInput, LetterKeysGiveUpperCaseCodesWithOrWithoutShift) {
    ASSERT_TRUE(ShowAndActivate(*window));
    events.consume = ConsumeAll;
    QTest::keyClick(Handle(), Qt::Key_D);
    QTest::keyClick(Handle(), Qt::Key_D, Qt::ShiftModifier);
    QTest::keyClick(Handle(), Qt::Key_Delete);
    QTest::keyClick(Handle(), Qt::Key_3);
    QTest::keyClick(Handle(), Qt::Key_Escape);
    QTest::keyClick(Handle(), Qt::Key_Return);
    // Shift is a key of its own, as on every keyboard.
    EXPECT_EQ(events.KeyCodes(),
              (std::vector<int>{'D', 0x10, 'D', VK_DELETE, '3', VK_ESCAPE, VK_RETURN}));
    // All consumed: neither Escape nor Enter reached the standard keys.
    EXPECT_TRUE(events.commands.empty());
}

// --- standard dialog keys for what the hook passes on ---

TEST_F(WindowInput, PlainMnemonicLettersClickEnabledButtons) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    QTest::keyClick(Handle(), Qt::Key_K);
    QTest::keyClick(Handle(), Qt::Key_M, Qt::ShiftModifier);
    QTest::keyClick(Handle(), Qt::Key_O);
    QTest::keyClick(Handle(), Qt::Key_P);  // PLAY is still disabled
    EXPECT_EQ(events.commands, (std::vector<int>{IDC_BTN_SKIP, IDC_BTN_MORE, IDC_BTN_OPEN}));

    window->EnableControl(IDC_BTN_PLAY, true);
    QTest::keyClick(Handle(), Qt::Key_P);
    window->SetControlText(IDC_BTN_PLAY, "&PAUSE");
    QTest::keyClick(Handle(), Qt::Key_P);
    EXPECT_EQ(events.commands, (std::vector<int>{IDC_BTN_SKIP, IDC_BTN_MORE, IDC_BTN_OPEN,
                                                 IDC_BTN_PLAY, IDC_BTN_PLAY}));
}

TEST_F(WindowInput, CtrlLettersAreNoMnemonics) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    QTest::keyClick(Handle(), Qt::Key_K, Qt::ControlModifier);
    QTest::keyClick(Handle(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(events.commands.empty());
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{0x11, 'K', 0x11, 'C'}));
}

TEST_F(WindowInput, CtrlAndShiftTravelWithTheKeyButAltGrIsNoCtrl) {
    ASSERT_TRUE(ShowAndActivate(*window));
    events.consume = ConsumeAll;
    QTest::keyClick(Handle(), Qt::Key_Z, Qt::ControlModifier);
    QTest::keyClick(Handle(), Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(Handle(), Qt::Key_Y, Qt::ControlModifier | Qt::AltModifier);
    QTest::keyClick(Handle(), Qt::Key_Z);
    std::vector<std::string> seen;
    for (const InputMessage& m : events.messages) {
        if (m.vkCode == 'Z' || m.vkCode == 'Y') {
            seen.push_back(std::string(1, static_cast<char>(m.vkCode)) + (m.ctrl ? "+ctrl" : "") +
                           (m.shift ? "+shift" : ""));
        }
    }
    EXPECT_EQ(seen, (std::vector<std::string>{"Z+ctrl", "Z+ctrl+shift", "Y", "Z"}));
}

TEST_F(WindowInput, AltKeysAreMenuKeysTheHookNeverSees) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    events.consume = ConsumeAll;
    // Held Alt makes a key a menu key: none of the window's commands (T tracks, C copies, an
    // arrow steps, a digit picks a label) may run on it, and Alt alone is no key-down either.
    // Alt with a caption's letter is left to Qt's own mnemonic shortcut.
    QTest::keyClick(Handle(), Qt::Key_T, Qt::AltModifier);
    QTest::keyClick(Handle(), Qt::Key_C, Qt::AltModifier);
    QTest::keyClick(Handle(), Qt::Key_Right, Qt::AltModifier);
    QTest::keyClick(Handle(), Qt::Key_1, Qt::AltModifier);
    QTest::keyClick(Handle(), Qt::Key_F10);
    EXPECT_TRUE(events.messages.empty()) << ::testing::PrintToString(events.log);

    // Without Alt the same keys are the hook's again; Ctrl+Alt (AltGr) types ordinary keys.
    QTest::keyClick(Handle(), Qt::Key_T);
    QTest::keyClick(Handle(), Qt::Key_F9);
    QTest::keyClick(Handle(), Qt::Key_Q, Qt::ControlModifier | Qt::AltModifier);
    const std::vector<int> codes = events.KeyCodes();
    ASSERT_GE(codes.size(), 3u) << ::testing::PrintToString(events.log);
    EXPECT_EQ(codes[0], 'T');
    EXPECT_EQ(codes[1], 0x78);
    EXPECT_EQ(codes.back(), 'Q');
}

TEST_F(WindowInput, HiddenOrDisabledButtonsIgnoreTheirMnemonic) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_BTN_SKIP)->hide();
    window->EnableControl(IDC_BTN_MORE, false);
    QTest::keyClick(Handle(), Qt::Key_K);
    QTest::keyClick(Handle(), Qt::Key_M);
    EXPECT_TRUE(events.commands.empty());
    EXPECT_EQ(window->ButtonForMnemonic(QLatin1Char('o')), Ctl(IDC_BTN_OPEN));
    EXPECT_EQ(window->ButtonForMnemonic(QLatin1Char('x')), nullptr);
}

TEST_F(WindowInput, EnterPressesTheDefaultButtonEvenWithAnotherButtonFocused) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_BTN_OPEN)->setFocus();
    QTest::keyClick(Handle(), Qt::Key_Return);
    QTest::keyClick(Handle(), Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(events.commands, (std::vector<int>{IDOK, IDOK}));
}

TEST_F(WindowInput, EnterEndsTheModalRunWithOk) {
    events.onCommand = [&](int id) { window->EndDialog(id); };
    QTimer::singleShot(0, window.get(), [&] {
        window->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(window.get()));
        QTest::keyClick(Handle(), Qt::Key_Return);
    });
    const int result = window->exec();
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(window->EndResult(), IDOK);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_RETURN}));
}

TEST_F(WindowInput, EscapePassedOnIsCancelAndConsumedEscapeIsNothing) {
    ASSERT_TRUE(ShowAndActivate(*window));
    events.consume = ConsumeAll;
    QTest::keyClick(Handle(), Qt::Key_Escape);
    EXPECT_TRUE(events.commands.empty());
    EXPECT_TRUE(window->isVisible());

    events.consume = [](const InputMessage&) { return false; };
    QTest::keyClick(Handle(), Qt::Key_Escape);
    EXPECT_EQ(events.commands, (std::vector<int>{IDCANCEL}));
    // The window stays until the logic ends it.
    EXPECT_TRUE(window->isVisible());
}

TEST_F(WindowInput, CloseRequestAsksTheLogicAndNeverClosesByItself) {
    ASSERT_TRUE(ShowAndActivate(*window));
    EXPECT_FALSE(window->close());
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(events.commands, (std::vector<int>{IDCANCEL}));
    // When the logic answers with EndDialog, the window goes.
    events.onCommand = [&](int id) { window->EndDialog(id); };
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->EndResult(), IDCANCEL);
}

TEST_F(WindowInput, EndDialogOutsideAModalRunHides) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->EndDialog(IDOK);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(window->EndResult(), IDOK);
}

TEST_F(WindowInput, TabStillMovesTheFocus) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Ctl(IDC_PICTURE)->setFocus();
    QTest::keyClick(Handle(), Qt::Key_Tab);
    EXPECT_NE(QApplication::focusWidget(), Ctl(IDC_PICTURE));
    EXPECT_EQ(events.KeyCodes(), (std::vector<int>{VK_TAB}));
}

// --- the slider ---

TEST_F(WindowInput, SliderPositionsSetFromCodeRaiseNoNotification) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->SetSliderRange(IDC_SLIDER, 0, 300, false);
    window->SetSliderTickFrequency(IDC_SLIDER, 301);
    window->SetSliderPos(IDC_SLIDER, 120);
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 120);
    window->SetSliderPos(IDC_SLIDER, 500);  // clamped to the range
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 300);
    window->SetSliderRange(IDC_SLIDER, 0, 10, true);  // clamps the position too
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 10);
    EXPECT_EQ(events.hscrolls, 0);
}

TEST_F(WindowInput, DraggingTheThumbNotifiesOncePerStepWithTheNewPosition) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->SetSliderRange(IDC_SLIDER, 0, 100, true);
    window->SetSliderPos(IDC_SLIDER, 0);
    auto* slider = qobject_cast<QSlider*>(Ctl(IDC_SLIDER));
    const QRect g = slider->geometry();
    // Grab the thumb at the left end and drag it to the middle, then release.
    const QPoint start(g.left() + 4, g.center().y());
    const QPoint middle(g.center().x(), g.center().y());
    QTest::mousePress(Handle(), Qt::LeftButton, {}, start);
    QTest::mouseMove(Handle(), middle);
    const int afterMove = events.hscrolls;
    QTest::mouseRelease(Handle(), Qt::LeftButton, {}, middle);
    ASSERT_EQ(afterMove, 1);
    EXPECT_EQ(events.hscrolls, 2);  // the move, then the end of the drag
    EXPECT_GT(events.sliderPosAtScroll[0], 40);
    EXPECT_LT(events.sliderPosAtScroll[0], 60);
    EXPECT_EQ(events.sliderPosAtScroll[1], events.sliderPosAtScroll[0]);
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), events.sliderPosAtScroll[0]);
    EXPECT_TRUE(events.MouseOf("ldown").empty());  // the slider's press, not the dialog's
}

// --- the wheel ---

TEST_F(WindowInput, WheelIsHookedOnceAndStepsOnlyOnceOverTheSlider) {
    ASSERT_TRUE(ShowAndActivate(*window));
    window->SetSliderRange(IDC_SLIDER, 0, 100, true);
    window->SetSliderPos(IDC_SLIDER, 50);
    events.consume = ConsumeAll;             // the handler's answer does not decide for the wheel
    Wheel(Handle(), QPoint(300, 300), 120);  // over the picture
    Wheel(Handle(), QPoint(300, 300), -240);
    ASSERT_EQ(events.messages.size(), 2u);
    EXPECT_EQ(events.messages[0].type, InputMessage::Type::MouseWheel);
    EXPECT_EQ(events.messages[0].wheelDelta, 120);
    EXPECT_EQ(events.messages[1].wheelDelta, -240);

    // Over the slider the hook's step is the only one: the slider neither moves by its own
    // step nor notifies, which would seek again.
    Wheel(Handle(), Ctl(IDC_SLIDER)->geometry().center(), -120);
    Wheel(Handle(), Ctl(IDC_SLIDER)->geometry().center(), 120);
    EXPECT_EQ(events.messages.size(), 4u);
    EXPECT_EQ(window->GetSliderPos(IDC_SLIDER), 50);
    EXPECT_EQ(events.hscrolls, 0);
}

TEST_F(WindowInput, SidewaysAndEmptyWheelEventsAreNoSteps) {
    ASSERT_TRUE(ShowAndActivate(*window));
    Wheel(Handle(), QPoint(300, 300), QPoint(120, 0));
    Wheel(Handle(), QPoint(300, 300), QPoint(0, 0));
    EXPECT_TRUE(events.messages.empty());
}

// --- timers ---

TEST_F(WindowInput, TimersRepeatUntilKilled) {
    window->SetTimer(PLAY_TIMER_ID, 1);
    EXPECT_TRUE(window->HasTimer(PLAY_TIMER_ID));
    SpinUntil([&] { return events.timers.size() >= 3; });
    ASSERT_GE(events.timers.size(), 3u);
    for (int id : events.timers) {
        EXPECT_EQ(id, PLAY_TIMER_ID);
    }
    window->KillTimer(PLAY_TIMER_ID);
    EXPECT_FALSE(window->HasTimer(PLAY_TIMER_ID));
    const std::size_t ticks = events.timers.size();
    // Other events still flow; the killed timer does not.
    window->SetTimer(7, 1);
    SpinUntil([&] { return events.timers.back() == 7; });
    window->KillTimer(7);
    for (std::size_t i = ticks; i < events.timers.size(); ++i) {
        EXPECT_EQ(events.timers[i], 7);
    }
    window->KillTimer(12345);  // unknown ids are fine
}

TEST_F(WindowInput, SetTimerAgainRestartsTheSameTimer) {
    window->SetTimer(PLAY_TIMER_ID, 200);
    window->SetTimer(PLAY_TIMER_ID, 1);
    EXPECT_EQ(window->findChildren<QTimer*>().size(), 1);
    SpinUntil([&] { return !events.timers.empty(); });
    EXPECT_FALSE(events.timers.empty());
    window->KillTimer(PLAY_TIMER_ID);
}

// --- the pop-up menu ---

TEST_F(WindowInput, PopupMenuReturnsTheCommandWhenChosen) {
    ASSERT_TRUE(ShowAndActivate(*window));
    QString shownText;
    bool shownEnabled = false;
    QTimer::singleShot(0, window.get(), [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        ASSERT_EQ(menu->actions().size(), 1);
        shownText = menu->actions()[0]->text();
        shownEnabled = menu->actions()[0]->isEnabled();
        // Chosen with the mouse, as the operator would.
        QTest::mouseClick(menu, Qt::LeftButton, {},
                          menu->actionGeometry(menu->actions()[0]).center());
    });
    const QPoint at = window->mapToGlobal(QPoint(200, 200));
    const int chosen = window->TrackPopupMenu(
        {at.x(), at.y()}, "Delete selected Label 3 (from this frame index: 120)", 20004, true);
    EXPECT_EQ(chosen, 20004);
    EXPECT_EQ(shownText, QStringLiteral("Delete selected Label 3 (from this frame index: 120)"));
    EXPECT_TRUE(shownEnabled);
}

TEST_F(WindowInput, DisabledOrDismissedPopupMenuReturnsZero) {
    ASSERT_TRUE(ShowAndActivate(*window));
    bool shownEnabled = true;
    QTimer::singleShot(0, window.get(), [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        shownEnabled = menu->actions()[0]->isEnabled();
        menu->close();
    });
    const int chosen = window->TrackPopupMenu(
        {10, 10}, "Delete selected Label -1 (from this frame index: 0)", 20004, false);
    EXPECT_EQ(chosen, 0);
    EXPECT_FALSE(shownEnabled);
}

// --- side dialogs keep Qt's dialog keys and are not hooked ---

TEST(SideWindowInput, EscapeAndCloseBoxAskTheLogicAndTheHookIgnoresThem) {
    TestApp();
    QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    RecordingEvents mainEvents;
    main.SetEventHandler(&mainEvents);
    QtAppServices services(&main);
    std::unique_ptr<IDialogWindow> side = services.CreateDialogWindow(IDD_DLG_HELP);
    auto* q = static_cast<QtDialogWindow*>(side.get());
    RecordingEvents sideEvents;
    side->SetEventHandler(&sideEvents);
    ASSERT_TRUE(ShowAndActivate(main));
    side->ShowWindow(true);
    ASSERT_TRUE(QTest::qWaitForWindowActive(q));

    QTest::keyClick(q->windowHandle(), Qt::Key_Escape);
    QTest::keyClick(q->windowHandle(), Qt::Key_Return);
    EXPECT_EQ(sideEvents.commands, (std::vector<int>{IDCANCEL, IDOK}));
    EXPECT_TRUE(mainEvents.messages.empty());
    EXPECT_TRUE(side->IsWindowVisible());
    q->close();
    EXPECT_EQ(sideEvents.commands.back(), IDCANCEL);
    EXPECT_TRUE(side->IsWindowVisible());
    side->ShowWindow(false);
    EXPECT_FALSE(side->IsWindowVisible());
    side.reset();
    main.SetEventHandler(nullptr);
}

TEST(SideWindowInput, ClicksReachASideWindowWhileTheMainWindowRunsModally) {
    TestApp();
    QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    QtAppServices services(&main);
    std::unique_ptr<IDialogWindow> side = services.CreateDialogWindow(IDD_DLG_MORELABEL);
    auto* q = static_cast<QtDialogWindow*>(side.get());
    RecordingEvents sideEvents;
    side->SetEventHandler(&sideEvents);
    QTimer::singleShot(0, &main, [&] {
        side->ShowWindow(true);
        EXPECT_TRUE(QTest::qWaitForWindowExposed(q));
        QTest::mouseClick(q->windowHandle(), Qt::LeftButton, {},
                          q->Control(1041)->geometry().center());
        main.EndDialog(IDOK);
    });
    EXPECT_EQ(main.exec(), IDOK);
    EXPECT_EQ(sideEvents.commands, (std::vector<int>{1041}));
    side.reset();
}

// --- key codes ---

TEST(VirtualKeys, QtKeysMapToTheDialogsKeyCodes) {
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        int vk;
    };
    const Case cases[] = {
        {Qt::Key_Escape, Qt::NoModifier, 0x1B},
        {Qt::Key_Space, Qt::NoModifier, 0x20},
        {Qt::Key_Left, Qt::NoModifier, 0x25},
        {Qt::Key_Up, Qt::NoModifier, 0x26},
        {Qt::Key_Right, Qt::NoModifier, 0x27},
        {Qt::Key_Down, Qt::NoModifier, 0x28},
        {Qt::Key_Left, Qt::KeypadModifier, 0x25},
        {Qt::Key_Delete, Qt::NoModifier, 0x2E},
        {Qt::Key_Return, Qt::NoModifier, 0x0D},
        {Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
        {Qt::Key_Tab, Qt::NoModifier, 0x09},
        {Qt::Key_Backtab, Qt::ShiftModifier, 0x09},
        {Qt::Key_0, Qt::NoModifier, 0x30},
        {Qt::Key_1, Qt::NoModifier, 0x31},
        {Qt::Key_9, Qt::NoModifier, 0x39},
        {Qt::Key_Exclam, Qt::ShiftModifier, 0x31},     // Shift+1
        {Qt::Key_ParenLeft, Qt::ShiftModifier, 0x39},  // Shift+9
        {Qt::Key_1, Qt::KeypadModifier, 0x61},         // keypad digits are other keys
        {Qt::Key_A, Qt::NoModifier, 0x41},
        {Qt::Key_C, Qt::ControlModifier, 0x43},
        {Qt::Key_T, Qt::ShiftModifier, 0x54},
        {Qt::Key_Z, Qt::NoModifier, 0x5A},
        {Qt::Key_F1, Qt::NoModifier, 0x70},
        // Other keys keep their own codes, so the key trace names them.
        {Qt::Key_Comma, Qt::NoModifier, 0xBC},
        {Qt::Key_Less, Qt::ShiftModifier, 0xBC},
        {Qt::Key_Minus, Qt::NoModifier, 0xBD},
        {Qt::Key_Minus, Qt::KeypadModifier, 0x6D},
        {Qt::Key_Asterisk, Qt::ShiftModifier, 0x38},  // Shift+8
        {Qt::Key_Asterisk, Qt::KeypadModifier, 0x6A},
        {Qt::Key_Semicolon, Qt::NoModifier, 0xBA},
        {Qt::Key_BracketRight, Qt::NoModifier, 0xDD},
        {Qt::Key_Apostrophe, Qt::NoModifier, 0xDE},
        {Qt::Key_CapsLock, Qt::NoModifier, 0x14},
        {Qt::Key_Menu, Qt::NoModifier, 0x5D},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(VirtualKeyFromQt(c.key, c.mods), c.vk) << std::hex << c.key;
    }
    // Everything else is a key no command uses.
    const int handled[] = {0x1B, 0x20, 0x25, 0x27, 0x2E, 0x0D, 0x09, 0x31, 0x32,
                           0x33, 0x34, 0x35, 0x36, 0x37, 0x38, 0x39, 0x42, 0x43,
                           0x44, 0x45, 0x4B, 0x4C, 0x4D, 0x4E, 0x4F, 0x50, 0x54};
    for (int key : {int(Qt::Key_Exclam), int(Qt::Key_Comma), int(Qt::Key_Hangul),
                    int(Qt::Key_unknown), int(Qt::Key_Semicolon)}) {
        const int vk = VirtualKeyFromQt(key, Qt::NoModifier);
        for (int h : handled) {
            EXPECT_NE(vk, h) << std::hex << key;
        }
    }
}
