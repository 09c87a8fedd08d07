#include "export/OutputFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <system_error>

#include <opencv2/imgcodecs.hpp>

namespace fs = std::filesystem;

namespace {

bool WriteBytesAtomically(const fs::path& path, const void* data, size_t size, std::string& error) {
    const fs::path tmp = path.parent_path() / ("." + path.filename().string() + ".part");
    std::FILE* f = std::fopen(tmp.c_str(), "wb");
    if (f == nullptr) {
        error = PathError(path, std::strerror(errno));
        return false;
    }
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    int savedErrno = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    std::error_code ec;
    if (ok) {
        fs::rename(tmp, path, ec);
        if (ec) {
            error = PathError(path, ec.message());
            fs::remove(tmp, ec);
            return false;
        }
        return true;
    }
    error = PathError(path, savedErrno != 0 ? std::strerror(savedErrno) : "write failed");
    fs::remove(tmp, ec);
    return false;
}

}  // namespace

std::string PathError(const fs::path& path, const std::string& reason) {
    return path.string() + ": " + reason;
}

bool ReadWholeFile(const fs::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return false;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

bool WriteFileAtomically(const fs::path& path, const std::string& content, std::string& error) {
    return WriteBytesAtomically(path, content.data(), content.size(), error);
}

CImageWriter::CImageWriter(ImageFormat format, int jpegQuality) {
    if (format == ImageFormat::kPng) {
        m_ext = ".png";
        // OpenCV's own default (the fastest level), named so the files do not change with it.
        m_params = {cv::IMWRITE_PNG_COMPRESSION, 1};
    } else {
        m_ext = ".jpg";
        m_params = {cv::IMWRITE_JPEG_QUALITY, jpegQuality};
    }
}

bool CImageWriter::Write(const cv::Mat& frame, const CRect& region, const fs::path& path,
                         std::string& error) {
    try {
        const cv::Rect r(region.left, region.top, region.Width(), region.Height());
        const bool whole = r == cv::Rect(0, 0, frame.cols, frame.rows);
        if (!cv::imencode(m_ext, whole ? frame : frame(r), m_buf, m_params)) {
            error = PathError(path, "the image could not be encoded");
            return false;
        }
    } catch (const cv::Exception& e) {
        error = PathError(path, std::string("the image could not be encoded: ") + e.what());
        return false;
    }
    return WriteBytesAtomically(path, m_buf.data(), m_buf.size(), error);
}
