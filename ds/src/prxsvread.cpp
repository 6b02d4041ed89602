// Reading one record from a stream into a value, as the input record
// separator $/ defines it: to the end, a paragraph, up to a separator
// string, or a fixed number of bytes.
#include <cstring>

#include "prxlibc.h"
#include "prxmsg.h"
#include "prxsv.h"

namespace {

constexpr int32_t CHUNK = 8192;

enum class Mode { Slurp, Paragraph, Separator, Fixed };

// Appends a chunk to the text already there.
void append_chunk(PERLGCB* gcb, SV* sv, const char* buf, int32_t cnt)
{
    if ((sv->flags & (SVf_UTF8 | SVf_READONLY | SVf_FAKE | SVf_ROK | SVf_POK)) != SVf_POK) {
        uint64_t len = 0;
        sv_force_string(gcb, sv, &len);
    }
    uint64_t cur = sv_cur(sv);
    char* pv = sv_grow_buffer(gcb, sv, cur + static_cast<uint64_t>(cnt) + 1);
    std::memmove(pv + cur, buf, static_cast<size_t>(cnt));
    sv_cur(sv) = cur + static_cast<uint64_t>(cnt);
    pv[sv_cur(sv)] = 0;
    sv->flags &= ~(SVf_IOK | SVp_IOK | SVf_NOK | SVp_NOK | SVf_ROK | SVf_OVERLOAD | SVf_IsUV);
    sv->flags |= SVf_POK | SVp_POK;
    if (gcb->tainting && gcb->tainted)
        sv_add_magic(gcb, sv, nullptr, 't', nullptr, 0);
}

}  // namespace

char* sv_read_record(PERLGCB* gcb, SV* sv, PrxStream fp, int32_t append)
{
    sv_make_modifiable(gcb, sv);
    if (sv_type(sv) < SVt_PV)
        sv_upgrade_body(gcb, sv, SVt_PV);
    sv->flags &= ~SVp_SCREAM;

    SV* rs = gcb->rs;
    Mode mode;
    const char* rsptr = nullptr;
    uint64_t rslen = 0;
    int32_t record_size = 0;
    if (!rs || !sv_ok(rs)) {
        mode = Mode::Slurp;
    } else if ((rs->flags & SVf_ROK) &&
               ((sv_rv(rs)->flags & SVf_IOK) ? sv_iv(sv_rv(rs)) : sv_to_int(gcb, sv_rv(rs))) > 0) {
        SV* ref = sv_rv(rs);
        int64_t n = (ref->flags & SVf_IOK) ? sv_iv(ref) : sv_to_int(gcb, ref);
        record_size = static_cast<int32_t>(static_cast<uint32_t>(n));
        // A size whose low 32 bits are not positive reads nothing rather
        // than growing the buffer by a wrapped count.
        if (record_size < 0)
            record_size = 0;
        mode = Mode::Fixed;
    } else if ((rs->flags & SVf_POK) && sv_cur(rs) == 0) {
        mode = Mode::Paragraph;
        rsptr = "\n\n";
        rslen = 2;
    } else {
        if (rs->flags & SVf_UTF8) {
            if (!sv_convert_to_bytes(gcb, rs, 1))
                fatal_error(gcb, "Wide character in $/");
        }
        rsptr = sv_text(gcb, rs, &rslen);
        mode = rslen ? Mode::Separator : Mode::Slurp;
    }

    if (mode == Mode::Fixed) {
        sv->flags &= ~(SV_VALUE_FLAGS | SVf_UTF8);
        sv->flags |= SVf_POK | SVp_POK;
        char* buf = sv_grow_buffer(gcb, sv, static_cast<uint64_t>(record_size) + 1);
        uint64_t got = prx_fread(buf, 1, static_cast<size_t>(record_size), fp);
        sv_cur(sv) = got;
        sv_pv(sv)[got] = 0;
        sv->flags &= ~SVf_UTF8;
        return got ? sv_pv(sv) : nullptr;
    }

    if (mode == Mode::Paragraph) {
        int32_t c;
        do {
            if (prx_feof(fp))
                return nullptr;
            c = prx_getc(fp);
        } while (c == '\n');
        if (c == -1)
            return nullptr;
        prx_ungetc(c, fp);
    }

    const uint8_t rslast = rslen ? static_cast<uint8_t>(rsptr[rslen - 1]) : 0;
    char buf[CHUNK];
    int32_t offset = append;  // the first pass may replace; later passes append
    bool first = true;
    int32_t last;
    for (;;) {
        int32_t cnt = 0;
        if (mode == Mode::Slurp) {
            cnt = static_cast<int32_t>(prx_fread(buf, 1, CHUNK, fp));
            last = cnt > 0 ? static_cast<uint8_t>(buf[cnt - 1]) : -1;
        } else {
            int32_t c;
            for (;;) {
                c = prx_getc(fp);
                if (c == -1)
                    break;
                buf[cnt++] = static_cast<char>(c);
                if (static_cast<uint8_t>(c) == rslast || cnt == CHUNK)
                    break;
            }
            last = c;
        }
        if (first && offset == 0)
            sv_set_bytes(gcb, sv, buf, static_cast<uint64_t>(cnt));
        else
            append_chunk(gcb, sv, buf, cnt);
        first = false;
        if (last == -1)
            break;
        if (mode != Mode::Slurp && sv_cur(sv) >= rslen &&
            std::memcmp(sv_pv(sv) + sv_cur(sv) - rslen, rsptr, rslen) == 0)
            break;
        offset = -1;
        if (cnt < CHUNK && prx_feof(fp))
            break;
    }

    if (mode == Mode::Paragraph && last != -1) {
        // Swallow the blank lines after the paragraph.
        int32_t c;
        do {
            c = prx_getc(fp);
        } while (c == '\n');
        prx_ungetc(c, fp);
    }

    sv->flags &= ~SVf_UTF8;
    if (static_cast<int64_t>(sv_cur(sv)) == offset)
        return nullptr;
    return sv_pv(sv);
}
