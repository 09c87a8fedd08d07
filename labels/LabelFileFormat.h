#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "labels/ROI.h"

// The text formats of the label folder, kept apart from the store so that the parsers can be
// exercised (and fuzzed) on plain bytes without touching the disk.
//
// Per-frame file "<frame>.txt": one line per record, "left,top,right,bottom,label,class" in
// decimal, each line ended by CR LF. Files of an older form have five columns (no class).

// Converts one comma-separated field the way the C library's strtol does (leading white space,
// an optional sign, digits up to the first non-digit; trailing characters such as a CR are
// ignored). Returns false when the field has no leading digits or the value does not fit a
// 32-bit int; `out` is untouched then.
bool ParseLabelInt(std::string_view field, int& out);

// Frame number of a per-frame file name: the name without its last four characters, converted
// like atoi (no digits gives 0). Returns false when the number is negative or does not fit 32
// bits: such files are never read.
bool FrameFromFileName(std::string_view fileName, int& frame);

// Parses the whole content of a per-frame file into records of `frame` (appended to `out` in
// file order; later lines of the same label replace earlier ones only when stored).
// - The first line decides the form: exactly five pieces means the five-column form (class 0
//   for every line), anything else the six-column form.
// - A line with fewer than five pieces (an empty line included) ends the file.
// - A line with a field that is not a number or does not fit 32 bits is skipped.
// - A line with exactly five pieces in a six-column file gets class 0.
void ParseLabelFileText(std::string_view text, int frame, std::vector<ROI>& out);

// Appends "left,top,right,bottom,label,class\r\n".
void AppendLabelLine(std::string& out, const ROI& roi);

// Removes the last `count` characters (UTF-8 code points, not bytes) of a string; an empty
// string when it has no more than that.
std::string DropLastChars(std::string_view text, size_t count);

// UTF-8 to UTF-16 code units. Malformed sequences become U+FFFD; code points above U+FFFF
// become surrogate pairs.
std::u16string Utf8ToUtf16(std::string_view text);

// Hash of the report's 17-bucket label table: h(k) = 16807 (k mod 127773) - 2836 (k div
// 127773), plus 2147483647 when negative; the bucket is h mod 17 with h taken as unsigned.
unsigned ReportBucketOfLabel(int label);
