// libFuzzer target: one per-frame label file's parser and the file-name rule, on arbitrary bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "labels/LabelFileFormat.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    std::vector<ROI> records;
    ParseLabelFileText(text, 7, records);
    for (const ROI& r : records) {
        // Every record belongs to the frame it was parsed for and round-trips through the writer.
        if (r.nFrame != 7) {
            __builtin_trap();
        }
        std::string line;
        AppendLabelLine(line, r);
        std::vector<ROI> again;
        ParseLabelFileText(line, 7, again);
        if (again.size() != 1 || again[0].rect != r.rect || again[0].nLabel != r.nLabel ||
            again[0].nClass != r.nClass) {
            __builtin_trap();
        }
    }
    int frame = 0;
    (void)FrameFromFileName(text.substr(0, 64), frame);
    (void)Utf8ToUtf16(text);
    return 0;
}
