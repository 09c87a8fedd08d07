// The run as a whole: the output folder, the videos' names, the workers, the files that cover
// every video, and the summary.

#include "export/ExportRun.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>

#include "export/ExportOptions.h"
#include "export/FormatWriter.h"
#include "export/OutputFiles.h"
#include "export/Progress.h"
#include "export/VideoExport.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kProgram = "tagwright-export";

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

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

// The stems that name each video's images, unique within the run even where two folders hold
// videos of the same name (compared without case: the output may go to a file system that
// ignores it).
void AssignStems(std::vector<VideoExport>& videos, std::vector<std::string>& notes) {
    std::set<std::string> taken;
    for (VideoExport& v : videos) {
        const std::string base = v.video.stem().string();
        std::string stem = base;
        for (int n = 2; !taken.insert(Lower(stem)).second; ++n) {
            stem = base + "_" + std::to_string(n);
        }
        if (stem != base) {
            notes.push_back(v.video.string() + ": exported as " + stem + " (another video is " +
                            base + ")");
        }
        v.stem = stem;
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

}  // namespace

int RunExport(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
              bool errIsTerminal) {
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
    if (!writer->Prepare(error)) {
        err << kProgram << ": " << error << "\n";
        return 1;
    }

    std::vector<VideoExport> videos(options.videos.size());
    std::vector<std::string> notes;
    for (size_t i = 0; i < videos.size(); ++i) {
        videos[i].video = options.videos[i];
        videos[i].name = options.videos[i].filename().string();
    }
    AssignStems(videos, notes);
    for (const std::string& note : notes) {
        err << kProgram << ": " << note << "\n";
    }

    // Label folders first (quick, and it gives the bar its total), then the frames.
    long long framesToRead = 0;
    std::vector<size_t> todo;
    for (size_t i = 0; i < videos.size(); ++i) {
        PrepareVideo(options, videos[i]);
        if (!videos[i].failed && !videos[i].nothingToExport) {
            framesToRead += videos[i].framesToRead;
            todo.push_back(i);
        }
    }
    CExportProgress progress(err, errIsTerminal);
    for (const VideoExport& v : videos) {
        if (v.failed || v.nothingToExport) {
            progress.VideoLine(VideoSummary(v, errIsTerminal));
        }
    }
    progress.Start(framesToRead);

    // Workers take the next video in order; the main thread alone writes to the stream.
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
            for (size_t k = next++; k < todo.size(); k = next++) {
                ExportVideo(options, *writer, progress, videos[todo[k]]);
                std::lock_guard<std::mutex> lock(mutex);
                finished.push_back(todo[k]);
                changed.notify_one();
            }
        });
    }
    for (size_t reported = 0; reported < todo.size();) {
        std::deque<size_t> batch;
        {
            std::unique_lock<std::mutex> lock(mutex);
            changed.wait_for(lock, std::chrono::milliseconds(100),
                             [&] { return !finished.empty(); });
            batch.swap(finished);
        }
        for (const size_t i : batch) {
            progress.VideoLine(VideoSummary(videos[i], errIsTerminal));
            ++reported;
        }
        progress.Tick();
    }
    for (std::thread& t : workers) {
        t.join();
    }
    progress.Finish();

    bool ok =
        std::none_of(videos.begin(), videos.end(), [](const VideoExport& v) { return v.failed; });
    if (!writer->Finish(videos, error)) {
        err << kProgram << ": " << error << "\n";
        ok = false;
    }

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
    if (total.missingFrames > 0) {
        err << ", " << total.missingFrames << " labelled frames beyond the end of their video";
    }
    err << "\n";
    return ok ? 0 : 1;
}
