// matchmod's reach into rexhost: the call stubs of its entry slots (host
// service group 183 once rexhost is bound).
#pragma once

#include <cstdint>

#include "host/hostcall.h"
#include "host/prxabi.h"

// Each stub marks group 183 in use and calls its row's slot with the
// caller's arguments; matchmod calls slots 6, 8, 9, 11 and 12.
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) \
    inline RET FN PARAMS { return host_entry<REXHOST_GROUP, SLOT, FN##_fn>() ARGS; }
#include "host/prxentry.def"
#undef PRX_ENTRY
