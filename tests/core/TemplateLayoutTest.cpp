#include <gtest/gtest.h>

#include <set>

#include "res/Layout.h"
#include "res/Resource.h"
#include "res/Templates.h"

TEST(Templates, EveryDialogHasUniqueControlIds) {
    for (int id : {IDD_TAGWRIGHT_DIALOG, IDD_DLG_HELP, IDD_DLG_MORELABEL, IDD_DLG_REPORT}) {
        const DialogTemplate* t = FindDialogTemplate(id);
        ASSERT_NE(t, nullptr) << id;
        std::set<int> ids;
        for (std::size_t i = 0; i < t->controlCount; ++i) {
            EXPECT_TRUE(ids.insert(t->controls[i].id).second) << "duplicate id in " << id;
        }
    }
    EXPECT_EQ(FindDialogTemplate(999), nullptr);
}

TEST(Templates, MoreLabelIdTablesMatchTemplateCaptions) {
    const DialogTemplate* t = FindDialogTemplate(IDD_DLG_MORELABEL);
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(t->controlCount, 60u);
    auto caption = [&](int id) -> std::string {
        for (std::size_t i = 0; i < t->controlCount; ++i) {
            if (t->controls[i].id == id) {
                return t->controls[i].caption;
            }
        }
        return "<missing>";
    };
    for (int n = 1; n <= 30; ++n) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "Label %02d", n);
        EXPECT_EQ(caption(kMoreLabelButtonIds[n - 1]), n == 30 ? "SKIP (30)" : buf);
        EXPECT_EQ(caption(kMoreGoButtonIds[n - 1]), "GO");
    }
}

TEST(Layout, MainWindowStartsAboveMinimumAndScalesByOneRule) {
    const DialogTemplate* t = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG);
    ASSERT_NE(t, nullptr);
    const CPoint client = TemplateClientSize(*t);
    EXPECT_GE(client.x, 1024);
    EXPECT_GE(client.y, 760);
    // Picture area 7, 7, 698 x 401 units at 1.5 x 1.75 pixels per unit.
    const CRect pic = TemplateRectPixels(*t, t->controls[0]);
    EXPECT_EQ(pic, (CRect{11, 12, 11 + 1047, 12 + 702}));
}

TEST(Layout, PercentagesMoveAndStretchByTheShareOfTheChange) {
    const DialogTemplate* t = FindDialogTemplate(IDD_TAGWRIGHT_DIALOG);
    const CPoint client = TemplateClientSize(*t);
    const CPoint bigger{client.x + 200, client.y + 100};
    for (std::size_t i = 0; i < t->controlCount; ++i) {
        const ControlTemplate& c = t->controls[i];
        const CRect base = TemplateRectPixels(*t, c);
        const CRect now = LayoutControlRect(*t, c, bigger);
        EXPECT_EQ(now.left - base.left, 200 * c.moveX / 100) << c.id;
        EXPECT_EQ(now.top - base.top, 100 * c.moveY / 100) << c.id;
        EXPECT_EQ(now.Width() - base.Width(), 200 * c.sizeX / 100) << c.id;
        EXPECT_EQ(now.Height() - base.Height(), 100 * c.sizeY / 100) << c.id;
    }
}

TEST(Templates, HelpTextHasEighteenLinesWithoutFinalBreak) {
    const std::string& text = HelpText();
    std::size_t lines = 1;
    for (std::size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2) {
        ++lines;
    }
    EXPECT_EQ(lines, 18u);
    EXPECT_NE(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(text.find("- 재생 관련 - \r\n"), 0u);
    EXPECT_NE(text.find("채움\r\n\r\n- etc - \r\n"), std::string::npos);
}
