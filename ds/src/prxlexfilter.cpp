// Source filters: the chain that text passes through before the lexer sees
// it, the byte-order-mark check of a script's first line, and the UTF-16
// filters it installs.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxlexint.h"
#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"
#include "prxsv.h"
#include "prxutf8.h"

namespace {

// I/O-body flag of a filter entry while it is installed.
constexpr uint8_t IOf_FILTER_INSTALLED = 0x40;

// A filter entry keeps its function in the I/O body's any-pointer slot (the
// directory slot, which a filter entry never uses).
source_filter_fn filter_function(SV* entry)
{
    return reinterpret_cast<source_filter_fn>(io_body(sv_as<IO>(entry))->dirp);
}
void set_filter_function(SV* entry, source_filter_fn fn)
{
    io_body(sv_as<IO>(entry))->dirp = reinterpret_cast<void*>(fn);
}
uint8_t& filter_flags(SV* entry) { return io_body(sv_as<IO>(entry))->ioflags; }

// Puts the filter at the front of the chain; returns its entry.
SV* push_filter(PERLGCB* gcb, source_filter_fn fn, SV* data)
{
    if (!gcb->source_filters)
        gcb->source_filters = av_new_empty(gcb);
    if (!data)
        data = sv_new_undef(gcb, 0);
    if (sv_type(data) < SVt_PVIO && !sv_upgrade_body(gcb, data, SVt_PVIO))
        fatal_error(gcb, "Can't upgrade filter_add data to SVt_PVIO");
    if (sv_type(data) != SVt_PVIO)
        fatal_error(gcb, "Can't upgrade filter_add data to SVt_PVIO");
    set_filter_function(data, fn);
    filter_flags(data) |= IOf_FILTER_INSTALLED;
    av_insert_front(gcb, gcb->source_filters, 1);
    av_store_element(gcb, gcb->source_filters, 0, data);
    return data;
}

// Reads from the source stream: a line (maxlen 0) or a block of up to
// maxlen bytes, appended to buf. The new length, 0 at the end, -1 on a
// stream error.
int32_t read_source(PERLGCB* gcb, SV* buf, int32_t maxlen)
{
    uint64_t old_len = 0;
    if (buf->flags & SVf_POK)
        old_len = sv_cur(buf);
    else
        sv_set_bytes(gcb, buf, "", 0);
    if (maxlen) {
        char* p = sv_grow_buffer(gcb, buf, old_len + static_cast<uint64_t>(maxlen) + 1);
        uint64_t got = prx_fread(p + old_len, 1, static_cast<size_t>(maxlen), gcb->source_handle);
        if (!got)
            return prx_ferror(gcb->source_handle) ? -1 : 0;
        sv_cur(buf) = old_len + got;
        sv_pv(buf)[sv_cur(buf)] = 0;
        return static_cast<int32_t>(sv_cur(buf));
    }
    if (!sv_read_record(gcb, buf, gcb->source_handle, static_cast<int32_t>(old_len)))
        return prx_ferror(gcb->source_handle) ? -1 : 0;
    return static_cast<int32_t>(sv_cur(buf));
}

// Converts the text of buf from UTF-16 after a read by the next filter.
int32_t utf16_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen, bool little_endian)
{
    int32_t count = filter_read_input(gcb, idx + 1, buf, maxlen);
    if (count <= 0)
        return count;
    uint64_t len = 0;
    char* text = sv_text(gcb, buf, &len);
    if (len == 0)
        return count;
    char* out = static_cast<char*>(pool_malloc(gcb, len * 3 / 2 + 1));
    int32_t newlen = 0;
    uint8_t* src = reinterpret_cast<uint8_t*>(text);
    uint8_t* dst = reinterpret_cast<uint8_t*>(out);
    if (little_endian)
        utf16le_to_utf8(gcb, src, dst, static_cast<int32_t>(len), &newlen);
    else
        utf16_to_utf8(gcb, src, dst, static_cast<int32_t>(len), &newlen);
    out[newlen] = 0;
    sv_adopt_buffer(gcb, buf, out, static_cast<uint64_t>(newlen));
    return count;
}

// Installs a UTF-16 filter and converts the rest of the first line now.
char* start_utf16(PERLGCB* gcb, char* s, source_filter_fn fn, bool little_endian)
{
    s += 2;
    if (s >= gcb->buffer_end)
        return s;
    push_filter(gcb, fn, nullptr);
    // Whole code units only: a line of little-endian text read up to its LF
    // ends in the unit's first byte, which is left out; an even count is
    // converted whole.
    uint64_t count = static_cast<uint64_t>(gcb->buffer_end - s);
    uint64_t convert = count & ~static_cast<uint64_t>(1);
    char* work = static_cast<char*>(pool_malloc(gcb, count * 3 / 2 + 1));
    int32_t newlen = 0;
    uint8_t* src = reinterpret_cast<uint8_t*>(s);
    uint8_t* dst = reinterpret_cast<uint8_t*>(work);
    if (little_endian)
        utf16le_to_utf8(gcb, src, dst, static_cast<int32_t>(convert), &newlen);
    else
        utf16_to_utf8(gcb, src, dst, static_cast<int32_t>(convert), &newlen);
    uint64_t offset = static_cast<uint64_t>(s - sv_pv(gcb->line_buffer));
    char* base = sv_grow_buffer(gcb, gcb->line_buffer, offset + static_cast<uint64_t>(newlen) + 1);
    std::memcpy(base + offset, work, static_cast<size_t>(newlen));
    base[offset + static_cast<uint64_t>(newlen)] = 0;
    sv_cur(gcb->line_buffer) = offset + static_cast<uint64_t>(newlen);
    pool_free(gcb, work);
    // The buffer may have moved: every position follows it.
    char* old_base = s - offset;
    auto follow = [&](char*& p) {
        if (p && p >= old_base && p <= old_base + offset + count)
            p = base + (p - old_base);
    };
    follow(gcb->line_start);
    follow(gcb->scan_pos);
    follow(gcb->prev_token_pos);
    follow(gcb->prev_prev_token_pos);
    gcb->buffer_end = base + sv_cur(gcb->line_buffer);
    return base + offset;
}

}  // namespace

SV* filter_add(PERLGCB* gcb, source_filter_fn fn, SV* data)
{
    if (!fn)
        return nullptr;
    return push_filter(gcb, fn, data);
}

void filter_del(PERLGCB* gcb, source_filter_fn fn)
{
    AV* filters = gcb->source_filters;
    if (!filters || av_body(filters)->fill < 0)
        return;
    SV** last = av_fetch_element(gcb, filters, av_body(filters)->fill, 0);
    SV* entry = last ? *last : nullptr;
    if (entry && sv_type(entry) == SVt_PVIO && filter_function(entry) == fn) {
        filter_flags(entry) &= static_cast<uint8_t>(~IOf_FILTER_INSTALLED);
        set_filter_function(entry, nullptr);
        sv_release(gcb, av_remove_last(gcb, filters));
        return;
    }
    fatal_error(gcb, "filter_del can only delete in reverse order (currently)");
}

int32_t filter_read_input(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen)
{
    AV* filters = gcb->source_filters;
    if (!filters)
        return -1;
    for (; idx <= av_body(filters)->fill; idx++) {
        SV** slot = av_fetch_element(gcb, filters, idx, 0);
        SV* entry = slot ? *slot : nullptr;
        if (!entry || sv_type(entry) != SVt_PVIO || !filter_function(entry))
            continue;
        return filter_function(entry)(gcb, idx, buf, maxlen);
    }
    return read_source(gcb, buf, maxlen);
}

int32_t utf16be_source_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen)
{
    return utf16_filter(gcb, idx, buf, maxlen, false);
}

int32_t utf16le_source_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen)
{
    return utf16_filter(gcb, idx, buf, maxlen, true);
}

char* lex_check_bom(PERLGCB* gcb, char* s)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(s);
    int64_t avail = gcb->buffer_end - s;
    if (avail >= 2 && p[0] == 0xFF && p[1] == 0xFE) {
        if (avail >= 4 && p[2] == 0 && p[3] == 0)
            fatal_error(gcb, "Unsupported script encoding");
        return start_utf16(gcb, s, utf16le_source_filter, true);
    }
    if (avail >= 2 && p[0] == 0xFE && p[1] == 0xFF)
        return start_utf16(gcb, s, utf16be_source_filter, false);
    if (avail >= 3 && p[0] == 0xEF && p[1] == 0xBB && p[2] == 0xBF)
        return s + 3;
    if (avail > 3 && p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF)
        fatal_error(gcb, "Unsupported script encoding");
    return s;
}
