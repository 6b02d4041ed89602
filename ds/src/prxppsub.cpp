// Run-time ops of subroutines: calls with their pads per depth and @_, the
// returns, method resolution, array elements, grep's iterator, goto and
// dump, caller, reset and the debugger's statement op.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxpad.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxscope.h"
#include "prxuni.h"

static_assert(AMG_TO_CV == 62);

namespace {

constexpr uint16_t CVf_NODEBUG = 0x20;
constexpr uint32_t DEBUG_DB_RECURSE = 0x40000000;
constexpr int32_t GOTO_ENTRY_SLOTS = 64;

PVCV* body_of(CV* cv) { return cv_body(cv); }

// The main "_" glob, whose array is @_ and whose scalar is $_.
GV* default_glob(PERLGCB* gcb) { return gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PVGV); }

// A glob's sub when it is a real sub (not a cached method), else none.
CV* real_sub_of(GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)) || !gv_gp(gv))
        return nullptr;
    GP* gp = gv_gp(gv);
    return gp->gp_cvgen == 0 ? gp->gp_cv : nullptr;
}

// A glob of the debugger's package, or none.
GV* debugger_glob(PERLGCB* gcb, const char* name, uint32_t kind)
{
    GV* gv = gv_fetch_by_name(gcb, name, 0, kind);
    return gv && sv_is_glob(as_sv(gv)) ? gv : nullptr;
}

HV* debugger_stash(PERLGCB* gcb) { return gv_stash_by_name(gcb, "DB", 0); }

// The code of DB::sub, or none.
CV* debugger_sub(PERLGCB* gcb) { return real_sub_of(debugger_glob(gcb, "DB::sub", SVt_PVCV)); }

const char* full_name(PERLGCB* gcb, GV* gv)
{
    SV* sv = sv_new_temporary(gcb);
    gv_effective_qualified_name(gcb, sv, gv, nullptr);
    return sv_pv(sv);
}

// The pad of a new recursion level, made from the level below: outer
// lexicals and inner sub prototypes are shared, the sub's own lexicals and
// temporaries are fresh.
void pad_for_depth(PERLGCB* gcb, CV* cv, int32_t depth, bool with_args)
{
    AV* padlist = body_of(cv)->padlist;
    PVAV* pl = av_body(padlist);
    if (depth <= pl->fill)
        return;
    AV* names = sv_as<AV>(pl->array[0]);
    AV* below = sv_as<AV>(pl->array[depth - 1]);
    SV** old = av_body(below)->array;
    int32_t names_fill = av_body(names)->fill;
    AV* pad = av_new_empty(gcb);
    for (int32_t ix = av_body(below)->fill; ix > 0; ix--) {
        SV* name = ix <= names_fill ? av_body(names)->array[ix] : nullptr;
        SV* value;
        if (name && name != &gcb->sv_undef) {
            const char* text = (name->flags & SVf_POK) ? sv_pv(name) : "";
            if ((name->flags & SVpad_CAPTURED) || text[0] == '&') {
                value = sv_refinc(old[ix]);
            } else {
                if (text[0] == '@')
                    value = as_sv(av_new_empty(gcb));
                else if (text[0] == '%')
                    value = as_sv(hv_new_empty(gcb));
                else
                    value = sv_new_undef(gcb, 0);
                value->flags |= SVs_PADMY | SVs_PADBUSY;
            }
        } else {
            value = sv_new_undef(gcb, 0);
            value->flags |= SVs_PADTMP | SVs_PADBUSY;
        }
        if (value)
            av_store_element(gcb, pad, ix, value);
    }
    if (with_args) {
        AV* args = av_new_empty(gcb);
        av_grow_to_index(gcb, args, 0);
        av_body(args)->avflags = AVf_REIFY;
        av_store_element(gcb, pad, 0, as_sv(args));
    }
    av_store_element(gcb, padlist, depth, as_sv(pad));
    av_body(padlist)->fill = depth;
}

// Room for n elements in a borrowing argument array: shifted-off space is
// taken back first.
void args_room(PERLGCB* gcb, AV* av, int32_t n)
{
    PVAV* b = av_body(av);
    if (n <= b->max + 1)
        return;
    if (b->array != b->alloc) {
        b->max += static_cast<int32_t>(b->array - b->alloc);
        b->array = b->alloc;
    }
    if (n > b->max + 1) {
        SV** ary = static_cast<SV**>(pool_realloc(gcb, b->alloc, static_cast<uint64_t>(n) * sizeof(SV*)));
        b->alloc = ary;
        b->array = ary;
        b->max = n - 1;
    }
}

// Makes the pad's argument array @_ of a frame and fills it with the n
// values at items; the caller's @_ is kept in the frame.
void install_args(PERLGCB* gcb, cx_frame* cx, SV** items, int32_t n)
{
    AV* av = sv_as<AV>(gcb->curpad[0]);
    PVAV* b = av_body(av);
    if (b->avflags & AVf_REAL) {
        av_remove_all(gcb, av);
        b->avflags = AVf_REIFY;
    }
    GP* gp = gv_gp(default_glob(gcb));
    cx->sub.savearray = gp->gp_av;
    gp->gp_av = sv_as<AV>(sv_refinc(as_sv(av)));
    cx->sub.argarray = av;
    args_room(gcb, av, n);
    b = av_body(av);
    for (int32_t i = 0; i < n; i++) {
        SV* sv = items[i];
        b->array[i] = sv;
        if (sv)
            sv->flags &= ~SVs_TEMP;
    }
    b->fill = n - 1;
}

// Makes the pad of the code value's current depth the current pad; the
// caller's pad comes back when the enclosing scope closes.
void enter_pad(PERLGCB* gcb, cx_frame* cx, CV* cv)
{
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
    AV* padlist = body_of(cv)->padlist;
    gcb->curpad = av_body(sv_as<AV>(av_body(padlist)->array[body_of(cv)->depth]))->array;
    cx->sub.oldcurpad = gcb->curpad;
}

// Resolves a method by name on the invocant above the innermost mark.
SV* method_resolve(PERLGCB* gcb, SV* meth, const uint32_t* hash)
{
    uint64_t mlen = 0;
    const char* name = sv_text(gcb, meth, &mlen);
    SV** sp = pp_sp(gcb);
    SV** at = gcb->arg_base + top_mark(gcb) + 1;
    SV* sv = at <= sp ? *at : nullptr;
    if (!sv)
        fatal_error(gcb, "Can't call method \"%s\" on an undefined value", name);
    pp_get_magic(gcb, sv);

    HV* stash = nullptr;
    SV* ob = nullptr;
    bool class_existed = true;
    const char* class_name = nullptr;
    uint64_t class_len = 0;
    if (sv->flags & SVf_ROK) {
        ob = sv_rv(sv);
    } else {
        GV* iogv = nullptr;
        if (sv_ok(sv)) {
            class_name = sv_text(gcb, sv, &class_len);
            iogv = gv_fetch_by_name(gcb, class_name, 0, SVt_PVIO);
            if (iogv && (!sv_is_glob(as_sv(iogv)) || !gv_gp(iogv)->gp_io))
                iogv = nullptr;
        }
        if (!iogv) {
            bool ident = false;
            if (class_name && class_len) {
                uint8_t c = static_cast<uint8_t>(class_name[0]);
                if ((sv->flags & SVf_UTF8) && c >= 0x80)
                    ident = utf8_is_ident_start(gcb, reinterpret_cast<const uint8_t*>(class_name)) != 0;
                else
                    ident = host_is_alpha(c) || c == '_';
            }
            if (!sv_ok(sv) || !ident)
                fatal_error(gcb, "Can't call method \"%s\" %s", name,
                            sv_ok(sv) ? "without a package or object reference" : "on an undefined value");
            class_existed = gv_stash_by_name_len(gcb, class_name, static_cast<uint32_t>(class_len), 0) != nullptr;
            stash = gv_stash_by_name_len(gcb, class_name, static_cast<uint32_t>(class_len), 1);
        } else {
            // A handle's name: the handle is the object.
            *at = sv_make_temporary(gcb, sv_new_reference(gcb, as_sv(iogv)));
            ob = as_sv(iogv);
        }
    }
    if (!stash) {
        if (ob && sv_type(ob) == SVt_PVGV && !(ob->flags & SVs_OBJECT)) {
            IO* io = gv_gp(sv_as<GV>(ob)) ? gv_gp(sv_as<GV>(ob))->gp_io : nullptr;
            ob = io ? as_sv(io) : nullptr;
        }
        if (!ob || !(ob->flags & SVs_OBJECT))
            fatal_error(gcb, "Can't call method \"%s\" on unblessed reference", name);
        stash = sv_stash(ob);
    }

    if (hash) {
        // A fixed name: the class's own glob of that name, when it holds a
        // defined sub of this method generation, needs no search.
        hash_entry* he = hv_fetch_sv(gcb, stash, meth, 0, *hash);
        if (he && sv_is_glob(he->value)) {
            GP* gp = gv_gp(sv_as<GV>(he->value));
            if (gp && gp->gp_cv && (gp->gp_cvgen == 0 || gp->gp_cvgen == gcb->method_cache_generation))
                return as_sv(gp->gp_cv);
        }
    }
    GV* gv = gv_find_method(gcb, stash, name);
    if (!gv) {
        const char* leaf = name;
        const char* sep = nullptr;
        for (const char* p = name; *p; p++) {
            if (*p == '\'') {
                sep = p;
                leaf = p + 1;
            } else if (p[0] == ':' && p[1] == ':') {
                sep = p;
                leaf = p + 2;
            }
        }
        const char* pkg;
        uint64_t pkglen;
        bool exists;
        if (!sep || (sep - name == 5 && std::memcmp(name, "SUPER", 5) == 0)) {
            if (sep) {
                HV* cur = gcb->current_statement ? gcb->current_statement->cop_stash : nullptr;
                pkg = cur && hv_body(cur)->name ? hv_body(cur)->name : "main";
            } else {
                pkg = hv_body(stash)->name ? hv_body(stash)->name : "";
            }
            pkglen = std::strlen(pkg);
            exists = gv_stash_by_name_len(gcb, pkg, static_cast<uint32_t>(pkglen), 0) != nullptr;
            if (!sep && class_name && !class_existed)
                exists = false;
        } else {
            pkg = name;
            pkglen = static_cast<uint64_t>(sep - name);
            exists = gv_stash_by_name_len(gcb, pkg, static_cast<uint32_t>(pkglen), 0) != nullptr;
        }
        SV* pkgsv = sv_make_temporary(gcb, sv_new_from_bytes(gcb, pkg, pkglen));
        if (exists)
            fatal_error(gcb, "Can't locate object method \"%s\" via package \"%s\"", leaf, sv_pv(pkgsv));
        fatal_error(gcb, "Can't locate object method \"%s\" via package \"%s\" (perhaps you forgot to load \"%s\"?)",
                    leaf, sv_pv(pkgsv), sv_pv(pkgsv));
    }
    if (sv_is_glob(as_sv(gv)))
        return as_sv(gv_gp(gv)->gp_cv);
    return as_sv(gv);
}

// Points $DB::sub at the callee for the debugger's sub.
void set_debugger_sub_name(PERLGCB* gcb, GV* dbgv, CV* cv)
{
    SV* dbsv = save_push_scalar(gcb, dbgv);
    if (gcb->debugger_flags & 0x40) {
        sv_set_int(gcb, dbsv, static_cast<int64_t>(reinterpret_cast<intptr_t>(cv)));
        return;
    }
    GV* gv = body_of(cv)->gv;
    uint16_t flags = body_of(cv)->cvflags;
    if ((flags & (CVf_ANON | CVf_CLONED)) || !gv || !sv_is_glob(as_sv(gv)) ||
        (gv_body(gv)->namelen == 3 && std::memcmp(gv_body(gv)->name, "END", 3) == 0) || real_sub_of(gv) != cv) {
        SV* ref = sv_new_reference(gcb, as_sv(cv));
        sv_assign(gcb, dbsv, ref);
        sv_release(gcb, ref);
    } else {
        gv_effective_qualified_name(gcb, dbsv, gv, nullptr);
    }
}

// The frames' search of caller: the nearest sub, eval or format frame at or
// below ix on a level's frames.
int32_t sub_frame_at(const cx_frame* frames, int32_t ix)
{
    for (; ix >= 0; ix--) {
        uint32_t t = cx_type(&frames[ix]);
        if (t == CXt_SUB || t == CXt_EVAL || t == CXt_FORMAT)
            return ix;
    }
    return -1;
}

bool is_block_op(uint32_t type)
{
    return type == OP_LEAVE || type == OP_SCOPE || type == OP_LEAVELOOP || type == OP_LEAVETRY;
}

bool is_label_statement(const OP* o) { return o->op_type == OP_NEXTSTATE || o->op_type == OP_DBSTATE; }

bool label_is(COP* cop, const char* label, uint64_t len)
{
    return cop->cop_label &&
           xk_padcmp64(cop->cop_label, static_cast<int64_t>(std::strlen(cop->cop_label)), label,
                       static_cast<int64_t>(len)) == 0;
}

// The body of goto and dump.
OP* do_goto(PERLGCB* gcb)
{
    OP* op = gcb->op;
    bool dump = op->op_type == OP_DUMP;
    SV** sp = pp_sp(gcb);
    const char* label = nullptr;
    uint64_t label_len = 0;

    if (op->op_flags & OPf_STACKED) {
        SV* sv = *sp--;
        if ((sv->flags & SVf_ROK) && sv_type(sv_rv(sv)) == SVt_PVCV) {
            // goto &sub: the running call is replaced by a call of the sub.
            CV* cv = sv_as<CV>(sv_rv(sv));
            SV** entry_sp = sp;
            while (!body_of(cv)->root && !body_of(cv)->xsub) {
                GV* gv = body_of(cv)->gv;
                if (!gv)
                    return die_error(gcb, "Goto undefined subroutine");
                CV* other = real_sub_of(gv);
                if (other && other != cv) {
                    cv = other;
                    continue;
                }
                GV* autogv = gv_find_autoload(gcb, gv_body(gv)->gvstash, gv_body(gv)->name,
                                              static_cast<uint32_t>(gv_body(gv)->namelen), 0);
                CV* auto_cv = autogv ? gv_gp(autogv)->gp_cv : nullptr;
                if (auto_cv) {
                    cv = auto_cv;
                    continue;
                }
                return die_error(gcb, "Goto undefined subroutine &%s", full_name(gcb, gv));
            }
            stack_level* si = gcb->current_level;
            int32_t cxix = cx_find_sub_eval_format(gcb, si->si_cxix);
            if (cxix < 0)
                return die_error(gcb, "Can't goto subroutine outside a subroutine");
            if (cxix < si->si_cxix)
                cx_unwind(gcb, cxix);
            cx_frame* cx = &si->si_cxstack[cxix];
            cx_restore_heights(gcb, cx);
            if (cx_type(cx) == CXt_EVAL && cx->eval.old_op_type == OP_ENTEREVAL)
                return die_error(gcb, "Can't goto subroutine from an eval-string");

            SV** mark = gcb->arg_sp;
            int32_t items = 0;
            if (cx_type(cx) == CXt_SUB && cx->sub.hasargs) {
                AV* av = cx->sub.argarray;
                items = av_body(av)->fill + 1;
                SV** top = pp_extend(gcb, mark, items);
                mark = top;
                for (int32_t i = 0; i < items; i++)
                    top[1 + i] = av_body(av)->array[i];
                GP* gp = gv_gp(default_glob(gcb));
                AV* cur = gp->gp_av;
                gp->gp_av = cx->sub.savearray;
                if (cur)
                    sv_release(gcb, as_sv(cur));
                if (av_body(av)->avflags & AVf_REAL) {
                    // A reified @_ lives until the call returns.
                    sv_make_temporary(gcb, as_sv(av));
                    AV* fresh = av_new_empty(gcb);
                    av_grow_to_index(gcb, fresh, items > 0 ? items - 1 : 0);
                    av_body(fresh)->avflags = AVf_REIFY;
                    cx->sub.argarray = fresh;
                    gcb->curpad[0] = as_sv(fresh);
                }
            } else if (body_of(cv)->xsub) {
                AV* av = gv_gp(default_glob(gcb))->gp_av;
                items = av ? av_body(av)->fill + 1 : 0;
                SV** top = pp_extend(gcb, mark, items);
                mark = top;
                for (int32_t i = 0; i < items; i++)
                    top[1 + i] = av_body(av)->array[i];
            }
            if (cx_type(cx) == CXt_SUB) {
                CV* old = cx->sub.cv;
                body_of(old)->depth = cx->sub.olddepth;
                if (cx->sub.olddepth == 0)
                    sv_release(gcb, as_sv(old));
            }
            int32_t oldsave = gcb->scope_stack[gcb->scope_ix - 1];
            leave_scope(gcb, oldsave);
            save_push_int(gcb, &gcb->temps_floor);
            gcb->temps_floor = gcb->temps_ix;

            if (body_of(cv)->xsub) {
                push_mark(gcb, mark);
                gcb->arg_sp = mark + items;
                reinterpret_cast<xsub_fn>(body_of(cv)->xsub)(gcb, cv);
                cx_frame* popped = cx_pop_block(gcb);
                gcb->last_match_op = popped->blk.oldpm;
                scope_leave(gcb);
                return return_stack_pop(gcb);
            }

            if (cx_type(cx) == CXt_EVAL) {
                gcb->in_eval = cx->eval.old_in_eval;
                gcb->eval_root = cx->eval.old_eval_root;
                cx->type = CXt_SUB;
                cx->sub.hasargs = 0;
            }
            cx->sub.cv = cv;
            int32_t depth = cx_sub_enter_depth(gcb, cx, cv, true);
            if (depth == 100 && warn_enabled(gcb, WARN_RECURSION))
                sub_deep_recursion_warn(gcb, cv);
            enter_pad(gcb, cx, cv);
            if (cx->sub.hasargs)
                install_args(gcb, cx, mark + 1, items);
            if (gcb->debugger_flags & 0x01) {
                if (GV* dbgv = debugger_glob(gcb, "DB::sub", SVt_PV)) {
                    SV* dbsv = save_push_scalar(gcb, dbgv);
                    if (gcb->debugger_flags & 0x40)
                        sv_set_int(gcb, dbsv, static_cast<int64_t>(reinterpret_cast<intptr_t>(cv)));
                    else if (body_of(cv)->gv)
                        gv_effective_qualified_name(gcb, dbsv, body_of(cv)->gv, nullptr);
                    if (gcb->debugger_flags & 0x80) {
                        if (CV* hook = real_sub_of(debugger_glob(gcb, "DB::goto", SVt_PVCV))) {
                            push_mark(gcb, gcb->arg_sp);
                            interp_call_value(gcb, hook, 0x20);
                        }
                    }
                }
            }
            gcb->arg_sp = entry_sp;
            return body_of(cv)->start;
        }
        uint64_t len = 0;
        label = sv_text(gcb, sv, &len);
        label_len = len;
        if (!label_len && !dump)
            return die_error(gcb, "goto must have label");
    } else if (op->op_flags & OPf_SPECIAL) {
        if (!dump)
            return die_error(gcb, "goto must have label");
    } else {
        label = op_string_pv(op);
        label_len = label ? std::strlen(label) : 0;
        // An empty label would end the run where it stands.
        if (!label_len && !dump)
            return die_error(gcb, "goto must have label");
    }

    OP* retop = nullptr;
    if (label && label_len) {
        OP* entries[GOTO_ENTRY_SLOTS];
        entries[0] = nullptr;
        gcb->goto_last_probed = nullptr;
        stack_level* si = gcb->current_level;
        // Each eval frame searches its own tree: the innermost the current
        // root, an outer one the root that the eval above it saved.
        OP* eval_root = gcb->eval_root;
        int32_t ix;
        for (ix = si->si_cxix; ix >= 0; ix--) {
            cx_frame* cx = &si->si_cxstack[ix];
            OP* probe = nullptr;
            switch (cx_type(cx)) {
            case CXt_EVAL:
                probe = eval_root;
                break;
            case CXt_LOOP:
                probe = cx->blk.oldcop->op.op_sibling;
                break;
            case CXt_SUBST:
                continue;
            case CXt_BLOCK:
                probe = ix ? cx->blk.oldcop->op.op_sibling : gcb->main_root;
                break;
            case CXt_SUB:
                if (body_of(cx->sub.cv)->depth) {
                    probe = body_of(cx->sub.cv)->root;
                    break;
                }
                return die_error(gcb, "Can't \"goto\" out of a pseudo block");
            case CXt_FORMAT:
            case CXt_NULL:
                return die_error(gcb, "Can't \"goto\" out of a pseudo block");
            default:
                if (ix)
                    return die_error(gcb, "panic: goto");
                probe = gcb->main_root;
                break;
            }
            if (probe) {
                retop = goto_find_label(gcb, probe, label, label_len, entries, entries + GOTO_ENTRY_SLOTS);
                if (retop)
                    break;
            }
            gcb->goto_last_probed = probe;
            if (cx_type(cx) == CXt_EVAL)
                eval_root = cx->eval.old_eval_root;
        }
        if (!retop)
            return die_error(gcb, "Can't find label %s", label);

        if (ix < si->si_cxix) {
            if (ix < 0)
                ix = 0;
            cx_unwind(gcb, ix);
            gcb->eval_root = eval_root;
            cx_frame* cx = &si->si_cxstack[ix];
            cx_restore_heights(gcb, cx);
            if (gcb->scope_ix < gcb->scope_max) {
                int32_t oldsave = gcb->scope_stack[gcb->scope_ix];
                if (oldsave < gcb->savestack_ix)
                    leave_scope(gcb, oldsave);
            }
        }

        if (entries[0] && entries[1]) {
            // The blocks between the frame and the label are entered as
            // their own ops would enter them.
            OP* oldop = gcb->op;
            for (int32_t i = 1; i < GOTO_ENTRY_SLOTS && entries[i]; i++) {
                gcb->op = entries[i];
                if (gcb->op->op_type == OP_ENTERITER)
                    return die_error(gcb, "Can't \"goto\" into the middle of a foreach loop");
                gcb->op->op_ppaddr(gcb);
            }
            gcb->op = oldop;
        }
    }

    if (dump) {
        gcb->restartop = retop;
        gcb->undump = 1;
        interp_abort(gcb);
        gcb->restartop = nullptr;
        gcb->undump = 0;
    }
    pp_put_sp(gcb, sp);
    return retop;
}

// Closes a sub frame that cx_pop_block has taken off: the sub part is
// undone, the caller's last match comes back and the sub's scope is left.
void close_sub_frame(PERLGCB* gcb, cx_frame* cx, OP* newpm)
{
    cx_pop_sub(gcb, cx);
    gcb->last_match_op = newpm;
    scope_leave(gcb);
}

}  // namespace

// ---- shared helpers -------------------------------------------------------------

int32_t cx_sub_enter_depth(PERLGCB* gcb, cx_frame* cx, CV* cv, bool own_pad)
{
    int32_t depth = body_of(cv)->depth;
    cx->sub.olddepth = depth;
    if (depth == INT32_MAX)
        fatal_error(gcb, "Subroutine recursion too deep");
    body_of(cv)->depth = ++depth;
    if (depth == 1)
        sv_refinc(as_sv(cv));
    else if (own_pad)
        pad_for_depth(gcb, cv, depth, true);
    return depth;
}

void sub_deep_recursion_warn(PERLGCB* gcb, CV* cv)
{
    if (body_of(cv)->cvflags & CVf_ANON) {
        category_warning(gcb, WARN_RECURSION, "Deep recursion on anonymous subroutine");
        return;
    }
    GV* gv = body_of(cv)->gv;
    category_warning(gcb, WARN_RECURSION, "Deep recursion on subroutine \"%s\"", gv ? full_name(gcb, gv) : "");
}

void elem_autovivify(PERLGCB* gcb, SV* sv, int32_t kind)
{
    pp_get_magic(gcb, sv);
    if (sv_ok(sv))
        return;
    if (sv->flags & SVf_READONLY)
        fatal_error(gcb, "Modification of a read-only value attempted");
    uint32_t type = sv_type(sv);
    if (type < SVt_RV) {
        sv_upgrade_body(gcb, sv, SVt_RV);
    } else if (type >= SVt_PV) {
        if (sv->flags & SVf_OOK)
            sv_undo_offset(gcb, sv);
        if (sv_pv(sv) && sv_len(sv))
            pool_free(gcb, sv_pv(sv));
        sv_pv(sv) = nullptr;
        sv_cur(sv) = 0;
        sv_len(sv) = 0;
    }
    SV* referent;
    if ((kind & OPpDEREF) == OPpDEREF_AV)
        referent = as_sv(av_new_empty(gcb));
    else if ((kind & OPpDEREF) == OPpDEREF_HV)
        referent = as_sv(hv_new_empty(gcb));
    else
        referent = sv_new_undef(gcb, 0);
    sv_rv(sv) = referent;
    sv->flags |= SVf_ROK;
    pp_set_magic(gcb, sv);
}

OP* goto_find_label(PERLGCB* gcb, OP* o, const char* label, uint64_t len, OP** ops, OP** limit)
{
    stack_check(gcb);  // the walk is as deep as the op tree
    OP** start = ops;
    if (ops >= limit)
        fatal_error(gcb, "Target of goto is too deeply nested");
    if (is_block_op(o->op_type)) {
        *ops++ = op_first_kid(o);
        if (ops >= limit)
            fatal_error(gcb, "Target of goto is too deeply nested");
    }
    *ops = nullptr;
    if (op_has_kids(o)) {
        // The statements of this level first: the likeliest place.
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            if (is_label_statement(kid) && label_is(reinterpret_cast<COP*>(kid), label, len))
                return kid;
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling) {
            if (kid == gcb->goto_last_probed)
                continue;
            // A statement crossed on the way down is entered too, unless
            // the entry before it at this level is one already.
            if (is_label_statement(kid) && (ops == start || !is_label_statement(ops[-1])))
                *ops++ = kid;
            if (OP* found = goto_find_label(gcb, kid, label, len, ops, limit))
                return found;
        }
    }
    if (ops < limit)
        *ops = nullptr;
    return nullptr;
}

// ---- calls and returns ------------------------------------------------------------

OP* pp_entersub(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp--;
    bool hasargs = (op->op_flags & OPf_STACKED) != 0;
    CV* cv = nullptr;
    GV* gv = nullptr;
    bool scope_open = false;
    bool autoload = false;
    pp_put_sp(gcb, sp);

    if (!sv)
        return die_error(gcb, "Not a CODE reference");
    // @_ aliases the arguments without holding them: they are held for the
    // caller's statement, since the sub may free their owners.
    if (hasargs) {
        SV** first = gcb->arg_base + top_mark(gcb) + 1;
        tmps_hold(gcb, first, static_cast<int32_t>(sp - first + 1));
    }
    switch (sv_type(sv)) {
    case SVt_PVCV:
        cv = sv_as<CV>(sv);
        break;
    case SVt_PVGV:
        cv = real_sub_of(sv_as<GV>(sv));
        if (!cv) {
            HV* stash = nullptr;
            cv = sv_to_code(gcb, sv, &stash, &gv, 0);
            if (!cv) {
                gv = sv_as<GV>(sv);
                pp_scope_with_temps(gcb);
                scope_open = true;
                autoload = true;
            }
        }
        break;
    case SVt_PVAV:
    case SVt_PVHV:
        return die_error(gcb, "Not a CODE reference");
    default:
        if (!(sv->flags & SVf_ROK)) {
            if (sv == &gcb->sv_yes) {
                // An import that was not found.
                if (hasargs)
                    pp_put_sp(gcb, gcb->arg_base + pop_mark(gcb));
                return op->op_next;
            }
            // The sub's name: after get magic the private string only; an
            // undefined value names none.
            const char* sym = nullptr;
            if (sv->flags & SVs_GMG) {
                mg_call_get(gcb, sv);
                sym = (sv->flags & SVp_POK) ? sv_pv(sv) : nullptr;
            } else if (sv_ok(sv)) {
                uint64_t len = 0;
                sym = sv_text(gcb, sv, &len);
            }
            if (!sym)
                return die_error(gcb, "Can't use an undefined value as %s reference", "a subroutine");
            if (op->op_private & OPpHINT_STRICT_REFS)
                return die_error(gcb, "Can't use string (\"%.32s\") as %s ref while \"strict refs\" in use", sym,
                                 "a subroutine");
            cv = interp_get_sub(gcb, sym, 1);
            break;
        }
        if (gcb->overload_generation && (sv->flags & SVf_OVERLOAD)) {
            SV* r = overload_call_operator(gcb, sv, nullptr, AMG_TO_CV, AMGf_noright | AMGf_unary);
            if (r) {
                if (!(r->flags & SVf_ROK))
                    fatal_error(gcb, "Overloaded dereference did not return a reference");
                sv = r;
            }
        }
        cv = sv_as<CV>(sv_rv(sv));
        if (sv_type(as_sv(cv)) != SVt_PVCV)
            return die_error(gcb, "Not a CODE reference");
        break;
    }

    if (!scope_open)
        pp_scope_with_temps(gcb);
    while (autoload || (!body_of(cv)->root && !body_of(cv)->xsub)) {
        if (!autoload) {
            gv = body_of(cv)->gv;
            if ((body_of(cv)->cvflags & CVf_ANON) || !gv)
                return die_error(gcb, "Undefined subroutine called");
            CV* other = gv_gp(gv) ? gv_gp(gv)->gp_cv : nullptr;
            if (other != cv) {
                cv = other;
                if (!cv)
                    return die_error(gcb, "Not a CODE reference");
                continue;
            }
        }
        autoload = false;
        GV* autogv = gv_find_autoload(gcb, gv_body(gv)->gvstash, gv_body(gv)->name,
                                      static_cast<uint32_t>(gv_body(gv)->namelen), 0);
        if (!autogv)
            return die_error(gcb, "Undefined subroutine &%s called", full_name(gcb, gv));
        cv = gv_gp(autogv)->gp_cv;
        if (!cv)
            return die_error(gcb, "Not a CODE reference");
    }

    uint8_t gimme = pp_context(gcb, op);
    COP* native_cop = nullptr;
    if ((op->op_private & OPpENTERSUB_DB) && !(body_of(cv)->cvflags & CVf_NODEBUG)) {
        if (GV* dbgv = debugger_glob(gcb, "DB::sub", SVt_PV)) {
            set_debugger_sub_name(gcb, dbgv, cv);
            if (body_of(cv)->xsub)
                native_cop = gcb->current_statement;
            cv = real_sub_of(dbgv);
            if (!cv)
                return die_error(gcb, "No DBsub routine");
        }
    }

    if (body_of(cv)->xsub) {
        sp = pp_sp(gcb);
        int32_t markix = top_mark(gcb);
        if (!hasargs) {
            AV* av = gv_gp(default_glob(gcb))->gp_av;
            int32_t items = av ? av_body(av)->fill + 1 : 0;
            sp = pp_extend(gcb, sp, items);
            for (int32_t i = 0; i < items; i++)
                *++sp = av_body(av)->array[i];
            pp_put_sp(gcb, sp);
        }
        if (native_cop) {
            save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->current_statement));
            gcb->current_statement = native_cop;
        }
        reinterpret_cast<xsub_fn>(body_of(cv)->xsub)(gcb, cv);
        if (gimme == CTX_SCALAR) {
            SV** base = gcb->arg_base;
            sp = pp_sp(gcb);
            if (sp - (base + markix) != 1) {
                base[markix + 1] = sp > base + markix ? *sp : &gcb->sv_undef;
                pp_put_sp(gcb, base + markix + 1);
            }
        }
        scope_leave(gcb);
        return op->op_next;
    }

    SV** mark = gcb->arg_base + pop_mark(gcb);
    sp = pp_sp(gcb);
    return_stack_push(gcb, op->op_next);
    cx_frame* cx = cx_push_block(gcb, CXt_SUB, mark, gimme);
    cx->sub.cv = cv;
    cx->sub.gv = nullptr;
    cx->sub.dfoutgv = nullptr;
    cx->sub.savearray = nullptr;
    cx->sub.argarray = nullptr;
    cx->sub.hasargs = hasargs;
    cx->sub.lval = static_cast<uint8_t>(op->op_private & (OPpLVAL_INTRO | OPpENTERSUB_INARGS));
    int32_t depth = cx_sub_enter_depth(gcb, cx, cv, true);
    enter_pad(gcb, cx, cv);
    if (hasargs)
        install_args(gcb, cx, mark + 1, static_cast<int32_t>(sp - mark));
    if (depth == 100 && warn_enabled(gcb, WARN_RECURSION) &&
        !(cv == debugger_sub(gcb) && (gcb->debugger_flags & 0x01)))
        sub_deep_recursion_warn(gcb, cv);
    return body_of(cv)->start;
}

OP* pp_leavesub(PERLGCB* gcb)
{
    cx_frame* cx = cx_pop_block(gcb);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    SV** mark = newsp;
    SV** sp = pp_sp(gcb);
    uint8_t gimme = cx->blk.gimme;
    OP* newpm = cx->blk.oldpm;
    gcb->tainted = 0;
    if (gimme == CTX_SCALAR) {
        if (mark < sp) {
            SV* top = *sp;
            if (body_of(cx->sub.cv)->depth > 1) {
                // The recursing call's temporaries go now; the value is held
                // across the freeing.
                sv_refinc(top);
                tmps_free_to_floor(gcb);
                if (top->flags & SVs_TEMP) {
                    *++newsp = sv_make_temporary(gcb, top);
                } else {
                    *++newsp = pp_temp_copy(gcb, top);
                    sv_release(gcb, top);
                }
            } else {
                *++newsp = (top->flags & SVs_TEMP) ? top : pp_temp_copy(gcb, top);
            }
        } else {
            *++newsp = &gcb->sv_undef;
        }
    } else if (gimme == CTX_LIST) {
        for (++mark; mark <= sp; mark++)
            *++newsp = ((*mark)->flags & SVs_TEMP) ? *mark : pp_temp_copy(gcb, *mark);
    }
    pp_put_sp(gcb, newsp);
    close_sub_frame(gcb, cx, newpm);
    return return_stack_pop(gcb);
}

OP* pp_leavesublv(PERLGCB* gcb)
{
    cx_frame* top = cx_current(gcb);
    uint8_t lval = top->sub.lval;
    bool lvalue_sub = (body_of(top->sub.cv)->cvflags & CVf_LVALUE) != 0;
    if (lval == 0 || ((lval & OPpENTERSUB_INARGS) && (top->blk.gimme != CTX_LIST || !lvalue_sub)))
        return pp_leavesub(gcb);  // an ordinary return
    cx_frame* cx = cx_pop_block(gcb);
    SV** newsp = gcb->arg_base + cx->blk.oldsp;
    SV** mark = newsp;
    SV** sp = pp_sp(gcb);
    uint8_t gimme = cx->blk.gimme;
    OP* newpm = cx->blk.oldpm;
    gcb->tainted = 0;

    auto fail = [&](const char* fmt, const char* what) -> OP* {
        close_sub_frame(gcb, cx, newpm);
        return die_error(gcb, fmt, what);
    };

    if (lval & OPpENTERSUB_INARGS) {
        // An lvalue sub's list in argument position: its values are passed
        // on as they are, kept alive past the call.
        for (++mark; mark <= sp; mark++) {
            SV* sv = *mark;
            if (sv->flags & SVs_TEMP) {
                *++newsp = sv;
            } else if (sv->flags & (SVs_PADTMP | SVf_READONLY)) {
                *++newsp = pp_temp_copy(gcb, sv);
            } else {
                sv_refinc(sv);
                tmps_push(gcb, sv);
                *++newsp = sv;
            }
        }
    } else {
        if (!lvalue_sub)
            return fail("%s", "Can't modify non-lvalue subroutine call");
        if (gimme == CTX_SCALAR) {
            if (sp - mark != 1)
                return fail("%s returned from lvalue subroutine in scalar context", mark == sp ? "Empty array" : "Array");
            SV* sv = *sp;
            if (sv->flags & (SVs_TEMP | SVs_PADTMP | SVf_READONLY))
                return fail("Can't return a %s from lvalue subroutine",
                            (sv->flags & SVf_READONLY) ? "readonly value" : "temporary");
            sv_refinc(sv);
            tmps_push(gcb, sv);
            *++newsp = sv;
        } else if (gimme == CTX_LIST) {
            for (++mark; mark <= sp; mark++) {
                SV* sv = *mark;
                if (sv == &gcb->sv_undef)
                    return fail("Can't return %s from lvalue subroutine", "an uninitialized value");
                if (sv->flags & (SVs_TEMP | SVs_PADTMP | SVf_READONLY))
                    return fail("Can't return %s from lvalue subroutine",
                                (sv->flags & SVf_READONLY) ? "a readonly value" : "a temporary");
                sv_refinc(sv);
                tmps_push(gcb, sv);
                *++newsp = sv;
            }
        }
    }
    pp_put_sp(gcb, newsp);
    close_sub_frame(gcb, cx, newpm);
    return return_stack_pop(gcb);
}

// ---- methods --------------------------------------------------------------------

OP* pp_method(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    SV* sv = *sp;
    if ((sv->flags & SVf_ROK) && sv_type(sv_rv(sv)) == SVt_PVCV) {
        *sp = sv_rv(sv);
        return gcb->op->op_next;
    }
    SV* found = method_resolve(gcb, sv, nullptr);
    pp_sp(gcb)[0] = found;
    return gcb->op->op_next;
}

OP* pp_method_named(PERLGCB* gcb)
{
    SV* meth = op_value_sv(gcb->op);
    uint32_t hash = static_cast<uint32_t>(sv_iv(meth));
    SV* found = method_resolve(gcb, meth, &hash);
    pp_push_one(gcb, pp_sp(gcb), found);
    return gcb->op->op_next;
}

// ---- array elements and grep --------------------------------------------------------

OP* pp_aelem(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* elemsv = *sp--;
    SV* avsv = *sp;
    int64_t index = (elemsv->flags & SVf_IOK) ? sv_iv(elemsv) : sv_to_int(gcb, elemsv);
    int32_t elem = static_cast<int32_t>(index);
    bool lval = (op->op_flags & OPf_MOD) != 0;
    bool defer = (op->op_private & OPpLVAL_DEFER) != 0;
    if (elem > 0 && gcb->current_statement)
        elem -= gcb->current_statement->cop_arybase;
    if (sv_type(avsv) != SVt_PVAV) {
        *sp = &gcb->sv_undef;
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    AV* av = sv_as<AV>(avsv);
    pp_put_sp(gcb, sp);
    SV** svp = av_fetch_element(gcb, av, elem, lval && !defer);
    sp = pp_sp(gcb);
    if (lval) {
        if (!svp || *svp == &gcb->sv_undef) {
            if (!defer)
                return die_error(gcb, "Modification of non-creatable array value attempted, subscript %d", elem);
            // Created only when the element is assigned.
            SV* lv = sv_new_temporary(gcb);
            sv_upgrade_body(gcb, lv, SVt_PVLV);
            PVLV* body = static_cast<PVLV*>(lv->any);
            body->type = 'y';
            sv_add_magic(gcb, lv, nullptr, 'y', nullptr, 0);
            body = static_cast<PVLV*>(lv->any);
            body->targ = sv_refinc(avsv);
            body->targoff = static_cast<uint64_t>(static_cast<int64_t>(elem));
            body->targlen = 1;
            *sp = lv;
            return op->op_next;
        }
        if (op->op_private & OPpLVAL_INTRO)
            save_push_aelem(gcb, av, elem, svp);
        else if (op->op_private & OPpDEREF)
            elem_autovivify(gcb, *svp, op->op_private & OPpDEREF);
    }
    SV* sv = svp ? *svp : &gcb->sv_undef;
    if (!lval && (sv->flags & SVs_GMG))
        sv = sv_new_temporary_copy(gcb, sv);
    sp = pp_sp(gcb);
    *sp = sv;
    return op->op_next;
}

OP* pp_grepwhile(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* result = *sp--;
    if (pp_truth(gcb, result))
        gcb->arg_base[gcb->mark_sp[-1]++] = gcb->arg_base[*gcb->mark_sp];
    ++*gcb->mark_sp;
    pp_put_sp(gcb, sp);
    scope_leave(gcb);  // the inner scope of this item

    if (gcb->arg_base + *gcb->mark_sp > sp) {
        uint8_t gimme = pp_context(gcb, op);
        scope_leave(gcb);  // the outer scope
        pop_mark(gcb);     // source
        int32_t items = --*gcb->mark_sp - gcb->mark_sp[-1];
        pop_mark(gcb);     // destination
        sp = gcb->arg_base + pop_mark(gcb);
        if (gimme == CTX_SCALAR) {
            SV* targ = pp_pad_target(gcb, op);
            sv_set_int(gcb, targ, items);
            pp_set_magic(gcb, targ);
            sp = pp_extend(gcb, sp, 1);
            *++sp = targ;
        } else if (gimme == CTX_LIST) {
            sp += items;
        }
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    scope_enter(gcb);
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->last_match_op));
    SV* src = gcb->arg_base[*gcb->mark_sp];
    src->flags &= ~SVs_TEMP;
    gv_gp(default_glob(gcb))->gp_sv = src;
    return op_other_op(op);
}

// ---- goto and dump ------------------------------------------------------------------

OP* pp_goto(PERLGCB* gcb) { return do_goto(gcb); }

OP* pp_dump(PERLGCB* gcb) { return do_goto(gcb); }

// ---- caller, reset and the debugger's statement ---------------------------------------

OP* pp_caller(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    bool has_arg = (op->op_private & 0x0F) != 0;
    int32_t count = 0;
    if (has_arg) {
        SV* n = *sp--;
        count = static_cast<int32_t>((n->flags & SVf_IOK) ? sv_iv(n) : sv_to_int(gcb, n));
    }
    pp_put_sp(gcb, sp);
    uint8_t gimme = pp_context(gcb, op);
    sp = pp_extend(gcb, pp_sp(gcb), 10);

    stack_level* si = gcb->current_level;
    cx_frame* frames = si->si_cxstack;
    int32_t cxix = sub_frame_at(frames, si->si_cxix);
    CV* dbsub = debugger_sub(gcb);
    for (;;) {
        while (cxix < 0 && si->si_type != SI_MAIN && si->si_prev) {
            si = si->si_prev;
            frames = si->si_cxstack;
            cxix = sub_frame_at(frames, si->si_cxix);
        }
        if (cxix < 0) {
            if (gimme != CTX_LIST)
                *++sp = &gcb->sv_undef;
            pp_put_sp(gcb, sp);
            return op->op_next;
        }
        if (dbsub && cx_type(&frames[cxix]) != CXt_EVAL && frames[cxix].sub.cv == dbsub)
            count++;
        if (!count--)
            break;
        cxix = sub_frame_at(frames, cxix - 1);
    }

    cx_frame* cx = &frames[cxix];
    if (cx_type(cx) == CXt_SUB || cx_type(cx) == CXt_FORMAT) {
        int32_t dbix = sub_frame_at(frames, cxix - 1);
        if (dbsub && dbix >= 0 && cx_type(&frames[dbix]) != CXt_EVAL && frames[dbix].sub.cv == dbsub)
            cx = &frames[dbix];
    }
    COP* cop = cx->blk.oldcop;
    const char* package = cop && cop->cop_stash ? hv_body(cop->cop_stash)->name : nullptr;
    if (gimme != CTX_LIST) {
        if (!package) {
            *++sp = &gcb->sv_undef;
        } else {
            SV* targ = pp_pad_target(gcb, op);
            sv_set_cstring(gcb, targ, package);
            pp_set_magic(gcb, targ);
            *++sp = targ;
        }
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    *++sp = package ? sv_make_temporary(gcb, sv_new_from_cstring(gcb, package, 0)) : &gcb->sv_undef;
    const char* file = gv_statement_file(gcb, cop);
    *++sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, file ? file : "", 0));
    *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, cop ? cop->cop_line : 0));
    if (!has_arg) {
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    if (cx_type(cx) == CXt_SUB || cx_type(cx) == CXt_FORMAT) {
        SV* name = sv_new_temporary(gcb);
        GV* gv = body_of(frames[cxix].sub.cv)->gv;
        if (gv)
            gv_effective_qualified_name(gcb, name, gv, nullptr);
        *++sp = name;
        *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, cx->sub.hasargs));
    } else {
        *++sp = sv_make_temporary(gcb, sv_new_from_cstring(gcb, "(eval)", 6));
        *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, 0));
    }
    uint8_t frame_gimme = cx->blk.gimme;
    if (frame_gimme == CTX_VOID)
        *++sp = &gcb->sv_undef;
    else
        *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, frame_gimme == CTX_LIST ? 1 : 0));
    if (cx_type(cx) == CXt_EVAL) {
        if (cx->eval.old_op_type == OP_ENTEREVAL) {
            *++sp = cx->eval.cur_text ? cx->eval.cur_text : &gcb->sv_undef;
            *++sp = &gcb->sv_no;
        } else if (cx->eval.old_namesv) {
            *++sp = sv_new_temporary_copy(gcb, cx->eval.old_namesv);
            *++sp = &gcb->sv_yes;
        } else {
            *++sp = &gcb->sv_undef;
            *++sp = &gcb->sv_undef;
        }
    } else {
        *++sp = &gcb->sv_undef;
        *++sp = &gcb->sv_undef;
    }
    HV* db = debugger_stash(gcb);
    if (cx_type(cx) == CXt_SUB && cx->sub.hasargs && db && gcb->current_statement &&
        gcb->current_statement->cop_stash == db) {
        GV* argsgv = gv_fetch_by_name(gcb, "DB::args", GV_ADD, SVt_PVAV);
        gv_body(argsgv)->gvflags |= GVf_MULTI;
        AV* dbargs = gv_gp(gv_ensure_array(gcb, argsgv))->gp_av;
        PVAV* db_body = av_body(dbargs);
        db_body->avflags &= static_cast<uint8_t>(~AVf_REAL);
        PVAV* ab = av_body(cx->sub.argarray);
        int32_t off = static_cast<int32_t>(ab->array - ab->alloc);
        int32_t total = ab->fill + 1 + off;
        if (total > 0)
            av_grow_to_index(gcb, dbargs, total - 1);
        db_body = av_body(dbargs);
        for (int32_t i = 0; i < total; i++)
            db_body->array[i] = ab->alloc[i];
        db_body->fill = total - 1;
    }
    *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, cop ? cop->op.op_private : 0));
    SV* w = cop ? cop->cop_warnings : nullptr;
    uintptr_t marker = reinterpret_cast<uintptr_t>(w);
    bool on = gcb->warn_switch & G_WARN_ON;
    if (marker == WARNINGS_NONE || (marker == WARNINGS_STD && !on))
        *++sp = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "\0\0\0\0\0\0\0\0\0\0\0\0", 12));
    else if (marker == WARNINGS_ALL || marker == WARNINGS_STD)
        *++sp = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "UUUUUUUUUUUU", 12));
    else
        *++sp = sv_new_temporary_copy(gcb, w);
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_reset(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    const char* letters = "";
    if (op->op_private & 0x0F) {
        uint64_t len = 0;
        letters = sv_text(gcb, *sp--, &len);
    }
    sv_reset_by_letters(gcb, letters, gcb->current_statement ? gcb->current_statement->cop_stash : nullptr);
    pp_push_one(gcb, sp, &gcb->sv_yes);
    return op->op_next;
}

OP* pp_dbstate(PERLGCB* gcb)
{
    OP* op = gcb->op;
    gcb->current_statement = reinterpret_cast<COP*>(op);
    gcb->tainted = 0;
    stack_level* si = gcb->current_level;
    gcb->arg_sp = gcb->arg_base + (si->si_cxix >= 0 ? si->si_cxstack[si->si_cxix].blk.oldsp : 0);
    if (gcb->temps_ix > gcb->temps_floor)
        tmps_free_to_floor(gcb);

    bool run = op->op_private != 0;
    static constexpr const char* switches[] = {"DB::single", "DB::signal", "DB::trace"};
    for (const char* name : switches) {
        if (run)
            break;
        GV* gv = debugger_glob(gcb, name, SVt_PV);
        SV* sv = gv ? gv_gp(gv)->gp_sv : nullptr;
        if (sv && sv_ok(sv))
            run = ((sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv)) != 0;
    }
    if (!run)
        return op->op_next;

    CV* cv = real_sub_of(debugger_glob(gcb, "DB::DB", SVt_PVCV));
    if (!cv)
        return die_error(gcb, "No DB::DB routine defined");
    if (body_of(cv)->depth >= 1 && !(gcb->debug_flags & DEBUG_DB_RECURSE))
        return op->op_next;  // no recursive call of the debugger

    pp_scope_with_temps(gcb);
    save_push_i32(gcb, reinterpret_cast<int32_t*>(&gcb->debug_flags));
    save_check(gcb, 2);
    save_put_i32(gcb, static_cast<int32_t>(gcb->arg_sp - gcb->arg_base));
    save_put_i32(gcb, SAVE_STACK_POS);
    gcb->debug_flags = 0;
    return_stack_push(gcb, op->op_next);
    cx_frame* cx = cx_push_block(gcb, CXt_SUB, gcb->arg_sp, CTX_LIST);
    cx->sub.cv = cv;
    cx->sub.gv = nullptr;
    cx->sub.dfoutgv = nullptr;
    cx->sub.savearray = nullptr;
    cx->sub.argarray = nullptr;
    cx->sub.hasargs = 0;
    cx->sub.lval = static_cast<uint8_t>(op->op_private & (OPpLVAL_INTRO | OPpENTERSUB_INARGS));
    cx_sub_enter_depth(gcb, cx, cv, false);  // the debugger runs in its first pad
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
    gcb->curpad = av_body(sv_as<AV>(av_body(body_of(cv)->padlist)->array[1]))->array;
    cx->sub.oldcurpad = gcb->curpad;
    return body_of(cv)->start;
}
