// tagwright-export: labels out to COCO, YOLO and MOT with the frames they name.

#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core/utils/logger.hpp>

#include "export/ExportRun.h"
#include "export/VideoExport.h"

namespace {

ExportStop g_stop;

// Ctrl+C or a kill ends the run between frames, not in the middle of a file: the workers see
// the flag, remove what the video in hand had written, and OUT stays marked incomplete.
// A second Ctrl+C ends the process at once, as the user then means.
void OnStopSignal(int sig) {
    g_stop.signal.store(sig);
    g_stop.requested.store(true);
    signal(sig, SIG_DFL);
}

}  // namespace

int main(int argc, char** argv) {
    // A file that is no video is reported once, by name; the capture backends' own warnings
    // about it would only bury that line.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    // The decoder's complaints about damaged packets would break up the progress bar; the frames
    // it delivers are exported all the same. A value set by the user wins.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunExport(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0, &g_stop);
}
