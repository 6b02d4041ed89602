// String conversion: numbers formatted and cached in the value, reference
// texts, compiled-pattern texts, overloaded string forms, and turning a value
// into a plain string in place.
#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxsvint.h"

namespace {

// The static texts conversion may return; callers never write into them.
constinit char EMPTY_TEXT[1] = {0};
constinit char NULLREF_TEXT[] = "NULLREF";

constexpr uint32_t VALUE_PRESENT = SVf_IOK | SVf_NOK | SVf_POK | SVf_ROK | SVp_IOK | SVp_NOK | SVp_POK;

char* empty_text(uint64_t* len)
{
    *len = 0;
    return EMPTY_TEXT;
}

// Condition A of the uninitialized report: enabled and not localizing.
void uninitialized_unless_localizing(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVs_PADTMP) && warn_enabled(gcb, WARN_UNINITIALIZED) && !gcb->localizing)
        report_uninitialized(gcb);
}

// A text of our own made into a new temporary value.
char* temporary_text(PERLGCB* gcb, const char* text, uint64_t n, uint64_t* len)
{
    SV* tsv = take_head(gcb);
    sv_set_bytes(gcb, tsv, text, n);
    push_temporary(gcb, tsv);
    *len = sv_cur(tsv);
    return sv_pv(tsv);
}

// The cached text of a compiled-pattern object: "(?" flags ":" pattern ")".
char* pattern_text(PERLGCB* gcb, MAGIC* mg, uint64_t* len)
{
    re_compiled* re = reinterpret_cast<re_compiled*>(mg->obj);
    if (!mg->ptr) {
        static constexpr struct {
            char letter;
            uint32_t bit;
        } letters[] = {{'m', 0x1000}, {'s', 0x2000}, {'i', 0x4000}, {'x', 0x8000}};
        // Set letters fill from the left, clear ones from the right end.
        char field[5];
        int32_t left = 0, right = 4;
        for (const auto& l : letters) {
            if (re->analysis_flags & l.bit)
                field[left++] = l.letter;
            else
                field[right--] = l.letter;
        }
        int32_t fieldlen = 4;
        if (left < 4) {
            field[left] = '-';
            fieldlen = 5;
        }
        int32_t textlen = re->pattern_length + fieldlen + 4;
        char* text = static_cast<char*>(pool_malloc(gcb, static_cast<uint64_t>(textlen + fieldlen + 1)));
        char* d = text;
        *d++ = '(';
        *d++ = '?';
        std::memcpy(d, field, static_cast<size_t>(fieldlen));
        d += fieldlen;
        *d++ = ':';
        std::memcpy(d, re->pattern_text, static_cast<size_t>(re->pattern_length));
        d += re->pattern_length;
        *d++ = ')';
        *d = 0;
        mg->ptr = text;
        mg->len = textlen;
    }
    // The eval-group count sits in the 16-bit next field of the program's
    // first unit (bytes 2 and 3).
    uint16_t evals;
    std::memcpy(&evals, reinterpret_cast<const uint8_t*>(re->program) + 2, sizeof evals);
    gcb->seen_evals += evals;
    *len = static_cast<uint64_t>(mg->len);
    return mg->ptr;
}

bool is_regexp_object(PERLGCB* gcb, SV* referent, MAGIC** found)
{
    constexpr uint32_t mask = SVs_OBJECT | SVs_GMG | SVs_SMG | SVs_RMG | VALUE_PRESENT;
    if (sv_type(referent) != SVt_PVMG || (referent->flags & mask) != (SVs_OBJECT | SVs_RMG))
        return false;
    HV* stash = sv_stash(referent);
    const char* name = stash ? hv_body(stash)->name : nullptr;
    int64_t namelen = name ? static_cast<int64_t>(std::strlen(name)) : 0;
    if (xk_padcmp64(name, namelen, "Regexp", 6) != 0)
        return false;
    *found = mg_find_by_type(gcb, referent, 'r');
    return *found != nullptr;
}

char* reference_text(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    SV* referent = sv_rv(sv);
    if (sv->flags & SVf_OVERLOAD) {
        SV* tmp = overload_call_operator(gcb, sv, &gcb->sv_undef, AMG_STRING, AMGf_noright | AMGf_unary);
        if (tmp && !((tmp->flags & SVf_ROK) && sv_rv(tmp) == referent)) {
            if (tmp->flags & SVf_POK) {
                *len = sv_cur(tmp);
                return sv_pv(tmp);
            }
            return sv_to_string(gcb, tmp, len);
        }
    }
    if (!referent) {
        *len = 7;
        return NULLREF_TEXT;
    }
    MAGIC* mg = nullptr;
    if (is_regexp_object(gcb, referent, &mg))
        return pattern_text(gcb, mg, len);
    const char* word = sv_type_word(sv_type(referent), false);
    SV* tsv = take_head(gcb);
    if (referent->flags & SVs_OBJECT) {
        HV* stash = sv_stash(referent);
        const char* name = stash ? hv_body(stash)->name : nullptr;
        sv_set_formatted(gcb, tsv, "%s=%s", name ? name : "", word);
    } else {
        sv_set_cstring(gcb, tsv, word);
    }
    // The whole 64-bit address.
    sv_append_formatted(gcb, tsv, "(0x%llx)", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(referent)));
    push_temporary(gcb, tsv);
    *len = sv_cur(tsv);
    return sv_pv(tsv);
}

// A number formatted into a scratch: the value takes it as a private string
// (a reference gets a temporary value instead).
char* scratch_text(PERLGCB* gcb, SV* sv, const char* text, uint64_t* len)
{
    uint64_t n = std::strlen(text);
    if (sv->flags & SVf_ROK)
        return temporary_text(gcb, text, n, len);
    if (sv_type(sv) < SVt_PV)
        sv_upgrade_body(gcb, sv, SVt_PV);
    *len = n;
    if (sv_len(sv) < n + 1)
        sv_grow_buffer(gcb, sv, n + 1);
    std::memcpy(sv_pv(sv), text, n + 1);
    sv_cur(sv) = n;
    sv->flags |= SVp_POK;
    return sv_pv(sv);
}

}  // namespace

void report_uninitialized(PERLGCB* gcb)
{
    const char* desc = current_op_desc(gcb);
    if (desc)
        category_warning(gcb, WARN_UNINITIALIZED, "Use of uninitialized value%s%s", " in ", desc);
    else
        category_warning(gcb, WARN_UNINITIALIZED, "Use of uninitialized value%s%s", "", "");
}

char* sv_to_string(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (!sv)
        return empty_text(len);
    if (sv->flags & SVs_GMG) {
        mg_call_get(gcb, sv);
        char scratch[64];
        if (sv->flags & SVp_POK) {
            *len = sv_cur(sv);
            return sv_pv(sv);
        }
        if (sv->flags & SVp_IOK) {
            if (sv->flags & SVf_IsUV)
                prx_sprintf(scratch, "%llu", static_cast<unsigned long long>(sv_uv(sv)));
            else
                prx_sprintf(scratch, "%lld", static_cast<long long>(sv_iv(sv)));
            return scratch_text(gcb, sv, scratch, len);
        }
        if (sv->flags & SVp_NOK) {
            scratch[0] = 0;
            prx_gcvt(sv_nv(sv), 15, scratch);
            return scratch_text(gcb, sv, scratch, len);
        }
        if (!(sv->flags & SVf_ROK)) {
            uninitialized_unless_localizing(gcb, sv);
            return empty_text(len);
        }
        return reference_text(gcb, sv, len);
    }
    if (sv->flags & SV_THINK_FIRST) {
        if (sv->flags & SVf_ROK)
            return reference_text(gcb, sv, len);
        if ((sv->flags & SVf_READONLY) && !(sv->flags & VALUE_PRESENT)) {
            if (warn_enabled(gcb, WARN_UNINITIALIZED))
                report_uninitialized(gcb);
            return empty_text(len);
        }
    }
    if (sv->flags & SVp_NOK) {
        if (sv_type(sv) < SVt_PVNV)
            sv_upgrade_body(gcb, sv, SVt_PVNV);
        char* buf = sv_grow_buffer(gcb, sv, 35);
        int32_t saved = gcb->errno_cell;
        if (!prx_gcvt(sv_nv(sv), 15, buf))
            buf[0] = 0;
        gcb->errno_cell = saved;
        *len = std::strlen(buf);
        sv_cur(sv) = *len;
        sv->flags |= SVf_POK | SVp_POK;
        return buf;
    }
    if (sv->flags & SVp_IOK) {
        uint32_t keep = sv->flags & (SVf_IOK | SVf_IsUV);
        if (sv_type(sv) < SVt_PVIV)
            sv_upgrade_body(gcb, sv, SVt_PVIV);
        char scratch[22];
        char* end = scratch + sizeof scratch;
        char* d = end;
        bool negative = !(keep & SVf_IsUV) && sv_iv(sv) < 0;
        uint64_t magnitude = negative ? 0 - sv_uv(sv) : sv_uv(sv);
        do {
            *--d = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude);
        if (negative)
            *--d = '-';
        uint64_t n = static_cast<uint64_t>(end - d);
        if (n + 1 > sv_len(sv))
            sv_grow_buffer(gcb, sv, n + 1);
        char* buf = sv_pv(sv);
        std::memcpy(buf, d, n);
        buf[n] = 0;
        sv_cur(sv) = n;
        undo_offset(gcb, sv);
        sv->flags |= SVp_IOK | keep | SVf_POK | SVp_POK;
        *len = n;
        return sv_pv(sv);
    }
    if (!(sv->flags & SVs_PADTMP))
        uninitialized_unless_localizing(gcb, sv);
    if (sv_type(sv) < SVt_PV)
        sv_upgrade_body(gcb, sv, SVt_PV);
    return empty_text(len);
}

char* sv_to_string_no_length(PERLGCB* gcb, SV* sv)
{
    uint64_t len;
    return sv_to_string(gcb, sv, &len);
}

char* sv_to_string_entry(PERLGCB* gcb, SV* sv, uint64_t* len) { return sv_to_string(gcb, sv, len); }
char* sv_to_string_entry_b(PERLGCB* gcb, SV* sv, uint64_t* len) { return sv_to_string(gcb, sv, len); }

char* sv_force_string(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (!(sv->flags & SVf_ROK) && (sv->flags & (SVf_READONLY | SVf_FAKE | SVf_UTF8)))
        sv_make_modifiable(gcb, sv);
    if (sv->flags & SVf_POK) {
        *len = sv_cur(sv);
        return sv_pv(sv);
    }
    uint32_t type = sv_type(sv);
    if (type >= SVt_PVAV && type != SVt_PVFM) {
        const char* name = current_op_name(gcb);
        fatal_error(gcb, "Can't coerce %s to string in %s", sv_type_word(type, false), name ? name : "null");
    }
    uint64_t n;
    char* s = sv_to_string(gcb, sv, &n);
    if (sv_type(sv) < SVt_PV || s != sv_pv(sv)) {
        if (sv->flags & SVf_ROK)
            sv_drop_reference(gcb, sv);
        if (sv_type(sv) < SVt_PV)
            sv_upgrade_body(gcb, sv, SVt_PV);
        sv_grow_buffer(gcb, sv, n + 1);
        char* pv = sv_pv(sv);
        xk_move(s, pv, static_cast<int32_t>(n));
        sv_cur(sv) = n;
        pv[n] = 0;
    }
    if (!(sv->flags & SVf_POK)) {
        sv->flags |= SVf_POK | SVp_POK;
        taint_step(gcb, sv);
    }
    *len = sv_cur(sv);
    return sv_pv(sv);
}
