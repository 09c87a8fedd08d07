// Every caption of the four windows fits inside its control with the fonts the program really
// ends up with on this machine: the windows are those the real main dialog builds, with the
// fonts its start-up gives to some buttons, and each text is measured against the part of the
// control the style leaves for text.

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
#include "res/Resource.h"

namespace {

struct Fit {
    bool measured = false;
    int needed = 0;
    int available = 0;
};

int TextWidth(const QWidget& w, const QString& text, int flags) {
    return static_cast<int>(std::ceil(QFontMetricsF(w.font()).size(flags, text).width()));
}

// The text's width against the room the control's style gives it.
Fit MeasureCaption(QWidget& w) {
    w.ensurePolished();
    Fit fit;
    if (auto* label = qobject_cast<QLabel*>(&w)) {
        fit.needed = TextWidth(w, label->text(), Qt::TextSingleLine);
        fit.available = label->contentsRect().width();
    } else if (auto* radio = qobject_cast<QRadioButton*>(&w)) {
        QStyleOptionButton opt;
        opt.initFrom(radio);
        opt.text = radio->text();
        fit.needed = TextWidth(w, radio->text(), Qt::TextShowMnemonic);
        fit.available = w.style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, &w).width();
    } else if (auto* button = qobject_cast<QPushButton*>(&w)) {
        QStyleOptionButton opt;
        opt.initFrom(button);
        opt.text = button->text();
        opt.features = QStyleOptionButton::None;
        if (button->isFlat()) {
            opt.features |= QStyleOptionButton::Flat;
        }
        if (button->isDefault()) {
            opt.features |= QStyleOptionButton::DefaultButton;
        }
        if (button->autoDefault()) {
            opt.features |= QStyleOptionButton::AutoDefaultButton;
        }
        fit.needed = TextWidth(w, button->text(), Qt::TextShowMnemonic);
        fit.available = w.style()->subElementRect(QStyle::SE_PushButtonContents, &opt, &w).width();
    } else {
        return fit;
    }
    fit.measured = true;
    return fit;
}

bool HasCaption(ControlKind kind) {
    switch (kind) {
        case ControlKind::PushButton:
        case ControlKind::DefaultPushButton:
        case ControlKind::ColorButton:
        case ControlKind::RadioButton:
        case ControlKind::StaticText:
            return true;
        default:
            return false;
    }
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
        ASSERT_NE(w->Template(), nullptr);
        const DialogTemplate& t = *w->Template();
        templates.insert(t.id);
        for (std::size_t i = 0; i < t.controlCount; ++i) {
            const ControlTemplate& c = t.controls[i];
            if (!HasCaption(c.kind)) {
                continue;
            }
            // PLAY shows its other caption while the video plays.
            std::vector<std::string> captions{c.caption};
            if (c.id == IDC_BTN_PLAY && t.id == IDD_TAGWRIGHT_DIALOG) {
                captions.push_back("&PAUSE");
            }
            for (const std::string& caption : captions) {
                w->SetControlText(c.id, caption);
                QWidget* ctl = w->Control(c.id);
                ASSERT_NE(ctl, nullptr) << "template " << t.id << " control " << c.id;
                const Fit fit = MeasureCaption(*ctl);
                ASSERT_TRUE(fit.measured) << "template " << t.id << " control " << c.id;
                EXPECT_LE(fit.needed, fit.available)
                    << "template " << t.id << " control " << c.id << " \"" << caption << "\" in "
                    << ctl->font().family().toStdString() << " " << ctl->font().pixelSize()
                    << "px stretch " << ctl->font().stretch();
                ++checked;
            }
        }
    }
    EXPECT_EQ(templates, (std::set<int>{IDD_TAGWRIGHT_DIALOG, IDD_DLG_HELP, IDD_DLG_MORELABEL,
                                        IDD_DLG_REPORT}));
    EXPECT_EQ(checked, 40 + 1 + 60 + 4);  // PLAY counted twice

    dlg.OnDestroy();
    window.SetEventHandler(nullptr);
}
