// matchmod's reach into rexhost: the call stubs of its entry slots (host
// service group 183 once rexhost is bound).
#pragma once

#include <cstdint>

#include "host/hostcall.h"
#include "host/prxabi.h"

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
