// matchmod's reach into the host: the call stubs of rexhost's entry slots
// (host service group 183 once rexhost is bound) and the wrappers over the
// toolkit-services record's log object and system-information service.
#pragma once

#include <cstdint>

#include "host/hostcall.h"
#include "host/prxabi.h"
#include "host/xkservices.h"

// The toolkit-services record, kept by mcn_main from host_vector slot 82.
extern XkServices* g_xk_services;

// ---- rexhost's entry slots ------------------------------------------------------
// Each stub marks group 183 in use and calls the slot with the caller's arguments.

inline uint32_t rexhost_match(PERLGCB* interp, host_task* task, re_compiled* pattern, const char* start,
                              const char* end, const char* beginning, int32_t min_end, uint32_t flags)
{
    return host_entry<REXHOST_GROUP, 6, rexhost_match_fn>()(interp, task, pattern, start, end, beginning, min_end,
                                                           flags);
}
inline void rexhost_report_errors(host_task* task, PERLGCB* interp, const char* name)
{
    host_entry<REXHOST_GROUP, 8, rexhost_report_fn>()(task, interp, name);
}
inline void rexhost_report_notes(host_task* task, PERLGCB* interp, const char* name)
{
    host_entry<REXHOST_GROUP, 9, rexhost_report_fn>()(task, interp, name);
}
inline uint32_t rexhost_compile(PrxCompiled* record, host_task* task, const char* text, int32_t length,
                                const char* name, int32_t constant)
{
    return host_entry<REXHOST_GROUP, 11, rexhost_compile_fn>()(record, task, text, length, name, constant);
}
inline void rexhost_release(host_task* task, PrxCompiled* record)
{
    host_entry<REXHOST_GROUP, 12, rexhost_release_fn>()(task, record);
}

// ---- log object and system information -------------------------------------------

// Word 4 of the log object: format into a UTF-16 buffer.
int32_t xkHostWrite(XkLog* log, const char16_t* format, int64_t zero, char16_t* buffer, int32_t size,
                    int32_t* length, ...);
// Word 5: print one line at a level (the fourth argument is 0 at every call).
int32_t xkPrintMessage(XkLog* log, int32_t level, const char16_t* format, int64_t zero, ...);
// Word 7: issue a numbered message at a level.
int32_t xkHostMessage(XkLog* log, int32_t level, uint32_t code, ...);
// System information, class 8: a block of at least 200 bytes.
uint32_t xkHostQuery(void* buffer);
// System information, class 0x10: the 352-byte processor block.
uint32_t xkHostQueryProcessor(void* buffer);
// The host clock in seconds.
double xkClockSeconds();
// The log object, or null when the host offers none.
inline XkLog* xk_log() { return g_xk_services ? g_xk_services->log : nullptr; }

// Levels of the log object's prints and messages.
enum : int32_t {
    XK_LEVEL_DUMP = 0,
    XK_LEVEL_INFO = 1,
    XK_LEVEL_NOTE = 2,
    XK_LEVEL_WARNING = 3,
    XK_LEVEL_ERROR = 4,
};
