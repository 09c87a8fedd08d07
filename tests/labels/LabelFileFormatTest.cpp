#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "labels/LabelFileFormat.h"

namespace {

struct IntCase {
    const char* field;
    bool ok;
    int value;
};

TEST(LabelFileFormat, FieldsConvertLikeStrtolWithinThirtyTwoBits) {
    const IntCase cases[] = {
        {"0", true, 0},
        {"0\r", true, 0},  // the CR of a CR LF line end belongs to the last field
        {"  42", true, 42},
        {"\t-7", true, -7},
        {"+15", true, 15},
        {"12abc", true, 12},
        {"2147483647", true, 2147483647},
        {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},
        {"-2147483649", false, 0},
        {"99999999999999999999999", false, 0},
        {"", false, 0},
        {"\r", false, 0},
        {"abc", false, 0},
        {"-", false, 0},
        {" + 5", false, 0},
    };
    for (const IntCase& c : cases) {
        int value = 12345;
        EXPECT_EQ(ParseLabelInt(c.field, value), c.ok) << '"' << c.field << '"';
        EXPECT_EQ(value, c.ok ? c.value : 12345) << '"' << c.field << '"';
    }
}

struct NameCase {
    const char* name;
    bool ok;
    int frame;
};

TEST(LabelFileFormat, FrameNumberComesFromTheNameWithoutItsLastFourCharacters) {
    const NameCase cases[] = {
        {"120.txt", true, 120},
        {"007.txt", true, 7},
        {"notes.txt", true, 0},
        {"Crop.txt", true, 0},
        {"5.dat", true, 5},
        {"12ab.txt", true, 12},
        {"-3.txt", false, 0},
        {"x", true, 0},
        {"", true, 0},
        {"2147483647.txt", true, 2147483647},
        {"2147483648.txt", false, 0},
        {"99999999999999.txt", false, 0},
        {"7.txt.tmp", true, 7},
        {"3가나.txt", true, 3},  // the last four characters, not bytes
    };
    for (const NameCase& c : cases) {
        int frame = -99;
        EXPECT_EQ(FrameFromFileName(c.name, frame), c.ok) << c.name;
        if (c.ok) {
            EXPECT_EQ(frame, c.frame) << c.name;
        }
    }
}

TEST(LabelFileFormat, DropLastCharsCountsCharactersNotBytes) {
    EXPECT_EQ(DropLastChars("/data/case7.mp4", 4), "/data/case7");
    EXPECT_EQ(DropLastChars("/data/영상.mp4", 4), "/data/영상");
    EXPECT_EQ(DropLastChars("/data/clip.mpeg", 4), "/data/clip.");
    EXPECT_EQ(DropLastChars("/data/내시경", 4), "/data");
    EXPECT_EQ(DropLastChars("abc", 4), "");
    EXPECT_EQ(DropLastChars("", 4), "");
}

std::vector<ROI> Parse(const std::string& text, int frame = 3) {
    std::vector<ROI> out;
    ParseLabelFileText(text, frame, out);
    return out;
}

TEST(LabelFileFormat, SixColumnLinesGiveFrameLabelClassAndRect) {
    auto rois = Parse("10,20,110,220,2,0\r\n0,0,50,50,5,2\r\n", 9);
    ASSERT_EQ(rois.size(), 2u);
    EXPECT_EQ(rois[0].nFrame, 9);
    EXPECT_EQ(rois[0].rect, (CRect{10, 20, 110, 220}));
    EXPECT_EQ(rois[0].nLabel, 2);
    EXPECT_EQ(rois[0].nClass, 0);
    EXPECT_EQ(rois[1].rect, (CRect{0, 0, 50, 50}));
    EXPECT_EQ(rois[1].nLabel, 5);
    EXPECT_EQ(rois[1].nClass, 2);
    EXPECT_EQ(rois[1].bSelected, 0);
}

struct ParseCase {
    const char* name;
    std::string text;
    std::vector<std::vector<int>> expect;  // label, class, left per record
};

TEST(LabelFileFormat, LinesFormsAndDamage) {
    const ParseCase cases[] = {
        {"five-column file gets class 0", "1,2,3,4,9\r\n", {{9, 0, 1}}},
        {"five-column first line: sixth piece of a later line is ignored",
         "1,2,3,4,9\r\n5,6,7,8,4,2\r\n",
         {{9, 0, 1}, {4, 0, 5}}},
        {"five-piece line in a six-column file gets class 0",
         "1,2,3,4,9,1\r\n5,6,7,8,4\r\n",
         {{9, 1, 1}, {4, 0, 5}}},
        {"an empty line ends the file",
         "1,1,2,2,1,0\r\n2,2,3,3,2,1\r\n\r\n4,4,5,5,4,0\r\n",
         {{1, 0, 1}, {2, 1, 2}}},
        {"a short line ends the file", "1,1,2,2,1,0\r\n1,2,3\r\n4,4,5,5,4,0\r\n", {{1, 0, 1}}},
        {"a short last line", "1,1,2,2,1,0\r\n1,2", {{1, 0, 1}}},
        {"last line without line end is read",
         "1,1,2,2,1,0\r\n7,7,8,8,3,2",
         {{1, 0, 1}, {3, 2, 7}}},
        {"LF-only line ends", "1,1,2,2,1,1\n2,2,3,3,2,2\n", {{1, 1, 1}, {2, 2, 2}}},
        {"field without digits skips only that line",
         "1,1,2,2,1,0\r\nx,2,3,4,5,0\r\n3,3,4,4,3,0\r\n",
         {{1, 0, 1}, {3, 0, 3}}},
        {"empty field skips the line", "1,,2,2,1,0\r\n3,3,4,4,3,0\r\n", {{3, 0, 3}}},
        {"value beyond 32 bits skips the line",
         "1,1,2,2,4294967297,0\r\n3,3,4,4,3,0\r\n",
         {{3, 0, 3}}},
        {"class without digits skips the line",
         "9,9,9,9,9,1\r\n1,1,2,2,1,x\r\n3,3,4,4,3,1\r\n",
         {{9, 1, 9}, {3, 1, 3}}},
        {"a comma after five pieces leaves a five-piece line",
         "9,9,9,9,9,1\r\n1,1,2,2,1,\r\n",
         {{9, 1, 9}, {1, 0, 1}}},
        {"first line with a trailing comma after five pieces makes a five-column file",
         "1,1,2,2,1,\r\n3,3,4,4,3,2\r\n",
         {{1, 0, 1}, {3, 0, 3}}},
        {"pieces after the sixth are ignored", "1,1,2,2,6,1,junk,more\r\n", {{6, 1, 1}}},
        {"trailing comma adds no piece", "1,2,3,4,\r\n5,5,6,6,5,0\r\n", {}},
        {"spaces and signs", " 1, -2,+3,4, 7, 1\r\n", {{7, 1, 1}}},
        {"empty file", "", {}},
        {"only a line end", "\r\n", {}},
        {"binary junk", std::string("\0\xff\x01,\x80\n\0\0", 8), {}},
    };
    for (const ParseCase& c : cases) {
        auto rois = Parse(c.text);
        ASSERT_EQ(rois.size(), c.expect.size()) << c.name;
        for (size_t i = 0; i < rois.size(); ++i) {
            EXPECT_EQ(rois[i].nLabel, c.expect[i][0]) << c.name << " #" << i;
            EXPECT_EQ(rois[i].nClass, c.expect[i][1]) << c.name << " #" << i;
            EXPECT_EQ(rois[i].rect.left, c.expect[i][2]) << c.name << " #" << i;
        }
    }
}

TEST(LabelFileFormat, HugeLinesParseWithoutTrouble) {
    std::string line(8u << 20, '7');  // an eight-million-digit field: not a 32-bit number
    line += ",1,2,3,4,0\r\n1,1,2,2,5,0\r\n";
    auto rois = Parse(line);
    ASSERT_EQ(rois.size(), 1u);
    EXPECT_EQ(rois[0].nLabel, 5);

    std::string commas(1u << 20, ',');  // a million empty pieces: a damaged line, skipped
    auto none = Parse(commas + "\r\n1,1,2,2,5,0\r\n");
    ASSERT_EQ(none.size(), 1u);
}

TEST(LabelFileFormat, LinesAreWrittenWithSixColumnsAndCrLf) {
    std::string out;
    ROI a;
    a.rect = {10, 20, 110, 220};
    a.nLabel = 2;
    a.nClass = 0;
    ROI b;
    b.rect = {-5, 0, 2147483647, -2147483647 - 1};
    b.nLabel = -1;
    b.nClass = 2;
    b.bSelected = 1;  // never written
    AppendLabelLine(out, a);
    AppendLabelLine(out, b);
    EXPECT_EQ(out, "10,20,110,220,2,0\r\n-5,0,2147483647,-2147483648,-1,2\r\n");
}

TEST(LabelFileFormat, Utf8DecodesToUtf16) {
    EXPECT_EQ(Utf8ToUtf16("ID \t"), u"ID \t");
    EXPECT_EQ(Utf8ToUtf16("내시경 폴립"), u"내시경 폴립");
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");  // surrogate pair
    EXPECT_EQ(Utf8ToUtf16("a\xFFz"), u"a\uFFFDz");
    EXPECT_EQ(Utf8ToUtf16("a\xE2\x82"), u"a\uFFFD");      // truncated sequence
    EXPECT_EQ(Utf8ToUtf16("\xC0\xAF"), u"\uFFFD\uFFFD");  // overlong '/'
    EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD");    // encoded surrogate
}

TEST(LabelFileFormat, ReportBucketsGiveTheDocumentedOrderForLabelsOneToThirty) {
    // Bucket by bucket, labels 1..30 (order within a bucket depends on insertion).
    const std::vector<std::vector<int>> expected = {
        {17},    {14},    {11, 28}, {8, 25}, {5, 22},  {2, 19}, {16},    {13, 30}, {10, 27},
        {7, 24}, {4, 21}, {1, 18},  {15},    {12, 29}, {9, 26}, {6, 23}, {3, 20}};
    ASSERT_EQ(expected.size(), 17u);
    for (unsigned bucket = 0; bucket < expected.size(); ++bucket) {
        for (int label : expected[bucket]) {
            EXPECT_EQ(ReportBucketOfLabel(label), bucket) << "label " << label;
        }
    }
    // Negative and large labels (damaged files) hash without overflow.
    EXPECT_LT(ReportBucketOfLabel(-1), 17u);
    EXPECT_LT(ReportBucketOfLabel(-2147483647 - 1), 17u);
    EXPECT_LT(ReportBucketOfLabel(2147483647), 17u);
    EXPECT_EQ(ReportBucketOfLabel(-1), static_cast<unsigned>(2147483647 - 16807) % 17u);
}

}  // namespace
