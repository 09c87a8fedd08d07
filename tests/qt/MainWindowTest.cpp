// The real windows built from the dialog templates: every control with its id, kind, caption,
// state and geometry, the layout on resize, the minimum size, window decorations and fonts.

#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTextBlock>
#include <QTextDocument>

#include <set>

#include "QtTestSupport.h"
#include "qt/QtAppServices.h"
#include "qt/QtPictureWidget.h"
#include "res/Layout.h"
#include "res/Resource.h"

namespace {

QRect ToQRect(const CRect& r) {
    return QRect(r.left, r.top, r.Width(), r.Height());
}

const DialogTemplate& MainTemplate() {
    return *FindDialogTemplate(IDD_TAGWRIGHT_DIALOG);
}

}  // namespace

using MainWindow = MainWindowFixture;

TEST_F(MainWindow, HasTitleAndTemplateClientSize) {
    EXPECT_EQ(window->windowTitle().toStdString(), "KORVALEN Video Tagwright");
    const CPoint client = TemplateClientSize(MainTemplate());
    EXPECT_EQ(client.x, 1202);
    EXPECT_EQ(client.y, 781);
    EXPECT_EQ(window->GetClientSize(), client);
    EXPECT_EQ(window->size(), QSize(1202, 781));
    // Placed at the top-left, not centred on the screen.
    ASSERT_TRUE(ShowAndActivate(*window));
    EXPECT_EQ(window->pos(), QPoint(0, 0));
}

TEST_F(MainWindow, EveryTemplateControlExistsWithItsKindCaptionStateAndRectangle) {
    const DialogTemplate& t = MainTemplate();
    std::set<int> seen;
    for (std::size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& c = t.controls[i];
        SCOPED_TRACE("control " + std::to_string(c.id));
        QWidget* w = Ctl(c.id);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w, window->Control(c.id));
        EXPECT_EQ(w->parentWidget(), window.get());
        seen.insert(c.id);

        EXPECT_EQ(window->GetControlText(c.id), c.caption);
        EXPECT_EQ(window->IsControlEnabled(c.id), (c.style & STYLE_DISABLED) == 0);
        EXPECT_EQ(w->geometry(), ToQRect(TemplateRectPixels(t, c)));
        EXPECT_EQ(window->GetControlRect(c.id), TemplateRectPixels(t, c));

        switch (c.kind) {
            case ControlKind::PushButton:
            case ControlKind::ColorButton:
            case ControlKind::DefaultPushButton: {
                auto* b = qobject_cast<QPushButton*>(w);
                ASSERT_NE(b, nullptr);
                EXPECT_EQ(b->text(), QString::fromUtf8(c.caption));  // '&' kept: Qt's mnemonic
                EXPECT_EQ(b->isFlat(), (c.style & STYLE_FLAT) != 0);
                EXPECT_EQ(b->isDefault(), c.kind == ControlKind::DefaultPushButton);
                EXPECT_FALSE(b->autoDefault());
                break;
            }
            case ControlKind::RadioButton:
                EXPECT_NE(qobject_cast<QRadioButton*>(w), nullptr);
                break;
            case ControlKind::GroupBox: {
                auto* g = qobject_cast<QGroupBox*>(w);
                ASSERT_NE(g, nullptr);
                EXPECT_TRUE(g->title().isEmpty());
                break;
            }
            case ControlKind::Picture:
                EXPECT_NE(qobject_cast<QtPictureWidget*>(w), nullptr);
                EXPECT_EQ(w->focusPolicy(), Qt::StrongFocus);
                EXPECT_TRUE(w->testAttribute(Qt::WA_TransparentForMouseEvents));
                break;
            case ControlKind::Slider: {
                auto* s = qobject_cast<QSlider*>(w);
                ASSERT_NE(s, nullptr);
                EXPECT_EQ(s->orientation(), Qt::Horizontal);
                EXPECT_EQ(s->tickPosition(), QSlider::NoTicks);
                break;
            }
            case ControlKind::StaticText: {
                auto* l = qobject_cast<QLabel*>(w);
                ASSERT_NE(l, nullptr);
                EXPECT_TRUE(l->alignment() & Qt::AlignHCenter);
                break;
            }
            case ControlKind::Edit: {
                auto* e = qobject_cast<QLineEdit*>(w);
                ASSERT_NE(e, nullptr);
                EXPECT_EQ(e->isReadOnly(), (c.style & STYLE_READONLY) != 0);
                break;
            }
            case ControlKind::MultiLineEdit:
                EXPECT_NE(qobject_cast<QPlainTextEdit*>(w), nullptr);
                break;
        }
    }
    EXPECT_EQ(seen.size(), t.controlCount);
    // No stray controls beyond the template's.
    int named = 0;
    for (QWidget* w : window->findChildren<QWidget*>()) {
        if (w->objectName().startsWith(QLatin1String("ctl_"))) {
            ++named;
        }
    }
    EXPECT_EQ(named, static_cast<int>(t.controlCount));
}

TEST_F(MainWindow, SpotChecksOfThePixelRectangles) {
    // Dialog units times 1.5 across and 1.75 down, rounded.
    struct Case {
        int id;
        QRect rect;
    };
    const Case cases[] = {
        {IDC_PICTURE, QRect(11, 12, 1047, 702)},       // 7,7 698x401
        {IDC_SLIDER, QRect(14, 721, 982, 19)},         // 9,412 655x11
        {IDC_STATIC_FRAME, QRect(1001, 718, 54, 26)},  // 667,410 36x15
        {IDOK, QRect(1082, 728, 105, 37)},             // 721,416 70x21
        {IDC_BTN_SKIP, QRect(1070, 394, 64, 37)},      // 713,225 43x21
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        EXPECT_EQ(Ctl(c.id)->geometry(), c.rect);
    }
}

TEST_F(MainWindow, RadioGroupStartsWithPolypAndHasThreeMembers) {
    window->SetRadioIndex(IDC_RADIO_CLASS0, 2);
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS0), 2);
    EXPECT_TRUE(qobject_cast<QRadioButton*>(Ctl(IDC_RADIO_CLASS2))->isChecked());
    window->SetRadioIndex(IDC_RADIO_CLASS0, 0);
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS0), 0);
    EXPECT_FALSE(qobject_cast<QRadioButton*>(Ctl(IDC_RADIO_CLASS2))->isChecked());
    // None checked is a valid state of the group, as on a fresh dialog.
    window->SetRadioIndex(IDC_RADIO_CLASS0, -1);
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS0), -1);
    // Only the group's first id names the group.
    EXPECT_EQ(window->GetRadioIndex(IDC_RADIO_CLASS1), -1);
    // Setting the group from code is no click.
    EXPECT_TRUE(events.commands.empty());
}

TEST_F(MainWindow, LayoutPercentagesHoldAfterResizeAndOnSizeSeesTheNewLayout) {
    ASSERT_TRUE(ShowAndActivate(*window));
    events.sizes.clear();
    events.pictureRectsAtSize.clear();
    window->resize(1500, 900);
    QCoreApplication::processEvents();
    ASSERT_EQ(window->GetClientSize(), (CPoint{1500, 900}));

    const DialogTemplate& t = MainTemplate();
    for (std::size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& c = t.controls[i];
        SCOPED_TRACE(c.id);
        EXPECT_EQ(window->GetControlRect(c.id), LayoutControlRect(t, c, {1500, 900}));
    }
    // Growth of 298 x 119 pixels: the picture takes all of it, the slider all of the width and
    // moves down, the right column moves across only.
    EXPECT_EQ(Ctl(IDC_PICTURE)->geometry(), QRect(11, 12, 1047 + 298, 702 + 119));
    EXPECT_EQ(Ctl(IDC_SLIDER)->geometry(), QRect(14, 721 + 119, 982 + 298, 19));
    EXPECT_EQ(Ctl(IDC_EDIT_PATH)->geometry().topLeft(), QPoint(15, 747 + 119));
    EXPECT_EQ(Ctl(IDC_EDIT_PATH)->width(), 897);
    EXPECT_EQ(Ctl(IDOK)->geometry(), QRect(1082 + 298, 728, 105, 37));
    EXPECT_EQ(Ctl(IDC_STATIC_FRAME)->geometry(), QRect(1001 + 298, 718 + 119, 54, 26));

    ASSERT_FALSE(events.sizes.empty());
    EXPECT_EQ(events.sizes.back(), (CPoint{1500, 900}));
    // The handler fits the picture after the layout gave it its full space back.
    EXPECT_EQ(events.pictureRectsAtSize.back(), (CRect{11, 12, 11 + 1345, 12 + 821}));
}

TEST_F(MainWindow, PictureGetsItsLayoutSpaceBackOnEveryResize) {
    ASSERT_TRUE(ShowAndActivate(*window));
    // The logic shrank the picture to a video's aspect ratio...
    window->ResizeControl(IDC_PICTURE, 600, 450);
    EXPECT_EQ(window->GetControlRect(IDC_PICTURE), (CRect{11, 12, 611, 462}));
    // ...and the next resize lays it out from the template again, before OnSize.
    window->resize(1300, 800);
    QCoreApplication::processEvents();
    ASSERT_FALSE(events.pictureRectsAtSize.empty());
    EXPECT_EQ(events.pictureRectsAtSize.back(), (CRect{11, 12, 11 + 1047 + 98, 12 + 702 + 19}));
}

TEST_F(MainWindow, MinimumSizeIsHeld) {
    EXPECT_EQ(window->minimumSize(), QSize(1024, 760));
    ASSERT_TRUE(ShowAndActivate(*window));
    window->resize(800, 600);
    QCoreApplication::processEvents();
    EXPECT_EQ(window->GetClientSize(), (CPoint{1024, 760}));
    // Shrinking moves the right column left and the bottom row up by the whole change.
    EXPECT_EQ(Ctl(IDOK)->geometry().topLeft(), QPoint(1082 - 178, 728));
    EXPECT_EQ(Ctl(IDC_SLIDER)->geometry(), QRect(14, 721 - 21, 982 - 178, 19));
    EXPECT_EQ(events.sizes.back(), (CPoint{1024, 760}));
}

TEST_F(MainWindow, HasNoCloseBoxButMinimiseAndMaximise) {
    const Qt::WindowFlags f = window->windowFlags();
    EXPECT_EQ(f & Qt::WindowType_Mask, Qt::Window);
    EXPECT_TRUE(f & Qt::CustomizeWindowHint);
    EXPECT_TRUE(f & Qt::WindowTitleHint);
    EXPECT_TRUE(f & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(f & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(f & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(window->IsMainWindow());
}

TEST_F(MainWindow, WhiteBackgroundIsPainted) {
    window->SetBackgroundColor({255, 255, 255});
    ASSERT_TRUE(ShowAndActivate(*window));
    const QImage shot = window->grab().toImage();
    // Between the picture area and the right column, below the top margin.
    EXPECT_EQ(shot.pixelColor(1062, 400), QColor(255, 255, 255));
    EXPECT_EQ(shot.pixelColor(5, 5), QColor(255, 255, 255));
}

TEST_F(MainWindow, BigBoldButtonFontKeepsCellHeightAndWeight) {
    window->SetControlFont(IDC_BTN_OPEN, {"Tahoma", 35, 700});
    const QFont f = Ctl(IDC_BTN_OPEN)->font();
    EXPECT_EQ(f.weight(), QFont::Bold);
    EXPECT_NEAR(QFontMetrics(f).height(), 35, 1);
    EXPECT_EQ(QFontInfo(f).family(), QStringLiteral("DejaVu Sans"));
    // Other buttons keep the dialog font.
    EXPECT_EQ(Ctl(IDC_BTN_CROP)->font().weight(), QFont::Normal);
    EXPECT_LT(QFontMetrics(Ctl(IDC_BTN_CROP)->font()).height(), 20);

    window->SetControlFont(IDC_BTN_HELP, {"Tahoma", 19, 500});
    EXPECT_EQ(Ctl(IDC_BTN_HELP)->font().weight(), QFont::Medium);
    EXPECT_NEAR(QFontMetrics(Ctl(IDC_BTN_HELP)->font()).height(), 19, 1);
}

TEST_F(MainWindow, CaptionColourIsSetOnlyWhereAsked) {
    window->SetCaptionColor(1010, {255, 0, 0});
    const QPalette p = Ctl(1010)->palette();
    EXPECT_EQ(p.color(QPalette::Active, QPalette::ButtonText), QColor(255, 0, 0));
    EXPECT_EQ(p.color(QPalette::Inactive, QPalette::ButtonText), QColor(255, 0, 0));
    // A control never coloured keeps the platform's caption colour.
    EXPECT_EQ(Ctl(1011)->palette().color(QPalette::Active, QPalette::ButtonText),
              window->palette().color(QPalette::Active, QPalette::ButtonText));

    // The caption is drawn in that colour.
    window->SetCaptionColor(1010, {255, 0, 0});
    ASSERT_TRUE(ShowAndActivate(*window));
    const QImage shot = Ctl(1010)->grab().toImage();
    int reddish = 0;
    for (int y = 0; y < shot.height(); ++y) {
        for (int x = 0; x < shot.width(); ++x) {
            const QColor c = shot.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 90 && c.blue() < 90) {
                ++reddish;
            }
        }
    }
    EXPECT_GT(reddish, 10);
}

TEST_F(MainWindow, TextsRoundTripIncludingKorean) {
    const std::string path = "/home/op/영상/clip 01.mp4";
    window->SetControlText(IDC_EDIT_PATH, path);
    EXPECT_EQ(window->GetControlText(IDC_EDIT_PATH), path);
    window->SetControlText(IDC_STATIC_FRAME, "120");
    EXPECT_EQ(qobject_cast<QLabel*>(Ctl(IDC_STATIC_FRAME))->text(), QStringLiteral("120"));
    window->SetControlText(IDC_BTN_PLAY, "&PAUSE");
    EXPECT_EQ(window->GetControlText(IDC_BTN_PLAY), "&PAUSE");
    // Unknown ids are ignored, not fatal.
    window->SetControlText(4242, "x");
    EXPECT_EQ(window->GetControlText(4242), "");
    EXPECT_FALSE(window->IsControlEnabled(4242));
}

TEST_F(MainWindow, EnableControlTogglesTheWidget) {
    EXPECT_FALSE(window->IsControlEnabled(IDC_BTN_PLAY));
    window->EnableControl(IDC_BTN_PLAY, true);
    EXPECT_TRUE(Ctl(IDC_BTN_PLAY)->isEnabled());
    EXPECT_TRUE(window->IsControlEnabled(IDC_BTN_PLAY));
    window->EnableControl(1022, true);
    EXPECT_TRUE(window->IsControlEnabled(1022));
    window->EnableControl(1022, false);
    EXPECT_FALSE(Ctl(1022)->isEnabled());
}

TEST_F(MainWindow, IconComesFromTheEmbeddedResource) {
    EXPECT_TRUE(window->windowIcon().isNull());
    window->SetIcon(IDR_MAINFRAME);
    const QIcon icon = window->windowIcon();
    ASSERT_FALSE(icon.isNull());
    const QList<QSize> sizes = icon.availableSizes();
    EXPECT_TRUE(sizes.contains(QSize(256, 256)));
    EXPECT_TRUE(sizes.contains(QSize(16, 16)));
    const QImage big = icon.pixmap(256, 256).toImage();
    EXPECT_EQ(big.size(), QSize(256, 256));
    // The pink blob sits in the middle.
    const QColor centre = big.pixelColor(128, 140);
    EXPECT_GT(centre.red(), 200);
    EXPECT_GT(centre.blue(), 120);
}

TEST(SideWindows, AreBuiltHiddenWithCloseBoxAndFixedSize) {
    TestApp();
    QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
    QtAppServices services(&main);
    for (int id : {IDD_DLG_HELP, IDD_DLG_MORELABEL, IDD_DLG_REPORT}) {
        SCOPED_TRACE(id);
        std::unique_ptr<IDialogWindow> w = services.CreateDialogWindow(id);
        auto* q = dynamic_cast<QtDialogWindow*>(w.get());
        ASSERT_NE(q, nullptr);
        EXPECT_FALSE(w->IsWindowVisible());
        EXPECT_FALSE(q->IsMainWindow());
        EXPECT_EQ(q->parentWidget(), &main);
        EXPECT_TRUE(q->windowFlags() & Qt::WindowCloseButtonHint);
        const CPoint client = TemplateClientSize(*FindDialogTemplate(id));
        EXPECT_EQ(q->minimumSize(), QSize(client.x, client.y));
        EXPECT_EQ(q->maximumSize(), QSize(client.x, client.y));
        const DialogTemplate& t = *FindDialogTemplate(id);
        for (std::size_t i = 0; i < t.controlCount; ++i) {
            EXPECT_NE(q->Control(t.controls[i].id), nullptr) << t.controls[i].id;
        }
    }
}

TEST(SideWindows, HelpTextBoxIsReadOnlyUnwrappedWithoutScrollBarsAndKeepsCrLf) {
    TestApp();
    QtDialogWindow help(IDD_DLG_HELP, QtDialogWindow::Role::Side);
    auto* edit = qobject_cast<QPlainTextEdit*>(help.Control(IDC_EDIT_HELP));
    ASSERT_NE(edit, nullptr);
    EXPECT_TRUE(edit->isReadOnly());
    EXPECT_EQ(edit->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(edit->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(edit->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_TRUE(edit->textInteractionFlags() & Qt::TextSelectableByMouse);

    help.SetControlText(IDC_EDIT_HELP, HelpText());
    EXPECT_EQ(edit->blockCount(), 18);
    EXPECT_EQ(edit->document()->findBlockByNumber(0).text(), QStringLiteral("- 재생 관련 - "));
    EXPECT_TRUE(edit->document()->findBlockByNumber(6).text().isEmpty());
    EXPECT_EQ(help.GetControlText(IDC_EDIT_HELP), HelpText());
}

TEST(SideWindows, UnknownTemplateGivesAnEmptyWindow) {
    TestApp();
    QtDialogWindow w(999, QtDialogWindow::Role::Side);
    EXPECT_EQ(w.Template(), nullptr);
    EXPECT_EQ(w.Control(IDOK), nullptr);
    EXPECT_EQ(w.GetControlText(IDOK), "");
    EXPECT_EQ(w.GetControlRect(IDOK), CRect{});
}

TEST(SideWindows, MayOutliveTheMainWindowWithoutBeingDeletedTwice) {
    TestApp();
    std::unique_ptr<IDialogWindow> side;
    {
        QtDialogWindow main(IDD_TAGWRIGHT_DIALOG, QtDialogWindow::Role::Main);
        QtAppServices services(&main);
        side = services.CreateDialogWindow(IDD_DLG_HELP);
        side->ShowWindow(true);
    }
    ASSERT_NE(side, nullptr);
    EXPECT_EQ(static_cast<QtDialogWindow*>(side.get())->parentWidget(), nullptr);
    EXPECT_FALSE(side->IsWindowVisible());
    side->SetControlText(IDC_EDIT_HELP, "still here");
    EXPECT_EQ(side->GetControlText(IDC_EDIT_HELP), "still here");
    side.reset();
}
