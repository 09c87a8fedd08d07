// The crop region file and the labelling report.

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "labels/LabelFileFormat.h"
#include "labels/LabelManager.h"
#include "labels/LabelMessages.h"

namespace {

void AppendUtf16Le(std::string& out, const std::string& utf8) {
    for (char16_t unit : Utf8ToUtf16(utf8)) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
}

struct LabelRange {
    int label;
    int first;
    int last;
};

}  // namespace

int CLabelManager::WriteCropFile(const CRect& rect) {
    // CR LF as on the platform where the format was born, so the file is the same everywhere.
    const std::string line = std::to_string(rect.left) + "," + std::to_string(rect.top) + "," +
                             std::to_string(rect.right) + "," + std::to_string(rect.bottom) +
                             "\r\n";
    if (!CheckWritable()) {
        return -1;
    }
    int error = EnsureProcessFolder();
    if (error == 0) {
        error = ReplaceFile(m_fs, ProcessFolder() / "crop.tmp", m_labelFolder / kCropFileName, line,
                            true);
    }
    if (error == 0) {
        error = m_fs.SyncFolder(m_labelFolder);
    }
    if (error != 0) {
        ShowDiskError(error);
        return -1;
    }
    ShowMessage(kMsgCropWritten);
    return 1;
}

bool CLabelManager::ReadCropFile(CRect& out) const {
    if (m_labelFolder.empty()) {
        return false;
    }
    std::ifstream in(m_labelFolder / kCropFileName, std::ios::binary);
    std::string line;
    CRect r;
    char c1 = 0, c2 = 0, c3 = 0;
    if (!std::getline(in, line) ||
        std::sscanf(line.c_str(), "%d %c %d %c %d %c %d", &r.left, &c1, &r.top, &c2, &r.right, &c3,
                    &r.bottom) != 7 ||
        c1 != ',' || c2 != ',' || c3 != ',') {
        return false;
    }
    // Stored as dragged, so the corners may come in either order.
    out = {std::min(r.left, r.right), std::min(r.top, r.bottom), std::max(r.left, r.right),
           std::max(r.top, r.bottom)};
    return out.left < out.right && out.top < out.bottom;
}

bool CLabelManager::WriteReport(const std::string& comment) {
    if (!m_bFolderUsable) {
        return false;
    }
    // The rows follow a 17-bucket hash table filled in one pass over the store in (frame,
    // label) order, each new label going to the front of its bucket's chain. A label is first
    // met at its smallest frame, so the pass is the labels sorted by (first frame, label).
    std::vector<LabelRange> met;
    met.reserve(m_labelFrames.size());
    for (const auto& [label, frames] : m_labelFrames) {
        if (!frames.empty()) {
            met.push_back(LabelRange{label, *frames.begin(), *frames.rbegin()});
        }
    }
    std::sort(met.begin(), met.end(), [](const LabelRange& a, const LabelRange& b) {
        return std::tie(a.first, a.label) < std::tie(b.first, b.label);
    });
    std::array<std::vector<LabelRange>, 17> buckets;
    for (const LabelRange& range : met) {
        auto& chain = buckets[ReportBucketOfLabel(range.label)];
        chain.insert(chain.begin(), range);
    }

    std::FILE* f = std::fopen(BesideFolder(m_labelFolder, kReportFileName).c_str(), "ab");
    if (f == nullptr) {
        return false;
    }
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    const long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0;

    std::string bytes;
    if (ok && size == 0) {
        AppendUtf16Le(bytes, "ID \t Polyp \t ImageNo \t Range\t Class\t Comment\n");
    }
    int row = 0;
    for (const auto& chain : buckets) {
        for (const LabelRange& range : chain) {
            const ROI* firstRecord = FindRecord(range.first, range.label);
            const int nClass = firstRecord ? firstRecord->nClass : 0;
            std::string line = (row == 0 ? m_strVideoName : std::string()) + " \t " +
                               std::to_string(range.label) + " \t " + std::to_string(range.first) +
                               " \t " + std::to_string(range.first) + "~" +
                               std::to_string(range.last) + " \t " + std::to_string(nClass) +
                               " \t " + (row == 0 ? comment : std::string()) + "\n";
            AppendUtf16Le(bytes, line);
            ++row;
        }
    }
    if (ok && !bytes.empty()) {
        ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    }
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}
