#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "export/ExportOptions.h"

struct VideoExport;

// What ties a dataset to its videos, shared by tagwright-export and tagwright-import: the names
// videos get, the split they go to, and the record kept for each video inside OUT.

// The key a video is known by: its path relative to `root` when one is given (false when the
// video lies outside it), else its absolute path; '/'-separated, the file name's bytes as they
// are.
bool DatasetKey(const std::filesystem::path& video, const std::filesystem::path& root,
                std::string& key);

// The name of a video's files in a dataset: "<stem>-<8 hex digits of a hash of the key>". It
// depends on the video's own key only, never on the other videos of a run or their order, so a
// new case folder shifts no name and two "video.mp4" in different folders never meet. Bytes of
// the stem that are not UTF-8 appear as "%XX", so the name is valid UTF-8 in every file.
std::string DatasetName(const std::filesystem::path& video, const std::string& key);

bool IsUtf8(std::string_view text);
// Bytes that are not UTF-8 (and '%') as "%XX"; valid text unchanged otherwise.
std::string EscapeNonUtf8(std::string_view text);
std::string HexBytes(std::string_view bytes);
bool UnhexBytes(std::string_view hex, std::string& bytes);

// The split of a video: a hash of the seed and the group (the key, or its folder) picks it from
// the fractions, so a video keeps its split whatever else is exported with it.
std::string SplitOf(const std::string& key, const ExportOptions& options);

// The hidden folder of OUT holding one record per exported video, "<name>.json": its path,
// split, crop, frames and boxes with their label numbers and classes, and every file written for
// it. The files that list the whole dataset are rebuilt from these records at the end of every
// run, so re-exporting some videos keeps the others listed.
inline constexpr const char* kRecordFolder = ".tagwright";
// Present while a run changes OUT, and left by an interrupted one: the listing files are gone
// then, so no reader takes the remnant for a dataset.
inline constexpr const char* kIncompleteMarker = "EXPORT_INCOMPLETE.txt";

std::string VideoRecordJson(const VideoExport& video, const ExportOptions& options);
bool ReadVideoRecord(const std::filesystem::path& file, VideoExport& video);
// Every record in OUT, ordered by name.
std::vector<VideoExport> ReadVideoRecords(const std::filesystem::path& out);
