// libFuzzer target: a whole label folder built from the input, loaded into the store.
//
// Input layout: entries separated by a 0x00 byte, each "name" 0x01 "content". A name ending in
// '/' makes a sub-folder instead of a file. Names are reduced to one safe path component.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "labels/LabelManager.h"

namespace {

std::filesystem::path FuzzFolder() {
    static const std::filesystem::path dir = [] {
        std::filesystem::path d = std::filesystem::temp_directory_path() /
                                  ("tagwright-fuzz-folder-" + std::to_string(getpid()));
        return d;
    }();
    return dir;
}

std::string SafeName(std::string_view raw) {
    std::string name;
    for (char c : raw) {
        if (c == '/' || c == '\0') {
            continue;
        }
        name += c;
        if (name.size() >= 48) {
            break;
        }
    }
    if (name.empty() || name == "." || name == "..") {
        name = "x";
    }
    return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::filesystem::path dir = FuzzFolder();
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    std::filesystem::create_directories(dir, ec);

    std::string_view input(reinterpret_cast<const char*>(data), size);
    int entries = 0;
    while (!input.empty() && entries < 64) {
        const std::size_t end = input.find('\0');
        const std::string_view entry = input.substr(0, end);
        input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
        const std::size_t sep = entry.find('\x01');
        const std::string_view rawName = entry.substr(0, sep);
        const std::string_view content =
            sep == std::string_view::npos ? std::string_view() : entry.substr(sep + 1);
        const std::string name = SafeName(rawName);
        if (!rawName.empty() && rawName.back() == '/') {
            std::filesystem::create_directory(dir / name, ec);
        } else {
            std::ofstream(dir / name, std::ios::binary | std::ios::trunc)
                .write(content.data(), static_cast<std::streamsize>(content.size()));
        }
        ++entries;
    }

    CLabelManager store;
    int messages = 0;
    store.SetMessageSink([&](const std::string&) { ++messages; });
    store.SetGoButtonSink([](int label, bool) {
        if (label < 1 || label > 30) {
            __builtin_trap();
        }
    });
    if (store.LoadFolder(dir) != 1) {
        __builtin_trap();
    }
    if (messages > 1) {
        __builtin_trap();  // the bad-label message is shown at most once per load
    }
    // The per-frame counts never exceed the records stored.
    long counted = 0;
    for (int f = 0; f < store.GetFrameCountLength(); ++f) {
        counted += store.GetFrameCount(f);
    }
    if (counted > store.GetCount()) {
        __builtin_trap();
    }
    return 0;
}
