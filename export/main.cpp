// tagwright-export: labels out to COCO, YOLO and MOT with the frames they name.

#include <unistd.h>

#include <iostream>
#include <string>
#include <vector>

#include "export/ExportRun.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunExport(args, std::cout, std::cerr, isatty(STDERR_FILENO) != 0);
}
