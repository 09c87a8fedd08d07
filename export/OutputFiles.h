#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "export/ExportOptions.h"
#include "labels/Geometry.h"

// Every file of an export is written under a temporary name beside its final one (a hidden
// ".<name>.part", which no reader of the formats picks up) and renamed when complete, so an
// interrupted run never leaves a truncated file under a final name.

// False (with a message naming the path) when the file cannot be written; no temporary is left.
bool WriteFileAtomically(const std::filesystem::path& path, const std::string& content,
                         std::string& error);

// Encodes frame images. The only OpenCV calls of the exporter outside video/ are in here, and
// none of their exceptions gets out.
//
// Threading: one object per thread (it keeps its encoding buffer between images).
class CImageWriter {
  public:
    CImageWriter(ImageFormat format, int jpegQuality);

    // Writes the part `region` (frame pixels, inside the frame) of `frame` to `path`.
    bool Write(const cv::Mat& frame, const CRect& region, const std::filesystem::path& path,
               std::string& error);

  private:
    std::string m_ext;
    std::vector<int> m_params;
    std::vector<unsigned char> m_buf;
};

// The whole file as bytes; false when it cannot be read.
bool ReadWholeFile(const std::filesystem::path& path, std::string& text);

// "path: reason" for a failed file operation.
std::string PathError(const std::filesystem::path& path, const std::string& reason);
