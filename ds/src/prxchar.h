// Character classes of the text the front end reads a byte at a time: program
// source, pack templates and format pictures. The classes are the host's
// 256-byte tables (never <cctype>); the helpers take the bytes as char.
#pragma once

#include <cstdint>
#include <cstring>

#include "host/hostif.h"

namespace prxchar {

inline bool is_space(char c) { return host_is_space(static_cast<uint8_t>(c)); }
inline bool is_digit(char c) { return host_is_digit(static_cast<uint8_t>(c)); }
inline bool is_alpha(char c) { return host_is_alpha(static_cast<uint8_t>(c)); }
inline bool is_word(char c) { return host_is_word(static_cast<uint8_t>(c)); }
inline bool is_lower(char c) { return host_cclass(static_cast<uint8_t>(c)) & HC_LOWER; }
inline bool is_print(char c) { return host_cclass(static_cast<uint8_t>(c)) & HC_PRINT; }
// One of "0" to "9", whatever else the host's table may call a digit: the
// digits of pack's repeat counts.
inline bool is_decimal_digit(char c) { return c >= '0' && c <= '9'; }
// A blank or a tab, the only white space between a format's arguments and
// around the markers of here-documents and line directives.
inline bool blank_or_tab(char c) { return c == ' ' || c == '\t'; }
// c is one of the bytes of set; the NUL never is.
inline bool one_of(char c, const char* set) { return c && std::strchr(set, c); }
// A code point that is one of the bytes of set.
inline bool one_of(uint32_t c, const char* set) { return c && c < 256 && std::strchr(set, static_cast<char>(c)); }

}  // namespace prxchar
