// Settings from the host: the name/value store wrappers (typed reads, a
// count-down limit, keyword lookup), the option-string lookup and 8-bit to
// UTF-16 conversion. No wrapper fails its caller: failures are printed and
// issued, and the default comes back.
#pragma once

#include <cstdint>

// Messages of the store wrappers.
enum : uint32_t {
    XKNR_MSG_NOT_INTEGER = 0x8C7FE8C8u,   // (text length, text, name length, name, lowest, highest)
    XKNR_MSG_NOT_KEYWORD = 0x8C7FE8C9u,   // (text length, text, name length, name)
    XKNR_MSG_LIMIT_USED = 0x8C7FE8CAu,    // (name length, name)
};

// Name lengths of 0 or less are measured up to the terminator.
int32_t xknrtget(const char16_t* name, int32_t name_length, char16_t* out, int32_t capacity);
int64_t xknrlget(const char16_t* name, int32_t name_length, int64_t dflt);
double xknrdget(const char16_t* name, int32_t name_length, double dflt);
int64_t xknrlimit(const char16_t* name, int32_t name_length, int64_t dflt);
// Keyword pairs follow the default: (const char16_t* keyword, int code), ...,
// closed by a null keyword. Keywords are upper case.
int32_t xknrlook(const char16_t* name, int32_t name_length, int32_t dflt, ...);
// The integer rule for text settings, on its own: the number at `start`,
// 2^53 on positive overflow, -2^53 when the text is refused.
int64_t xkWcsToInteger(const char16_t* text, int32_t start);
// An option of the host's option string by name: its integer value, 1 when
// it is present without one, 0 when absent.
int32_t xkOptionLookup(const char* name);
// 8-bit text to UTF-16 through the host's transcoder; characters produced.
int32_t xkHostToWide(const char* text, char16_t* out, int32_t count);
