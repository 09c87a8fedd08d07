// Undo and redo of the operator's edits through the keys, on the in-memory window: every kind
// of edit comes back byte for byte, files that did not exist go again, and a label folder that
// cannot be written leaves the history and the disk in step.

#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "InputTestSupport.h"
#include "support/TreeSnapshot.h"

namespace fs = std::filesystem;

namespace {

constexpr int VK_Y = 0x59;
constexpr int VK_Z = 0x5A;
constexpr int kElsewhere = 16;  // a frame no edit touches
const char* const kNoAccess = "Can't access working directory. Check the permissions!";

const CRect kLabel1{30, 40, 90, 100};
const CRect kLabel2{150, 60, 210, 120};

class UndoRedo : public DialogTest {
  protected:
    // Label 1 on frames 2 to 12 and label 2 on frames 2 and 3, in files of every form the
    // loader accepts: five columns, LF line ends, blanks and lines after an empty one.
    fs::path OpenPrepared() {
        const fs::path video = MakeVideo();
        if (video.empty()) {
            return {};
        }
        m_folder = LabelFolder(video);
        fs::create_directories(m_folder);
        WriteFileBytes(m_folder / "2.txt", "30,40,90,100,1\r\n150,60,210,120,2\r\n");
        WriteFileBytes(m_folder / "3.txt", "30,40,90,100,1,0\n150,60,210,120,2,1\n");
        for (int f = 4; f <= 12; ++f) {
            WriteFileBytes(
                m_folder / (std::to_string(f) + ".txt"),
                f == 7 ? " 30, 40,90,100,1,0\r\n\r\nnot read\r\n" : "30,40,90,100,1,0\r\n");
        }
        return OpenViaButton(video) ? video : fs::path();
    }

    CLabelManager& Store() { return *dlg.GetLabelManager(); }

    // The label folder without the hidden folders kept beside the labels: the atomic writes'
    // and the frame index's, which is stored whenever the index worker finishes.
    TreeSnapshot Folder() const {
        TreeSnapshot tree = SnapshotTree(m_folder);
        for (auto it = tree.begin(); it != tree.end();) {
            it = it->first.rfind(".tagwright-", 0) == 0 ? tree.erase(it) : std::next(it);
        }
        return tree;
    }

    // Every record, count, the count list's length and the selection, as text.
    std::string StoreState() {
        std::ostringstream s;
        const CLabelManager& lm = Store();
        for (int f = 0; f < 24; ++f) {
            std::vector<ROI> list;
            lm.GetFrameROIs(f, list);
            s << f << ":" << lm.GetFrameCount(f);
            for (const ROI& r : list) {
                s << " [" << r.nLabel << "," << r.nClass << "," << r.rect.left << "," << r.rect.top
                  << "," << r.rect.right << "," << r.rect.bottom << "," << r.bSelected << "]";
            }
            s << "\n";
        }
        s << "length " << lm.GetFrameCountLength() << " records " << lm.GetCount() << " sel "
          << lm.GetSelKey() << " " << lm.GetSelLabel() << " " << lm.GetSelFrame() << " radio "
          << wnd.GetRadioIndex(IDC_RADIO_CLASS0);
        return s.str();
    }

    bool CtrlKey(int vk, bool shift = false) {
        wnd.SetCtrlDown(true);
        wnd.SetShiftDown(shift);
        const bool consumed = wnd.KeyDown(vk);
        wnd.SetCtrlDown(false);
        wnd.SetShiftDown(false);
        return consumed;
    }

    fs::path m_folder;
};

struct EditCase {
    const char* name;
    int frame;  // the frame shown when the edit is made
    std::function<void(UndoRedo&)> prepare;
    std::function<void(UndoRedo&)> edit;
    int editFrame;  // the frame undo and redo show
};

void PrintTo(const EditCase& c, std::ostream* os) {
    *os << c.name;
}

class EachEdit : public UndoRedo, public ::testing::WithParamInterface<EditCase> {};

void Nothing(UndoRedo&) {}

TEST_P(EachEdit, IsOneStepThatUndoAndRedoPutBackByteForByte) {
    const EditCase& c = GetParam();
    ASSERT_FALSE(OpenPrepared().empty());
    wnd.ScrollSlider(c.frame);
    c.prepare(*this);
    const TreeSnapshot filesBefore = Folder();
    const std::string storeBefore = StoreState();

    c.edit(*this);
    const TreeSnapshot filesAfter = Folder();
    const std::string storeAfter = StoreState();
    ASSERT_NE(filesAfter, filesBefore) << "the edit wrote nothing";
    const int boxes = static_cast<int>(app.Boxes().size());

    // From another frame: the undo goes back to where the edit was made.
    wnd.ScrollSlider(kElsewhere);
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_EQ(StoreState(), storeBefore);
    EXPECT_EQ(ShownFrameIndex(), c.editFrame);
    EXPECT_EQ(wnd.GetSliderPos(IDC_SLIDER), c.editFrame);

    // One step: a second undo has nothing left to take back.
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_EQ(StoreState(), storeBefore);

    wnd.ScrollSlider(kElsewhere);
    EXPECT_TRUE(CtrlKey(VK_Y));
    EXPECT_EQ(Folder(), filesAfter);
    EXPECT_EQ(StoreState(), storeAfter);
    EXPECT_EQ(ShownFrameIndex(), c.editFrame);

    // Ctrl+Shift+Z redoes as well: undo once more and redo that way.
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_TRUE(CtrlKey(VK_Z, true));
    EXPECT_EQ(Folder(), filesAfter);
    EXPECT_EQ(StoreState(), storeAfter);
    EXPECT_EQ(static_cast<int>(app.Boxes().size()), boxes) << "undo and redo ask nothing";
}

INSTANTIATE_TEST_SUITE_P(
    UndoRedo, EachEdit,
    ::testing::Values(
        // A draw replaces label 1 of a five-column file: the file becomes six columns.
        EditCase{"Draw", 2, Nothing,
                 [](UndoRedo& t) {
                     DragFrame(t, {100, 150}, {180, 220});
                 },
                 2},
        EditCase{"Move", 2,
                 [](UndoRedo& t) {  // a click selects label 2 without moving it
                     const CPoint p = t.FrameToClient({180, 90});
                     t.wnd.LButtonDown(p);
                     t.wnd.LButtonUp(p);
                 },
                 [](UndoRedo& t) {
                     DragFrame(t, {180, 90}, {200, 100});
                 },
                 2},
        EditCase{"DeleteUnderPointer", 3,
                 [](UndoRedo& t) {
                     t.wnd.SetCursorPos(t.FrameToClient({180, 90}));
                 },
                 [](UndoRedo& t) { t.wnd.KeyDown(0x44); }, 3},
        EditCase{"DeleteFrame", 7, Nothing, [](UndoRedo& t) { t.wnd.KeyDown(0x45); }, 7},
        EditCase{"CopyToNext", 2, Nothing, [](UndoRedo& t) { t.wnd.KeyDown(0x43); }, 3},
        EditCase{"TrackingStep", 12,
                 [](UndoRedo& t) {
                     InstallScriptedTracker(t);
                     t.wnd.RButtonDown(t.FrameToClient({50, 60}));
                 },
                 [](UndoRedo& t) { t.wnd.KeyDown(0x54); }, 13},
        EditCase{"MenuDeletion", 2,
                 [](UndoRedo& t) {
                     t.wnd.RButtonDown(t.FrameToClient({50, 60}));
                     t.wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
                 },
                 [](UndoRedo& t) {
                     t.dlg.OnContextMenu({900, 700});
                 },
                 2},
        EditCase{"ClassChange", 2, [](UndoRedo& t) { t.wnd.KeyDown('2'); },
                 [](UndoRedo& t) { t.wnd.Click(IDC_RADIO_CLASS2); }, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(UndoRedo, UnwritableFolderTellsOnceAndKeepsEachFrameAsOnDisk) {
    ASSERT_FALSE(OpenPrepared().empty());
    wnd.ScrollSlider(2);
    wnd.RButtonDown(FrameToClient({50, 60}));
    wnd.SetMenuAnswer(ID_DELETE_LABEL_AFTER);
    const TreeSnapshot filesBefore = Folder();
    const std::string storeBefore = StoreState();
    dlg.OnContextMenu({900, 700});
    const TreeSnapshot filesAfter = Folder();
    const std::string storeAfter = StoreState();
    ASSERT_FALSE(fs::exists(m_folder / "4.txt"));

    // A file where the hidden folder of the atomic writes belongs blocks every write.
    const fs::path hidden = m_folder / ".tagwright-tmp";
    fs::remove_all(hidden);
    WriteFileBytes(hidden, "in the way");
    app.ClearBoxes();
    EXPECT_TRUE(CtrlKey(VK_Z));
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].text.substr(0, app.Boxes()[0].text.find('\n')), kNoAccess);
    EXPECT_EQ(Folder(), filesAfter);
    EXPECT_EQ(StoreState(), storeAfter);

    // Writable again: the same undo goes through.
    fs::remove(hidden);
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_EQ(StoreState(), storeBefore);

    // A redo while blocked could remove the files that only held label 1 (removal needs no
    // temporary) but cannot rewrite 3.txt: the step is all or nothing, so nothing moves.
    fs::remove_all(hidden);
    WriteFileBytes(hidden, "in the way");
    app.ClearBoxes();
    EXPECT_TRUE(CtrlKey(VK_Y));
    EXPECT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_EQ(StoreState(), storeBefore);

    fs::remove(hidden);
    EXPECT_TRUE(CtrlKey(VK_Y));
    EXPECT_EQ(Folder(), filesAfter);
    EXPECT_EQ(StoreState(), storeAfter);
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesBefore);
    EXPECT_EQ(StoreState(), storeBefore);
}

TEST_F(UndoRedo, KeysDoNothingWhileADrawOrCropIsPendingAndPlainZYAreNoCommands) {
    ASSERT_FALSE(OpenPrepared().empty());
    wnd.ScrollSlider(4);
    wnd.SetCursorPos(FrameToClient({50, 60}));
    wnd.KeyDown(0x44 /* D */);
    const TreeSnapshot filesAfterD = Folder();
    EXPECT_FALSE(wnd.KeyDown(VK_Z));
    EXPECT_FALSE(wnd.KeyDown(VK_Y));

    // The press took nothing out (label 1 was deleted), so only the pending draw stops it.
    wnd.LButtonDown(FrameToClient({100, 150}));
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesAfterD);
    wnd.LButtonUp(FrameToClient({100, 150}));  // too small: nothing drawn
    ASSERT_TRUE(wnd.Click(IDC_BTN_CROP));
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_EQ(Folder(), filesAfterD);
    DragFrame(*this, {10, 10}, {50, 50});
    EXPECT_TRUE(CtrlKey(VK_Z));
    EXPECT_TRUE(HasRoi(*this, 1, 4)) << "the D is undone once nothing is pending";
}

}  // namespace
