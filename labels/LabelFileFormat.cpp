#include "labels/LabelFileFormat.h"

#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>

namespace {

bool IsCSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// Leading white space, a sign and digits. `digits` tells whether any digit was seen; `overflow`
// whether the magnitude went beyond 32 bits. Stops at the first non-digit.
long long ScanInteger(std::string_view s, bool& digits, bool& overflow) {
    size_t i = 0;
    while (i < s.size() && IsCSpace(s[i])) {
        ++i;
    }
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    digits = false;
    overflow = false;
    long long value = 0;
    const long long limit = static_cast<long long>(INT_MAX) + 1;
    for (; i < s.size() && IsDigit(s[i]); ++i) {
        digits = true;
        if (!overflow) {
            value = value * 10 + (s[i] - '0');
            if (value > limit) {
                overflow = true;
            }
        }
    }
    if (overflow) {
        return 0;
    }
    return negative ? -value : value;
}

// Up to the first seven pieces of a line split at commas, plus the number of pieces (capped at
// eight; callers only care about "fewer than five", "exactly five" and "six or more"). A comma
// that ends the line (a CR after it aside) adds no piece.
struct SplitLine {
    std::string_view pieces[7];
    int count = 0;
};

SplitLine SplitAtCommas(std::string_view line) {
    SplitLine out;
    size_t start = 0;
    int commas = 0;
    while (out.count < 8) {
        size_t comma = line.find(',', start);
        std::string_view piece = line.substr(
            start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (out.count < 7) {
            out.pieces[out.count] = piece;
        }
        ++out.count;
        if (comma == std::string_view::npos) {
            break;
        }
        ++commas;
        start = comma + 1;
    }
    if (out.count <= 7) {
        std::string_view body = line;
        if (!body.empty() && body.back() == '\r') {
            body.remove_suffix(1);
        }
        if (commas > 0 && !body.empty() && body.back() == ',') {
            --out.count;
        }
    }
    return out;
}

}  // namespace

bool ParseLabelInt(std::string_view field, int& out) {
    bool digits = false;
    bool overflow = false;
    long long value = ScanInteger(field, digits, overflow);
    if (!digits || overflow || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

bool FrameFromFileName(std::string_view fileName, int& frame) {
    std::string stem = DropLastChars(fileName, 4);
    bool digits = false;
    bool overflow = false;
    long long value = ScanInteger(stem, digits, overflow);
    if (overflow || value < 0 || value > INT_MAX) {
        return false;
    }
    frame = digits ? static_cast<int>(value) : 0;
    return true;
}

void ParseLabelFileText(std::string_view text, int frame, std::vector<ROI>& out) {
    if (text.empty()) {
        return;
    }
    size_t firstEnd = text.find('\n');
    const bool fiveColumns = SplitAtCommas(text.substr(0, firstEnd)).count == 5;

    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        std::string_view line =
            text.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? text.size() : end + 1;

        SplitLine split = SplitAtCommas(line);
        if (split.count < 5) {
            return;  // a short line ends the file
        }
        int values[5];
        bool ok = true;
        for (int i = 0; i < 5 && ok; ++i) {
            ok = ParseLabelInt(split.pieces[i], values[i]);
        }
        int nClass = 0;
        if (ok && !fiveColumns && split.count >= 6) {
            ok = ParseLabelInt(split.pieces[5], nClass);
        }
        if (!ok) {
            continue;  // a damaged line costs only itself
        }
        ROI roi;
        roi.nFrame = frame;
        roi.rect = CRect{values[0], values[1], values[2], values[3]};
        roi.nLabel = values[4];
        roi.nClass = nClass;
        out.push_back(roi);
    }
}

void AppendLabelLine(std::string& out, const ROI& roi) {
    const int values[6] = {roi.rect.left,   roi.rect.top, roi.rect.right,
                           roi.rect.bottom, roi.nLabel,   roi.nClass};
    char buf[16];
    for (int i = 0; i < 6; ++i) {
        if (i > 0) {
            out.push_back(',');
        }
        auto res = std::to_chars(buf, buf + sizeof buf, values[i]);
        out.append(buf, res.ptr);
    }
    out.append("\r\n");
}

std::string DropLastChars(std::string_view text, size_t count) {
    size_t end = text.size();
    for (size_t dropped = 0; dropped < count; ++dropped) {
        if (end == 0) {
            return std::string();
        }
        --end;
        // Step back over UTF-8 continuation bytes so that a character is removed whole.
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
            --end;
        }
    }
    return std::string(text.substr(0, end));
}

std::u16string Utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    const size_t n = text.size();
    auto byteAt = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    while (i < n) {
        unsigned char c = byteAt(i);
        uint32_t cp = 0;
        size_t len = 0;
        uint32_t min = 0;
        if (c < 0x80) {
            cp = c;
            len = 1;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F;
            len = 2;
            min = 0x80;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F;
            len = 3;
            min = 0x800;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07;
            len = 4;
            min = 0x10000;
        } else {
            out.push_back(u'\uFFFD');
            ++i;
            continue;
        }
        size_t k = 1;
        for (; k < len && i + k < n && (byteAt(i + k) & 0xC0) == 0x80; ++k) {
            cp = (cp << 6) | (byteAt(i + k) & 0x3F);
        }
        if (k < len || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            // Malformed: one replacement for the bytes examined, then resynchronise.
            out.push_back(u'\uFFFD');
            i += k;
            continue;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

unsigned ReportBucketOfLabel(int label) {
    long long k = label;
    long long h = 16807 * (k % 127773) - 2836 * (k / 127773);
    if (h < 0) {
        h += 2147483647;
    }
    return static_cast<unsigned>(static_cast<uint32_t>(h) % 17u);
}
