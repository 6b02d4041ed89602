// Bookkeeping magic: generation counters of @ISA and %OVERLOAD, match
// offsets @- and @+, user callbacks, taint, compiled-constant and match
// position resets, the debugger's breakpoints, compiled patterns, and the
// clearing of weak references when their referent dies.
#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxsv.h"

namespace {

// The compiled pattern of the last successful match, or null.
re_compiled* last_match(PERLGCB* gcb)
{
    op_pattern* pm = reinterpret_cast<op_pattern*>(gcb->last_match_op);
    return pm ? pm->op_pmregexp : nullptr;
}

}  // namespace

uint32_t magic_matchoffsets_len(PERLGCB* gcb, SV*, MAGIC* mg)
{
    if (re_compiled* rx = last_match(gcb))
        return mg->obj ? rx->group_count : rx->last_group;  // @+ : @-
    return static_cast<uint32_t>(-1);
}

int32_t magic_matchoffsetitem_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    re_compiled* rx = last_match(gcb);
    if (!rx)
        return 0;
    int32_t paren = mg->len;
    if (paren < 0 || static_cast<uint32_t>(paren) > rx->group_count)
        return 0;
    int32_t s = rx->start_offsets[paren];
    int32_t t = rx->end_offsets[paren];
    if (s != -1 && t != -1)
        sv_set_int(gcb, sv, mg->obj ? t : s);
    return 0;
}

int32_t magic_matchoffsetitem_set(PERLGCB* gcb, SV*, MAGIC*)
{
    fatal_error(gcb, "Modification of a read-only value attempted");
}

int32_t magic_uvar_get(PERLGCB*, SV* sv, MAGIC* mg)
{
    auto* uf = reinterpret_cast<magic_uvar_record*>(mg->ptr);
    if (uf && uf->get)
        uf->get(uf->index, sv);
    return 0;
}

int32_t magic_uvar_set(PERLGCB*, SV* sv, MAGIC* mg)
{
    auto* uf = reinterpret_cast<magic_uvar_record*>(mg->ptr);
    if (uf && uf->set)
        uf->set(uf->index, sv);
    return 0;
}

int32_t magic_isa_set(PERLGCB* gcb, SV*, MAGIC*)
{
    gcb->method_cache_generation++;
    return 0;
}

int32_t magic_amagic_set(PERLGCB* gcb, SV*, MAGIC*)
{
    gcb->overload_generation++;
    return 0;
}

int32_t magic_dbline_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    GV* gv = gcb->db_line_glob;
    bool on = sv_is_true(gcb, sv);
    const char* line = mg->ptr;
    if (mg->len == HEK_SV_KEY) {
        uint64_t n = 0;
        line = sv_text(gcb, reinterpret_cast<SV*>(mg->ptr), &n);
    }
    if (!gv || !gv_gp(gv) || !line)
        return 0;
    SV** svp = av_fetch_element(gcb, gv_gp(gv)->gp_av, prx_atoi(line), 0);
    if (svp && ((*svp)->flags & SVp_IOK))
        if (OP* o = reinterpret_cast<OP*>(static_cast<intptr_t>(sv_iv(*svp))))
            o->op_private = on ? 1 : 0;
    return 0;
}

int32_t magic_taint_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    if ((mg->len & 1) || ((mg->len & 2) && mg->obj == sv))
        gcb->tainted = 1;
    return 0;
}

int32_t magic_taint_set(PERLGCB* gcb, SV*, MAGIC* mg)
{
    if (gcb->localizing == 1)
        mg->len <<= 1;
    else if (gcb->localizing)
        mg->len >>= 1;
    else if (gcb->tainted)
        mg->len |= 1;
    else
        mg->len &= ~1;
    return 0;
}

int32_t magic_mglob_set(PERLGCB*, SV* sv, MAGIC* mg)
{
    mg->len = -1;
    sv->flags &= ~SVp_SCREAM;
    return 0;
}

int32_t magic_bm_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    sv_remove_magic(gcb, sv, 'B');
    sv->flags &= ~SVf_VALID;
    return 0;
}

int32_t magic_fm_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    sv_remove_magic(gcb, sv, 'f');
    sv->flags &= ~SVf_COMPILED;
    return 0;
}

int32_t magic_pattern_free(PERLGCB* gcb, SV*, MAGIC* mg)
{
    gcb->re_hook_free(gcb, reinterpret_cast<re_compiled*>(mg->obj));
    return 0;
}

int32_t magic_killbackrefs(PERLGCB* gcb, SV*, MAGIC* mg)
{
    AV* av = sv_as<AV>(mg->obj);
    PVAV* b = av_body(av);
    for (int32_t i = b->fill; i >= 0; i--) {
        SV* ref = b->array[i];
        if (!ref || ref == &gcb->sv_undef)
            continue;
        if ((ref->flags & (SVf_ROK | SVf_WEAKREF)) != (SVf_ROK | SVf_WEAKREF))
            fatal_error(gcb, "panic: magic_killbackrefs");
        sv_rv(ref) = nullptr;
        if (ref->flags & SVf_OOK)
            sv_undo_offset(gcb, ref);
        ref->flags &= ~(SVf_OK_ANY | SVf_OVERLOAD | SVf_IsUV | SVf_WEAKREF);
        b->array[i] = &gcb->sv_undef;
    }
    return 0;
}
