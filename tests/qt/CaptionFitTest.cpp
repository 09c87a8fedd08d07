// Every caption of the four windows fits inside its control with the fonts the program really
// ends up with on this machine: the windows are those the real main dialog builds, with the
// fonts its start-up gives to some buttons, and each text is measured against the part of the
// control the style leaves for text when it paints.

#include <QFontMetricsF>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>

#include <cmath>
#include <set>

#include "QtTestSupport.h"
#include "app/TagwrightDlg.h"
#include "qt/QtAppServices.h"
#include "qt/QtFonts.h"
#include "res/Layout.h"
#include "res/Resource.h"

namespace {

// The style option a button paints itself with (initStyleOption is protected).
struct PushPeek : QPushButton {
    static void Init(const QPushButton& b, QStyleOptionButton* o) {
        (b.*&PushPeek::initStyleOption)(o);
    }
};
struct RadioPeek : QRadioButton {
    static void Init(const QRadioButton& b, QStyleOptionButton* o) {
        (b.*&RadioPeek::initStyleOption)(o);
    }
};

// The caption's width and the room for it, or false for a control without a caption.
bool MeasureCaption(QWidget& w, int& needed, int& room) {
    w.ensurePolished();
    const QFontMetricsF metrics(w.font());
    QStyleOptionButton opt;
    if (auto* label = qobject_cast<QLabel*>(&w)) {
        needed = static_cast<int>(std::ceil(metrics.size(0, label->text()).width()));
        room = label->contentsRect().width();
        return true;
    }
    QStyle::SubElement part;
    if (auto* radio = qobject_cast<QRadioButton*>(&w)) {
        RadioPeek::Init(*radio, &opt);
        part = QStyle::SE_RadioButtonContents;
    } else if (auto* button = qobject_cast<QPushButton*>(&w)) {
        PushPeek::Init(*button, &opt);
        part = QStyle::SE_PushButtonContents;
    } else {
        return false;
    }
    needed = static_cast<int>(std::ceil(metrics.size(Qt::TextShowMnemonic, opt.text).width()));
    room = w.style()->subElementRect(part, &opt, &w).width();
    return true;
}

}  // namespace

TEST(CaptionFit, EveryCaptionOfEveryWindowFitsItsControl) {
    TestApp();
    QtDialogWindow window(IDD_TAGWRIGHT_DIALOG);
    QtAppServices services(&window);
    CTagwrightDlg dlg(window, services);
    services.SetMainDialog(&dlg);
    window.SetEventHandler(&dlg);
    ASSERT_TRUE(dlg.OnInitDialog());

    std::vector<QtDialogWindow*> windows{&window};
    for (QtDialogWindow* side :
         window.findChildren<QtDialogWindow*>(QString(), Qt::FindDirectChildrenOnly)) {
        windows.push_back(side);
    }
    std::set<int> templates;
    int checked = 0;
    for (QtDialogWindow* w : windows) {
        const DialogTemplate& t = *w->Template();
        templates.insert(t.id);
        for (std::size_t i = 0; i < t.controlCount; ++i) {
            const ControlTemplate& c = t.controls[i];
            // PLAY shows its other caption while the video plays.
            std::vector<std::string> captions{c.caption};
            if (t.id == IDD_TAGWRIGHT_DIALOG && c.id == IDC_BTN_PLAY) {
                captions.push_back("&PAUSE");
            }
            for (const std::string& caption : captions) {
                w->SetControlText(c.id, caption);
                int needed = 0;
                int room = 0;
                if (!MeasureCaption(*w->Control(c.id), needed, room)) {
                    continue;
                }
                EXPECT_LE(needed, room)
                    << "template " << t.id << " control " << c.id << " \"" << caption << "\"";
                ++checked;
            }
        }
    }
    EXPECT_EQ(templates, (std::set<int>{IDD_TAGWRIGHT_DIALOG, IDD_DLG_HELP, IDD_DLG_MORELABEL,
                                        IDD_DLG_REPORT}));
    // Static texts, buttons and radios of the four templates, PLAY twice.
    EXPECT_EQ(checked, 40 + 1 + 60 + 4);

    dlg.OnDestroy();
    window.SetEventHandler(nullptr);
}

// A caption heavy in wide letters needs more than the average width gives: the dialog's font
// narrows further until it fits, at the same height.
TEST(CaptionFit, AWideCaptionNarrowsItsDialogFontFurther) {
    TestApp();
    const ControlTemplate wide{1, ControlKind::StaticText, "WWWWWWWW", 0, 0, 40, 8, 0, 0, 0, 0, 0};
    const DialogTemplate plain{1, "", "", 8, 60, 20, 0, 0, 0, nullptr, 0};
    const DialogTemplate tight{1, "", "", 8, 60, 20, 0, 0, 0, &wide, 1};
    const QFont before = DialogFont(plain);
    const QFont after = DialogFont(tight);
    EXPECT_EQ(after.pixelSize(), before.pixelSize());
    EXPECT_LT(after.stretch(), before.stretch());
    const int room = TemplateRectPixels(tight, wide).Width();
    EXPECT_LE(QFontMetricsF(after).horizontalAdvance(QStringLiteral("WWWWWWWW")), room);
    EXPECT_GT(QFontMetricsF(before).horizontalAdvance(QStringLiteral("WWWWWWWW")), room);
}
