#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "export/Dataset.h"

// Text that is not UTF-8 (a Latin-1 or CP949 file name) cannot go into JSON as it is: it goes in
// with the bad bytes replaced, and its exact bytes in hex in "<field>_hex" beside it, from where
// a reader takes them back.

inline void PutJsonText(nlohmann::json& object, const char* field, const std::string& text) {
    object[field] = text;
    if (!IsUtf8(text)) {
        object[std::string(field) + "_hex"] = HexBytes(text);
    }
}

inline std::string GetJsonText(const nlohmann::json& object, const char* field) {
    std::string bytes;
    const auto hex = object.find(std::string(field) + "_hex");
    if (hex != object.end() && hex->is_string() && UnhexBytes(hex->get<std::string>(), bytes)) {
        return bytes;
    }
    const auto it = object.find(field);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}
