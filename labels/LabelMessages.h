#pragma once

#include <string>

// Texts the label store shows to the operator, and the fixed names inside a label folder.

inline constexpr const char* kMsgNoAccess =
    "Can't access working directory. Check the permissions!";
inline constexpr const char* kMsgBadLabel = "label number가 비정상적입니다. 문의 주세요.";
inline constexpr const char* kMsgNoSuchLabel = "해당 Label이 존재 하지 않습니다.";
inline constexpr const char* kMsgCropWritten = "crop 파일 생성 완료";

inline constexpr const char* kCropFileName = "crop.txt";
inline constexpr const char* kLoadingTimeLogName = "loading_time_log.txt";
inline constexpr const char* kReportFileName = "labeling_report.txt";
// Hidden sub-folder holding a frame file while it is being replaced; the loader skips folders,
// so a temporary left by a crash is never read as a frame.
inline constexpr const char* kTempFolderName = ".tagwright-tmp";

// A file operation on the label folder failed. The folder follows on a line of its own.
inline constexpr const char* kMsgFolderPrefix = "Label folder: ";
inline constexpr const char* kMsgDiskFull =
    "The disk is full: the change was not saved. Free some space and try again!";
inline constexpr const char* kMsgDiskError =
    "The disk reported a read or write error: the change was not saved. Check the disk!";
inline constexpr const char* kMsgWriteFailed =
    "Can't write the label files: the change was not saved";
// A deletion whose file could not be moved aside for undo: the file, and so the labels, stay.
inline constexpr const char* kMsgCantPark =
    "Can't move the label file aside for undo: it was left in place and the labels were not "
    "deleted.";
// Someone else writes this video's labels. %s: who, where and since when.
inline constexpr const char* kMsgReadOnlyOpen =
    "These labels are being edited in another window: %s.\nThe video is open read-only here: "
    "you can look, but no change will be saved.";
inline constexpr const char* kMsgReadOnlyEdit =
    "Read-only: these labels are being edited in another window (%s). The change was not saved.";
inline constexpr const char* kMsgTakeOverStale =
    "These labels were locked from another computer: %s.\nIt has not saved anything for %s. "
    "If that window is surely closed, take the labels over?\n(Yes: edit here. No: open "
    "read-only.)";
inline constexpr const char* kMsgLockLost =
    "Another window has taken these labels over (%s). The video is read-only here now: the "
    "change was not saved.";
// At open, after the previous run stopped in the middle of a change of several files.
inline constexpr const char* kMsgStepCompleted =
    "The last change to these labels was cut off when the program stopped (%d files). It has "
    "now been completed.";
inline constexpr const char* kMsgStepRolledBack =
    "The last change to these labels was cut off when the program stopped before any file "
    "changed. It has been rolled back: the labels are as they were before it.";
// A change of several files whose renames failed twice after it was committed.
inline constexpr const char* kMsgBatchUnfinished =
    "The change could not be finished on the disk. It will be finished when the video is opened "
    "again; until then the video is read-only here.";
inline constexpr const char* kMsgRecoveryFailed =
    "A change cut off when the program stopped could not be finished; its files were kept in "
    "the folder \".tagwright-tmp\". The video is open read-only.";

// The lock file and the folder of each writing process, inside the hidden folder.
inline constexpr const char* kLockFileName = "lock";
inline constexpr const char* kJournalFileName = "journal";

// A message with its one "%s" filled in.
inline std::string FormatMessage(const char* pattern, const std::string& value) {
    std::string out = pattern;
    const size_t at = out.find("%s");
    if (at != std::string::npos) {
        out.replace(at, 2, value);
    }
    return out;
}
