#include "export/FormatWriter.h"

#include <algorithm>
#include <cstdio>
#include <system_error>

#include "export/CocoWriter.h"
#include "export/Dataset.h"
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

bool CFormatWriter::RetractVideo(const VideoExport& video, std::string& error) const {
    const fs::path record = m_options.out / kRecordFolder / (video.stem + ".json");
    std::error_code ec;
    if (!fs::exists(record, ec)) {
        return true;
    }
    VideoExport earlier;
    const bool readable = ReadVideoRecord(record, earlier);
    if (!fs::remove(record, ec) && ec) {
        error = PathError(record, "cannot be removed: " + ec.message());
        return false;
    }
    if (!readable) {
        return true;  // the images are found by name below
    }
    // Files that list images (labels, gt.txt, seqinfo.ini) before the images they list.
    const auto isImage = [](const fs::path& p) {
        return p.extension() == ".jpg" || p.extension() == ".png";
    };
    for (const bool images : {false, true}) {
        for (const fs::path& p : earlier.written) {
            if (isImage(p) == images) {
                RemoveFile(p);
            }
        }
    }
    return true;
}

void CFormatWriter::RemoveFile(const fs::path& relative) const {
    // Only inside OUT: a damaged record must not reach beyond it.
    if (relative.is_absolute() || relative.empty() || *relative.begin() == "..") {
        return;
    }
    std::error_code ec;
    fs::remove(m_options.out / relative, ec);
}

std::vector<std::string> CFormatWriter::SplitsOf(const std::vector<VideoExport>& records) {
    std::vector<std::string> splits;
    for (const std::string& name :
         {std::string(""), std::string("train"), std::string("val"), std::string("test")}) {
        for (const VideoExport& v : records) {
            if (v.split == name) {
                splits.push_back(name);
                break;
            }
        }
    }
    for (const VideoExport& v : records) {
        if (std::find(splits.begin(), splits.end(), v.split) == splits.end()) {
            splits.push_back(v.split);
        }
    }
    return splits;
}

std::string CFormatWriter::SplitFolder(const VideoExport& video) {
    return video.split.empty() ? std::string() : video.split + "/";
}

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
