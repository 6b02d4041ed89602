// The blank-padded string toolkit: lengths, trimming, case and comparison of
// 8-bit and UTF-16 text as the host keeps it (counted, blank-padded, or
// zero-terminated), and small block routines. Lengths count characters.
#pragma once

#include <cstdint>

// Lengths up to the terminator; 0 for a null pointer.
int32_t xkStrLen(const char* text);
int32_t xkWcsLen(const char16_t* text);
// Lengths without trailing blanks; 0 for a null pointer or length 0.
int32_t xkTrimLength(const char* text, int32_t length);
int32_t xkWcsTrimLength(const char16_t* text, int32_t length);
// Case in place: the host's case service for characters above 127 when it
// offers one, the toolkit's own tables otherwise.
void xkWcsUpper(char16_t* text, int32_t length);
void xkWcsLower(char16_t* text, int32_t length);
// 1 when the lengths are equal and every pair folds to the same character.
int32_t xkWcsEqualNoCase(const char16_t* keyword, int32_t keyword_length, const char16_t* text, int32_t length);
// 0 equal as if blank-padded; -1/1 differ only in case (raw order of the
// first difference); -2/2 differ otherwise.
int32_t xkWcsComparePadded(const char16_t* a, int32_t alen, const char16_t* b, int32_t blen);
// Copies up to and including the terminator; a null source leaves an empty
// destination, a null destination does nothing.
void xkStrCopy(const char* source, char* destination);
void xkWcsCopy(const char16_t* source, char16_t* destination);
// ASCII case of a byte block in place (the Alt builds are plain loops).
void xkBytesUpper(void* buffer, int64_t count);
void xkBytesUpperAlt(void* buffer, int64_t count);
void xkBytesLower(void* buffer, int64_t count);
void xkBytesLowerAlt(void* buffer, int64_t count);
// 1 when all count elements equal the value (also for count 0).
int32_t xkBytesAllEqual(uint8_t value, const void* buffer, int64_t count);
int32_t xkWcsAllEqual(char16_t value, const char16_t* text, int64_t count);
void xkBytesFill(void* buffer, uint8_t value, int64_t count);
void xkWcsFill(char16_t* buffer, char16_t value, int64_t count);
// -1, 0 or 1 by the first differing element, compared unsigned.
int32_t xkBytesCompare(const void* a, const void* b, int64_t count);
int32_t xkWcsCompare(const char16_t* a, const char16_t* b, int64_t count);
// Front-to-back copy, and a copy correct for overlapping areas.
void xkBytesCopyForward(const void* source, void* destination, int64_t count);
void xkBytesMove(const void* source, void* destination, int64_t count);
// Index of the first element equal (Find) or not equal (Span) to the value;
// -1 when none, for a null buffer or count 0.
int64_t xkBytesFind(const void* buffer, int64_t count, uint8_t value);
int64_t xkBytesSpan(const void* buffer, int64_t count, uint8_t value);
int64_t xkWcsSpan(const char16_t* text, int64_t count, char16_t value);
int64_t xkWcsSpanAlt(const char16_t* text, int64_t count, char16_t value);
// 1 when any element is the host's missing value (top 16 bits all ones).
int32_t xkAnyMissing(const double* values, int64_t count);
// Each character becomes the smallest (Min) or largest (Max) member of its
// case class.
void xkWcsCaseMin(char16_t* text, int32_t length);
void xkWcsCaseMax(char16_t* text, int32_t length);

// Single characters through the toolkit's own tables.
char16_t xk_fold_char(char16_t c);
char16_t xk_upper_char(char16_t c);
// The host's missing value: a double whose top 16 bits are all ones.
inline bool xk_is_missing(double d)
{
    uint64_t bits;
    __builtin_memcpy(&bits, &d, sizeof bits);
    return (bits >> 48) == 0xFFFF;
}
// A host number counts as missing when its exponent bits (52 to 62) are all
// ones: any NaN or infinity.
inline bool xk_number_missing(double d)
{
    uint64_t bits;
    __builtin_memcpy(&bits, &d, sizeof bits);
    return ((bits >> 52) & 0x7FF) == 0x7FF;
}
