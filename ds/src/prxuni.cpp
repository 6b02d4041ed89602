// Swashes: creation through utf8->SWASHNEW, the per-block vectors that
// SWASHGET fills and swash_fetch caches, and the class tests and case maps
// that keep one swash each in the control block.
#include "prxuni.h"

#include <cstring>

#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxutf8.h"

namespace {

// Both calls of the Perl-level package run on a level of their own, so that
// the caller's argument stack stays as it is; the result is a new copy of the
// one value returned, or the undefined value.
SV* call_for_one_result(PERLGCB* gcb, const char* method)
{
    SV* result = &gcb->sv_undef;
    if (interp_call_method_by_name(gcb, method, 0)) {
        result = sv_new_copy(gcb, *gcb->arg_sp);
        gcb->arg_sp--;
    }
    return result;
}

inline bool compiling(PERLGCB* gcb) { return gcb->current_statement == gcb->compiling_statement; }

}  // namespace

SV* swash_new(PERLGCB* gcb, const char* pkg, const char* name, SV* listsv, int32_t minbits, int32_t none)
{
    SV* tokenbufsv = sv_new_temporary(gcb);
    if (!gv_stash_by_name(gcb, pkg, 0)) {
        scope_enter(gcb);
        module_load_va(gcb, 2, sv_new_from_cstring(gcb, pkg, 0), nullptr, nullptr);
        scope_leave(gcb);
    }
    stack_level_push(gcb, SI_MAGIC);
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, 5);
    *++sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, pkg, 0));
    *++sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, name, 0));
    *++sp = listsv;
    *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, minbits));
    *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, none));
    gcb->arg_sp = sp;

    scope_enter(gcb);
    save_push_i32(gcb, reinterpret_cast<int32_t*>(&gcb->compile_hints));
    gcb->compile_hints = 0;
    re_save_match_state(gcb);
    if (compiling(gcb))
        sv_set_cstring(gcb, tokenbufsv, gcb->token_buffer);
    SV* retval = call_for_one_result(gcb, "SWASHNEW");
    scope_leave(gcb);
    stack_level_pop(gcb);

    if (compiling(gcb)) {
        uint64_t len = 0;
        const char* text = sv_text(gcb, tokenbufsv, &len);
        if (len >= sizeof gcb->token_buffer)
            len = sizeof gcb->token_buffer - 1;
        std::memcpy(gcb->token_buffer, text, len);
        gcb->token_buffer[len] = 0;
        gcb->current_statement->op.op_private = static_cast<uint8_t>(gcb->compile_hints);
    }
    if (!(retval->flags & SVf_ROK) || sv_type(sv_rv(retval)) != SVt_PVHV)
        fatal_error(gcb, "SWASHNEW didn't return an HV ref");
    return retval;
}

uint64_t swash_fetch(PERLGCB* gcb, SV* swash, const uint8_t* p)
{
    HV* hv = sv_as<HV>(sv_rv(swash));
    uint32_t klen = utf8_skip_table[*p] - 1u;
    uint32_t off = p[klen] & 0x7Fu;
    uint32_t entries = klen ? 64 : 128;
    const uint8_t* vec;
    uint64_t slen;

    if (hv == gcb->swash_last_hv && klen == gcb->swash_last_klen &&
        (klen == 0 || std::memcmp(p, gcb->swash_last_key, klen) == 0)) {
        vec = gcb->swash_last_vec;
        slen = gcb->swash_last_len;
    } else {
        SV** svp = hv_fetch_str(gcb, hv, reinterpret_cast<const char*>(p), static_cast<int32_t>(klen), 0);
        if (svp && *svp && ((*svp)->flags & SVf_POK) && sv_pv(*svp)) {
            vec = reinterpret_cast<const uint8_t*>(sv_pv(*svp));
            slen = sv_cur(*svp);
        } else {
            scope_enter(gcb);
            save_push_int(gcb, &gcb->temps_floor);
            gcb->temps_floor = gcb->temps_ix;
            re_save_match_state(gcb);
            stack_level_push(gcb, SI_MAGIC);
            SV** sp = gcb->arg_sp;
            push_mark(gcb, sp);
            sp = arg_stack_room(gcb, sp, 3);
            *++sp = swash;
            uint64_t code = utf8_decode_simple(gcb, p, nullptr);
            *++sp = sv_make_temporary(gcb, sv_new_from_uint(gcb, code & ~static_cast<uint64_t>(entries - 1)));
            *++sp = sv_make_temporary(gcb, sv_new_from_uint(gcb, entries));
            gcb->arg_sp = sp;
            SV* retval = call_for_one_result(gcb, "SWASHGET");
            stack_level_pop(gcb);
            tmps_free_to_floor(gcb);
            scope_leave(gcb);
            if (compiling(gcb))
                gcb->current_statement->op.op_private = static_cast<uint8_t>(gcb->compile_hints);

            svp = hv_store_str(gcb, hv, reinterpret_cast<const char*>(p), static_cast<int32_t>(klen), retval, 0);
            SV* stored = svp ? *svp : nullptr;
            if (!stored || sv_type(stored) < SVt_PV || !sv_pv(stored) || sv_cur(stored) < 8)
                fatal_error(gcb, "SWASHGET didn't return result of proper length");
            vec = reinterpret_cast<const uint8_t*>(sv_pv(stored));
            slen = sv_cur(stored);
        }
        // Stored vectors never change, so the cache stays valid until the
        // next miss overwrites it.
        gcb->swash_last_hv = hv;
        gcb->swash_last_klen = klen;
        if (klen)
            std::memcpy(gcb->swash_last_key, p, klen);
        gcb->swash_last_vec = vec;
        gcb->swash_last_len = slen;
    }

    switch ((slen * 8) / entries) {
    case 1:
        return (vec[off >> 3] >> (off & 7)) & 1u;
    case 8:
        return vec[off];
    case 16:
        return static_cast<uint64_t>(vec[2 * off]) * 256 + vec[2 * off + 1];
    case 32: {
        const uint8_t* e = vec + 4 * off;
        uint32_t be = (static_cast<uint32_t>(e[0]) << 24) | (static_cast<uint32_t>(e[1]) << 16) |
                      (static_cast<uint32_t>(e[2]) << 8) | e[3];
        return static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(be)));
    }
    }
    fatal_error(gcb, "panic: swash_fetch");
}

namespace {

// The swash of a slot, made on first use.
SV* slot_swash(PERLGCB* gcb, int32_t slot, const char* property, int32_t minbits)
{
    SV*& sv = gcb->swash_slots[slot];
    if (!sv)
        sv = swash_new(gcb, "utf8", property, &gcb->sv_undef, minbits, 0);
    return sv;
}

int32_t class_test(PERLGCB* gcb, const uint8_t* p, int32_t slot, const char* property)
{
    if (!utf8_check_char(gcb, p))
        return 0;
    return static_cast<int32_t>(swash_fetch(gcb, slot_swash(gcb, slot, property, 0), p));
}

int32_t ident_start_test(PERLGCB* gcb, const uint8_t* p)
{
    if (*p == '_')
        return 1;
    return class_test(gcb, p, SWASH_ALPHA, "IsAlpha") ? 1 : 0;
}

uint64_t case_map(PERLGCB* gcb, const uint8_t* p, int32_t slot, const char* property)
{
    uint64_t r = swash_fetch(gcb, slot_swash(gcb, slot, property, 4), p);
    return r ? r : utf8_decode(gcb, p, 13, nullptr, 0);
}

// A code point's encoding in a local buffer.
struct Encoded {
    uint8_t bytes[13];
};
inline Encoded encode(PERLGCB* gcb, uint32_t c)
{
    Encoded e;
    utf8_encode(gcb, e.bytes, c);
    return e;
}

}  // namespace

// A routine pair of one row: the UTF-8 form asks the slot's swash through
// test, the code-point form encodes the character and asks the UTF-8 form.
#define PRX_UNI_PAIR(type, verb, name, test, slot, property)                                             \
    type utf8_##verb##_##name(PERLGCB* gcb, const uint8_t* p) { return test(gcb, p, SWASH_##slot, property); } \
    type uni_##verb##_##name(PERLGCB* gcb, uint32_t c)                                                   \
    {                                                                                                    \
        Encoded e = encode(gcb, c);                                                                      \
        return utf8_##verb##_##name(gcb, e.bytes);                                                       \
    }
#define PRX_UNI_CLASS(name, slot, property) PRX_UNI_PAIR(int32_t, is, name, class_test, slot, property)
#define PRX_UNI_MARK(name, slot, property) \
    int32_t utf8_is_##name(PERLGCB* gcb, const uint8_t* p) { return class_test(gcb, p, SWASH_##slot, property); }
#define PRX_UNI_CASE(name, slot, property) PRX_UNI_PAIR(uint64_t, to, name, case_map, slot, property)
#include "prxuni.def"
#undef PRX_UNI_CLASS
#undef PRX_UNI_MARK
#undef PRX_UNI_CASE
#undef PRX_UNI_PAIR

int32_t utf8_is_ident_start(PERLGCB* gcb, const uint8_t* p) { return ident_start_test(gcb, p); }

int32_t uni_is_ident_start(PERLGCB* gcb, uint32_t c)
{
    Encoded e = encode(gcb, c);
    return ident_start_test(gcb, e.bytes);
}
