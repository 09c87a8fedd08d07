#pragma once

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
