// Captured standard output and standard error: text is stored in the host's
// line form ("%n" for a newline, "%%" for a percent sign, "%1z" heading error
// text); the bridge's report entries hand it to the host.
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxpool.h"

namespace {

constexpr int32_t CAPTURE_START = 4096;

// Appends bytes in line form; false when the buffer cannot grow (the bytes of
// this call are then lost and the capture keeps its previous length).
bool capture_append(PERLGCB* gcb, PrxStream stream, const uint8_t* data, uint64_t n)
{
    prx_capture* cap = stream == PRX_STDOUT ? &gcb->out : &gcb->err;
    if (cap->len == 0) {
        // A reader that took the text reset the length and left the buffer:
        // it is used again. Never the failing funnel for a new one: its
        // report of no memory is written here.
        if (!cap->buf || cap->cap <= 0) {
            char* fresh = static_cast<char*>(pool_try_malloc(gcb, CAPTURE_START));
            if (!fresh)
                return false;
            cap->buf = fresh;
            cap->cap = CAPTURE_START;
        }
        if (stream == PRX_STDERR) {
            std::memcpy(cap->buf, "%1z", 3);
            cap->len = 3;
        }
    }
    char* buf = cap->buf;
    int64_t len = cap->len;
    int64_t capacity = cap->cap;
    for (uint64_t i = 0; i < n; i++) {
        uint8_t c = data[i];
        int need = (c == '\n' || c == '%') ? 2 : 1;
        while (capacity - len < need) {
            if (capacity * 2 > INT32_MAX)
                return false;
            char* grown = static_cast<char*>(pool_try_realloc(gcb, buf, static_cast<uint64_t>(capacity * 2)));
            if (!grown) {
                // The realloc leaves the old block in place; keep it.
                cap->buf = buf;
                cap->cap = static_cast<int32_t>(capacity);
                return false;
            }
            buf = grown;
            capacity *= 2;
        }
        if (c == '\n') {
            buf[len++] = '%';
            buf[len++] = 'n';
        } else if (c == '%') {
            buf[len++] = '%';
            buf[len++] = '%';
        } else {
            buf[len++] = static_cast<char>(c);
        }
    }
    cap->buf = buf;
    cap->len = static_cast<int32_t>(len);
    cap->cap = static_cast<int32_t>(capacity);
    return true;
}

}  // namespace

int64_t prx_stream_write(PrxStream stream, const void* data, uint32_t size, uint32_t count)
{
    if (stream != PRX_STDOUT && stream != PRX_STDERR)
        return 0;
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return 0;
    uint32_t n = size * count;
    if (!capture_append(gcb, stream, static_cast<const uint8_t*>(data), n))
        return 0;
    return n;
}

int64_t prx_fwrite(const void* data, uint32_t size, uint32_t count, PrxStream stream)
{
    return prx_stream_write(stream, data, size, count);
}

int32_t prx_ferror(PrxStream stream)
{
    if (stream == PRX_STDOUT || stream == PRX_STDERR)
        return 0;
    return prx_ferror_unsupported(stream);
}

int32_t prx_fputs(const char* text, PrxStream stream)
{
    uint32_t n = text ? static_cast<uint32_t>(std::strlen(text)) : 0;
    return prx_stream_write(stream, text, 1, n) == 0 ? -1 : 0;
}

int32_t prx_fputc(int32_t c, PrxStream stream)
{
    uint8_t b = static_cast<uint8_t>(c);
    prx_stream_write(stream, &b, 1, 1);
    return c;
}

void prx_vfprintf(PrxStream stream, const char* fmt, va_list* args)
{
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return;
    const char* text = vformat_message(gcb, fmt, args);
    prx_stream_write(stream, text, 1, static_cast<uint32_t>(std::strlen(text)));
}

void prx_fprintf(PrxStream stream, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    prx_vfprintf(stream, fmt, &ap);
    va_end(ap);
}

void prx_write(int32_t, const void* data, uint32_t length)
{
    prx_stream_write(PRX_STDERR, data, 1, length);
}

void prx_stderr_write(PERLGCB* gcb, const char* text, size_t length)
{
    PrxStream stream = gcb->stderr_glob ? io_output_stream_of(gcb, gcb->stderr_glob) : 0;
    if (!stream)
        stream = PRX_STDERR;
    prx_fwrite(text, 1, static_cast<uint32_t>(length), stream);
}
