#include "export/Dataset.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <system_error>

#include <nlohmann/json.hpp>

#include "export/JsonText.h"
#include "export/VideoExport.h"

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

uint64_t Fnv1a(std::string_view bytes, uint64_t h = 1469598103934665603ULL) {
    for (const char c : bytes) {
        h ^= static_cast<unsigned char>(c);
        h *= 1099511628211ULL;
    }
    return h;
}

// The length of the UTF-8 sequence at `i`, or 0 when it is not one.
// FNV-1a leaves the last bytes of a text in the low bits only; this spreads them over all 64
// (the finaliser of SplitMix64), so "p1" and "p2" land far apart.
uint64_t Mix(uint64_t h) {
    h ^= h >> 30;
    h *= 0xbf58476d1ce4e5b9ULL;
    h ^= h >> 27;
    h *= 0x94d049bb133111ebULL;
    return h ^ (h >> 31);
}

size_t Utf8Length(std::string_view s, size_t i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    unsigned min = 0;
    if (c < 0x80) {
        return 1;
    } else if ((c & 0xE0) == 0xC0) {
        n = 2;
        min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
        n = 3;
        min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
        n = 4;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) {
        return 0;
    }
    unsigned cp = c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return n;
}

json BoxJson(const ExportBox& b) {
    return json::array({b.rect.left, b.rect.top, b.rect.right, b.rect.bottom, b.label, b.nClass,
                        static_cast<int>(b.kind)});
}

}  // namespace

bool DatasetKey(const fs::path& video, const fs::path& root, std::string& key) {
    std::error_code ec;
    fs::path absolute = fs::weakly_canonical(fs::absolute(video, ec), ec);
    if (ec) {
        absolute = fs::absolute(video, ec).lexically_normal();
    }
    if (root.empty()) {
        key = absolute.generic_string();
        return true;
    }
    fs::path base = fs::weakly_canonical(fs::absolute(root, ec), ec);
    if (ec) {
        base = fs::absolute(root, ec).lexically_normal();
    }
    const fs::path relative = absolute.lexically_relative(base);
    if (relative.empty() || *relative.begin() == "..") {
        return false;
    }
    key = relative.generic_string();
    return true;
}

std::string DatasetName(const fs::path& video, const std::string& key) {
    const uint64_t h = Mix(Fnv1a(key));
    char hash[16];
    std::snprintf(hash, sizeof hash, "%08x", static_cast<unsigned>((h >> 32) ^ h));
    return EscapeNonUtf8(video.stem().string()) + "-" + hash;
}

bool IsUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

std::string EscapeNonUtf8(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        const size_t n = Utf8Length(text, i);
        if (n == 0 || text[i] == '%') {
            char esc[4];
            std::snprintf(esc, sizeof esc, "%%%02X", static_cast<unsigned char>(text[i]));
            out += esc;
            ++i;
        } else {
            out.append(text.substr(i, n));
            i += n;
        }
    }
    return out;
}

std::string HexBytes(std::string_view bytes) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        const unsigned char u = static_cast<unsigned char>(c);
        out += digits[u >> 4];
        out += digits[u & 15];
    }
    return out;
}

bool UnhexBytes(std::string_view hex, std::string& bytes) {
    const auto value = [](char c) {
        return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    };
    if (hex.size() % 2 != 0) {
        return false;
    }
    bytes.clear();
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int hi = value(hex[i]);
        const int lo = value(hex[i + 1]);
        if (hi < 0 || lo < 0) {
            return false;
        }
        bytes += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

std::string SplitOf(const std::string& key, const ExportOptions& options) {
    if (options.splits.empty()) {
        return "";
    }
    std::string group = key;
    if (options.groupByFolder) {
        const size_t slash = group.rfind('/');
        group = slash == std::string::npos ? std::string() : group.substr(0, slash);
    }
    const uint64_t h = Mix(Fnv1a(group, Fnv1a(std::to_string(options.seed) + "\n")));
    // The top 53 bits as a fraction in [0, 1).
    const double u = static_cast<double>(h >> 11) / 9007199254740992.0;
    double total = 0.0;
    for (const SplitShare& s : options.splits) {
        total += s.share;
    }
    double upTo = 0.0;
    for (const SplitShare& s : options.splits) {
        upTo += s.share / total;
        if (u < upTo) {
            return s.name;
        }
    }
    return options.splits.back().name;
}

std::string VideoRecordJson(const VideoExport& v, const ExportOptions& options) {
    json r;
    r["name"] = v.stem;
    PutJsonText(r, "path", v.key);
    PutJsonText(r, "file_name", v.name);
    r["split"] = v.split;
    r["format"] = FormatName(options.format);
    if (v.haveCrop) {
        r["crop"] = json::array({v.region.left, v.region.top, v.region.right, v.region.bottom});
    }
    r["fps"] = v.fps;
    r["first_frame"] = v.firstFrame;
    json files = json::array();
    for (const fs::path& p : v.written) {
        files.push_back(p.lexically_relative(options.out).generic_string());
    }
    r["files"] = files;
    json images = json::array();
    for (const ExportedImage& im : v.images) {
        json boxes = json::array();
        for (const ExportBox& b : im.boxes) {
            boxes.push_back(BoxJson(b));
        }
        images.push_back({{"file", im.file},
                          {"frame", im.frame},
                          {"width", im.width},
                          {"height", im.height},
                          {"boxes", boxes}});
    }
    r["images"] = images;
    return r.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

bool ReadVideoRecord(const fs::path& file, VideoExport& v) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    const json r = json::parse(in, nullptr, false);
    if (!r.is_object() || !r.contains("name") || !r["images"].is_array()) {
        return false;
    }
    try {
        v.stem = r["name"].get<std::string>();
        v.key = GetJsonText(r, "path");
        v.name = GetJsonText(r, "file_name");
        v.video = v.key;
        v.split = r.value("split", std::string());
        v.fps = r.value("fps", 0.0);
        v.firstFrame = r.value("first_frame", 0);
        if (r.contains("crop")) {
            const json& c = r["crop"];
            v.haveCrop = true;
            v.region = {c.at(0).get<int>(), c.at(1).get<int>(), c.at(2).get<int>(),
                        c.at(3).get<int>()};
        }
        for (const json& f : r.value("files", json::array())) {
            v.written.emplace_back(f.get<std::string>());
        }
        for (const json& im : r["images"]) {
            ExportedImage e;
            e.file = im.at("file").get<std::string>();
            e.frame = im.at("frame").get<int>();
            e.width = im.at("width").get<int>();
            e.height = im.at("height").get<int>();
            for (const json& b : im.at("boxes")) {
                ExportBox box;
                box.rect = {b.at(0).get<int>(), b.at(1).get<int>(), b.at(2).get<int>(),
                            b.at(3).get<int>()};
                box.label = b.at(4).get<int>();
                box.nClass = b.at(5).get<int>();
                box.kind = static_cast<BoxKind>(std::clamp(b.at(6).get<int>(), 0, kBoxKinds - 1));
                e.boxes.push_back(box);
            }
            v.images.push_back(std::move(e));
        }
    } catch (const json::exception&) {
        return false;
    }
    return true;
}

std::vector<VideoExport> ReadVideoRecords(const fs::path& out) {
    std::vector<VideoExport> records;
    std::error_code ec;
    for (fs::directory_iterator it(out / kRecordFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() != ".json") {
            continue;
        }
        VideoExport v;
        if (ReadVideoRecord(it->path(), v)) {
            records.push_back(std::move(v));
        }
    }
    std::sort(records.begin(), records.end(),
              [](const VideoExport& a, const VideoExport& b) { return a.stem < b.stem; });
    return records;
}
