#include "labels/ROI.h"

std::string MakeRoiKey(int label, int frame) {
    return std::to_string(label) + "_" + std::to_string(frame);
}
