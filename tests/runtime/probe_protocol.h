// The probe reports one "key=value" line per observation; values are escaped so that
// line breaks inside a box text survive the line format.
#pragma once

#include <string>
#include <string_view>

inline std::string EscapeLineValue(std::string_view value)
{
    std::string escaped;
    for (char c : value) {
        switch (c) {
        case '\\': escaped += "\\\\"; break;
        case '\r': escaped += "\\r"; break;
        case '\n': escaped += "\\n"; break;
        default: escaped += c;
        }
    }
    return escaped;
}
