// Lexical pads: slots for lexicals and op targets, declaration of my and our
// names, their visibility by statement sequence number, and the look-up of
// names in enclosing subs and running evals.
#include "prxpad.h"

#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// Name records: the text is the string, valid-to the integer slot and
// valid-from the number slot.
int64_t& valid_to(SV* name) { return sv_iv(name); }
double& valid_from(SV* name) { return sv_nv(name); }
const char* name_text(SV* name) { return sv_pv(name); }

bool is_name(PERLGCB* gcb, SV* sv) { return sv && sv != &gcb->sv_undef; }

bool visible_at(PERLGCB* gcb, SV* name, uint32_t seq)
{
    int64_t from = nv_to_i32(gcb, valid_from(name));
    return from < static_cast<int64_t>(seq) && static_cast<int64_t>(seq) <= valid_to(name);
}

SV** names_of(AV* pad) { return av_body(pad)->array; }
int32_t fill_of(AV* pad) { return av_body(pad)->fill; }

HV* our_package(PERLGCB* gcb) { return gcb->current_package ? gcb->current_package : gcb->main_stash; }

// A name record for text; our and typed names take their package or class.
SV* new_name(PERLGCB* gcb, const char* text, HV* our_stash, HV* type_stash)
{
    SV* sv = sv_new_from_cstring(gcb, text, 0);
    sv_upgrade_body(gcb, sv, our_stash ? SVt_PVGV : type_stash ? SVt_PVMG : SVt_PVNV);
    if (our_stash) {
        gv_body(sv_as<GV>(sv))->gvstash = sv_as<HV>(sv_refinc(as_sv(our_stash)));
        sv->flags |= SVpad_OUR;
    }
    if (type_stash) {
        sv_stash(sv) = sv_as<HV>(sv_refinc(as_sv(type_stash)));
        sv->flags |= SVpad_TYPED;
        gcb->sv_objcount++;
    }
    return sv;
}

// Replaces the value in slot of pad (which exists) by value, or by nothing.
void pad_put(PERLGCB* gcb, AV* pad, uint32_t slot, SV* value)
{
    SV** ary = av_body(pad)->array;
    SV* old = ary[slot];
    ary[slot] = value;
    if (old)
        sv_release(gcb, old);
}

const char* decl_word(PERLGCB* gcb) { return gcb->declaring == DECLARING_OUR ? "our" : "my"; }

// The text of a bad name with its control character shown as ^ and a letter.
void show_control(char* text)
{
    uint64_t len = std::strlen(text);
    if (len > 200) {
        std::memcpy(text + 200, "...", 3);
        text[203] = '\0';
        len = 203;
    }
    std::memmove(text + 3, text + 2, len - 2 + 1);
    text[2] = static_cast<char>(g_host_vector->upper[static_cast<uint8_t>(text[1])] ^ 0x40);
    text[1] = '^';
}

bool is_unique(CV* cv) { return cv && (cv_body(cv)->cvflags & CVf_UNIQUE); }

}  // namespace

uint32_t pad_alloc(PERLGCB* gcb, int32_t, uint32_t kind)
{
    if (!gcb->comppad || gcb->curpad != av_body(gcb->comppad)->array)
        fatal_error(gcb, "panic: pad_alloc");
    if (gcb->pad_reset_pending)
        gcb->pad_reset_pending = 0;
    SV* sv;
    uint32_t slot;
    if (kind & PAD_KIND_MY) {
        do {
            sv = *av_fetch_element(gcb, gcb->comppad, fill_of(gcb->comppad) + 1, 1);
        } while (sv->flags & SVs_PADBUSY);
        slot = static_cast<uint32_t>(fill_of(gcb->comppad));
    } else {
        for (;;) {
            int32_t ix = ++gcb->padix;
            AV* names = gcb->comppad_name;
            if (names && ix <= fill_of(names) && is_name(gcb, names_of(names)[ix]))
                continue;
            sv = *av_fetch_element(gcb, gcb->comppad, ix, 1);
            if (!(sv->flags & (SVs_PADTMP | SVs_PADMY)))
                break;
        }
        slot = static_cast<uint32_t>(gcb->padix);
    }
    sv->flags |= kind;
    gcb->curpad = av_body(gcb->comppad)->array;
    return slot;
}

uint32_t pad_declare_my(PERLGCB* gcb, const char* name)
{
    bool our = gcb->declaring == DECLARING_OUR;
    uint8_t second = static_cast<uint8_t>(name[1]);
    if (!our && !host_is_alpha(second) &&
        !((gcb->compile_hints & HINT_UTF8) && second >= 0xC0 && second <= 0xFD) &&
        !(second == '_' && name[2])) {
        const char* shown = name;
        char* buf = nullptr;
        if (!(host_cclass(second) & HC_PRINT) || second == '\t' || second == '\n' || second == '\r' ||
            second == '\f') {
            uint64_t len = std::strlen(name);
            buf = static_cast<char*>(pool_malloc(gcb, len + 5));
            std::memcpy(buf, name, len + 1);
            show_control(buf);
            shown = buf;
        }
        const char* message = format_message(gcb, "Can't use global %s in \"my\"", shown);
        pool_free(gcb, buf);
        compile_error(gcb, message);
    }

    AV* names = gcb->comppad_name;
    if (warn_enabled(gcb, WARN_MISC) && fill_of(names) >= 0) {
        SV** svp = names_of(names);
        HV* ourstash = our_package(gcb);
        int32_t off = fill_of(names);
        for (; off > gcb->comppad_name_floor; off--) {
            SV* sv = svp[off];
            if (is_name(gcb, sv) && (valid_to(sv) == PAD_MAX || valid_to(sv) == 0) &&
                (!our || ((sv->flags & SVpad_OUR) && gv_body(sv_as<GV>(sv))->gvstash == ourstash)) &&
                std::strcmp(name, name_text(sv)) == 0) {
                category_warning(gcb, WARN_MISC, "\"%s\" variable %s masks earlier declaration in same %s",
                                 our ? "our" : "my", name, valid_to(sv) == PAD_MAX ? "scope" : "statement");
                --off;
                break;
            }
        }
        if (our) {
            for (; off >= 0; off--) {
                SV* sv = svp[off];
                if (is_name(gcb, sv) && (valid_to(sv) == PAD_MAX || valid_to(sv) == 0) &&
                    (sv->flags & SVpad_OUR) && gv_body(sv_as<GV>(sv))->gvstash == ourstash &&
                    std::strcmp(name, name_text(sv)) == 0) {
                    category_warning(gcb, WARN_MISC, "\"our\" variable %s redeclared", name);
                    category_warning(gcb, WARN_MISC, "\t(Did you mean \"local\" instead of \"our\"?)\n");
                    break;
                }
            }
        }
    }

    uint32_t slot = pad_alloc(gcb, 0, PAD_KIND_MY);
    HV* type_stash = gcb->declaring_package;
    if (type_stash && name[0] != '$')
        compile_error(gcb, format_message(gcb, "Can't declare class for non-scalar %s in \"%s\"", name,
                                          decl_word(gcb)));
    SV* sv = new_name(gcb, name, our ? our_package(gcb) : nullptr, type_stash);
    av_store_element(gcb, names, static_cast<int32_t>(slot), sv);
    valid_from(sv) = PAD_MAX;
    valid_to(sv) = 0;
    if (!gcb->min_intro_pending)
        gcb->min_intro_pending = static_cast<int32_t>(slot);
    gcb->max_intro_pending = static_cast<int32_t>(slot);

    if (name[0] == '@')
        pad_put(gcb, gcb->comppad, slot, as_sv(av_new_empty(gcb)));
    else if (name[0] == '%')
        pad_put(gcb, gcb->comppad, slot, as_sv(hv_new_empty(gcb)));
    gcb->curpad[slot]->flags |= SVs_PADMY | SVs_PADBUSY;
    return slot;
}

uint32_t pad_add_captured(PERLGCB* gcb, SV* outer)
{
    uint32_t slot = pad_alloc(gcb, 0, PAD_KIND_MY);
    HV* our_stash = (outer->flags & SVpad_OUR) ? gv_body(sv_as<GV>(outer))->gvstash : nullptr;
    HV* type_stash = (outer->flags & SVpad_TYPED) ? sv_stash(outer) : nullptr;
    SV* sv = new_name(gcb, name_text(outer), our_stash, type_stash);
    av_store_element(gcb, gcb->comppad_name, static_cast<int32_t>(slot), sv);
    valid_from(sv) = gcb->current_statement ? gcb->current_statement->cop_seq : 0;
    valid_to(sv) = PAD_MAX;
    sv->flags |= SVpad_CAPTURED;
    return slot;
}

uint32_t pad_find_outer(PERLGCB* gcb, const char* name, uint32_t newoff, uint32_t seq, CV* start, int32_t cxix,
                        int32_t saweval, int32_t flags)
{
    stack_check(gcb);
    for (CV* cv = start; cv; cv = cv_body(cv)->outside) {
        AV* padlist = cv_body(cv)->padlist;
        if (!padlist)
            continue;
        SV** namesp = av_fetch_element(gcb, padlist, 0, 0);
        if (!namesp || !is_name(gcb, *namesp))
            continue;
        AV* curname = sv_as<AV>(*namesp);
        SV** svp = names_of(curname);
        for (int32_t off = fill_of(curname); off > 0; off--) {
            SV* sv = svp[off];
            if (!is_name(gcb, sv) || std::strcmp(name_text(sv), name) != 0 || !visible_at(gcb, sv, seq))
                continue;
            int32_t depth = cv_body(cv)->depth;
            if (!depth) {
                if (newoff) {
                    if (sv->flags & SVpad_CAPTURED)
                        continue;
                    return 0;  // no cloning from a sub that is not running
                }
                depth = 1;
            }
            AV* oldpad = sv_as<AV>(*av_fetch_element(gcb, padlist, depth, 1));
            SV* oldsv = *av_fetch_element(gcb, oldpad, off, 1);
            if (newoff) {
                av_store_element(gcb, gcb->comppad, static_cast<int32_t>(newoff), sv_refinc(oldsv));
                gcb->curpad = av_body(gcb->comppad)->array;
                return newoff;
            }
            newoff = pad_add_captured(gcb, sv);
            CV* comp = gcb->compile_cv;
            uint16_t compflags = comp ? cv_body(comp)->cvflags : 0;
            if (comp && ((compflags & CVf_ANON) || sv_type(as_sv(comp)) == SVt_PVFM)) {
                cv_body(comp)->cvflags |= CVf_CLONE;
                if (cv == start) {
                    if (compflags & CVf_ANON)
                        oldsv = nullptr;
                } else {
                    for (CV* bcv = start; bcv && bcv != cv && !(cv_body(bcv)->cvflags & CVf_CLONE);
                         bcv = cv_body(bcv)->outside) {
                        if (cv_body(bcv)->cvflags & CVf_ANON) {
                            // The captured name goes into that sub's own pads too.
                            AV* saved_names = gcb->comppad_name;
                            AV* saved_pad = gcb->comppad;
                            SV** saved_curpad = gcb->curpad;
                            AV* bpadlist = cv_body(bcv)->padlist;
                            gcb->comppad_name = sv_as<AV>(*av_fetch_element(gcb, bpadlist, 0, 1));
                            gcb->comppad = sv_as<AV>(*av_fetch_element(gcb, bpadlist, 1, 1));
                            gcb->curpad = av_body(gcb->comppad)->array;
                            pad_add_captured(gcb, sv);
                            gcb->comppad_name = saved_names;
                            gcb->comppad = saved_pad;
                            gcb->curpad = saved_curpad;
                            cv_body(bcv)->cvflags |= CVf_CLONE;
                        } else {
                            if (warn_enabled(gcb, WARN_CLOSURE) && !is_unique(bcv) && !is_unique(cv))
                                category_warning(gcb, WARN_CLOSURE, "Variable \"%s\" may be unavailable", name);
                            break;
                        }
                    }
                }
            } else if (comp && !(compflags & CVf_UNIQUE)) {
                if (warn_enabled(gcb, WARN_CLOSURE) && !(sv->flags & (SVpad_CAPTURED | SVpad_OUR)) && !is_unique(cv))
                    category_warning(gcb, WARN_CLOSURE, "Variable \"%s\" will not stay shared", name);
            }
            pad_put(gcb, gcb->comppad, newoff, oldsv ? sv_refinc(oldsv) : nullptr);
            gcb->curpad = av_body(gcb->comppad)->array;
            return newoff;
        }
    }

    if (flags & 1 || !gcb->current_level)
        return 0;
    cx_frame* frames = gcb->current_level->si_cxstack;
    HV* debugger = nullptr;
    bool debugger_known = false;
    for (int32_t i = cxix; i >= 0; i--) {
        cx_frame* cx = &frames[i];
        switch (cx_type(cx)) {
        case CXt_EVAL:
            if (cx->eval.old_op_type == OP_ENTEREVAL) {
                if (cx->type & CXp_REAL)
                    saweval = i;
            } else if (cx->eval.old_op_type == OP_REQUIRE || cx->eval.old_op_type == OP_DOFILE) {
                return 0;  // a required file has its own scope
            }
            break;
        case CXt_SUB:
        case CXt_FORMAT: {
            if (!saweval)
                return 0;
            CV* cv = cx->sub.cv;
            if (!debugger_known) {
                debugger = gv_stash_by_name(gcb, "DB", 0);
                debugger_known = true;
            }
            if (debugger && cv_body(cv)->comp_stash == debugger) {
                saweval = i;
                break;
            }
            return pad_find_outer(gcb, name, newoff, frames[saweval].blk.oldcop->cop_seq, cv, i - 1, saweval, 1);
        }
        default:
            if (i == 0 && saweval)
                return pad_find_outer(gcb, name, newoff, frames[saweval].blk.oldcop->cop_seq, gcb->main_cv, -1, 0,
                                      0);
            break;
        }
    }
    return 0;
}

uint32_t pad_find_lexical(PERLGCB* gcb, const char* name)
{
    uint32_t seq = gcb->cop_seqmax;
    uint32_t pending = 0;
    AV* names = gcb->comppad_name;
    SV** svp = names_of(names);
    for (int32_t off = fill_of(names); off > 0; off--) {
        SV* sv = svp[off];
        if (!is_name(gcb, sv) || std::strcmp(name_text(sv), name) != 0)
            continue;
        if (valid_to(sv) == 0) {
            if (sv->flags & SVpad_OUR)
                return static_cast<uint32_t>(off);
            pending = static_cast<uint32_t>(off);
        } else if (visible_at(gcb, sv, seq)) {
            return static_cast<uint32_t>(off);
        }
    }

    CV* comp = gcb->compile_cv;
    int32_t cxix = gcb->current_level ? gcb->current_level->si_cxix : -1;
    if (comp && cv_body(comp)->outside && (cv_body(comp)->cvflags & CVf_UNIQUE) && !(comp->flags & SVf_FAKE) &&
        !cv_body(comp)->gv && cxix >= 0) {
        cx_frame* cx = &gcb->current_level->si_cxstack[cxix];
        if ((cx->type & (CXt_EVAL | CXp_REAL)) == (CXt_EVAL | CXp_REAL))
            seq = cx->blk.oldcop->cop_seq;
    }

    uint32_t off = pad_find_outer(gcb, name, 0, seq, comp ? cv_body(comp)->outside : nullptr, cxix, 0, 0);
    if (!off)
        return PAD_NOT_FOUND;
    if (pending)
        valid_to(names_of(gcb->comppad_name)[off]) = seq;  // the pending declaration will hide it
    return off;
}

uint32_t pad_intro_pending(PERLGCB* gcb)
{
    if (!gcb->min_intro_pending)
        return gcb->cop_seqmax;
    SV** svp = names_of(gcb->comppad_name);
    for (int32_t i = gcb->min_intro_pending; i <= gcb->max_intro_pending; i++) {
        SV* sv = svp[i];
        if (is_name(gcb, sv) && valid_to(sv) == 0) {
            valid_to(sv) = PAD_MAX;
            valid_from(sv) = gcb->cop_seqmax;
        }
    }
    gcb->min_intro_pending = 0;
    gcb->comppad_name_fill = gcb->max_intro_pending;
    return gcb->cop_seqmax++;
}

void pad_leave_scope(PERLGCB* gcb, int32_t fill)
{
    SV** svp = names_of(gcb->comppad_name);
    if (gcb->min_intro_pending && fill < gcb->min_intro_pending) {
        for (int32_t off = gcb->max_intro_pending; off >= gcb->min_intro_pending; off--) {
            SV* sv = svp[off];
            if (is_name(gcb, sv) && warn_enabled_default(gcb, WARN_INTERNAL))
                category_warning(gcb, WARN_INTERNAL, "%s never introduced", name_text(sv));
        }
    }
    for (int32_t off = fill_of(gcb->comppad_name); off > fill; off--) {
        SV* sv = svp[off];
        if (is_name(gcb, sv) && valid_to(sv) == PAD_MAX)
            valid_to(sv) = gcb->cop_seqmax;
    }
}

void pad_free(PERLGCB* gcb, uint32_t slot)
{
    if (!slot)
        return;
    if (!gcb->comppad || gcb->curpad != av_body(gcb->comppad)->array)
        fatal_error(gcb, "panic: pad_free curpad");
    if (static_cast<int32_t>(slot) <= fill_of(gcb->comppad)) {
        SV* sv = gcb->curpad[slot];
        if (sv && sv != &gcb->sv_undef)
            sv->flags &= ~SVs_PADTMP;
    }
    if (static_cast<int32_t>(slot) < gcb->padix)
        gcb->padix = static_cast<int32_t>(slot) - 1;
}

void pad_swipe(PERLGCB* gcb, uint32_t slot)
{
    if (!gcb->comppad || gcb->curpad != av_body(gcb->comppad)->array)
        fatal_error(gcb, "panic: pad_swipe curpad");
    SV* old = gcb->curpad[slot];
    old->flags &= ~SVs_PADTMP;
    SV* fresh = sv_new_undef(gcb, 0);
    fresh->flags |= SVs_PADTMP | SVs_PADBUSY;
    gcb->curpad[slot] = fresh;
    if (static_cast<int32_t>(slot) < gcb->padix)
        gcb->padix = static_cast<int32_t>(slot) - 1;
}

void pad_new_for_code(PERLGCB* gcb, CV* cv)
{
    // The pad list borrows both arrays (it holds no reference on its
    // elements); undefining the code value frees them. It is attached first
    // and given its two slots before the arrays are made, so that running
    // out of memory on the way leaves nothing that cv does not own.
    AV* padlist = av_new_empty(gcb);
    av_body(padlist)->avflags = static_cast<uint8_t>(av_body(padlist)->avflags & ~AVf_REAL);
    cv_body(cv)->padlist = padlist;
    av_grow_to_index(gcb, padlist, 1);
    AV* names = av_new_empty(gcb);
    av_store_element(gcb, padlist, 0, as_sv(names));
    AV* pad = av_new_empty(gcb);
    av_store_element(gcb, padlist, 1, as_sv(pad));
    av_append(gcb, pad, nullptr);

    gcb->comppad = pad;
    gcb->curpad = av_body(pad)->array;
    gcb->comppad_name = names;
    gcb->comppad_name_fill = 0;
    gcb->min_intro_pending = 0;
    gcb->padix = 0;
}

void save_compile_pad(PERLGCB* gcb)
{
    if (gcb->comppad && gcb->curpad == av_body(gcb->comppad)->array) {
        save_check(gcb, 2);
        save_put_ptr(gcb, gcb->comppad);
        save_put_i32(gcb, SAVE_COMPILE_PAD);
    } else {
        // Both are plain pointers: the entry holds no reference on the pad.
        save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
        save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->comppad));
    }
}
