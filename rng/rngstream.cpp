// Random streams: creation from a task's allocator, initialisation (method
// selection, seed and stream-number checks, announcement) and reset, which
// applies seed, counter and stream number through the method's operations.
#include <cstring>

#include "host/xkmem.h"
#include "rng/rngimpl.h"

namespace {

constexpr uint32_t NULL_STREAM = 0x803FC002u;
constexpr uint32_t STREAM_FLAGS = 8198;   // zero-filled: init reads fields nothing wrote yet
constexpr uint64_t PACKED_LIMIT32 = 1023;
constexpr uint64_t PACKED_LIMIT64 = 0xFFFFF;

// The stream keeps the first problem it meets.
void note_status(RngStream* s, uint32_t status)
{
    if (s->status == 0)
        s->status = static_cast<int32_t>(status);
}

bool small(const RngMethod* m) { return m->output_bits <= 32; }

}  // namespace

RngStream* xkRngStreamCreate(host_task* task, uint64_t seed, uint64_t stream)
{
    if (!task)
        task = host_task_handle(host_main_task());
    if (!task)
        return nullptr;
    auto* s = static_cast<RngStream*>(xk_alloc(task->allocator, RNG_STREAM_ALLOCATION, STREAM_FLAGS));
    if (!s)
        return nullptr;
    s->method = &s->embedded;
    s->state = s->state_area;
    s->task = task;
    s->seed = seed;
    s->stream = stream;
    xkRngStreamInit(s);
    return s;
}

uint32_t xkRngStreamInit(RngStream* s)
{
    if (!s)
        return NULL_STREAM;
    // The default seed follows the method attached before this selection.
    uint32_t noted_bits = s->method ? s->method->output_bits : 0;
    s->marker = RNG_MARKER;
    s->status = 0;
    if (!s->log)
        s->log = xk_log();
    if (!s->method)
        s->method = &s->embedded;

    if (s->requested_name != s->embedded.name) {
        const void* requested = s->requested_name;
        s->requested_name = s->embedded.name;
        if (requested) {
            s->flags &= ~uint64_t{RNG_ANNOUNCED};
            s->flags |= RNG_ANNOUNCE;
        }
        s->status = static_cast<int32_t>(xkRngSelectMethod(requested, -1, &s->embedded, s->flags));
        s->uniform = s->method->ops.uniform_open;
        s->state_size = static_cast<uint64_t>(s->method->ops.state_size());
        std::memcpy(s->method_name, s->embedded.wide_name, sizeof s->method_name);
        s->ready = 0;
    }
    RngMethod* m = s->method;

    double seed_double = rng_present(s->seed_double);
    if (!(m->flags & (RNG_SEED32 | RNG_SEED64))) {
        if (seed_double != 0 || s->seed != 0) {
            note_status(s, RNG_ST_NO_SEED);
            xkRngMessage(XK_LEVEL_WARNING, RNG_MSG_SEED_IGNORED,
                         seed_double != 0 ? seed_double : static_cast<double>(s->seed), s->method_name);
        }
    } else {
        if (seed_double != 0)
            s->seed = rng_u64_of(xkRngSeedFromDouble(seed_double, m->largest_seed));
        if (s->seed == 0)
            s->seed = noted_bits <= 32 ? xkRngDefaultSeed31() : xkRngDefaultSeed64();
        if (seed_double != 0 && seed_double != static_cast<double>(s->seed))
            xkRngMessage(XK_LEVEL_WARNING, RNG_MSG_SEED_CHANGED, seed_double,
                         static_cast<unsigned long long>(m->largest_seed), s->method_name,
                         static_cast<unsigned long long>(s->seed), static_cast<unsigned long long>(s->seed));
    }

    double stream_double = rng_present(s->stream_double);
    if (!(m->flags & (RNG_STREAM32 | RNG_STREAM64))) {
        if (stream_double != 0 || s->stream != 0) {
            note_status(s, RNG_ST_NO_STREAM);
            xkRngMessage(XK_LEVEL_WARNING, RNG_MSG_STREAM_IGNORED,
                         stream_double != 0 ? stream_double : static_cast<double>(s->stream), s->method_name);
        }
    } else if (stream_double != 0 && (stream_double < 0 || stream_double > static_cast<double>(m->largest_stream) ||
                                      stream_double != std::trunc(stream_double))) {
        note_status(s, RNG_ST_STREAM_RANGE);
        xkRngMessage(XK_LEVEL_ERROR, RNG_MSG_STREAM_DOUBLE, stream_double,
                     static_cast<unsigned long long>(m->largest_stream), s->method_name);
    } else if (s->stream > m->largest_stream) {
        note_status(s, RNG_ST_STREAM_RANGE);
        xkRngMessage(XK_LEVEL_ERROR, RNG_MSG_STREAM_RANGE, static_cast<unsigned long long>(s->stream),
                     static_cast<unsigned long long>(m->largest_stream), s->method_name);
    }

    if ((s->flags & RNG_ANNOUNCE) && !(s->flags & RNG_ANNOUNCED)) {
        s->flags |= RNG_ANNOUNCED;
        const char* text = (m->flags & RNG_DESCRIBED) ? m->description : m->name;
        auto seed = static_cast<unsigned long long>(s->seed);
        auto stream = static_cast<unsigned long long>(s->stream);
        if (s->stream)
            xkRngMessage(XK_LEVEL_NOTE, RNG_MSG_METHOD_STREAM, text, seed, seed, stream, stream);
        else if (s->seed)
            xkRngMessage(XK_LEVEL_NOTE, RNG_MSG_METHOD_SEED, text, seed, seed);
        else
            xkRngMessage(XK_LEVEL_NOTE, RNG_MSG_METHOD, text);
    }

    xkRngStreamReset(s);
    s->applied_seed = s->seed;
    s->seed_hash = small(m) ? rng_fmix32(static_cast<uint32_t>(s->seed))
                            : static_cast<uint32_t>(rng_fmix64(s->seed));
    if (m->ops.uniform_classic)
        s->uniform = m->ops.uniform_classic;
    return static_cast<uint32_t>(s->status);
}

uint32_t xkRngStreamReset(RngStream* s)
{
    if (!s)
        return NULL_STREAM;
    RngMethod* m = s->method;
    const RngMethodOps& ops = m->ops;
    void* st = s->state;
    bool narrow = small(m);
    if (m->flags & (RNG_SEED32 | RNG_SEED64)) {
        if (narrow)
            ops.seed32(st, static_cast<uint32_t>(s->seed));
        else
            ops.seed64(st, s->seed);
    }
    if (m->flags & (RNG_COUNTER32 | RNG_COUNTER64)) {
        if (narrow)
            ops.counter32(st, static_cast<uint32_t>(s->counter));
        else
            ops.counter64(st, s->counter);
        if (m->flags & (RNG_STREAM32 | RNG_STREAM64)) {
            if (narrow)
                ops.stream32(st, static_cast<uint32_t>(s->stream));
            else
                ops.stream64(st, s->stream);
        }
    } else if (m->flags & (RNG_STREAM32 | RNG_STREAM64)) {
        // The stream number goes above the counter; it is applied after
        // the error as well.
        uint64_t limit = narrow ? PACKED_LIMIT32 : PACKED_LIMIT64;
        if (s->stream > limit) {
            note_status(s, RNG_ST_STREAM_RANGE);
            xkRngMessage(XK_LEVEL_ERROR, RNG_MSG_STREAM_RANGE, static_cast<unsigned long long>(s->stream),
                         static_cast<unsigned long long>(limit), s->method_name);
        }
        if (narrow)
            ops.stream32(st, static_cast<uint32_t>((s->stream << 21) | s->counter));
        else
            ops.stream64(st, (s->stream << 43) | s->counter);
    }
    uint64_t empty = RNG_EMPTY_BITS;
    for (double& d : s->cached)
        std::memcpy(&d, &empty, sizeof d);
    s->cached_integer = 0x80000001u;
    s->cache_flags[0] = s->cache_flags[1] = 0;
    s->ready = 1;
    return static_cast<uint32_t>(s->status);
}
