#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "labels/LabelManager.h"
#include "support/TempDir.h"

// A store wired to recording sinks, with a video path inside a fresh temporary folder.
class LabelStoreTest : public ::testing::Test {
  protected:
    LabelStoreTest() {
        store.SetMessageSink([this](const std::string& text) { messages.push_back(text); });
        store.SetGoButtonSink([this](int label, bool enabled) {
            goButtons[label] = enabled;
            ++goButtonCalls;
        });
    }

    std::filesystem::path VideoPath() const { return dir / "case7.mp4"; }
    std::filesystem::path LabelFolder() const { return dir / "case7"; }
    std::filesystem::path FrameFile(int frame) const {
        return LabelFolder() / (std::to_string(frame) + ".txt");
    }

    // Opens the video once so that the label folder exists and is the store's base.
    void OpenFresh() {
        ASSERT_FALSE(store.OpenVideo(VideoPath()));
        ASSERT_TRUE(std::filesystem::is_directory(LabelFolder()));
    }

    // Writes a file into the label folder (created when missing) and reopens the video.
    void WriteLabelFile(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(LabelFolder());
        WriteFileBytes(LabelFolder() / name, bytes);
    }

    // Files under the hidden folder other than the lock: temporaries a write left behind.
    std::vector<std::string> StrayTemporaries() const {
        std::vector<std::string> names;
        const std::filesystem::path hidden = LabelFolder() / ".tagwright-tmp";
        std::error_code ec;
        for (std::filesystem::recursive_directory_iterator it(hidden, ec), end; !ec && it != end;
             it.increment(ec)) {
            if (it->is_regular_file() && it->path().filename() != "lock") {
                names.push_back(it->path().lexically_relative(hidden).string());
            }
        }
        return names;
    }

    static ROI MakeRoi(int frame, int label, int nClass, CRect rect) {
        ROI roi;
        roi.nFrame = frame;
        roi.nLabel = label;
        roi.nClass = nClass;
        roi.rect = rect;
        return roi;
    }

    std::vector<ROI> Frame(int frame) const {
        std::vector<ROI> list;
        store.GetFrameROIs(frame, list);
        return list;
    }

    // Messages whose first line is `text` (a file error names the folder on the next line).
    int CountOf(const std::string& text) const {
        int n = 0;
        for (const auto& m : messages) {
            n += m.substr(0, m.find('\n')) == text ? 1 : 0;
        }
        return n;
    }

    TempDir dir;
    CLabelManager store;
    std::vector<std::string> messages;
    std::map<int, bool> goButtons;
    int goButtonCalls = 0;
};

inline const char* const kNoAccess = "Can't access working directory. Check the permissions!";
inline const char* const kBadLabel = "label number가 비정상적입니다. 문의 주세요.";
inline const char* const kNoSuchLabel = "해당 Label이 존재 하지 않습니다.";
