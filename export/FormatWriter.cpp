#include "export/FormatWriter.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "export/CocoWriter.h"
#include "export/MotWriter.h"
#include "export/OutputFiles.h"
#include "export/YoloWriter.h"

namespace fs = std::filesystem;

std::unique_ptr<CFormatWriter> CFormatWriter::Create(const ExportOptions& options) {
    switch (options.format) {
        case ExportFormat::kCoco:
            return std::make_unique<CCocoWriter>(options);
        case ExportFormat::kYolo:
            return std::make_unique<CYoloWriter>(options);
        case ExportFormat::kMot:
            return std::make_unique<CMotWriter>(options);
    }
    return nullptr;
}

bool CFormatWriter::StartVideo(VideoExport&, std::string&) {
    return true;
}

bool CFormatWriter::LeavesOut(const ExportedImage&) const {
    return false;
}

bool CFormatWriter::AfterImage(VideoExport&, const ExportedImage&, std::string&) {
    return true;
}

bool CFormatWriter::FinishVideo(VideoExport&, std::string&) {
    return true;
}

void CFormatWriter::AbandonVideo(VideoExport&) {}

bool CFormatWriter::MakeFolder(const fs::path& path, std::string& error) const {
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path, ec)) {
        error = PathError(path, ec ? ec.message() : "not a folder");
        return false;
    }
    return true;
}

bool CFormatWriter::WriteVideoFile(VideoExport& video, const fs::path& path,
                                   const std::string& content, std::string& error) const {
    if (!WriteFileAtomically(path, content, error)) {
        return false;
    }
    video.written.push_back(path);
    return true;
}

void CFormatWriter::RemoveEarlierFrames(const fs::path& folder, const std::string& prefix,
                                        const std::vector<std::string>& suffixes) const {
    if (!m_options.force) {
        return;  // OUT was empty
    }
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() < prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0 ||
            !std::all_of(name.begin() + static_cast<long>(prefix.size()),
                         name.begin() + static_cast<long>(prefix.size()) + 6,
                         [](char c) { return c >= '0' && c <= '9'; })) {
            continue;
        }
        const std::string rest = name.substr(prefix.size() + 6);
        std::error_code typeEc;
        if (std::find(suffixes.begin(), suffixes.end(), rest) != suffixes.end() &&
            it->is_regular_file(typeEc)) {
            std::error_code ignored;
            fs::remove(it->path(), ignored);
        }
    }
}

std::string CFormatWriter::FrameImageName(const VideoExport& video, int frame) const {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%06d", frame);
    return video.stem + "_" + digits + "." + ImageExtension(m_options.image);
}
