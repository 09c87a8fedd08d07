// tagwright-import: COCO, YOLO and MOT data (an earlier export, another tool's, a detector's)
// back into label folders.

#include <iostream>
#include <string>
#include <vector>

#include "export/ImportRun.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return RunImport(args, std::cout, std::cerr);
}
