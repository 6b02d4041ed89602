// The toolkit's padded-string and block routines: counted lengths, copies
// naming the source first, comparisons answering the signed 1-based position
// of the first difference.
#pragma once

#include <cstdint>

int32_t xk_padcmp(const void* a, int32_t alen, const void* b, int32_t blen, int pad);
int64_t xk_padcmp64(const void* a, int64_t alen, const void* b, int64_t blen);
void xk_fill(int byte, void* dst, int32_t len);
void xk_copy(const void* src, void* dst, int32_t len);
void xk_move(const void* src, void* dst, int32_t len);
// Pieces follow the count as (const void* bytes, int32_t length) pairs.
int32_t xk_padcat(void* dst, int32_t size, int32_t sep, int32_t count, ...);
void xk_justify(void* field, int32_t len, int mode, int32_t* out_len, int32_t* out_off);
int32_t xk_findbyte(const void* buf, int32_t len, int byte);
double ranuni_next(uint32_t* seed);
void xk_read_host_setting();

extern int32_t g_host_setting;  // copied from the host settings record at start
