// The name/value store wrappers, the option-string lookup and the 8-bit to
// UTF-16 conversion over the toolkit-services record.
#include "matchmod/xkstore.h"

#include <cstdarg>
#include <cstring>

#include "host/hostcall.h"
#include "matchmod/xklog.h"
#include "matchmod/xkstring.h"

namespace {

constexpr char16_t DEBUG_SETTING[] = u"OSENV.TOV_XKNR_DEBUG";
constexpr int32_t DEBUG_SETTING_LENGTH = 20;
constexpr int64_t INT_RULE_LIMIT = 9007199254740992ll;   // 2^53
constexpr int32_t LOOK_CAPACITY = 100;                     // 99 characters and the terminator

bool tracing()
{
    XkServices* s = g_xk_services;
    return s && s->log && s->entry_set(s, DEBUG_SETTING, DEBUG_SETTING_LENGTH);
}

uint32_t store_get(const char16_t* name, int32_t length, int32_t type, void* value, int64_t size, int64_t* stored)
{
    *stored = 0;
    XkServices* s = g_xk_services;
    if (!s)
        return XKNV_ABSENT;
    return s->nv_get(s, name, length, type, value, size, stored);
}

uint32_t store_set(const char16_t* name, int32_t length, int32_t type, const void* value, int64_t size)
{
    XkServices* s = g_xk_services;
    if (!s)
        return XKNV_ABSENT;
    return s->nv_set(s, name, length, 1, type, value, size, 0, 0);
}

bool wrong_type(uint32_t status) { return status == XKNV_WRONG_TYPE || status == XKNV_WRONG_TYPE2; }

// A failed get or set: print it, issue its status, and the print's own
// failure too.
void report_failure(const char16_t* op, const char16_t* name, int32_t length, const char* wrapper, uint32_t status)
{
    XkLog* log = xk_log();
    if (!log)
        return;
    int32_t printed = xkPrintMessage(log, XK_LEVEL_ERROR, u"%s failed for %.*S in %hs", 0, op, length, name, wrapper);
    xkHostMessage(log, XK_LEVEL_ERROR, status);
    if (printed)
        xkHostMessage(log, XK_LEVEL_ERROR, static_cast<uint32_t>(printed));
}

int32_t measured(const char16_t* name, int32_t length) { return length > 0 ? length : xkWcsLen(name); }

// The integer rule: blanks, an optional sign, digits, an optional "." with
// only zeros after it, blanks. Above 2^53 a positive number gives 2^53 and a
// negative one is refused.
bool integer_rule(const char16_t* t, int32_t n, int64_t* out)
{
    int32_t i = 0;
    while (i < n && t[i] == u' ')
        i++;
    bool negative = false;
    if (i < n && (t[i] == u'-' || t[i] == u'+'))
        negative = t[i++] == u'-';
    int32_t digits = 0;
    double acc = 0;
    bool over = false;
    while (i < n && t[i] >= u'0' && t[i] <= u'9') {
        acc = acc * 10 + (t[i] - u'0');
        if (acc > static_cast<double>(INT_RULE_LIMIT))
            over = true;
        i++;
        digits++;
    }
    if (!digits)
        return false;
    if (i < n && t[i] == u'.') {
        i++;
        while (i < n && t[i] == u'0')
            i++;
    }
    while (i < n && t[i] == u' ')
        i++;
    if (i < n)
        return false;
    if (over) {
        if (negative)
            return false;
        *out = INT_RULE_LIMIT;
        return true;
    }
    int64_t v = static_cast<int64_t>(acc);
    *out = negative ? -v : v;
    return true;
}

enum class Read { ok, absent, refused, failed };

// An integer entry, or a text entry under the integer rule.
Read read_integer(const char16_t* name, int32_t length, const char* wrapper, int64_t* out)
{
    int64_t stored = 0;
    int64_t v = 0;
    uint32_t status = store_get(name, length, XKNV_INT64, &v, 8, &stored);
    if (status == 0) {
        *out = v;
        return Read::ok;
    }
    if (wrong_type(status)) {
        char16_t text[LOOK_CAPACITY];
        status = store_get(name, length, XKNV_TEXT, text, (LOOK_CAPACITY - 1) * 2, &stored);
        if (status == 0) {
            int32_t n = static_cast<int32_t>(stored / 2);
            text[n] = 0;
            if (integer_rule(text, n, &v)) {
                *out = v;
                return Read::ok;
            }
            if (XkLog* log = xk_log())
                xkHostMessage(log, XK_LEVEL_ERROR, XKNR_MSG_NOT_INTEGER, n, text, length, name, -INT_RULE_LIMIT,
                              INT_RULE_LIMIT);
            return Read::refused;
        }
    }
    if (status == XKNV_ABSENT)
        return Read::absent;
    report_failure(u"xkNameValueGet", name, length, wrapper, status);
    return Read::failed;
}

}  // namespace

int32_t xknrtget(const char16_t* name, int32_t name_length, char16_t* out, int32_t capacity)
{
    if (capacity <= 0)
        return capacity;
    // Capacity 1 holds only the terminator: the empty text, length 0.
    out[0] = 0;
    if (capacity == 1 || !name)
        return 0;
    int32_t length = measured(name, name_length);
    int64_t stored = 0;
    int32_t n = 0;
    uint32_t status = store_get(name, length, XKNV_TEXT, out, static_cast<int64_t>(capacity) * 2 - 2, &stored);
    if (status == 0) {
        n = static_cast<int32_t>(stored / 2);
        if (n > capacity - 1)
            n = capacity - 1;
        out[n] = 0;
    } else {
        // Whatever a failed read left in the buffer is not the entry's text.
        out[0] = 0;
        if (status != XKNV_ABSENT)
            report_failure(u"xkNameValueGet", name, length, "xknrtget", status);
    }
    if (tracing())
        xkPrintMessage(xk_log(), XK_LEVEL_INFO, u"%hs(%.*S)='%s'", 0, "xknrtget", length, name, out);
    return n;
}

int64_t xknrlget(const char16_t* name, int32_t name_length, int64_t dflt)
{
    if (!name)
        return dflt;
    int32_t length = measured(name, name_length);
    int64_t v = dflt;
    if (read_integer(name, length, "xknrlget", &v) != Read::ok)
        v = dflt;
    if (tracing())
        xkPrintMessage(xk_log(), XK_LEVEL_INFO, u"%hs(%.*S)=%lli", 0, "xknrlget", length, name,
                       static_cast<long long>(v));
    return v;
}

double xknrdget(const char16_t* name, int32_t name_length, double dflt)
{
    if (!name)
        return dflt;
    int32_t length = measured(name, name_length);
    double v = dflt;
    int64_t stored = 0;
    uint32_t status = store_get(name, length, XKNV_DOUBLE, &v, 8, &stored);
    if (status != 0 && status != XKNV_ABSENT)
        report_failure(u"xkNameValueGet", name, length, "xknrdget", status);
    if (tracing())
        xkPrintMessage(xk_log(), XK_LEVEL_INFO, u"%hs(%.*S)=%20g", 0, "xknrdget", length, name, v);
    return v;
}

int64_t xknrlimit(const char16_t* name, int32_t name_length, int64_t dflt)
{
    XkServices* s = g_xk_services;
    if (!name || !s)
        return dflt;
    int32_t length = measured(name, name_length);
    if (!s->entry_set(s, name, length))
        return dflt;
    bool trace = tracing();
    XkLog* log = xk_log();
    int64_t v = 0;
    int64_t result;
    if (read_integer(name, length, "xknrlimit", &v) != Read::ok) {
        if (trace)
            xkPrintMessage(log, XK_LEVEL_ERROR,
                           u"xkNameValueGet failed for %.*S in %hs. The existing value may not be a XKChar string "
                           u"or TOVLONG.",
                           0, length, name, "xknrlimit");
        result = 100;
    } else {
        if (v == 1 && log)
            xkHostMessage(log, XK_LEVEL_NOTE, XKNR_MSG_LIMIT_USED, length, name);
        result = v <= 0 ? -1 : v - 1;
    }
    if (trace)
        xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S)=%lli", 0, "xknrlset", length, name,
                       static_cast<long long>(result));
    uint32_t status = store_set(name, length, XKNV_INT64, &result, 8);
    if (wrong_type(status) && log) {
        // The entry holds text: write the count as text.
        char16_t text[24];
        int32_t n = 0;
        xkHostWrite(log, u"%lli", 0, text, 24, &n, static_cast<long long>(result));
        if (n < 0 || n > 23)
            n = 0;
        status = store_set(name, length, XKNV_TEXT, text, static_cast<int64_t>(n) * 2);
        if (trace)
            xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S)='%.*S'", 0, "xknrlset", length, name, n, text);
    }
    if (status != 0 && status != XKNV_ABSENT)
        report_failure(u"xkNameValueSet", name, length, "xknrlset", status);
    if (trace)
        xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S)=%lli", 0, "xknrlimit", length, name,
                       static_cast<long long>(result));
    return result;
}

int32_t xknrlook(const char16_t* name, int32_t name_length, int32_t dflt, ...)
{
    if (!name)
        return dflt;
    int32_t length = measured(name, name_length);
    char16_t text[LOOK_CAPACITY];
    int32_t n = xknrtget(name, length, text, LOOK_CAPACITY);
    if (n <= 0)
        return dflt;
    n = xkWcsTrimLength(text, n);
    xkWcsUpper(text, n);
    bool trace = tracing();
    XkLog* log = xk_log();
    va_list ap;
    va_start(ap, dflt);
    for (;;) {
        const char16_t* keyword = va_arg(ap, const char16_t*);
        if (!keyword)
            break;
        int32_t code = va_arg(ap, int32_t);
        int32_t kl = xkWcsLen(keyword);
        if (kl == n && std::memcmp(keyword, text, static_cast<size_t>(n) * 2) == 0) {
            va_end(ap);
            if (trace) {
                xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S) '%.*S' == '%.*S' %i", 0, "xknrlook", length, name, n,
                               text, kl, keyword, code);
                xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S)=%i '%.*S'", 0, "xknrlook", length, name, code, n, text);
            }
            return code;
        }
        if (trace)
            xkPrintMessage(log, XK_LEVEL_INFO, u"%hs(%.*S) '%.*S' != '%.*S' %i", 0, "xknrlook", length, name, n, text,
                           kl, keyword, code);
    }
    va_end(ap);
    // Not a keyword: report it once and empty the setting, so that the next
    // read takes the default silently.
    int32_t issued = log ? xkHostMessage(log, XK_LEVEL_ERROR, XKNR_MSG_NOT_KEYWORD, n, text, length, name) : 0;
    uint32_t status = store_set(name, length, XKNV_TEXT, u"", 0);
    if (status != 0 && status != XKNV_ABSENT)
        report_failure(u"xkNameValueSet", name, length, "xknrtset", status);
    if (issued && log)
        xkHostMessage(log, XK_LEVEL_ERROR, static_cast<uint32_t>(issued));
    return dflt;
}

int64_t xkWcsToInteger(const char16_t* text, int32_t start)
{
    if (!text || start < 0)
        return -INT_RULE_LIMIT;
    int32_t n = xkWcsLen(text);
    if (start > n)
        return -INT_RULE_LIMIT;
    int64_t v = 0;
    return integer_rule(text + start, n - start, &v) ? v : -INT_RULE_LIMIT;
}

int32_t xkOptionLookup(const char* name)
{
    static constexpr int32_t OPTION_BUFFER = 1024;
    char buffer[OPTION_BUFFER];
    int32_t size = OPTION_BUFFER;
    host_task* main_task = host_task_handle(host_main_task());
    if (xkOptionString(nullptr, 4163, 0, 0, 0, buffer, &size, 0, main_task) != 0 || size <= 0)
        return 0;
    int32_t len = size < OPTION_BUFFER ? size : OPTION_BUFFER;
    const uint8_t* b = reinterpret_cast<const uint8_t*>(buffer);
    const uint8_t* up = g_host_vector->upper;
    const uint8_t* cc = g_host_vector->cclass;

    const uint8_t* req = reinterpret_cast<const uint8_t*>(name ? name : "");
    if (*req == '-') {
        req++;
        while (*req == ' ')
            req++;
    }
    int32_t result = 0;
    int32_t p = 0;
    while (p < len) {
        while (p < len && (cc[b[p]] & HC_SPACE))
            p++;
        if (p >= len)
            break;
        int32_t i = p, j = 0;
        bool used_up = false;
        for (;;) {
            if (i < len && b[i] == '*') {
                i++;
                used_up = true;
                break;
            }
            if (!req[j] || req[j] == ' ') {
                used_up = true;
                break;
            }
            if (i >= len || up[b[i]] != up[req[j]])
                break;
            i++;
            j++;
        }
        bool ends = !(i < len && ((cc[b[i]] & (HC_UPPER | HC_LOWER | HC_DIGIT)) || b[i] == '_'));
        if (used_up && ends) {
            result = 1;
            if (i < len && b[i] == '=') {
                int32_t s = i + 1, e = s;
                while (e < len && !(cc[b[e]] & HC_SPACE))
                    e++;
                int32_t consumed = 0, value = 0;
                if (xkTextToInteger(buffer + s, e - s, 0, &consumed, &value) == 0)
                    result = value;
                i = e;
            }
        }
        while (i < len && !(cc[b[i]] & HC_SPACE))
            i++;
        p = i;
    }
    if (result != 0) {
        xkGroup39Slot108(nullptr, -1);
        xkGroup39Slot138(nullptr, 28, 1);
        xkGroup39Slot108(nullptr, 0);
    }
    return result;
}

int32_t xkHostToWide(const char* text, char16_t* out, int32_t count)
{
    XkServices* s = g_xk_services;
    XkConverter* cv = s && s->transcoder ? s->transcoder->converter : nullptr;
    if (!cv || count <= 0)
        return 0;
    int32_t produced = 0;
    uint32_t status = cv->convert(cv, text, count, out, count * 2, &produced, 0);
    if (status)
        if (XkLog* log = xk_log())
            xkHostMessage(log, XK_LEVEL_ERROR, status);
    return produced / 2;
}
