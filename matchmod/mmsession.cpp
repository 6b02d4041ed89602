// The per-session support record: created the first time a pattern-handle
// slot routine needs it, registered with the host under key 37.
#include "matchmod/mmsession.h"

#include <cstring>

#include "host/hostcall.h"
#include "host/xkmem.h"
#include "matchmod/xkstore.h"
#include "matchmod/xkstring.h"
#include "rng/rng.h"

namespace {

constexpr uint32_t SESSION_FLAGS = 0x3006;   // zero-filled
constexpr uint64_t NEG_PI_BITS = 0xC00921FB54442D18ull;
constexpr char DELIMITERS[] = " .<(+&!$*);^-/,%|";

}  // namespace

XkFuncSession* xk_session_of(host_task* task)
{
    if (!task || !task->session_block)
        return nullptr;
    XkFuncSession* s;
    std::memcpy(&s, task->session_block + HOST_SESSION_RECORD_OFFSET, sizeof s);
    return s;
}

uint32_t xkFuncSessionInit(host_task* task)
{
    host_pool* pool = task->allocator;
    auto* s = static_cast<XkFuncSession*>(xk_alloc(pool, sizeof(XkFuncSession), SESSION_FLAGS));
    // Nothing is registered without a record.
    if (!s)
        return ST_NO_MEMORY;
    xkSessionRegister(task, XK_SESSION_KEY, s);

    int32_t seed = xkOptionLookup("-rngseed");
    s->rng = xkRngStreamCreate(task, static_cast<uint64_t>(static_cast<int64_t>(seed)), 0);
    if (!s->rng)
        return ST_NO_MEMORY;
    s->w1 = 0;
    std::memcpy(&s->neg_pi, &NEG_PI_BITS, sizeof s->neg_pi);

    // A failed read leaves the record registered with its stream and
    // without tables.
    int32_t status = xkOptionValue("YEARCUTOFF", 10, 0, 0, 0, &s->yearcutoff, nullptr, task);
    if (status != 0)
        return static_cast<uint32_t>(status);
    xkGroup39Slot194(s->text8);
    s->text8_length = static_cast<uint16_t>(xkTrimLength(s->text8, 8));

    s->delimiters = static_cast<uint8_t*>(xk_alloc(pool, 256));
    if (!s->delimiters)
        return ST_NO_MEMORY;
    for (const char* p = DELIMITERS; *p; p++)
        s->delimiters[static_cast<uint8_t>(*p)] = 1;
    s->table2 = static_cast<uint8_t*>(xk_alloc(pool, 256));
    if (!s->table2)
        return ST_NO_MEMORY;
    return 0;
}
