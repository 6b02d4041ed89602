// C-library substitutes: the constant answers, the reporters of unsupported
// functions, the captured standard streams and the substitutes that work
// through host services.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "prx.h"

// Constant substitutes; their arguments are never read.
extern "C" int32_t prx_return_one(...);
extern "C" int32_t prx_open(...);
extern "C" int32_t prx_return_zero(...);
extern "C" int32_t prx_return_two(...);

// Reporters of unsupported C functions: message 304 with the name, then a
// fixed answer.
#define PRX_UNSUP(FN, NAME, RET, VALUE, PARAMS) RET FN PARAMS;
#define PRX_UNSUP_VOID(FN, NAME, PARAMS) void FN PARAMS;
#include "prxunsup.def"
#undef PRX_UNSUP
#undef PRX_UNSUP_VOID

// Captured standard streams.
int64_t prx_stream_write(PrxStream stream, const void* data, uint32_t size, uint32_t count);
int64_t prx_fwrite(const void* data, uint32_t size, uint32_t count, PrxStream stream);
// The error query of a stream: 0 for the captured streams, whose writes
// answer a failure (lack of memory) themselves; other streams are the
// unsupported FERROR.
int32_t prx_ferror(PrxStream stream);
int32_t prx_fputs(const char* text, PrxStream stream);
int32_t prx_fputc(int32_t c, PrxStream stream);
void prx_fprintf(PrxStream stream, const char* fmt, ...);
void prx_vfprintf(PrxStream stream, const char* fmt, va_list* args);
void prx_write(int32_t fd, const void* data, uint32_t length);
// The interpreter's own text for its standard error: the STDERR handle's
// output stream, or stream 2 when the handle has none.
void prx_stderr_write(PERLGCB* gcb, const char* text, size_t length);

// Substitutes that work through host services.
const char* prx_strchr(const char* text, int c);
const char* prx_strrchr(const char* text, int c);
int32_t prx_strcmp(const char* a, const char* b, int64_t limit);
char* prx_strcat(char* dst, const char* src);
int32_t prx_atoi(const char* text);
double prx_atof(const char* text);
char* prx_gcvt(double value, int32_t width, char* buffer);
int32_t prx_time(int32_t* out);
int32_t prx_sleep(uint32_t seconds);
int32_t prx_rand();
void prx_srand(uint32_t seed);
int32_t prx_sprintf(char* dst, const char* fmt, ...);
int32_t prx_getid();
void* prx_localtime(const void* time, void* ignored);
int32_t prx_find_byte(const void* bytes, int32_t count, int byte);
void* host_pool_alloc(host_pool* pool, uint64_t size, uint32_t flags);
int32_t host_pool_free(host_pool* pool, void* block, uint64_t size, uint32_t flags);

// The fixed time record of prx_localtime (36 bytes).
struct prx_tm {
    int32_t sec, min, hour, mday, mon, year, wday, yday, isdst;
};
static_assert(sizeof(prx_tm) == 36);

// Last resort when no interpreter can take an error: the message goes to the
// process's own standard error and the process stops.
[[noreturn]] void prx_host_abort(const char* message);
