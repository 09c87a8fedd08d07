#pragma once

#include <array>
#include <filesystem>
#include <string>
#include <vector>

// What one run of tagwright-export is asked to do, as read from its command line.

enum class ExportFormat { kCoco, kYolo, kMot };
enum class ImageFormat { kJpg, kPng };

// What a stored record stands for in the export. The SKIP label (30) counts as class Skip
// whatever class it carries: both mark a region the detector must neither learn nor be judged on.
enum class BoxKind { kPolyp = 0, kSkip = 1, kRemoved = 2 };
inline constexpr int kBoxKinds = 3;

// One part of --split: a name ("train") and its share of the videos.
struct SplitShare {
    std::string name;
    double share = 0.0;
};

struct ExportOptions {
    ExportFormat format = ExportFormat::kCoco;
    std::filesystem::path out;
    std::vector<std::filesystem::path> videos;
    // Videos are known by their path relative to this folder (empty: by their absolute path).
    std::filesystem::path root;
    // Empty: no split, every video in one set.
    std::vector<SplitShare> splits;
    unsigned long long seed = 0;
    bool groupByFolder = false;  // whole parent folders (one patient each) go to one split
    // Negatives: every frame (allFrames) or every N-th frame (every > 0) besides the labelled ones.
    bool allFrames = false;
    int every = 0;
    ImageFormat image = ImageFormat::kJpg;
    int jpegQuality = 95;
    bool crop = false;
    bool force = false;
    int jobs = 0;  // 0: one per core
    // Boxes of these kinds are left out as if they had never been drawn.
    std::array<bool, kBoxKinds> leaveOut{};
};

enum class ParseOutcome { kRun, kHelp, kUsageError };

// Reads the arguments after the program name. On kUsageError `error` says what is wrong.
ParseOutcome ParseExportOptions(const std::vector<std::string>& args, ExportOptions& options,
                                std::string& error);

const char* ExportUsage();

// Shared by the command lines of tagwright-export and tagwright-import.
// The option at args[i] (which starts with '-'): its name in `arg` and, for the options listed
// in `withValue`, its value, from "--name=value" or the next argument (advancing i). False with
// `error` when a value is missing or given to an option that takes none.
bool TakeOption(const std::vector<std::string>& args, size_t& i,
                const std::vector<std::string>& withValue, std::string& arg, std::string& value,
                std::string& error);
// "coco", "yolo" or "mot"; false with `error` for anything else.
bool ParseFormatName(const std::string& text, ExportFormat& format, std::string& error);
const char* FormatName(ExportFormat format);
// "jpg" or "png", without the dot.
const char* ImageExtension(ImageFormat image);
// "polyp", "skip", "removed".
const char* BoxKindName(BoxKind kind);
