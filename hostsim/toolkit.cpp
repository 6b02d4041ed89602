// The stand-in host's toolkit-services record: name/value store, log object
// and its message catalogue, case service, system information, transcoder.
#include "hostsim/toolkit.h"

#include <cpuid.h>
#include <unistd.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "hostsim/hostsim.h"

namespace hostsim {

namespace {

std::string hex32(uint32_t v)
{
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

std::u16string upper_key(const char16_t* name, int32_t length)
{
    std::u16string k;
    for (int32_t i = 0; i < length && name[i]; i++) {
        char16_t c = name[i];
        if (c >= u'a' && c <= u'z')
            c = static_cast<char16_t>(c - 32);
        k += c;
    }
    return k;
}

std::u16string upper_key(const std::string& name)
{
    std::u16string w = to_u16(name);
    return upper_key(w.data(), static_cast<int32_t>(w.size()));
}

Toolkit& tk() { return host().tk(); }

const char* level_name(int32_t level)
{
    switch (level) {
    case 4: return "ERROR";
    case 3: return "WARNING";
    case 2: return "NOTE";
    case 1: return "INFO";
    default: return "DUMP";
    }
}

// ---- the store -------------------------------------------------------------

uint8_t svc_entry_set(XkServices*, const char16_t* name, int32_t length)
{
    Toolkit& t = tk();
    if (!name)
        return 0;
    return t.store.count(upper_key(name, length)) ? 1 : 0;
}

uint32_t svc_nv_get(XkServices*, const char16_t* name, int32_t length, int32_t type, void* value, int64_t size,
                    int64_t* stored)
{
    Toolkit& t = tk();
    std::u16string key = upper_key(name, length);
    t.store_calls.push_back("get " + to_utf8(key) + " " + std::to_string(type));
    if (stored)
        *stored = 0;
    auto f = t.fail_get.find(key);
    if (f != t.fail_get.end())
        return f->second;
    auto it = t.store.find(key);
    if (it == t.store.end() || it->second.type == 0)
        return XKNV_ABSENT;
    const NvEntry& e = it->second;
    if (e.type != type)
        return XKNV_WRONG_TYPE;
    switch (type) {
    case XKNV_DOUBLE:
        if (size < 8)
            return XKNV_WRONG_TYPE2;
        std::memcpy(value, &e.d, 8);
        if (stored)
            *stored = 8;
        return 0;
    case XKNV_INT64:
        if (size < 8)
            return XKNV_WRONG_TYPE2;
        std::memcpy(value, &e.i, 8);
        if (stored)
            *stored = 8;
        return 0;
    default: {
        // Text: as many whole characters as the buffer takes.
        int64_t bytes = static_cast<int64_t>(e.text.size()) * 2;
        if (bytes > size)
            bytes = size & ~int64_t{1};
        if (bytes > 0)
            std::memcpy(value, e.text.data(), static_cast<size_t>(bytes));
        if (stored)
            *stored = bytes;
        return 0;
    }
    }
}

uint32_t svc_nv_set(XkServices*, const char16_t* name, int32_t length, int32_t, int32_t type, const void* value,
                    int64_t size, int64_t, int64_t)
{
    Toolkit& t = tk();
    std::u16string key = upper_key(name, length);
    t.store_calls.push_back("set " + to_utf8(key) + " " + std::to_string(type));
    auto f = t.fail_set.find(key);
    if (f != t.fail_set.end())
        return f->second;
    if (type != XKNV_DOUBLE && type != XKNV_INT64 && type != XKNV_TEXT)
        return XKNV_WRONG_TYPE2;
    NvEntry& e = t.store[key];
    // An entry keeps the type of its first value.
    if (e.type != 0 && e.type != type)
        return XKNV_WRONG_TYPE;
    e.type = type;
    if (type == XKNV_DOUBLE)
        std::memcpy(&e.d, value, 8);
    else if (type == XKNV_INT64)
        std::memcpy(&e.i, value, 8);
    else
        e.text.assign(static_cast<const char16_t*>(value), static_cast<size_t>(size > 0 ? size / 2 : 0));
    return 0;
}

// ---- the log object ----------------------------------------------------------

int32_t log_write(XkLog*, const char16_t* format, int64_t, char16_t* buffer, int32_t size, int32_t* length,
                  va_list args)
{
    Toolkit& t = tk();
    std::u16string s = format16(format ? format : u"", args);
    t.writes.push_back(to_utf8(s));
    int32_t status = 0;
    if (size <= 0) {
        if (length)
            *length = 0;
        return 1;
    }
    size_t n = s.size();
    if (n > static_cast<size_t>(size - 1)) {
        n = static_cast<size_t>(size - 1);
        status = 1;
    }
    std::memcpy(buffer, s.data(), n * 2);
    buffer[n] = 0;
    if (length)
        *length = static_cast<int32_t>(n);
    return status;
}

int32_t log_print(XkLog*, int32_t level, const char16_t* format, int64_t, va_list args)
{
    Toolkit& t = tk();
    std::string s = to_utf8(format16(format ? format : u"", args));
    t.prints.push_back({level, s});
    t.host->event(std::string("PRINT ") + level_name(level) + " " + s);
    return t.print_result;
}

int32_t log_message(XkLog*, int32_t level, uint32_t code, va_list args)
{
    Toolkit& t = tk();
    const char* f = Toolkit::message_format(code);
    std::string s = f ? to_utf8(format16(to_u16(f), args)) : "message " + hex32(code);
    t.messages.push_back({level, code, s});
    t.host->event(std::string("MESSAGE ") + hex32(code) + " " + level_name(level) + ": " + s);
    auto it = t.message_result.find(code);
    return it == t.message_result.end() ? 0 : static_cast<int32_t>(it->second);
}

// ---- case service, transcoder, clock-seed record ------------------------------

char16_t case_upper(XkCaseService*, char16_t c, int32_t)
{
    if ((c >= 0xE0 && c <= 0xFE && c != 0xF7) || (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) ||
        (c >= 0x430 && c <= 0x44F))
        return static_cast<char16_t>(c - 32);
    if (c == 0xFF)
        return 0x178;
    return c;
}

char16_t case_lower(XkCaseService*, char16_t c, int32_t)
{
    if ((c >= 0xC0 && c <= 0xDE && c != 0xD7) || (c >= 0x391 && c <= 0x3A9 && c != 0x3A2) ||
        (c >= 0x410 && c <= 0x42F))
        return static_cast<char16_t>(c + 32);
    if (c == 0x178)
        return 0xFF;
    return c;
}

// 8-bit text is Latin-1 here: each byte becomes the UTF-16 unit of its value.
uint32_t convert_text(XkConverter*, const char* text, int32_t count, char16_t* out, int32_t out_bytes,
                      int32_t* produced, int32_t)
{
    Toolkit& t = tk();
    int32_t n = 0;
    uint32_t status = t.convert_result;
    for (int32_t i = 0; i < count && !status; i++) {
        if ((n + 1) * 2 > out_bytes) {
            status = 0x803FC00Au;
            break;
        }
        out[n++] = static_cast<uint8_t>(text[i]);
    }
    if (produced)
        *produced = n * 2;
    return status;
}

XkHostRecord* host_record(XkServices*)
{
    Toolkit& t = tk();
    t.record.varying = t.record.varying * 6364136223846793005ull + 1442695040888963407ull;
    return &t.record;
}

double real_seconds()
{
    auto d = std::chrono::steady_clock::now().time_since_epoch();
    return std::chrono::duration<double>(d).count();
}

uint32_t sysinfo(uint32_t cls, void* buffer, uint32_t selector)
{
    Toolkit& t = tk();
    t.sysinfo_calls++;
    if (!buffer)
        return 0x803FC002u;
    if (cls == XK_SYSINFO_CLASS_BLOCK && selector == XK_SYSINFO_SEL_BLOCK) {
        std::memset(buffer, 0, XK_SYSINFO_SIZE);
        t.seed_word += 0x9E3779B97F4A7C15ull;
        std::memcpy(static_cast<uint8_t*>(buffer) + XK_SYSINFO_SEED_OFFSET, &t.seed_word, 8);
        return 0;
    }
    if (cls == XK_SYSINFO_CLASS_MACHINE && selector == XK_SYSINFO_SEL_PROCESSOR) {
        std::memset(buffer, 0, XK_PROCINFO_SIZE);
        std::memset(t.processor, 0, sizeof t.processor);
        std::memcpy(t.processor, &t.processor_status, 4);
        bool has = t.rdrand < 0 ? t.real_rdrand() : t.rdrand != 0;
        if (has)
            t.processor[XK_PROCREC_FEATURE_BYTE] |= XK_PROCREC_RDRAND_BIT;
        void* rec = t.offer_processor ? t.processor : nullptr;
        std::memcpy(static_cast<uint8_t*>(buffer) + XK_PROCINFO_RECORD_OFFSET, &rec, sizeof rec);
        return 0;
    }
    if (cls == XK_SYSINFO_CLASS_MACHINE && selector == XK_SYSINFO_SEL_CLOCK) {
        double now = t.clock ? t.clock() : real_seconds();
        double block[2] = {now + 1000.0, 1000.0};
        std::memcpy(buffer, block, sizeof block);
        return 0;
    }
    return 0x803FC001u;
}

// ---- the formatter -------------------------------------------------------------

void append_padded(std::u16string& out, const std::u16string& s, int width, bool left)
{
    if (!left)
        for (int i = static_cast<int>(s.size()); i < width; i++)
            out += u' ';
    out += s;
    if (left)
        for (int i = static_cast<int>(s.size()); i < width; i++)
            out += u' ';
}

}  // namespace

std::u16string to_u16(const std::string& s)
{
    std::u16string w;
    for (unsigned char c : s)
        w += static_cast<char16_t>(c);
    return w;
}

std::string to_utf8(const std::u16string& s)
{
    std::string o;
    for (char16_t c : s) {
        if (c < 0x80) {
            o += static_cast<char>(c);
        } else if (c < 0x800) {
            o += static_cast<char>(0xC0 | (c >> 6));
            o += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            o += static_cast<char>(0xE0 | (c >> 12));
            o += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            o += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return o;
}

// Conversions: d i u x X o c (with h, hh, l, ll, z), e E f F g G, p, %;
// s and S take UTF-16 text, hs and hS 8-bit text; a precision counts
// characters.
std::u16string format16(const std::u16string& format, va_list args)
{
    std::u16string out;
    size_t i = 0;
    while (i < format.size()) {
        char16_t c = format[i++];
        if (c != u'%' || i >= format.size()) {
            out += c;
            continue;
        }
        std::string spec = "%";
        bool left = false;
        while (i < format.size() && std::strchr("-+ #0", static_cast<char>(format[i]))) {
            if (format[i] == u'-')
                left = true;
            spec += static_cast<char>(format[i++]);
        }
        int width = -1;
        if (i < format.size() && format[i] == u'*') {
            width = va_arg(args, int);
            i++;
            if (width < 0) {
                left = true;
                width = -width;
            }
        } else {
            while (i < format.size() && format[i] >= u'0' && format[i] <= u'9') {
                width = (width < 0 ? 0 : width * 10) + (format[i] - u'0');
                i++;
            }
        }
        int prec = -1;
        if (i < format.size() && format[i] == u'.') {
            i++;
            prec = 0;
            if (i < format.size() && format[i] == u'*') {
                prec = va_arg(args, int);
                i++;
            } else {
                while (i < format.size() && format[i] >= u'0' && format[i] <= u'9')
                    prec = prec * 10 + (format[i++] - u'0');
            }
        }
        int longs = 0;
        bool half = false;
        while (i < format.size() && (format[i] == u'h' || format[i] == u'l' || format[i] == u'z' ||
                                     format[i] == u'j' || format[i] == u'L')) {
            if (format[i] == u'h')
                half = true;
            else
                longs++;
            if (format[i] == u'z' || format[i] == u'j')
                longs = 2;
            i++;
        }
        if (i >= format.size())
            break;
        char16_t conv = format[i++];
        if (width >= 0)
            spec += std::to_string(width);
        if (prec >= 0) {
            spec += '.';
            spec += std::to_string(prec);
        }
        char buf[512];
        switch (conv) {
        case u'%':
            out += u'%';
            break;
        case u'd':
        case u'i': {
            long long v = longs ? va_arg(args, long long) : va_arg(args, int);
            if (half && !longs)
                v = static_cast<short>(v);
            std::snprintf(buf, sizeof buf, (spec + "lld").c_str(), v);
            out += to_u16(buf);
            break;
        }
        case u'u':
        case u'x':
        case u'X':
        case u'o': {
            unsigned long long v = longs ? va_arg(args, unsigned long long) : va_arg(args, unsigned);
            if (half && !longs)
                v = static_cast<unsigned short>(v);
            std::snprintf(buf, sizeof buf, (spec + "ll" + static_cast<char>(conv)).c_str(), v);
            out += to_u16(buf);
            break;
        }
        case u'e':
        case u'E':
        case u'f':
        case u'F':
        case u'g':
        case u'G': {
            double v = va_arg(args, double);
            std::snprintf(buf, sizeof buf, (spec + static_cast<char>(conv)).c_str(), v);
            out += to_u16(buf);
            break;
        }
        case u'c': {
            int v = va_arg(args, int);
            append_padded(out, std::u16string(1, static_cast<char16_t>(v)), width, left);
            break;
        }
        case u'p': {
            void* v = va_arg(args, void*);
            std::snprintf(buf, sizeof buf, "%p", v);
            out += to_u16(buf);
            break;
        }
        case u's':
        case u'S': {
            std::u16string s;
            if (half) {
                const char* p = va_arg(args, const char*);
                if (!p)
                    p = "(null)";
                for (int k = 0; p[k] && (prec < 0 || k < prec); k++)
                    s += static_cast<char16_t>(static_cast<unsigned char>(p[k]));
            } else {
                const char16_t* p = va_arg(args, const char16_t*);
                if (!p)
                    p = u"(null)";
                for (int k = 0; p[k] && (prec < 0 || k < prec); k++)
                    s += p[k];
            }
            append_padded(out, s, width, left);
            break;
        }
        default:
            out += u'%';
            out += conv;
            break;
        }
    }
    return out;
}

const char* Toolkit::message_format(uint32_t code)
{
    switch (code) {
    case 0x8C7FE80Bu: return "The random-number method name is not recognised; MTHYBRID is used instead.";
    case 0x8C7FE80Cu:
        return "The random-number method needs the processor's random instruction, which is missing; "
               "MTHYBRID is used instead.";
    case 0x8C7FE80Du: return "The random-number method takes no seed.";
    case 0x8C7FE80Fu: return "The random-number method takes no stream number.";
    case 0x8C7FE810u: return "The random-number stream number is out of range.";
    case 0x8C7FE817u: return "The seed %g is ignored: the random-number method %s takes no seed.";
    case 0x8C7FE818u:
        return "The seed %g is above %llu or not a whole number; the random-number method %s uses the seed "
               "%llu (0x%llx).";
    case 0x8C7FE819u: return "The seed %g cannot be brought into the range 1 to %llu; the seed %.17g is used.";
    case 0x8C7FE81Au: return "The stream number %g is ignored: the random-number method %s takes no stream number.";
    case 0x8C7FE81Bu: return "The stream number %g is not a whole number from 0 to %llu for the random-number method %s.";
    case 0x8C7FE81Cu: return "The stream number %llu is above %llu, the largest the random-number method %s accepts.";
    case 0x8C7FE828u: return "The random-number method is %hs.";
    case 0x8C7FE829u: return "The random-number method is %hs, seed %llu (0x%llx).";
    case 0x8C7FE82Au: return "The random-number method is %hs, seed %llu (0x%llx), stream %llu (0x%llx).";
    case 0x8C7FE851u: return "Random-number method registered: %hs.";
    case 0x8C7FE852u: return "The state of the random-number method %hs takes %i bytes.";
    case 0x8C7FE8C8u: return "The value '%.*S' of the setting %.*S is not a whole number from %lli to %lli.";
    case 0x8C7FE8C9u: return "The value '%.*S' of the setting %.*S is not one of its keywords; the setting is cleared.";
    case 0x8C7FE8CAu: return "The limit %.*S is used up; further messages of its kind are not shown.";
    default: return nullptr;
    }
}

void Toolkit::set_text(const std::string& name, const std::string& value)
{
    NvEntry& e = store[upper_key(name)];
    e = NvEntry{};
    e.type = XKNV_TEXT;
    e.text = to_u16(value);
}

void Toolkit::set_int(const std::string& name, int64_t value)
{
    NvEntry& e = store[upper_key(name)];
    e = NvEntry{};
    e.type = XKNV_INT64;
    e.i = value;
}

void Toolkit::set_double(const std::string& name, double value)
{
    NvEntry& e = store[upper_key(name)];
    e = NvEntry{};
    e.type = XKNV_DOUBLE;
    e.d = value;
}

void Toolkit::declare(const std::string& name) { store[upper_key(name)] = NvEntry{}; }

void Toolkit::erase(const std::string& name) { store.erase(upper_key(name)); }

const NvEntry* Toolkit::find(const std::string& name) const
{
    auto it = store.find(upper_key(name));
    return it == store.end() ? nullptr : &it->second;
}

bool Toolkit::real_rdrand() const
{
    unsigned a = 0, b = 0, c = 0, d = 0;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    return (c >> 30) & 1;
}

void toolkit_init(Toolkit& t, Host& h)
{
    t.host = &h;
    t.log.write = &log_write;
    t.log.print = &log_print;
    t.log.message = &log_message;
    t.casemap.upper = &case_upper;
    t.casemap.lower = &case_lower;
    t.converter.convert = &convert_text;
    t.transcoder.converter = &t.converter;
    t.record.varying = (static_cast<uint64_t>(getpid()) << 32) ^ reinterpret_cast<uintptr_t>(&t);
    t.seed_word = static_cast<uint64_t>(getpid()) * 0x9E3779B97F4A7C15ull;
    t.services.host_record = &host_record;
    t.services.entry_set = &svc_entry_set;
    t.services.nv_get = &svc_nv_get;
    t.services.nv_set = &svc_nv_set;
    t.services.log = &t.log;
    t.services.casemap = &t.casemap;
    t.services.sysinfo = &sysinfo;
    t.services.transcoder = &t.transcoder;
}

}  // namespace hostsim
