// Run-time functions of references, globs and pads: dereferencing to a
// glob, scalar or sub, the reference constructors, ref and bless, glob
// slots, lexical arrays and hashes, pos, prototype, study, chop and chomp,
// defined, undef, and the decrement and post-increment ops.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlex.h"
#include "prxpad.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

const char no_modify[] = "Modification of a read-only value attempted";
const char no_usym[] = "Can't use an undefined value as %s reference";
const char no_symref[] = "Can't use string (\"%.32s\") as %s ref while \"strict refs\" in use";

OP* next_with(PERLGCB* gcb, SV** sp)
{
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

bool strict_refs(const OP* op) { return (op->op_private & OPpHINT_STRICT_REFS) != 0; }

// Makes sv a reference to referent, which it takes over; a string body loses
// its buffer first.
void make_reference(PERLGCB* gcb, SV* sv, SV* referent)
{
    if (sv_type(sv) < SVt_RV) {
        sv_upgrade_body(gcb, sv, SVt_RV);
    } else if (sv_type(sv) >= SVt_PV) {
        if (sv->flags & SVf_OOK)
            sv_undo_offset(gcb, sv);
        if (sv_len(sv))
            pool_free(gcb, sv_pv(sv));
        sv_cur(sv) = 0;
        sv_len(sv) = 0;
    }
    sv->flags &= ~SV_VALUE_FLAGS;
    sv_rv(sv) = referent;
    sv->flags |= SVf_ROK;
    pp_set_magic(gcb, sv);
}

// The value a reference constructor refers to, with one reference raised
// for the new reference (a PADTMP value is copied instead).
SV* referent_of(PERLGCB* gcb, SV* sv)
{
    if (sv_type(sv) == SVt_PVLV && static_cast<PVLV*>(sv->any)->type == 'y') {
        PVLV* lv = static_cast<PVLV*>(sv->any);
        if (lv->targlen)
            magic_create_deferred_element(gcb, sv);
        lv = static_cast<PVLV*>(sv->any);
        return sv_refinc(lv->targ ? lv->targ : &gcb->sv_undef);
    }
    if (sv_type(sv) == SVt_PVAV) {
        AV* av = sv_as<AV>(sv);
        if (!(av_body(av)->avflags & AVf_REAL) && (av_body(av)->avflags & AVf_REIFY))
            av_make_real(gcb, av);
    } else if (sv->flags & SVs_PADTMP) {
        return sv_new_copy(gcb, sv);
    }
    sv->flags &= ~SVs_TEMP;
    return sv_refinc(sv);
}

bool tied(PERLGCB* gcb, SV* sv) { return (sv->flags & SVs_RMG) && mg_find_by_type(gcb, sv, 'P'); }


// Which of the dereference ops runs.
enum class Deref { Glob, Scalar };

}  // namespace

// Pushes the elements of an array in place of sp's slot: fetched one by one
// when the array has magic of the kinds given, else copied as they stand
// (a hole as the immortal undef).
SV** pp_push_elements(PERLGCB* gcb, SV** sp, AV* av, uint32_t fetch_magic)
{
    int32_t count = av_highest_index(gcb, av) + 1;
    sp--;
    if (count <= 0)
        return sp;
    sp = pp_extend(gcb, sp, count);
    if (av->flags & fetch_magic) {
        for (int32_t i = 0; i < count; i++) {
            pp_put_sp(gcb, sp);
            SV** slot = av_fetch_element(gcb, av, i, 0);
            sp = pp_sp(gcb);
            *++sp = slot && *slot ? *slot : &gcb->sv_undef;
        }
    } else {
        SV** elems = av_body(av)->array;
        for (int32_t i = 0; i < count; i++)
            *++sp = elems[i] ? elems[i] : &gcb->sv_undef;
    }
    return sp;
}

// ---- shared with the other op families ----------------------------------------

SV* pp_reference_to(PERLGCB* gcb, SV* sv)
{
    SV* referent = referent_of(gcb, sv);
    SV* rv = sv_new_temporary(gcb);
    sv_upgrade_body(gcb, rv, SVt_RV);
    sv_rv(rv) = referent;
    rv->flags |= SVf_ROK;
    return rv;
}

SV* pp_overload_deref(PERLGCB* gcb, SV* sv, int32_t method)
{
    while (gcb->overload_generation && (sv->flags & SVf_OVERLOAD)) {
        SV* res = overload_call_operator(gcb, sv, &gcb->sv_undef, method, AMGf_noright | AMGf_unary);
        if (!res)
            break;
        if (!(res->flags & SVf_ROK))
            fatal_error(gcb, "Overloaded dereference did not return a reference");
        if (res == sv || sv_rv(res) == sv_rv(sv))
            break;
        sv = res;
    }
    return sv;
}

SV* pp_default_var(PERLGCB* gcb)
{
    GV* gv = gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV);
    return gv_gp(gv)->gp_sv;
}

void pp_set_bucket_usage(PERLGCB* gcb, SV* dst, HV* hv)
{
    PVHV* b = hv_body(hv);
    if (b->fill)
        sv_set_formatted(gcb, dst, "%ld/%ld", static_cast<int>(b->fill), static_cast<int>(b->max + 1));
    else
        sv_set_int(gcb, dst, 0);
}

// ---- pads ------------------------------------------------------------------------

OP* pp_stub(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    uint8_t want = op->op_flags & OPf_WANT;
    if (want == OPf_WANT_SCALAR || (want == 0 && cx_gimme(gcb) == CTX_SCALAR)) {
        sp = pp_extend(gcb, sp, 1);
        *++sp = &gcb->sv_undef;
    }
    return next_with(gcb, sp);
}

OP* pp_padav(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_extend(gcb, pp_sp(gcb), 1);
    AV* av = sv_as<AV>(gcb->curpad[op->op_targ]);
    if (op->op_private & OPpLVAL_INTRO)
        save_push_clear_pad_entry(gcb, &gcb->curpad[op->op_targ]);
    *++sp = as_sv(av);
    if (op->op_flags & OPf_REF)
        return next_with(gcb, sp);
    bool list = pp_wants_list(gcb, op);
    if ((op->op_private & OPpMAYBE_LVSUB) && cx_lvalue_sub(gcb)) {
        if (list)
            return next_with(gcb, sp);
        fatal_error(gcb, "Can't return array to lvalue scalar context");
    }
    if (list)
        return next_with(gcb, pp_push_elements(gcb, sp, av, SVs_GMG | SVs_SMG | SVs_RMG));
    *sp = sv_make_temporary(gcb, sv_new_from_int(gcb, static_cast<int64_t>(av_highest_index(gcb, av)) + 1));
    return next_with(gcb, sp);
}

OP* pp_padhv(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_extend(gcb, pp_sp(gcb), 1);
    HV* hv = sv_as<HV>(gcb->curpad[op->op_targ]);
    *++sp = as_sv(hv);
    if (op->op_private & OPpLVAL_INTRO)
        save_push_clear_pad_entry(gcb, &gcb->curpad[op->op_targ]);
    if (op->op_flags & OPf_REF)
        return next_with(gcb, sp);
    uint8_t gimme = pp_context(gcb, op);
    if ((op->op_private & OPpMAYBE_LVSUB) && cx_lvalue_sub(gcb)) {
        if (gimme == CTX_LIST)
            return next_with(gcb, sp);
        fatal_error(gcb, "Can't return hash to lvalue scalar context");
    }
    if (gimme == CTX_LIST) {
        pp_put_sp(gcb, sp);
        return do_keys_values(gcb);
    }
    if (gimme == CTX_SCALAR) {
        SV* usage = sv_new_temporary(gcb);
        pp_set_bucket_usage(gcb, usage, hv);
        *sp = usage;
    }
    return next_with(gcb, sp);
}

OP* pp_padany(PERLGCB* gcb) { return die_error(gcb, "NOT IMPL LINE %d", 209); }

// ---- dereference to a glob or a scalar -------------------------------------------

static OP* deref_glob_or_scalar(PERLGCB* gcb, Deref kind)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    GV* gv = nullptr;   // the glob reached, when one was
    const char* what = kind == Deref::Glob ? "a symbol" : "a SCALAR";
    for (;;) {
        if (sv->flags & SVf_ROK) {
            sv = pp_overload_deref(gcb, sv, kind == Deref::Glob ? AMG_TO_GV : AMG_TO_SV);
            SV* ref = sv_rv(sv);
            if (kind == Deref::Glob) {
                if (sv_type(ref) == SVt_PVIO) {
                    // A handle alone: a nameless temporary glob holds it.
                    SV* g = sv_new_temporary(gcb);
                    gv_convert_to_glob(gcb, sv_as<GV>(g), nullptr, "", 0, 0);
                    gv_gp(sv_as<GV>(g))->gp_io = sv_as<IO>(sv_refinc(ref));
                    gv = sv_as<GV>(g);
                } else if (sv_type(ref) != SVt_PVGV) {
                    return die_error(gcb, "Not a GLOB reference");
                } else {
                    gv = sv_as<GV>(ref);
                }
                sv = as_sv(gv);
            } else {
                uint32_t t = sv_type(ref);
                if (t == SVt_PVAV || t == SVt_PVHV || t == SVt_PVCV)
                    return die_error(gcb, "Not a SCALAR reference");
                sv = ref;
            }
            break;
        }
        if (sv_type(sv) == SVt_PVGV) {
            gv = sv_as<GV>(sv);
            if (kind == Deref::Scalar)
                sv = gv_gp(gv)->gp_sv;
            break;
        }
        if (sv->flags & SVs_GMG) {
            mg_call_get(gcb, sv);
            if (sv->flags & SVf_ROK)
                continue;
        }
        if (!sv_ok(sv) && (kind == Deref::Scalar || sv != &gcb->sv_undef)) {
            if (kind == Deref::Glob && (op->op_private & OPpDEREF)) {
                GV* fresh;
                if (op->op_targ) {
                    uint64_t len = 0;
                    const char* name = sv_text(gcb, gcb->curpad[op->op_targ], &len);
                    fresh = sv_as<GV>(sv_new_undef(gcb, 0));
                    gv_convert_to_glob(gcb, fresh, gcb->current_statement->cop_stash, name, static_cast<int32_t>(len), 0);
                } else {
                    HV* stash = gcb->current_statement->cop_stash;
                    const char* pkg = stash && hv_body(stash)->name ? hv_body(stash)->name : "main";
                    fresh = sv_as<GV>(sv_refinc(as_sv(gv_new_generated(gcb, pkg))));
                }
                make_reference(gcb, sv, as_sv(fresh));
                continue;
            }
            if ((op->op_flags & OPf_REF) || strict_refs(op))
                return die_error(gcb, no_usym, what);
            if (warn_enabled(gcb, WARN_UNINITIALIZED))
                warn_uninitialized(gcb);
            *sp = &gcb->sv_undef;
            return next_with(gcb, sp);
        }
        uint64_t len = 0;
        const char* sym = sv_text(gcb, sv, &len);
        uint32_t type = kind == Deref::Glob ? SVt_PVGV : SVt_PV;
        if ((op->op_flags & OPf_SPECIAL) && !(op->op_flags & OPf_MOD)) {
            gv = gv_fetch_by_name(gcb, sym, 0, type);
            if (!gv && gv_is_special_name(gcb, sym, static_cast<uint32_t>(len)))
                gv = gv_fetch_by_name(gcb, sym, GV_ADD, type);
            if (!gv) {
                *sp = &gcb->sv_undef;
                return next_with(gcb, sp);
            }
        } else {
            if (strict_refs(op))
                return die_error(gcb, no_symref, sym, what);
            gv = gv_fetch_by_name(gcb, sym, GV_ADD, type);
        }
        sv = kind == Deref::Glob ? as_sv(gv) : gv_gp(gv)->gp_sv;
        break;
    }
    if (kind == Deref::Glob) {
        if (op->op_private & OPpLVAL_INTRO)
            save_push_gp(gcb, gv, !(op->op_flags & OPf_SPECIAL));
    } else if (op->op_flags & OPf_MOD) {
        if (op->op_private & OPpLVAL_INTRO) {
            // local of a scalar reached through a reference has no glob to save.
            if (!gv)
                return die_error(gcb, "Can't localize through a reference");
            sv = save_push_scalar(gcb, gv);
        } else if (op->op_private & OPpDEREF) {
            elem_autovivify(gcb, sv, op->op_private & OPpDEREF);
        }
    }
    *pp_sp(gcb) = sv;
    return op->op_next;
}

OP* pp_rv2gv(PERLGCB* gcb) { return deref_glob_or_scalar(gcb, Deref::Glob); }
OP* pp_rv2sv(PERLGCB* gcb) { return deref_glob_or_scalar(gcb, Deref::Scalar); }

OP* pp_av2arylen(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    AV* av = sv_as<AV>(*sp);
    PVAV* b = av_body(av);
    if (!b->arylen) {
        SV* lv = sv_new_undef(gcb, 0);
        sv_upgrade_body(gcb, lv, SVt_IV);
        sv_add_magic(gcb, lv, as_sv(av), '#', nullptr, 0);
        av_body(av)->arylen = lv;
    }
    *sp = av_body(av)->arylen;
    return next_with(gcb, sp);
}

OP* pp_pos(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    SV* targ = pp_pad_target(gcb, op);
    if (pp_lvalue_use(gcb, op)) {
        if (sv_type(targ) < SVt_PVLV) {
            sv_upgrade_body(gcb, targ, SVt_PVLV);
            sv_add_magic(gcb, targ, nullptr, '.', nullptr, 0);
        }
        PVLV* lv = static_cast<PVLV*>(targ->any);
        lv->type = '.';
        if (lv->targ != sv) {
            SV* old = lv->targ;
            lv->targ = sv_refinc(sv);
            sv_release(gcb, old);
        }
        *sp = targ;
        return next_with(gcb, sp);
    }
    MAGIC* mg = sv_type(sv) >= SVt_PVMG && sv_magic_chain(sv) ? mg_find_by_type(gcb, sv, 'g') : nullptr;
    if (mg && mg->len >= 0) {
        int32_t pos = mg->len;
        if ((sv->flags & SVf_UTF8) && !pp_bytes_hint(gcb))
            sv_pos_b2u(gcb, sv, &pos);
        sv_set_int(gcb, targ, static_cast<int64_t>(pos) + gcb->current_statement->cop_arybase);
        *sp = targ;
    } else {
        *sp = &gcb->sv_undef;
    }
    return next_with(gcb, sp);
}

// ---- subs -----------------------------------------------------------------------

OP* pp_rv2cv(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    HV* stash = nullptr;
    GV* gv = nullptr;
    CV* cv = sv_to_code(gcb, *sp, &stash, &gv, !(op->op_flags & OPf_SPECIAL));
    if (cv) {
        if (static_cast<PVCV*>(cv->any)->cvflags & CVf_CLONE)
            cv = sv_as<CV>(sv_make_temporary(gcb, as_sv(cv_clone(gcb, cv))));
        if (op->op_private & OPpLVAL_INTRO) {
            if (gv && gv_gp(gv) && gv_gp(gv)->gp_cv == cv) {
                PVGV* g = gv_body(gv);
                GV* autoload = gv_find_autoload(gcb, g->gvstash, g->name, static_cast<uint32_t>(g->namelen), 0);
                if (autoload)
                    cv = gv_gp(autoload)->gp_cv;
            }
            if (!cv || !(static_cast<PVCV*>(cv->any)->cvflags & CVf_LVALUE))
                return die_error(gcb, "Can't modify non-lvalue subroutine call");
        }
    }
    *pp_sp(gcb) = cv ? as_sv(cv) : &gcb->sv_undef;
    return op->op_next;
}

OP* pp_prototype(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* top = *sp;
    SV* ret = &gcb->sv_undef;
    if ((top->flags & SVf_POK) && sv_cur(top) >= 7 && std::memcmp(sv_pv(top), "CORE::", 6) == 0) {
        const char* s = sv_pv(top) + 6;
        int64_t len = static_cast<int64_t>(sv_cur(top)) - 6;
        int32_t code = keyword_lookup(gcb, s, static_cast<int32_t>(len));
        if (code == 0)
            return die_error(gcb, "Can't find an opnumber for \"%s\"", s);
        if (code < 0) {
            int32_t found = -1;
            for (int32_t i = 0; i < OP_max && found < 0; i++) {
                const char* name = gcb->op_name_table[i];
                const char* desc = gcb->op_desc_table[i];
                if (xk_padcmp64(name, static_cast<int64_t>(std::strlen(name)), s, len) == 0 ||
                    xk_padcmp64(desc, static_cast<int64_t>(std::strlen(desc)), s, len) == 0)
                    found = i;
            }
            if (found < 0)
                return die_error(gcb, "Can't find an opnumber for \"%s\"", s);
            char buf[48];
            int32_t n = 0;
            bool seen_optional = false;
            bool defined = true;
            for (uint32_t oa = op_args_of(gcb, found) >> OA_OPERAND_SHIFT; oa; oa >>= 4) {
                if (oa & OA_OPTIONAL) {
                    seen_optional = true;
                    buf[n++] = ';';
                } else if (n && buf[0] == ';' && seen_optional) {
                    defined = false;
                    break;
                }
                uint32_t kind = oa & 7;
                if (kind == OA_AVREF || kind == OA_HVREF)
                    buf[n++] = '\\';
                buf[n++] = "?$@@%&*$"[kind];
            }
            if (defined)
                ret = sv_make_temporary(gcb, sv_new_from_bytes(gcb, buf, static_cast<uint64_t>(n)));
        }
    }
    HV* stash = nullptr;
    GV* gv = nullptr;
    CV* cv = sv_to_code(gcb, top, &stash, &gv, 0);
    if (cv && (cv->flags & SVf_POK))
        ret = sv_make_temporary(gcb, sv_new_from_bytes(gcb, sv_pv(as_sv(cv)), sv_cur(as_sv(cv))));
    *pp_sp(gcb) = ret;
    return gcb->op->op_next;
}

OP* pp_anoncode(PERLGCB* gcb)
{
    OP* op = gcb->op;
    CV* cv = sv_as<CV>(gcb->curpad[op->op_targ]);
    if (static_cast<PVCV*>(cv->any)->cvflags & CVf_CLONE)
        cv = sv_as<CV>(sv_make_temporary(gcb, as_sv(cv_clone(gcb, cv))));
    SV** sp = pp_extend(gcb, pp_sp(gcb), 1);
    *++sp = as_sv(cv);
    return next_with(gcb, sp);
}

// ---- references ------------------------------------------------------------------

OP* pp_srefgen(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* rv = pp_reference_to(gcb, *sp);
    *pp_sp(gcb) = rv;
    return gcb->op->op_next;
}

OP* pp_refgen(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    if (pp_wants_list(gcb, op)) {
        int32_t n = static_cast<int32_t>(pp_sp(gcb) - (gcb->arg_base + mark));
        tmps_stack_extend(gcb, n);
        for (int32_t i = 1; i <= n; i++) {
            SV* rv = pp_reference_to(gcb, gcb->arg_base[mark + i]);
            gcb->arg_base[mark + i] = rv;
        }
        return op->op_next;
    }
    SV** sp = pp_sp(gcb);
    SV* last = sp > gcb->arg_base + mark ? *sp : &gcb->sv_undef;
    SV* rv = pp_reference_to(gcb, last);
    gcb->arg_base[mark + 1] = rv;
    pp_put_sp(gcb, gcb->arg_base + mark + 1);
    return op->op_next;
}

OP* pp_ref(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if (sv)
        pp_get_magic(gcb, sv);
    if (!sv || !(sv->flags & SVf_ROK)) {
        *sp = &gcb->sv_no;
        return next_with(gcb, sp);
    }
    const char* name = sv_referent_type_name(gcb, sv_rv(sv), 1);
    SV* targ = pp_pad_target(gcb, op);
    sv_set_cstring(gcb, targ, name ? name : "");
    pp_set_magic(gcb, targ);
    *sp = targ;
    return next_with(gcb, sp);
}

OP* pp_bless(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    HV* stash;
    if ((op->op_private & 0x0F) < 2) {
        stash = gcb->current_statement->cop_stash;
    } else {
        SV* ssv = *sp--;
        pp_put_sp(gcb, sp);
        uint64_t len = 0;
        const char* name = sv_text(gcb, ssv, &len);
        if (len == 0 && warn_enabled(gcb, WARN_MISC))
            category_warning(gcb, WARN_MISC, "Explicit blessing to '' (assuming package main)");
        stash = gv_stash_by_name_len(gcb, name, static_cast<uint32_t>(len), 1);
    }
    sv_bless_referent(gcb, *sp, stash);
    return next_with(gcb, sp);
}

// ---- glob slots --------------------------------------------------------------------

OP* pp_gelem(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* namesv = *sp--;
    GV* gv = sv_as<GV>(*sp);
    uint64_t len = 0;
    const char* name = sv_text(gcb, namesv, &len);
    auto is = [&](const char* word) {
        return xk_padcmp64(name, static_cast<int64_t>(len), word, static_cast<int64_t>(std::strlen(word))) == 0;
    };
    GP* gp = sv_type(as_sv(gv)) == SVt_PVGV ? gv_gp(gv) : nullptr;
    SV* target = nullptr;   // the referent of the result
    SV* result = nullptr;   // or a new value
    if (gp && len) {
        switch (name[0]) {
        case 'A':
            if (is("ARRAY"))
                target = as_sv(gp->gp_av);
            break;
        case 'C':
            if (is("CODE") && gp->gp_cvgen == 0)
                target = as_sv(gp->gp_cv);
            break;
        case 'F':
            if (is("FILEHANDLE"))
                target = as_sv(gp->gp_io);
            break;
        case 'G':
            if (is("GLOB"))
                target = as_sv(gv);
            break;
        case 'H':
            if (is("HASH"))
                target = as_sv(gp->gp_hv);
            break;
        case 'I':
            if (is("IO"))
                target = as_sv(gp->gp_io);
            break;
        case 'N':
            if (is("NAME"))
                result = sv_new_from_bytes(gcb, gv_body(gv)->name, gv_body(gv)->namelen);
            break;
        case 'P':
            if (is("PACKAGE")) {
                HV* st = gv_body(gv)->gvstash;
                const char* pkg = st && hv_body(st)->name ? hv_body(st)->name : "";
                result = sv_new_from_cstring(gcb, pkg, 0);
            }
            break;
        case 'S':
            if (is("SCALAR"))
                target = gp->gp_sv;
            break;
        default:
            break;
        }
    }
    if (target)
        result = sv_new_reference(gcb, target);
    *sp = result ? sv_make_temporary(gcb, result) : &gcb->sv_undef;
    return next_with(gcb, sp);
}

// ---- study ------------------------------------------------------------------------

OP* pp_study(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if (sv == gcb->study_last) {
        if (sv->flags & SVp_SCREAM) {
            *sp = &gcb->sv_yes;
            return next_with(gcb, sp);
        }
    } else {
        if (SV* old = gcb->study_last) {
            old->flags &= ~SVp_SCREAM;
            gcb->study_last = nullptr;
            sv_release(gcb, old);
        }
        gcb->study_last = sv_refinc(sv);
    }
    uint64_t len = 0;
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
    if (len == 0) {
        *sp = &gcb->sv_no;
        return next_with(gcb, sp);
    }
    if (len > INT32_MAX - len / 4 - 80)
        return die_error(gcb, "do_study: out of memory");
    int32_t pos = static_cast<int32_t>(len);
    if (pos > gcb->study_max || !gcb->study_first || !gcb->study_next) {
        if (gcb->study_max < 0 || !gcb->study_first) {
            int32_t max = pos + 80;
            int32_t* first = static_cast<int32_t*>(pool_try_malloc(gcb, 256 * sizeof(int32_t)));
            int32_t* next = static_cast<int32_t*>(pool_try_realloc(gcb, gcb->study_next, static_cast<uint64_t>(max) * sizeof(int32_t)));
            if (next)
                gcb->study_next = next;
            if (!first || !next) {
                pool_free(gcb, first);
                return die_error(gcb, "do_study: out of memory");
            }
            pool_free(gcb, gcb->study_first);
            gcb->study_first = first;
            gcb->study_max = max;
        } else {
            int32_t max = pos + pos / 4;
            int32_t* next = static_cast<int32_t*>(pool_try_realloc(gcb, gcb->study_next, static_cast<uint64_t>(max) * sizeof(int32_t)));
            if (!next)
                return die_error(gcb, "do_study: out of memory");
            gcb->study_next = next;
            gcb->study_max = max;
        }
    }
    int32_t* first = gcb->study_first;
    int32_t* next = gcb->study_next;
    for (int32_t c = 0; c < 256; c++)
        first[c] = -1;
    while (--pos >= 0) {
        uint8_t ch = s[pos];
        next[pos] = first[ch] >= 0 ? first[ch] - pos : -pos;
        first[ch] = pos;
    }
    sv->flags |= SVp_SCREAM;
    sv_add_magic(gcb, sv, nullptr, 'g', nullptr, 0);
    *pp_sp(gcb) = &gcb->sv_yes;
    return gcb->op->op_next;
}

// ---- mutators ------------------------------------------------------------------------

OP* pp_schop(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    do_chop_value(gcb, targ, *sp);
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_chop(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    SV* targ = pp_pad_target(gcb, op);
    int32_t last = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    for (int32_t i = mark + 1; i <= last; i++)
        do_chop_value(gcb, targ, gcb->arg_base[i]);
    pp_set_magic(gcb, targ);
    SV** sp = pp_extend(gcb, gcb->arg_base + mark, 1);
    *++sp = targ;
    return next_with(gcb, sp);
}

OP* pp_schomp(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    int32_t count = do_chomp_value(gcb, *sp);
    sv_set_int(gcb, targ, count);
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_chomp(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    SV* targ = pp_pad_target(gcb, op);
    int64_t count = 0;
    for (int32_t i = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base); i > mark; i--)
        count += do_chomp_value(gcb, gcb->arg_base[i]);
    sv_set_int(gcb, targ, count);
    pp_set_magic(gcb, targ);
    SV** sp = pp_extend(gcb, gcb->arg_base + mark, 1);
    *++sp = targ;
    return next_with(gcb, sp);
}

OP* pp_defined(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    bool defined;
    if (!sv || !sv->any) {
        defined = false;
    } else {
        switch (sv_type(sv)) {
        case SVt_PVAV:
            defined = av_body(sv_as<AV>(sv))->max >= 0 || (sv->flags & SVs_GMG) || tied(gcb, sv);
            break;
        case SVt_PVHV:
            defined = hv_body(sv_as<HV>(sv))->array || (sv->flags & SVs_GMG) || tied(gcb, sv);
            break;
        case SVt_PVCV: {
            PVCV* body = static_cast<PVCV*>(sv->any);
            defined = body->root || body->xsub;
            break;
        }
        default:
            pp_get_magic(gcb, sv);
            defined = sv_ok(sv);
            break;
        }
    }
    *pp_sp(gcb) = pp_bool(gcb, defined);
    return gcb->op->op_next;
}

OP* pp_undef(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (!op->op_private) {
        sp = pp_extend(gcb, sp, 1);
        *++sp = &gcb->sv_undef;
        return next_with(gcb, sp);
    }
    SV* sv = *sp;
    if (!sv) {
        *sp = &gcb->sv_undef;
        return next_with(gcb, sp);
    }
    if (sv->flags & (SVf_UTF8 | SVf_READONLY | SVf_FAKE | SVf_ROK))
        sv_make_modifiable(gcb, sv);
    switch (sv_type(sv)) {
    case SVt_NULL:
        break;
    case SVt_PVAV:
        av_free_storage(gcb, sv_as<AV>(sv));
        break;
    case SVt_PVHV:
        hv_free_storage(gcb, sv_as<HV>(sv));
        break;
    case SVt_PVCV:
    case SVt_PVFM: {
        CV* cv = sv_as<CV>(sv);
        PVCV* body = static_cast<PVCV*>(sv->any);
        if (sv_type(sv) == SVt_PVCV && warn_enabled(gcb, WARN_MISC) && cv_const_value(gcb, cv)) {
            const char* name = "(anonymous)";
            if (!(body->cvflags & CVf_ANON) && body->gv)
                name = gv_body(body->gv)->name;
            category_warning(gcb, WARN_MISC, "Constant subroutine %s undefined", name);
        }
        GV* gv = body->gv;
        cv_undefine(gcb, cv);
        static_cast<PVCV*>(sv->any)->gv = gv;
        break;
    }
    case SVt_PVGV:
        if (sv->flags & SVf_FAKE) {
            sv_assign(gcb, sv, &gcb->sv_undef);
            pp_set_magic(gcb, sv);
        } else {
            GV* gv = sv_as<GV>(sv);
            gp_release(gcb, gv);
            GP* gp = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
            std::memset(gp, 0, sizeof *gp);
            gp->gp_refcnt = 1;
            gp->gp_sv = sv_new_undef(gcb, 0);
            gp->gp_line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
            gp->gp_egv = gv;
            gv_gp(gv) = gp;
            gv_body(gv)->gvflags |= GVf_MULTI;
        }
        break;
    default:
        if (sv_type(sv) >= SVt_PV && sv_pv(sv) && sv_len(sv)) {
            if (sv->flags & SVf_OOK)
                sv_undo_offset(gcb, sv);
            pool_free(gcb, sv_pv(sv));
            sv_pv(sv) = nullptr;
            sv_len(sv) = 0;
            sv_cur(sv) = 0;
        }
        sv->flags &= ~SV_VALUE_FLAGS;
        pp_set_magic(gcb, sv);
        break;
    }
    *pp_sp(gcb) = &gcb->sv_undef;
    return op->op_next;
}

// ---- decrement and post-increment ------------------------------------------------------

namespace {

enum class Step { PreDec, PostInc, PostDec };

bool fast_integer(const SV* sv) { return (sv->flags & (SVf_IOK | SVf_IsUV | SVf_NOK | SVf_POK)) == SVf_IOK; }

OP* step(PERLGCB* gcb, Step kind)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if ((sv->flags & SVf_READONLY) || sv_type(sv) > SVt_PVLV)
        return die_error(gcb, no_modify);
    SV* targ = nullptr;
    if (kind != Step::PreDec) {
        targ = pp_pad_target(gcb, op);
        sv_assign(gcb, targ, sv);
    }
    if (kind == Step::PostInc) {
        if (fast_integer(sv) && sv_iv(sv) != 2147483647) {
            sv_iv(sv)++;
            sv->flags &= ~(SVp_NOK | SVp_POK);
        } else {
            sv_increment(gcb, sv);
        }
    } else {
        if (fast_integer(sv) && sv_iv(sv) != -2147483648LL) {
            sv_iv(sv)--;
            sv->flags &= ~(SVp_NOK | SVp_POK);
        } else {
            sv_decrement(gcb, sv);
        }
    }
    pp_set_magic(gcb, sv);
    if (targ) {
        if (kind == Step::PostInc && !sv_ok(targ))
            sv_set_int(gcb, targ, 0);
        *sp = targ;
    }
    return op->op_next;
}

}  // namespace

OP* pp_predec(PERLGCB* gcb) { return step(gcb, Step::PreDec); }
OP* pp_postinc(PERLGCB* gcb) { return step(gcb, Step::PostInc); }
OP* pp_postdec(PERLGCB* gcb) { return step(gcb, Step::PostDec); }
