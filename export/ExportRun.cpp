// The run as a whole: the output folder, the videos' names, the workers, the files that cover
// every video, and the summary.
//
// OUT is never left looking complete when it is not: before any video's files change, a marker
// file goes in and the files that list the dataset (annotations, data.yaml, seqmaps) go out;
// they are written again, from the record of every video in OUT, only after the last video, and
// the marker goes last. A stopped run leaves the marker and no listing.

#include "export/ExportRun.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "export/Dataset.h"
#include "export/ExportOptions.h"
#include "export/FormatWriter.h"
#include "export/OutputFiles.h"
#include "export/Progress.h"
#include "export/VideoExport.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tagwright-export";

// OUT must be a folder we may write into, empty unless --force.
bool PrepareOutput(const ExportOptions& options, std::string& error) {
    const fs::path& out = options.out;
    std::error_code ec;
    const fs::file_status status = fs::status(out, ec);
    if (status.type() == fs::file_type::directory) {
        fs::directory_iterator it(out, ec);
        if (ec) {
            error = PathError(out, "the output folder cannot be listed: " + ec.message());
            return false;
        }
        if (it != fs::directory_iterator() && !options.force) {
            error = PathError(out, "the output folder is not empty (--force writes into it)");
            return false;
        }
    } else if (status.type() != fs::file_type::not_found) {
        error = PathError(out, "exists and is not a folder");
        return false;
    } else if (!fs::create_directories(out, ec) || ec) {
        error = PathError(out, "the output folder cannot be created: " +
                                   (ec ? ec.message() : std::string("unknown error")));
        return false;
    }
    // Creating the folder is not proof that files can be written into it.
    const fs::path probe = out / ".tagwright-export-probe";
    if (!WriteFileAtomically(probe, "", error)) {
        error = PathError(out, "the output folder is not writable");
        return false;
    }
    fs::remove(probe, ec);
    return true;
}

// Names, keys and splits; a video named twice (by any path to the same file) is exported once.
// False when a video lies outside --root: its key would not be relative.
void NameVideos(const ExportOptions& options, std::vector<VideoExport>& videos,
                std::vector<std::string>& notes) {
    std::set<std::string> seen;
    for (size_t i = 0; i < options.videos.size(); ++i) {
        VideoExport v;
        v.video = options.videos[i];
        v.name = v.video.filename().string();
        if (!DatasetKey(v.video, options.root, v.key)) {
            v.failed = true;
            v.error = PathError(v.video, "lies outside --root " + options.root.string());
        } else if (!seen.insert(v.key).second) {
            notes.push_back(v.video.string() + ": named more than once, exported once");
            continue;
        }
        v.stem = DatasetName(v.video, v.key);
        v.split = SplitOf(v.key, options);
        videos.push_back(std::move(v));
    }
}

// The line of a finished video. Under the bar of a terminal only what needs attention is shown
// (a failure, notes); the counts are in the summary.
std::string VideoSummary(const VideoExport& v, bool terminal) {
    if (v.failed) {
        return v.video.string() + ": FAILED: " + v.error;
    }
    std::vector<std::string> parts;
    if (v.nothingToExport) {
        parts.push_back("nothing exported");
    } else if (!terminal) {
        char text[200];
        std::snprintf(
            text, sizeof text, "%lld images, %lld boxes, %lld dropped, %lld frames read in %.1f s",
            v.counts.images, v.counts.boxes, v.counts.dropped, v.counts.framesRead, v.seconds);
        parts.push_back(text);
    }
    parts.insert(parts.end(), v.notes.begin(), v.notes.end());
    if (parts.empty()) {
        return "";
    }
    // The path as given: two videos may share a name.
    std::string line = v.video.string() + ": " + parts[0];
    for (size_t i = 1; i < parts.size(); ++i) {
        line += "; " + parts[i];
    }
    return line;
}

int StopStatus(const ExportStop& stop) {
    return 128 + (stop.signal.load() != 0 ? stop.signal.load() : 2);
}

bool MarkIncomplete(const ExportOptions& options, CFormatWriter& writer, std::string& error) {
    if (!WriteFileAtomically(options.out / kIncompleteMarker,
                             "tagwright-export is writing this folder, or was stopped while it "
                             "did:\nthe dataset is incomplete until a run finishes.\n",
                             error)) {
        return false;
    }
    writer.RemoveListings();
    std::error_code ec;
    fs::create_directories(options.out / kRecordFolder, ec);
    if (ec) {
        error = PathError(options.out / kRecordFolder, ec.message());
        return false;
    }
    return true;
}

// Workers take the next video in order; the main thread alone writes to the stream.
void RunWorkers(const ExportOptions& options, CFormatWriter& writer, CExportProgress& progress,
                ExportStop& stop, std::vector<VideoExport>& videos, const std::vector<size_t>& todo,
                bool terminal) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<size_t> finished;
    std::atomic<size_t> next{0};
    size_t jobs = options.jobs > 0 ? static_cast<size_t>(options.jobs)
                                   : std::max(1u, std::thread::hardware_concurrency());
    jobs = std::min(jobs, todo.size());
    std::vector<std::thread> workers;
    for (size_t w = 0; w < jobs; ++w) {
        workers.emplace_back([&] {
            for (size_t k = next++; k < todo.size() && !stop.requested.load(); k = next++) {
                ExportVideo(options, writer, progress, stop, videos[todo[k]]);
                std::lock_guard<std::mutex> lock(mutex);
                finished.push_back(todo[k]);
                changed.notify_one();
            }
        });
    }
    for (size_t reported = 0; reported < todo.size() && !stop.requested.load();) {
        std::deque<size_t> batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return !finished.empty(); });
            batch.swap(finished);
        }
        for (const size_t i : batch) {
            progress.VideoLine(VideoSummary(videos[i], terminal));
            ++reported;
        }
        progress.Tick();
    }
    for (std::thread& t : workers) {
        t.join();
    }
}

// How many videos each split got: the split is drawn per video (or folder), so a small run may
// leave one empty.
void ReportSplits(const ExportOptions& options, const std::vector<VideoExport>& records,
                  std::ostream& err) {
    if (options.splits.empty()) {
        return;
    }
    std::string line;
    for (const SplitShare& s : options.splits) {
        long long videos = 0;
        long long images = 0;
        for (const VideoExport& v : records) {
            if (v.split == s.name) {
                ++videos;
                images += static_cast<long long>(v.images.size());
            }
        }
        line += (line.empty() ? "" : ", ") + s.name + " " + std::to_string(videos) + " videos (" +
                std::to_string(images) + " images)";
        if (videos == 0) {
            line += " [empty: try another --seed]";
        }
    }
    err << kProgram << ": splits in " << options.out.string() << ": " << line << "\n";
}

// Prepares every video; the ones to export, and the frames they will read.
std::vector<size_t> PrepareVideos(const ExportOptions& options, std::vector<VideoExport>& videos,
                                  long long& framesToRead) {
    std::vector<size_t> todo;
    for (size_t i = 0; i < videos.size(); ++i) {
        if (!videos[i].failed) {
            PrepareVideo(options, videos[i]);
        }
        if (!videos[i].failed && !videos[i].nothingToExport) {
            framesToRead += videos[i].framesToRead;
            todo.push_back(i);
        }
    }
    return todo;
}

// The closing line; false when labelled frames could not be exported.
bool PrintSummary(const ExportOptions& options, const std::vector<VideoExport>& videos,
                  std::ostream& err) {
    ExportCounts total;
    int exported = 0;
    int failed = 0;
    for (const VideoExport& v : videos) {
        total += v.counts;
        failed += v.failed ? 1 : 0;
        exported += v.failed || v.nothingToExport ? 0 : 1;
    }
    err << kProgram << ": " << FormatName(options.format) << " to " << options.out.string() << ": "
        << exported << " of " << videos.size() << " videos exported, " << failed << " failed; "
        << total.images << " images, " << total.boxes << " boxes, " << total.dropped
        << " dropped (no area inside the image)";
    if (total.leftOut > 0) {
        err << ", " << total.leftOut << " left out (--leave-out)";
    }
    if (total.imagesLeftOut > 0) {
        err << ", " << total.imagesLeftOut << " images with a skip region left out";
    }
    err << "\n";
    if (total.missingFrames > 0) {
        // A truncated video yields fewer frames than were labelled: the dataset lacks them.
        err << kProgram << ": " << total.missingFrames
            << " labelled frame(s) could not be exported (their video ended before them)\n";
    }
    return total.missingFrames == 0;
}

}  // namespace

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool errIsTerminal, ExportStop* stopper) {
    ExportStop noStop;
    ExportStop& stop = stopper != nullptr ? *stopper : noStop;
    ExportOptions options;
    std::string error;
    switch (ParseExportOptions(args, options, error)) {
        case ParseOutcome::kHelp:
            out << ExportUsage();
            return 0;
        case ParseOutcome::kUsageError:
            err << kProgram << ": " << error << "\n" << ExportUsage();
            return 2;
        case ParseOutcome::kRun:
            break;
    }

    if (!PrepareOutput(options, error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }
    std::unique_ptr<CFormatWriter> writer = CFormatWriter::Create(options);
    std::vector<VideoExport> videos;
    std::vector<std::string> notes;
    NameVideos(options, videos, notes);
    for (const std::string& note : notes) {
        err << kProgram << ": " << note << "\n";
    }

    // Label folders first (quick, and it gives the bar its total), then the frames.
    long long framesToRead = 0;
    const std::vector<size_t> todo = PrepareVideos(options, videos, framesToRead);
    CExportProgress progress(err, errIsTerminal);
    for (const VideoExport& v : videos) {
        if (v.failed || v.nothingToExport) {
            progress.VideoLine(VideoSummary(v, errIsTerminal));
        }
    }
    if (stop.Requested(0)) {
        err << kProgram << ": interrupted before anything in " << options.out.string()
            << " was changed\n";
        return StopStatus(stop);
    }

    if (!writer->Prepare(error) || !MarkIncomplete(options, *writer, error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }
    progress.Start(framesToRead);
    RunWorkers(options, *writer, progress, stop, videos, todo, errIsTerminal);
    progress.Finish();

    if (stop.requested.load()) {
        err << kProgram << ": interrupted: " << options.out.string()
            << " is incomplete (no annotations, data.yaml or seqmap; " << kIncompleteMarker
            << " says so); run the export again with --force\n";
        return StopStatus(stop);
    }

    bool ok =
        std::none_of(videos.begin(), videos.end(), [](const VideoExport& v) { return v.failed; });
    const std::vector<VideoExport> records = ReadVideoRecords(options.out);
    if (!writer->Finish(records, error)) {
        err << kProgram << ": " << error << "\n";
        ok = false;
    } else {
        std::error_code ec;
        fs::remove(options.out / kIncompleteMarker, ec);
    }
    ReportSplits(options, records, err);

    if (!PrintSummary(options, videos, err)) {
        ok = false;
    }
    return ok ? 0 : 1;
}
