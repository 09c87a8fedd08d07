#include <gtest/gtest.h>

#include "LabelTestSupport.h"

namespace fs = std::filesystem;

namespace {

const char* const kCropDone = "crop 파일 생성 완료";

// Expected report bytes, written independently of the store's own encoder.
std::string Utf16Le(const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

const std::u16string kHeader = u"ID \t Polyp \t ImageNo \t Range\t Class\t Comment\n";

class ReportTest : public LabelStoreTest {
  protected:
    void SetUp() override { OpenFresh(); }

    void Put(int frame, int label, int nClass = 0) {
        store.SetCurLabel(label);
        store.AddROI(frame, CRect{1, 1, 5, 5}, nClass, 0x11);
    }

    fs::path ReportPath() const { return dir / "labeling_report.txt"; }

    // Labels of the rows written, in order.
    std::vector<int> RowLabels() const {
        const std::string bytes = ReadFileBytes(ReportPath());
        std::vector<int> labels;
        std::string line;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            const char16_t unit = static_cast<unsigned char>(bytes[i]) |
                                  (static_cast<unsigned char>(bytes[i + 1]) << 8);
            if (unit == u'\n') {
                const size_t tab = line.find('\t');
                if (line.rfind("ID ", 0) != 0 && tab != std::string::npos) {
                    labels.push_back(std::stoi(line.substr(tab + 2)));
                }
                line.clear();
            } else {
                line.push_back(static_cast<char>(unit < 0x80 ? unit : '?'));
            }
        }
        return labels;
    }
};

TEST_F(ReportTest, CropFileHoldsTheRectangleAsDraggedWithCrLf) {
    EXPECT_EQ(store.WriteCropFile(CRect{192, 96, 576, 480}), 1);
    EXPECT_EQ(ReadFileBytes(LabelFolder() / "crop.txt"), "192,96,576,480\r\n");
    EXPECT_EQ(messages, std::vector<std::string>{kCropDone});
    // Dragged up and to the left: not normalised; replaces the previous crop.
    EXPECT_EQ(store.WriteCropFile(CRect{300, 250, 100, -50}), 1);
    EXPECT_EQ(ReadFileBytes(LabelFolder() / "crop.txt"), "300,250,100,-50\r\n");
    EXPECT_EQ(CountOf(kCropDone), 2);
    // And the loader never takes it for a frame.
    store.OpenVideo(VideoPath());
    EXPECT_EQ(store.GetCount(), 0);
}

TEST_F(ReportTest, CropThatCannotBeWrittenTellsAndFails) {
    fs::create_directories(LabelFolder() / "crop.txt" / "x");
    EXPECT_EQ(store.WriteCropFile(CRect{1, 2, 3, 4}), -1);
    EXPECT_EQ(messages.size(), 1u);
    EXPECT_EQ(CountOf(kNoAccess), 1);
    EXPECT_TRUE(fs::is_directory(LabelFolder() / "crop.txt"));
}

TEST_F(ReportTest, RowsCarryIdAndCommentOnlyOnTheFirstRowInBucketOrder) {
    Put(4, 17, 1);
    Put(9, 17, 0);  // the class of the first record met wins
    Put(2, 1, 0);
    Put(0, 18, 2);
    ASSERT_TRUE(store.WriteReport("코멘트 comment"));
    const std::u16string expected = kHeader +
                                    u"case7.mp4 \t 17 \t 4 \t 4~9 \t 1 \t 코멘트 comment\n"
                                    u" \t 1 \t 2 \t 2~2 \t 0 \t \n"
                                    u" \t 18 \t 0 \t 0~0 \t 2 \t \n";
    EXPECT_EQ(ReadFileBytes(ReportPath()), Utf16Le(expected));
    EXPECT_FALSE(fs::exists(LabelFolder() / "labeling_report.txt"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(ReportTest, HeaderIsWrittenOnceOverTwoRuns) {
    Put(3, 2, 1);
    ASSERT_TRUE(store.WriteReport("first"));
    Put(8, 2, 1);
    ASSERT_TRUE(store.WriteReport("second"));
    const std::u16string expected = kHeader + u"case7.mp4 \t 2 \t 3 \t 3~3 \t 1 \t first\n" +
                                    u"case7.mp4 \t 2 \t 3 \t 3~8 \t 1 \t second\n";
    EXPECT_EQ(ReadFileBytes(ReportPath()), Utf16Le(expected));
}

TEST_F(ReportTest, LabelsSharingABucketComeLaterMetFirst) {
    const struct {
        const char* name;
        int frameOf1, frameOf18;
        std::vector<int> rows;
    } cases[] = {
        {"18 met first", 5, 2, {1, 18}},
        {"1 met first", 2, 5, {18, 1}},
        {"same frame: label order", 3, 3, {18, 1}},
    };
    for (const auto& c : cases) {
        store.ResetStore();
        fs::remove(ReportPath());
        Put(c.frameOf1, 1);
        Put(c.frameOf18, 18);
        ASSERT_TRUE(store.WriteReport(""));
        EXPECT_EQ(RowLabels(), c.rows) << c.name;
    }
}

TEST_F(ReportTest, SeventeenAndFourteenLeadAndEveryLabelGetsOneRow) {
    for (int label = 30; label >= 1; --label) {
        Put(100 - label, label);
        Put(200 + label, label);
    }
    ASSERT_TRUE(store.WriteReport("c"));
    // Within a shared bucket the label met later in the pass (here the smaller one, which sits
    // on a later frame) comes first.
    const std::vector<int> expected = {17, 14, 11, 28, 8, 25, 5,  22, 2,  19, 16, 13, 30, 10, 27,
                                       7,  24, 4,  21, 1, 18, 15, 12, 29, 9,  26, 6,  23, 3,  20};
    EXPECT_EQ(RowLabels(), expected);
}

TEST_F(ReportTest, EmptyStoreWritesOnlyTheHeaderOnce) {
    ASSERT_TRUE(store.WriteReport("nothing"));
    ASSERT_TRUE(store.WriteReport("nothing"));
    EXPECT_EQ(ReadFileBytes(ReportPath()), Utf16Le(kHeader));
}

TEST_F(ReportTest, KoreanVideoNameAndCommentAreUtf16LittleEndian) {
    const fs::path video = dir / "대장 내시경.mp4";
    ASSERT_FALSE(store.OpenVideo(video));
    Put(0, 30, 1);
    ASSERT_TRUE(store.WriteReport("용종 확인 😀"));
    const std::u16string expected =
        kHeader + u"대장 내시경.mp4 \t 30 \t 0 \t 0~0 \t 1 \t 용종 확인 😀\n";
    const std::string bytes = ReadFileBytes(ReportPath());
    EXPECT_EQ(bytes, Utf16Le(expected));
    // No byte-order mark: the file starts with 'I', 0.
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 'I');
    EXPECT_EQ(bytes[1], '\0');
}

TEST_F(ReportTest, ReportThatCannotBeOpenedReturnsFalseSilently) {
    fs::create_directories(ReportPath());
    Put(0, 1);
    EXPECT_FALSE(store.WriteReport("x"));
    EXPECT_TRUE(messages.empty());
}

}  // namespace
