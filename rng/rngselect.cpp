// Method selection by name or setting, the framework's numbered messages
// with their filters and limits, and the seed sources.
#include <cstdarg>
#include <cstring>
#include <iterator>

#include "matchmod/xkstore.h"
#include "rng/rngimpl.h"

namespace {

// Accepted names: every method by its own name, then the other names some
// methods go by. The first letter picks the group, then the whole name is
// compared without regard to case.
struct MethodName {
    const char16_t* name;
    rng_register_fn reg;
};
constexpr MethodName METHOD_NAMES[] = {
#define RNG_METHOD(id, reg, name, ...) {u"" name, &reg},
#include "rng/rngmethods.def"
#undef RNG_METHOD
    {u"HARD", &xkRngRegisterRdrand},
    {u"HARDWARE", &xkRngRegisterRdrand},
    {u"MT", &xkRngRegisterMt64},
    {u"MT2002", &xkRngRegisterMt32},
    {u"PCG", &xkRngRegisterPcg64i},
    {u"TF", &xkRngRegisterFry4x64},
    {u"TF2", &xkRngRegisterFry2x64},
    {u"TF4", &xkRngRegisterFry4x64},
    {u"THREEFRY", &xkRngRegisterFry4x64},
    {u"THREEFRY2X32", &xkRngRegisterFry2x32},
    {u"THREEFRY2X64", &xkRngRegisterFry2x64},
    {u"THREEFRY4X64", &xkRngRegisterFry4x64},
    {u"TRNG", &xkRngRegisterRdrand},
};
static_assert(std::size(METHOD_NAMES) == RNG_METHOD_COUNT + 13);

constexpr char16_t METHOD_SETTING[] = u"OSENV.TOV_RNG_METHOD";
constexpr char16_t SEED_SETTING[] = u"xkbug.RNGSEED";
constexpr int32_t MAX_NAME = 15;

rng_register_fn recognise(const char16_t* name, int32_t length)
{
    if (length <= 0)
        return nullptr;
    char16_t first = xk_upper_char(name[0]);
    for (const MethodName& m : METHOD_NAMES)
        if (m.name[0] == first && xkWcsEqualNoCase(m.name, xkWcsLen(m.name), name, length))
            return m.reg;
    return nullptr;
}

// Waits for the host clock to move on (at most 10,000,000 further reads).
double clock_edge(double* before)
{
    double t0 = xkClockSeconds();
    double t = t0;
    for (int32_t i = 0; i < 10000000 && t == t0; i++)
        t = xkClockSeconds();
    *before = t0;
    return t;
}

}  // namespace

uint32_t xkRngSelectMethod(const void* name, int32_t length, RngMethod* method, uint64_t flags)
{
    if (!method)
        return 0;
    char16_t* work = method->wide_name;
    int32_t n = 0;
    bool named = false, too_long = false;
    if (name && (flags & RNG_NAME_WIDE)) {
        const char16_t* w = static_cast<const char16_t*>(name);
        if (length == -1)
            length = xkWcsLen(w);
        int32_t end = xkWcsTrimLength(w, length);
        int32_t lead = 0;
        while (lead < end && w[lead] == u' ')
            lead++;
        n = end - lead;
        if (n > MAX_NAME) {
            too_long = true;
        } else if (n > 0) {
            std::memmove(work, w + lead, static_cast<size_t>(n) * 2);
            named = true;
        }
    } else if (name) {
        const char* t = static_cast<const char*>(name);
        if (length == -1)
            length = xkStrLen(t);
        int32_t end = xkTrimLength(t, length);
        int32_t lead = 0;
        while (lead < end && t[lead] == ' ')
            lead++;
        n = end - lead;
        if (n > MAX_NAME) {
            too_long = true;
        } else if (n > 0) {
            n = xkHostToWide(t + lead, work, n);
            named = true;
        }
    }
    if (!named && !too_long) {
        // The setting, blank-padded as host texts are.
        n = xknrtget(METHOD_SETTING, 20, work, MAX_NAME);
        n = xkWcsTrimLength(work, n);
        if (n == 0) {
            xkRngRegisterMtHybrid(method);
            return 0;
        }
    }
    // Registration zeroes the record, the working name with it.
    char16_t copy[MAX_NAME + 1] = {};
    if (!too_long)
        std::memcpy(copy, work, static_cast<size_t>(n) * 2);
    rng_register_fn reg = too_long ? nullptr : recognise(copy, n);
    if (!reg) {
        xkRngRegisterMtHybrid(method);
        return RNG_ST_UNKNOWN_METHOD;
    }
    reg(method);
    if (method->key_bytes == 0 && !xkHasHardwareRandom()) {
        xkRngRegisterMtHybrid(method);
        return RNG_ST_NO_HARDWARE;
    }
    return 0;
}

int32_t xkRngMessage(int32_t severity, uint32_t code, ...)
{
    XkLog* log = xk_log();
    if (!log)
        return 0;
    if (severity < 2)
        severity = xknrlook(u"OSENV.TOV_RNG_SEVERITY", 0, severity, u"ERROR", 4, u"ERRORS", 4, u"WARN", 3,
                            u"WARNING", 3, u"WARNINGS", 3, u"NOTE", 2, u"NOTES", 2, u"YES", 2, u"INFO", 1, u"ALL",
                            0, nullptr);
    int32_t threshold = xknrlook(u"OSENV.TOV_RNG_MESSAGES", 0, 4, u"NO", 9, u"NONE", 9, u"ERROR", 4, u"ERRORS", 4,
                                 u"WARN", 3, u"WARNING", 3, u"WARNINGS", 3, u"NOTE", 2, u"NOTES", 2, u"YES", 2,
                                 u"INFO", 1, u"ALL", 0, nullptr);
    if (severity < threshold)
        return 0;
    int32_t level;
    int64_t left;
    if (severity < 3) {
        left = xknrlimit(u"OSENV.TOV_RNG_NOTE_LIMIT", 0, 100);
        level = XK_LEVEL_NOTE;
    } else {
        left = xknrlimit(u"OSENV.TOV_RNG_ERROR_LIMIT", 0, 100);
        level = severity;
    }
    if (left < 0)
        return 0;
    va_list ap;
    va_start(ap, code);
    int32_t status = log->message(log, level, code, ap);
    va_end(ap);
    if (status) {
        xkHostMessage(log, XK_LEVEL_ERROR, static_cast<uint32_t>(status));
        return status;
    }
    return 0;
}

uint32_t xkRngDefaultSeed31()
{
    double forced = std::trunc(xknrdget(SEED_SETTING, 0, 0));
    uint64_t bits = forced < 0 ? uint64_t{0} - rng_u64_of(-forced) : rng_u64_of(forced);
    if (static_cast<uint32_t>(bits))
        return static_cast<uint32_t>(bits);
    uint32_t v = 0;
    if (xkHasHardwareRandom())
        v = xkRdrand32();
    if (v == 0)
        v = xkRngClockSeed32();
    v &= 0x7FFFFFFFu;
    if (v == 0x7FFFFFFFu)
        v = 1;
    return v;
}

uint32_t xkRngClockSeed32()
{
    double t0;
    double t = clock_edge(&t0);
    double v = t != t0 ? 1.0000000000000009 * t / (t - t0) : t;
    uint32_t seed = static_cast<uint32_t>(rng_remainder(v, 4294967296.0));
    return seed ? seed : 1;
}

uint64_t xkRngDefaultSeed64()
{
    uint64_t v = rng_u64_of(xknrdget(SEED_SETTING, 0, 0));
    if (v)
        return v;
    if (xkHasHardwareRandom())
        v = xkRdrand64();
    if (v == 0)
        v = xkRngClockSeed64();
    // Above 2048 only 53 bits are kept, so that the seed fits a double.
    if (v > 2048)
        v >>= 11;
    return v;
}

uint64_t xkRngClockSeed64()
{
    double t0;
    double t = clock_edge(&t0);
    alignas(16) uint8_t block[XK_SYSINFO_SIZE + 56];
    std::memset(block, 0, sizeof block);
    xkHostQuery(block);
    uint64_t word;
    std::memcpy(&word, block + XK_SYSINFO_SEED_OFFSET, 8);
    XkHostRecord* rec = g_xk_services && g_xk_services->host_record ? g_xk_services->host_record(g_xk_services)
                                                                    : nullptr;
    uint64_t x = rng_u64_of(t * 1e9) + word + 2 * (rec ? rec->varying : 0) + 1;
    return rng_fmix64(x);
}

double xkRngSeedFromDouble(double seed, uint64_t largest)
{
    if (xk_is_missing(seed) || !(seed > 0))
        return 0;
    if (seed == std::trunc(seed) && seed < 18446744073709551616.0 && rng_u64_of(seed) <= largest)
        return seed;
    uint64_t bound = static_cast<double>(largest) > 9007199254740992.0 ? 9007199254740992ull : largest;
    int exponent = 0;
    double m = std::frexp(seed, &exponent);
    double r = std::trunc((m - 0.5) * 2.0 * (static_cast<double>(bound) - 2.0) + 1.0);
    if (!(r >= 1) || r > static_cast<double>(bound))
        xkRngMessage(XK_LEVEL_ERROR, RNG_MSG_SEED_RANGE, seed, static_cast<unsigned long long>(bound), r);
    return r;
}
