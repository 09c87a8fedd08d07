// tagwright-export: labels out to COCO, YOLO and MOT with the frames they name.

#include <stdlib.h>
#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include <opencv2/core/utils/logger.hpp>

#include "export/ExportRun.h"

int main(int argc, char** argv) {
    // A file that is no video is reported once, by name; the capture backends' own warnings
    // about it would only bury that line.
    cv::utils::logging::setLogLevel(cv::utils::logging::LOG_LEVEL_ERROR);
    // The decoder's complaints about damaged packets would break up the progress bar; the frames
    // it delivers are exported all the same. A value set by the user wins.
    setenv("OPENCV_FFMPEG_LOGLEVEL", "-8", 0);
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunExport(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
