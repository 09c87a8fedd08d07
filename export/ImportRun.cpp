// tagwright-import: boxes of a COCO, YOLO or MOT dataset back into the label folders of their
// videos, mapped with the export's table read backwards.
//
// Reading: every video the dataset holds becomes a Source (its recorded path and name, its crop,
// its boxes by video frame). Each VIDEO on the command line is matched to one Source, its boxes
// become records (crop offset undone, class and SKIP mapped back, track ids made label numbers),
// and the records are written as the editor's per-frame files.

#include "export/ImportRun.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <map>
#include <set>
#include <system_error>

#include "export/Dataset.h"
#include "export/ImportSources.h"
#include "export/OutputFiles.h"
#include "labels/FolderLock.h"
#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"
#include "labels/ROI.h"
#include "video/FrameDecoder.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tagwright-import";
constexpr int kLastTrackLabel = kSkipLabel - 1;

struct ImportOptions {
    ExportFormat format = ExportFormat::kCoco;
    fs::path in;
    std::vector<fs::path> videos;
    fs::path root;
    bool haveMinScore = false;
    double minScore = 0.0;
    bool force = false;
};

const char* Usage() {
    return "usage: tagwright-import --format coco|yolo|mot [options] IN VIDEO...\n"
           "\n"
           "Writes the boxes that the dataset IN holds for each VIDEO into the video's label\n"
           "folder (the video path without its last four characters), one file per frame as\n"
           "the editor writes them: an earlier export, another tool's labels or a detector's\n"
           "output to correct in the editor.\n"
           "\n"
           "  -f, --format coco|yolo|mot  the format of IN (required); IN is the dataset folder\n"
           "                              (coco: or one annotation .json file)\n"
           "      --root DIR              videos are known by their path relative to DIR, as\n"
           "                              tagwright-export --root recorded them\n"
           "      --min-score S           only boxes scored S or more (a detector's \"score\",\n"
           "                              YOLO's sixth column, MOT's seventh); unscored boxes "
           "stay\n"
           "      --force                 replace label files the folder already holds (one at a\n"
           "                              time, atomically; each one is named)\n"
           "  -h, --help                  this text\n"
           "\n"
           "Track ids 1 to 30 stay label numbers; when any id lies outside, ids in the order\n"
           "they first appear take the lowest number 1 to 29 that no overlapping track holds.\n"
           "Exit status: 0 all imported, 1 some video not imported, 2 bad command line.\n";
}

ParseOutcome ParseImportOptions(const std::vector<std::string>& args, ImportOptions& o,
                                std::string& error) {
    bool haveFormat = false;
    std::vector<std::string> positional;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        if (arg.empty() || arg[0] != '-' || arg == "-") {
            positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            positional.insert(positional.end(), args.begin() + static_cast<long>(i) + 1,
                              args.end());
            break;
        }
        std::string value;
        if (!TakeOption(args, i, {"-f", "--format", "--root", "--min-score"}, arg, value, error)) {
            return ParseOutcome::kUsageError;
        }
        if (arg == "-h" || arg == "--help") {
            return ParseOutcome::kHelp;
        } else if (arg == "-f" || arg == "--format") {
            if (!ParseFormatName(value, o.format, error)) {
                return ParseOutcome::kUsageError;
            }
            haveFormat = true;
        } else if (arg == "--root") {
            o.root = value;
        } else if (arg == "--min-score") {
            char* end = nullptr;
            errno = 0;
            o.minScore = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || errno != 0 || !std::isfinite(o.minScore)) {
                error = "--min-score takes a number, not '" + value + "'";
                return ParseOutcome::kUsageError;
            }
            o.haveMinScore = true;
        } else if (arg == "--force") {
            o.force = true;
        } else {
            error = "unknown option " + arg;
            return ParseOutcome::kUsageError;
        }
    }
    if (!haveFormat) {
        error = "no --format given";
        return ParseOutcome::kUsageError;
    }
    if (positional.size() < 2) {
        error = positional.empty() ? "no dataset given (IN)" : "no video given";
        return ParseOutcome::kUsageError;
    }
    o.in = positional.front();
    o.videos.assign(positional.begin() + 1, positional.end());
    return ParseOutcome::kRun;
}

// --- boxes to records ---

struct Tally {
    long long boxes = 0;
    long long belowScore = 0;
    long long noArea = 0;
    long long noLabel = 0;    // more tracks at once than label numbers
    long long duplicate = 0;  // a second box of one label on one frame
};

// Track ids to label numbers. Ids 1..30 are label numbers already (our own exports); when any id
// lies outside, ids in the order they first appear (then by id) take the lowest number 1..29
// that no track overlapping their frames holds; an id that finds none is not imported.
std::map<int, int> LabelsOfIds(const std::map<int, std::vector<InBox>>& frames) {
    std::map<int, std::pair<int, int>> span;  // id -> first and last frame
    bool allLabels = true;
    for (const auto& [frame, boxes] : frames) {
        for (const InBox& b : boxes) {
            if (b.id == kNoId) {
                continue;
            }
            auto [it, fresh] = span.emplace(b.id, std::make_pair(frame, frame));
            if (!fresh) {
                it->second.second = frame;
            }
            allLabels = allLabels && b.id >= 1 && b.id <= kSkipLabel;
        }
    }
    std::map<int, int> labels;
    if (allLabels) {
        for (const auto& [id, s] : span) {
            labels[id] = id;
        }
        return labels;
    }
    std::vector<std::pair<std::pair<int, int>, int>> order;  // ((first, id), id)
    for (const auto& [id, s] : span) {
        order.push_back({{s.first, id}, id});
    }
    std::sort(order.begin(), order.end());
    std::map<int, int> until;  // label -> last frame of the track holding it
    for (const auto& [firstAndId, id] : order) {
        const auto [first, last] = span[id];
        for (int label = 1; label <= kLastTrackLabel; ++label) {
            const auto held = until.find(label);
            if (held == until.end() || held->second < first) {
                until[label] = last;
                labels[id] = label;
                break;
            }
        }
    }
    return labels;
}

std::map<int, std::vector<ROI>> ToRecords(const ImportOptions& o, Source& s, int frameWidth,
                                          int frameHeight, Tally& tally) {
    const std::map<int, int> labelOfId = LabelsOfIds(s.frames);
    std::map<int, std::vector<ROI>> out;
    for (auto& [frame, boxes] : s.frames) {
        if (frame < 0) {
            continue;  // before the video's start: a damaged frame number
        }
        std::map<int, ROI> byLabel;
        std::vector<const InBox*> unnumbered;
        const auto addRecord = [&](const InBox& b, int label) {
            CRect rect = b.rect;
            if (o.format == ExportFormat::kYolo) {
                // Normalised to the image: its size from the record, else the (cropped) frame.
                const auto size = s.sizes.find(frame);
                const int w = size != s.sizes.end() ? size->second.first
                              : s.haveCrop          ? s.crop.Width()
                                                    : frameWidth;
                const int h = size != s.sizes.end() ? size->second.second
                              : s.haveCrop          ? s.crop.Height()
                                                    : frameHeight;
                rect = {Denormalise(rect.left, w), Denormalise(rect.top, h),
                        Denormalise(rect.right, w), Denormalise(rect.bottom, h)};
            }
            if (s.haveCrop) {
                rect = rect.Offset(s.crop.left, s.crop.top);
            }
            if (rect.Width() <= 0 || rect.Height() <= 0) {
                ++tally.noArea;
                return;
            }
            ROI roi;
            roi.nFrame = frame;
            roi.nLabel = label;
            roi.rect = rect;
            roi.nClass = b.nClass >= 0 && b.nClass <= 2 ? b.nClass : b.skip ? 1 : b.removed ? 2 : 0;
            if (!byLabel.emplace(label, roi).second) {
                ++tally.duplicate;
                return;
            }
            ++tally.boxes;
        };
        for (const InBox& b : boxes) {
            if (o.haveMinScore && !std::isnan(b.score) && b.score < o.minScore) {
                ++tally.belowScore;
                continue;
            }
            if (b.id == kNoId) {
                unnumbered.push_back(&b);
                continue;
            }
            const auto label = labelOfId.find(b.id);
            if (label == labelOfId.end()) {
                ++tally.noLabel;
                continue;
            }
            addRecord(b, label->second);
        }
        // Boxes without a track (a detector's): an ignore region is SKIP; the others take the
        // free numbers of their frame, best score first.
        std::stable_sort(unnumbered.begin(), unnumbered.end(), [](const InBox* a, const InBox* b) {
            return (std::isnan(a->score) ? 0 : a->score) > (std::isnan(b->score) ? 0 : b->score);
        });
        for (const InBox* b : unnumbered) {
            int label = b->skip ? kSkipLabel : 0;
            for (int l = 1; label == 0 && l <= kLastTrackLabel; ++l) {
                label = byLabel.count(l) == 0 ? l : 0;
            }
            if (label == 0) {
                ++tally.noLabel;
                continue;
            }
            addRecord(*b, label);
        }
        for (auto& [label, roi] : byLabel) {
            out[frame].push_back(roi);
        }
    }
    return out;
}

// --- writing the label folder ---

// Replaces one file of a label folder atomically, through the folder's hidden temporary folder
// that the editor's loader never reads.
bool ReplaceLabelFile(const fs::path& folder, const std::string& name, const std::string& content,
                      std::string& error) {
    const fs::path tmpDir = folder / kTempFolderName;
    std::error_code ec;
    if (fs::symlink_status(tmpDir, ec).type() == fs::file_type::not_found) {
        fs::create_directory(tmpDir, ec);
    }
    if (fs::symlink_status(tmpDir, ec).type() != fs::file_type::directory) {
        error = PathError(tmpDir, "cannot be made as a folder");
        return false;
    }
    const fs::path tmp = tmpDir / (name + ".import");
    if (!WriteFileAtomically(tmp, content, error)) {
        return false;
    }
    fs::rename(tmp, folder / name, ec);
    if (ec) {
        error = PathError(folder / name, ec.message());
        fs::remove(tmp, ec);
        return false;
    }
    return true;
}

// Every write of the import goes through here, one label folder at a time: this is where the
// folder's writer lock is to be held, so the editor never sees a half-imported folder change
// under it. Nothing is written when the folder holds a different file of the same name and
// --force is not given.
bool WriteLabelFolder(const fs::path& folder, const std::map<std::string, std::string>& files,
                      bool force, std::ostream& err, int& written, std::string& error) {
    std::error_code ec;
    if (fs::symlink_status(folder, ec).type() == fs::file_type::not_found) {
        if (!fs::create_directory(folder, ec) || ec) {
            error = PathError(folder, "the label folder cannot be made: " + ec.message());
            return false;
        }
    } else if (!fs::is_directory(folder, ec)) {
        error = PathError(folder, "the label folder is not a folder");
        return false;
    }
    // The editor may have this video open: files written under its feet would be overwritten by
    // its next edit or undo, so the import writes only while it holds the folder as the editor
    // does. A holder on another computer is never taken over from here.
    CFolderLock lock;
    switch (lock.Acquire(folder)) {
        case CFolderLock::Result::Acquired:
            break;
        case CFolderLock::Result::Held:
            error = PathError(folder, "is being edited by " + lock.Holder().Describe() +
                                          ": nothing written; close the video there first");
            return false;
        case CFolderLock::Result::Error:
            error = PathError(folder, std::string("its lock cannot be taken: ") +
                                          std::generic_category().message(lock.Error()) +
                                          ": nothing written");
            return false;
    }
    // The lock's own folder goes with the lock when nothing else of the editor's is in it.
    struct LockFolderCleanup {
        CFolderLock& lock;
        fs::path folder;
        ~LockFolderCleanup() {
            lock.Release();
            std::error_code ignored;
            fs::remove(CFolderLock::LockPath(folder).parent_path(), ignored);
        }
    } cleanup{lock, folder};
    std::vector<std::string> differing;
    std::map<std::string, std::string> old;
    for (const auto& [name, content] : files) {
        std::string existing;
        if (fs::exists(folder / name, ec) && ReadWholeFile(folder / name, existing) &&
            existing != content) {
            differing.push_back(name);
            old[name] = existing;
        }
    }
    if (!differing.empty() && !force) {
        std::string names;
        for (size_t i = 0; i < differing.size() && i < 5; ++i) {
            names += (i == 0 ? "" : ", ") + differing[i];
        }
        error = PathError(folder, "already holds " + std::to_string(differing.size()) +
                                      " of the files to import, with other content (" + names +
                                      (differing.size() > 5 ? ", ..." : "") +
                                      "): nothing written; --force replaces them");
        return false;
    }
    written = 0;
    for (const auto& [name, content] : files) {
        std::string existing;
        if (ReadWholeFile(folder / name, existing) && existing == content) {
            continue;  // already so
        }
        if (!ReplaceLabelFile(folder, name, content, error)) {
            return false;
        }
        ++written;
        const auto was = old.find(name);
        if (was != old.end()) {
            const auto lines = [](const std::string& t) {
                return std::count(t.begin(), t.end(), '\n');
            };
            err << kProgram << ": replaced " << (folder / name).string() << " ("
                << lines(was->second) << " line(s), now " << lines(content) << ")\n";
        }
    }
    std::error_code ignored;
    fs::remove(folder / kTempFolderName, ignored);  // only when empty
    return true;
}

// The frame size, when YOLO's normalised boxes need it and the dataset does not say.
bool FrameSizeIfNeeded(const ImportOptions& o, const Source& s, const fs::path& video, int& width,
                       int& height, std::string& error) {
    if (o.format != ExportFormat::kYolo || !s.sizes.empty() || s.haveCrop) {
        return true;
    }
    CFrameDecoder decoder;
    if (!decoder.Open(video, 1, CFrameDecoder::Mode::kIndexOnly)) {
        error = PathError(video, "cannot be opened as a video (YOLO boxes need its frame size)");
        return false;
    }
    width = decoder.Width();
    height = decoder.Height();
    return true;
}

// The label folder's files as the editor writes them: "<frame>.txt" and the crop, if any.
std::map<std::string, std::string> LabelFiles(const std::map<int, std::vector<ROI>>& records,
                                              const Source& s) {
    std::map<std::string, std::string> files;
    for (const auto& [frame, list] : records) {
        std::string& text = files[std::to_string(frame) + ".txt"];
        for (const ROI& roi : list) {
            AppendLabelLine(text, roi);
        }
    }
    if (s.haveCrop) {
        const CRect& c = s.crop;
        files[kCropFileName] = std::to_string(c.left) + "," + std::to_string(c.top) + "," +
                               std::to_string(c.right) + "," + std::to_string(c.bottom) + "\r\n";
    }
    return files;
}

void ReportVideo(const fs::path& video, const Tally& tally, size_t frames, int written,
                 std::ostream& err) {
    err << kProgram << ": " << video.string() << ": " << tally.boxes << " boxes on " << frames
        << " frames, " << written << " file(s) written";
    if (tally.belowScore > 0) {
        err << ", " << tally.belowScore << " below --min-score";
    }
    if (tally.noArea > 0) {
        err << ", " << tally.noArea << " without area";
    }
    if (tally.noLabel > 0) {
        err << ", " << tally.noLabel << " not imported (more than 29 tracks at once)";
    }
    if (tally.duplicate > 0) {
        err << ", " << tally.duplicate << " not imported (a second box of one label)";
    }
    err << "\n";
}

bool ImportVideo(const ImportOptions& o, std::map<std::string, Source>& sources,
                 const fs::path& video, const std::string& key, std::ostream& err) {
    std::string error;
    Source* s = FindSource(sources, video, key);
    const fs::path folder = CLabelManager::LabelFolderOf(video);
    int width = 0;
    int height = 0;
    if (s == nullptr) {
        error = PathError(video, "nothing in " + o.in.string() + " for it");
    } else if (folder.empty()) {
        error = PathError(video, "the file name is too short to have a label folder");
    } else if (FrameSizeIfNeeded(o, *s, video, width, height, error)) {
        Tally tally;
        const std::map<int, std::vector<ROI>> records = ToRecords(o, *s, width, height, tally);
        int written = 0;
        if (WriteLabelFolder(folder, LabelFiles(records, *s), o.force, err, written, error)) {
            ReportVideo(video, tally, records.size(), written, err);
            return true;
        }
    }
    err << kProgram << ": " << error << "\n";
    return false;
}

}  // namespace

int RunImport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    ImportOptions o;
    std::string error;
    switch (ParseImportOptions(args, o, error)) {
        case ParseOutcome::kHelp:
            out << Usage();
            return 0;
        case ParseOutcome::kUsageError:
            err << kProgram << ": " << error << "\n" << Usage();
            return 2;
        case ParseOutcome::kRun:
            break;
    }

    std::map<std::string, Source> sources;
    if (!ReadSources(o.format, o.in, o.haveMinScore, sources, error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }

    bool ok = true;
    std::set<std::string> done;
    for (const fs::path& video : o.videos) {
        std::string key;
        if (!DatasetKey(video, o.root, key)) {
            err << kProgram << ": " << PathError(video, "lies outside --root") << "\n";
            ok = false;
        } else if (done.insert(key).second && !ImportVideo(o, sources, video, key, err)) {
            ok = false;  // a video named twice is imported once
        }
    }
    return ok ? 0 : 1;
}
