// Generator method records: the registration routine of every method (one
// expansion of the method table), and the operations many methods share.
#include <cstring>
#include <type_traits>

#include "rng/rngimpl.h"

namespace {

struct MethodRow {
    const char* name;
    const char* description;   // empty: none
    uint64_t key_bytes;
    uint32_t output_bits;
    uint64_t flags;
    uint64_t largest_seed;
    uint64_t largest_stream;
    const RngMethodOps* ops;
};

void register_method(RngMethod* m, const MethodRow& row)
{
    *m = RngMethod{};
    m->name_capacity = sizeof m->name;
    m->description_capacity = sizeof m->description;
    m->flags |= row.flags;
    int32_t n = xkStrLen(row.name);
    if (n > 15)
        n = 15;
    for (int32_t i = 0; i < n; i++) {
        m->name[i] = row.name[i];
        m->wide_name[i] = static_cast<uint8_t>(row.name[i]);
    }
    m->name[n] = 0;
    m->wide_name[n] = 0;
    if (row.description[0]) {
        int32_t d = xkStrLen(row.description);
        if (d > 63)
            d = 63;
        std::memcpy(m->description, row.description, static_cast<size_t>(d));
        m->description[d] = 0;
    }
    xkRngMessage(XK_LEVEL_INFO, RNG_MSG_REGISTERED, row.description[0] ? m->description : m->name);
    m->largest_seed = row.largest_seed;
    m->largest_stream = row.largest_stream;
    m->key_bytes = row.key_bytes;
    m->key_bits = static_cast<uint32_t>(row.key_bytes * 8);
    m->output_bits = row.output_bits;
    m->ops = *row.ops;
}

template <class W>
void print_words(const char16_t* const* formats, const void* state, int32_t total, int32_t count)
{
    XkLog* log = xk_log();
    if (!log)
        return;
    using Arg = std::conditional_t<sizeof(W) == 4, unsigned, unsigned long long>;
    int32_t shown = count < total ? count : total;
    auto value = [&](int32_t i) -> Arg {
        W v;
        std::memcpy(&v, static_cast<const uint8_t*>(state) + sizeof(W) * static_cast<size_t>(i), sizeof v);
        return static_cast<Arg>(v);
    };
    for (int32_t i = 0; i < shown; i += 4) {
        switch (shown - i < 4 ? shown - i : 4) {
        case 4:
            xkPrintMessage(log, XK_LEVEL_DUMP, formats[3], 0, i, value(i), i + 1, value(i + 1), i + 2, value(i + 2),
                           i + 3, value(i + 3));
            break;
        case 3:
            xkPrintMessage(log, XK_LEVEL_DUMP, formats[2], 0, i, value(i), i + 1, value(i + 1), i + 2, value(i + 2));
            break;
        case 2:
            xkPrintMessage(log, XK_LEVEL_DUMP, formats[1], 0, i, value(i), i + 1, value(i + 1));
            break;
        default:
            xkPrintMessage(log, XK_LEVEL_DUMP, formats[0], 0, i, value(i));
            break;
        }
    }
    if (count < total)
        xkPrintMessage(log, XK_LEVEL_DUMP, u"        Further elements omitted.", 0);
}

constexpr const char16_t* FORMATS32[4] = {
    u"   %3i: %8x",
    u"   %3i: %8x  %3i: %8x",
    u"   %3i: %8x  %3i: %8x  %3i: %8x",
    u"   %3i: %8x  %3i: %8x  %3i: %8x  %3i: %8x",
};
constexpr const char16_t* FORMATS64[4] = {
    u"   %3i: %16llx",
    u"   %3i: %16llx  %3i: %16llx",
    u"   %3i: %16llx  %3i: %16llx  %3i: %16llx",
    u"   %3i: %16llx  %3i: %16llx  %3i: %16llx  %3i: %16llx",
};

}  // namespace

#define RNG_METHOD(id, reg, name, description, key_bytes, output_bits, flags, largest_seed, largest_stream)   \
    void reg(RngMethod* method)                                                                            \
    {                                                                                                      \
        static constexpr MethodRow row = {name,  description,    key_bytes,       output_bits,             \
                                          flags, largest_seed,   largest_stream,  &rng_ops_##id};          \
        register_method(method, row);                                                                      \
    }
#include "rng/rngmethods.def"
#undef RNG_METHOD

int32_t rng_key_contract(void* key, size_t key_bytes, const void* bytes, int64_t length, uint32_t mode)
{
    uint8_t* k = static_cast<uint8_t*>(key);
    if (length < 1)
        return 0;
    if (static_cast<uint64_t>(length) >= key_bytes) {
        std::memcpy(k, bytes, key_bytes);
        return 2;
    }
    size_t n = static_cast<size_t>(length);
    if (mode & 0x2) {
        for (size_t done = 0; done < key_bytes; done += n)
            std::memcpy(k + done, bytes, done + n <= key_bytes ? n : key_bytes - done);
        return 3;
    }
    std::memcpy(k, bytes, n);
    if (mode & 0x1)
        return 1;
    // The method's own expansion.
    size_t first = key_bytes < 8 ? key_bytes : 8;
    if (n < first)
        std::memset(k + n, 0, first - n);
    if (key_bytes >= 16 && key_bytes % 8 == 0) {
        size_t words = key_bytes / 8;
        size_t given = n / 8 ? n / 8 : 1;
        for (size_t w = given; w < words; w++) {
            uint64_t v;
            std::memcpy(&v, k + 8 * (w - given), 8);
            v = rng_fmix64(v);
            std::memcpy(k + 8 * w, &v, 8);
        }
    }
    return 4;
}

int32_t xkRngSetKeyBytes(void* state, const void* bytes, int64_t length, uint32_t mode)
{
    return rng_key_contract(state, 8, bytes, length, mode);
}

int32_t rng_refuse_key(void*, const void*, int64_t length, uint32_t) { return length < 1 ? 0 : -1; }

void rng_dump_nothing(void*, int32_t) {}

void rng_dump_words32(const void* state, int32_t size, int32_t count)
{
    print_words<uint32_t>(FORMATS32, state, size / 4, count);
}

void rng_dump_words64(const void* state, int32_t size, int32_t count)
{
    print_words<uint64_t>(FORMATS64, state, size / 8, count);
}

int32_t rng_state_size_note(const char* name, int32_t size)
{
    xkRngMessage(XK_LEVEL_INFO, RNG_MSG_STATE_SIZE, name, size);
    return size;
}
