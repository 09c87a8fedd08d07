// The command line of tagwright-export.

#include "export/ExportOptions.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {

bool ParsePositive(const std::string& text, int& out) {
    if (text.empty() || text[0] == '-' || text[0] == '+') {
        return false;
    }
    errno = 0;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < 0 || v > INT_MAX) {
        return false;
    }
    out = static_cast<int>(v);
    return true;
}

bool ParseKindList(const std::string& text, std::array<bool, kBoxKinds>& out) {
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string name =
            text.substr(start, comma == std::string::npos ? comma : comma - start);
        bool known = false;
        for (int k = 0; k < kBoxKinds; ++k) {
            if (name == BoxKindName(static_cast<BoxKind>(k))) {
                out[k] = true;
                known = true;
            }
        }
        if (!known) {
            return false;
        }
        if (comma == std::string::npos) {
            return true;
        }
        start = comma + 1;
    }
}

// "train=0.8,val=0.2[,test=...]": names of letters, digits, '-' and '_' (they name folders and
// files), shares above 0.
bool ParseSplits(const std::string& text, std::vector<SplitShare>& out) {
    out.clear();
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? comma : comma - start);
        const size_t eq = part.find('=');
        if (eq == std::string::npos || eq == 0) {
            return false;
        }
        SplitShare s;
        s.name = part.substr(0, eq);
        for (const char c : s.name) {
            if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') {
                return false;
            }
        }
        const std::string value = part.substr(eq + 1);
        char* end = nullptr;
        errno = 0;
        s.share = std::strtod(value.c_str(), &end);
        if (value.empty() || errno != 0 || *end != '\0' || !(s.share > 0.0) || s.share > 1e6) {
            return false;
        }
        for (const SplitShare& other : out) {
            if (other.name == s.name) {
                return false;
            }
        }
        out.push_back(s);
        if (comma == std::string::npos) {
            // Trainers look for these two by name.
            const auto has = [&](const char* name) {
                return std::any_of(out.begin(), out.end(),
                                   [&](const SplitShare& x) { return x.name == name; });
            };
            return has("train") && has("val");
        }
        start = comma + 1;
    }
}

}  // namespace

const char* ExportUsage() {
    return "usage: tagwright-export --format coco|yolo|mot -o OUT [options] VIDEO...\n"
           "\n"
           "Exports the labels of each VIDEO (read from its label folder, the video path\n"
           "without its last four characters) with the frames they name.\n"
           "\n"
           "  -f, --format coco|yolo|mot  output format (required)\n"
           "  -o, --output OUT            output folder; created when missing, must be empty\n"
           "                              unless --force is given\n"
           "      --frames labelled|all   labelled frames only (default) or every frame\n"
           "      --every N               also every N-th frame (0, N, 2N, ...) as a negative;\n"
           "                              coco and yolo only\n"
           "      --image jpg|png         image files (default jpg)\n"
           "      --jpeg-quality Q        0..100 (default 95)\n"
           "      --crop                  crop images to the video's crop.txt and shift the boxes\n"
           "      --leave-out CLASSES     leave out boxes of these classes, comma-separated:\n"
           "                              polyp, skip (class Skip and label 30), removed\n"
           "  -j, --jobs N                videos exported at once (default: number of cores)\n"
           "      --root DIR              videos are known by their path relative to DIR (names,\n"
           "                              recorded paths, --group-by folder); default: absolute\n"
           "      --split NAME=SHARE,...  whole videos to splits, e.g. train=0.8,val=0.2,test=0.1\n"
           "      --seed N                another seed gives another split (default 0)\n"
           "      --group-by video|folder whole parent folders (one patient each) to one split\n"
           "      --force                 write into a non-empty OUT, replacing the named videos\n"
           "  -h, --help                  this text\n"
           "\n"
           "Exit status: 0 all exported, 1 some video, labelled frame or OUT failed, 2 bad\n"
           "command line, 130/143 interrupted (SIGINT/SIGTERM; OUT is marked incomplete).\n";
}

const char* FormatName(ExportFormat format) {
    switch (format) {
        case ExportFormat::kCoco:
            return "coco";
        case ExportFormat::kYolo:
            return "yolo";
        case ExportFormat::kMot:
            return "mot";
    }
    return "?";
}

const char* ImageExtension(ImageFormat image) {
    return image == ImageFormat::kPng ? "png" : "jpg";
}

const char* BoxKindName(BoxKind kind) {
    switch (kind) {
        case BoxKind::kPolyp:
            return "polyp";
        case BoxKind::kSkip:
            return "skip";
        case BoxKind::kRemoved:
            return "removed";
    }
    return "?";
}

bool TakeOption(const std::vector<std::string>& args, size_t& i,
                const std::vector<std::string>& withValue, std::string& arg, std::string& value,
                std::string& error) {
    arg = args[i];
    value.clear();
    // "--name=value" is the same as "--name value".
    bool inlineValue = false;
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
        value = arg.substr(eq + 1);
        arg = arg.substr(0, eq);
        inlineValue = true;
    }
    const bool takesValue = std::find(withValue.begin(), withValue.end(), arg) != withValue.end();
    if (inlineValue && !takesValue) {
        error = "option " + arg + " takes no value";
        return false;
    }
    if (takesValue && !inlineValue) {
        if (i + 1 >= args.size()) {
            error = arg + " needs a value";
            return false;
        }
        value = args[++i];
    }
    return true;
}

bool ParseFormatName(const std::string& text, ExportFormat& format, std::string& error) {
    for (const ExportFormat f : {ExportFormat::kCoco, ExportFormat::kYolo, ExportFormat::kMot}) {
        if (text == FormatName(f)) {
            format = f;
            return true;
        }
    }
    error = "unknown format '" + text + "' (coco, yolo or mot)";
    return false;
}

ParseOutcome ParseExportOptions(const std::vector<std::string>& args, ExportOptions& options,
                                std::string& error) {
    options = ExportOptions{};
    bool haveFormat = false;
    bool onlyVideos = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (onlyVideos || arg.empty() || arg[0] != '-' || arg == "-") {
            options.videos.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyVideos = true;
            continue;
        }
        std::string v;
        if (!TakeOption(args, i,
                        {"-f", "--format", "-o", "--output", "--frames", "--every", "--image",
                         "--jpeg-quality", "--leave-out", "-j", "--jobs", "--root", "--split",
                         "--seed", "--group-by"},
                        arg, v, error)) {
            return ParseOutcome::kUsageError;
        }
        if (arg == "-h" || arg == "--help") {
            return ParseOutcome::kHelp;
        } else if (arg == "-f" || arg == "--format") {
            if (!ParseFormatName(v, options.format, error)) {
                return ParseOutcome::kUsageError;
            }
            haveFormat = true;
        } else if (arg == "-o" || arg == "--output") {
            if (v.empty()) {
                error = "the output folder is empty";
                return ParseOutcome::kUsageError;
            }
            options.out = v;
        } else if (arg == "--frames") {
            if (v != "all" && v != "labelled" && v != "labeled") {
                error = "--frames takes labelled or all, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
            options.allFrames = v == "all";
        } else if (arg == "--every") {
            if (!ParsePositive(v, options.every) || options.every < 1) {
                error = "--every takes a whole number of frames of 1 or more, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
        } else if (arg == "--image") {
            if (v != "jpg" && v != "png") {
                error = "--image takes jpg or png, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
            options.image = v == "png" ? ImageFormat::kPng : ImageFormat::kJpg;
        } else if (arg == "--jpeg-quality") {
            if (!ParsePositive(v, options.jpegQuality) || options.jpegQuality > 100) {
                error = "--jpeg-quality takes 0 to 100, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
        } else if (arg == "--crop") {
            options.crop = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--leave-out") {
            if (!ParseKindList(v, options.leaveOut)) {
                error =
                    "--leave-out takes polyp, skip and removed, comma-separated, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
        } else if (arg == "--root") {
            if (v.empty()) {
                error = "--root needs a folder";
                return ParseOutcome::kUsageError;
            }
            options.root = v;
        } else if (arg == "--split") {
            if (!ParseSplits(v, options.splits)) {
                error =
                    "--split takes NAME=SHARE for train, val and any others, e.g. "
                    "train=0.8,val=0.2,test=0.1, not '" +
                    v + "'";
                return ParseOutcome::kUsageError;
            }
        } else if (arg == "--seed") {
            char* end = nullptr;
            errno = 0;
            options.seed = std::strtoull(v.c_str(), &end, 10);
            if (v.empty() || v[0] == '-' || errno != 0 || *end != '\0') {
                error = "--seed takes a whole number, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
        } else if (arg == "--group-by") {
            if (v != "video" && v != "folder") {
                error = "--group-by takes video or folder, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
            options.groupByFolder = v == "folder";
        } else if (arg == "-j" || arg == "--jobs") {
            if (!ParsePositive(v, options.jobs) || options.jobs < 1) {
                error = "--jobs takes a number of 1 or more, not '" + v + "'";
                return ParseOutcome::kUsageError;
            }
        } else {
            error = "unknown option " + arg;
            return ParseOutcome::kUsageError;
        }
    }
    if (!haveFormat) {
        error = "no --format given";
        return ParseOutcome::kUsageError;
    }
    if (options.out.empty()) {
        error = "no output folder given (-o OUT)";
        return ParseOutcome::kUsageError;
    }
    if (options.videos.empty()) {
        error = "no video given";
        return ParseOutcome::kUsageError;
    }
    if (options.splits.empty() && (options.groupByFolder || options.seed != 0)) {
        error = "--seed and --group-by choose a split: give --split as well";
        return ParseOutcome::kUsageError;
    }
    if (options.format == ExportFormat::kMot && options.every > 0) {
        // A MOT sequence holds every frame of its range; thinning it would break the frame
        // numbering every reader of the format relies on.
        error = "--every does not apply to mot (a sequence holds every frame of its range)";
        return ParseOutcome::kUsageError;
    }
    return ParseOutcome::kRun;
}
