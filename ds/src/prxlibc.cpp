// C-library substitutes that do real work on interpreter state or through
// host services.
#include "prxlibc.h"

#include <cstring>

#include "prxmsg.h"
#include "prxpool.h"

const char* prx_strchr(const char* text, int c)
{
    if (!text)
        return nullptr;
    char ch = static_cast<char>(c);
    if (ch == 0)
        return nullptr;
    for (const char* p = text; *p; p++)
        if (*p == ch)
            return p;
    return nullptr;
}

const char* prx_strrchr(const char* text, int c)
{
    const char* last = nullptr;
    for (const char* p = prx_strchr(text, c); p; p = prx_strchr(p + 1, c))
        last = p;
    return last;
}

int32_t prx_strcmp(const char* a, const char* b, int64_t limit)
{
    int64_t la = a ? static_cast<int64_t>(std::strlen(a)) : 0;
    int64_t lb = b ? static_cast<int64_t>(std::strlen(b)) : 0;
    int64_t n = la < lb ? la : lb;
    if (limit < n)
        n = limit;
    int32_t r = xk_padcmp(a, static_cast<int32_t>(n), b, static_cast<int32_t>(n), ' ');
    if (r != 0)
        return r;
    if (limit > n && la != lb)
        return la < lb ? -1 : 1;
    return 0;
}

char* prx_strcat(char* dst, const char* src)
{
    int32_t ld = static_cast<int32_t>(std::strlen(dst));
    int32_t ls = src ? static_cast<int32_t>(std::strlen(src)) : 0;
    // The destination's own text already stands in place: only the source
    // piece is concatenated after it, into a field that ends in a terminator.
    xk_padcat(dst + ld, -(ls + 1), -1, 1, src, ls);
    return dst;
}

namespace {

// The span that atoi or atof would read at text: leading white space, a
// sign and the number itself. The host's conversions refuse anything around
// a number but blanks, so they are handed only this span; its start skips
// the white space. Returns the length of the number, 0 when there is none.
int32_t number_span(const char* text, bool fraction, const char** start)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(text);
    while (host_is_space(*s))
        s++;
    *start = reinterpret_cast<const char*>(s);
    const uint8_t* p = s;
    if (*p == '-' || *p == '+')
        p++;
    const uint8_t* digits = p;
    while (host_is_digit(*p))
        p++;
    bool any = p != digits;
    if (fraction) {
        if (*p == '.') {
            const uint8_t* q = p + 1;
            while (host_is_digit(*q))
                q++;
            if (any || q != p + 1) {
                any = true;
                p = q;
            }
        }
        if (any && (*p == 'e' || *p == 'E')) {
            const uint8_t* q = p + 1;
            if (*q == '-' || *q == '+')
                q++;
            if (host_is_digit(*q)) {
                while (host_is_digit(*q))
                    q++;
                p = q;
            }
        }
        if (!any) {
            // Infinity and not-a-number by their names, as strtod reads them.
            static constexpr const char* names[] = {"infinity", "inf", "nan"};
            for (const char* name : names) {
                size_t n = std::strlen(name);
                size_t i = 0;
                while (i < n && g_host_vector->lower[p[i]] == static_cast<uint8_t>(name[i]))
                    i++;
                if (i == n)
                    return static_cast<int32_t>(p + n - s);
            }
        }
    }
    return any ? static_cast<int32_t>(p - s) : 0;
}

}  // namespace

int32_t prx_atoi(const char* text)
{
    if (!text)
        return 0;
    // As atoi: the leading integer counts and whatever follows it does not.
    const char* start = nullptr;
    int32_t n = number_span(text, false, &start);
    int32_t consumed = 0, value = 0;
    if (n == 0 || xkTextToInteger(start, n, 0, &consumed, &value) != 0)
        return 0;
    return value;
}

double prx_atof(const char* text)
{
    if (!text)
        return 0.0;
    // As atof: the leading number counts and whatever follows it does not.
    const char* start = nullptr;
    int32_t n = number_span(text, true, &start);
    if (n == 0)
        return 0.0;
    double result = 0.0;
    XkTextToDoubleReq req{};
    req.length = n;
    req.zero = 0;
    req.text = start;
    req.length2 = n;
    req.result = &result;
    if (xkTextToDouble(&req) != 0)
        return 0.0;
    return result;
}

char* prx_gcvt(double value, int32_t width, char* buffer)
{
    XkFormatDoubleReq req;
    std::memset(&req, 0, sizeof req);
    req.digits = width;
    req.code = 99;
    req.value = &value;
    req.value_size = 8;
    req.buffer = buffer;
    req.width = width;
    req.task = host_current_task_handle();
    if (xkFormatDouble(&req) != 0) {
        // A failed format leaves a defined text: the empty one.
        buffer[0] = 0;
        return nullptr;
    }
    int32_t len = 0;
    xk_justify(buffer, width, 'L', &len, nullptr);
    // The whole rendering is kept; the buffer holds at least width + 1 bytes.
    buffer[len] = 0;
    return buffer;
}

int32_t prx_time(int32_t* out)
{
    int32_t t = static_cast<int32_t>(xkDateTime());
    if (out)
        *out = t;
    return t;
}

int32_t prx_sleep(uint32_t seconds)
{
    xkSleep(seconds * 1000u, 2, 0);
    return 0;
}

int32_t prx_rand()
{
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return 0;
    return static_cast<int32_t>(ranuni_next(&gcb->ranuni_seed) * 32767.0);
}

void prx_srand(uint32_t seed)
{
    PERLGCB* gcb = interp_of_current_task();
    if (gcb)
        gcb->ranuni_seed = seed;
}

int32_t prx_sprintf(char* dst, const char* fmt, ...)
{
    PERLGCB* gcb = interp_of_current_task();
    va_list ap;
    va_start(ap, fmt);
    const char* text = vformat_message(gcb, fmt, &ap);
    va_end(ap);
    size_t len = std::strlen(text);
    std::memcpy(dst, text, len + 1);
    return static_cast<int32_t>(len + 1);
}

int32_t prx_getid() { return 0; }

void* prx_localtime(const void*, void*)
{
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return nullptr;
    // Like the C function, it answers an exhausted pool with null.
    prx_tm* tm = static_cast<prx_tm*>(pool_try_malloc(gcb, sizeof(prx_tm)));
    if (!tm)
        return nullptr;
    *tm = prx_tm{0, 0, 0, 1, 1, 60, 5, 1, 0};
    return tm;
}

int32_t prx_find_byte(const void* bytes, int32_t count, int byte)
{
    return xk_findbyte(bytes, count, byte);
}

// The raw operations of a pool, outside the funnel: for a caller that holds
// a pool and asks for its own flags.
void* host_pool_alloc(host_pool* pool, uint64_t size, uint32_t flags)
{
    return pool->alloc(pool, size, flags);
}

int32_t host_pool_free(host_pool* pool, void* block, uint64_t size, uint32_t flags)
{
    pool->free(pool, block, size, flags);
    return 0;
}
