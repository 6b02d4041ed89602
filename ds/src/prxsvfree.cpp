// Reference counting: dropping a reference, emptying a value whose count
// reached 0 (its destructor, magic, class and body), weak references, and
// one value taking over another's body.
//
// A value lives while its count is at least 1; every owner (a container, a
// reference, a glob, a pad, the temporaries stack, a save entry, a frame)
// holds one reference. Weak references hold none: the referent keeps a list
// of them and clears them when it goes. The immortals (undef, yes, no) are
// never freed: a count that reaches 0 is set back to 0x7FFFFFFF. A value
// whose count reached 0 is destroyed at most once; a destructor that takes a
// new reference keeps it alive, and its head is then not freed.
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxop.h"
#include "prxsvint.h"

namespace {

constexpr uint32_t IMMORTAL_COUNT = 0x7FFFFFFF;

// Values own values (an array its elements, a reference its referent, code
// its pads, a glob its body), so destroying one releases others, which may
// be destroyed in turn: a nesting as deep as the data. Past this many
// destructions one inside another, or close to the native stack's floor, a
// value whose count reached 0 waits in the pending list instead, and the
// outermost destruction takes the waiting values one after another. Data of
// any depth is freed within a bounded stack; shallow data is freed in the
// order its references go.
constexpr uint32_t FREE_NESTING_MAX = 32;
constexpr uintptr_t FREE_STACK_MARGIN = 64 * 1024;

bool must_wait(PERLGCB* gcb)
{
    if (gcb->free_nesting == 0)
        return false;  // the outermost destruction always runs
    if (gcb->free_nesting >= FREE_NESTING_MAX)
        return true;
    return reinterpret_cast<uintptr_t>(__builtin_frame_address(0)) < gcb->stack_floor + FREE_STACK_MARGIN;
}

void add_pending(PERLGCB* gcb, SV* sv)
{
    if (gcb->free_pending_count == gcb->free_pending_max) {
        int32_t cap = gcb->free_pending_max ? gcb->free_pending_max * 2 : 64;
        gcb->free_pending = static_cast<SV**>(
            pool_realloc(gcb, gcb->free_pending, static_cast<uint64_t>(cap) * sizeof(SV*)));
        gcb->free_pending_max = cap;
    }
    gcb->free_pending[gcb->free_pending_count++] = sv;
}

// Empties a value whose count reached 0 and frees its head, unless a
// destructor gave it a new reference.
void destroy_value(PERLGCB* gcb, SV* sv)
{
    sv_destroy_contents(gcb, sv);
    if (sv->refcnt == 0)
        free_head(gcb, sv);
}

// Destroys the waiting values, in the order they began to wait; those that
// their own destructions make wait join the end. A waiting value may have
// been taken up again in the meantime (through a weak reference) and then
// freed: an entry whose value is counted again, or whose head is free, is
// passed over.
void destroy_pending(PERLGCB* gcb)
{
    while (gcb->free_pending_head < gcb->free_pending_count) {
        SV* sv = gcb->free_pending[gcb->free_pending_head++];
        if (sv->refcnt == 0 && sv_type(sv) != SVt_FREED)
            destroy_value(gcb, sv);
    }
    // The list is kept only while values wait: deep data is rare.
    pool_free(gcb, gcb->free_pending);
    gcb->free_pending = nullptr;
    gcb->free_pending_head = 0;
    gcb->free_pending_count = 0;
    gcb->free_pending_max = 0;
}

// A value whose count just reached 0. A jump out of the destruction (an exit
// in a destructor, no memory) is met by a jump_run that puts free_nesting
// back; the values still waiting go with the next outermost destruction.
void release_dead(PERLGCB* gcb, SV* sv)
{
    if (must_wait(gcb)) {
        add_pending(gcb, sv);
        return;
    }
    bool outermost = gcb->free_nesting == 0;
    gcb->free_nesting++;
    destroy_value(gcb, sv);
    if (outermost && gcb->free_pending)
        destroy_pending(gcb);
    gcb->free_nesting--;
}

// The referent's back-reference list, or "panic: del_backref".
AV* backref_list(PERLGCB* gcb, SV* referent)
{
    MAGIC* mg = nullptr;
    if (referent && sv_type(referent) >= SVt_PVMG && sv_magic_chain(referent))
        mg = mg_find_by_type(gcb, referent, '<');
    if (!mg)
        fatal_error(gcb, "panic: del_backref");
    return sv_as<AV>(mg->obj);
}

// Runs the DESTROY methods of a blessed value whose count is 0: once for
// each class it is blessed into at the time, on a stack level of its own.
// The destructor is handed a reference of the caller's own (not counted by
// anyone) whose referent gets one count for the call; the count is taken
// back directly afterwards, without a release, so that a count of 0 after
// the call means no one took the value up again. Errors are trapped as in
// an eval and leave the current error text alone.
void call_destructors(PERLGCB* gcb, SV* sv)
{
    // A reference of our own, not from an arena; only its cell is borrowed.
    SV tmpref{nullptr, 1, 0};
    sv_upgrade_body(gcb, &tmpref, SVt_RV);
    tmpref.flags |= SVf_ROK | SVf_READONLY;
    HV* stash;
    do {
        stash = sv_stash(sv);
        GV* destructor = gv_find_method(gcb, stash, "DESTROY");
        if (destructor) {
            scope_enter(gcb);
            stack_level_push(gcb, SI_DESTROY);
            sv_rv(&tmpref) = sv;
            sv->refcnt++;
            push_mark_and_arg(gcb, &tmpref);
            interp_call_value(gcb, gv_gp(destructor)->gp_cv, CALL_DISCARD | CALL_EVAL | CALL_KEEPERR);
            sv->refcnt--;
            stack_level_pop_to_mark(gcb);
            scope_leave(gcb);
        }
    } while ((sv->flags & SVs_OBJECT) && sv_stash(sv) != stash);
    body_give(gcb, SVt_RV, tmpref.any);
}

}  // namespace

void sv_release(PERLGCB* gcb, SV* sv)
{
    if (!sv)
        return;
    if (sv->refcnt == 0) {
        // Already at 0: a value being destroyed (its own parts may point
        // back at it), one swept at destruction, or a count gone wrong.
        if ((sv->flags & SVf_SWEPT) || gcb->sv_clean_all)
            return;
        if ((sv->flags & SVf_READONLY) && sv_is_immortal(gcb, sv)) {
            sv->refcnt = IMMORTAL_COUNT;
            return;
        }
        if (warn_enabled_default(gcb, WARN_INTERNAL))
            category_warning(gcb, WARN_INTERNAL, "Attempt to free unreferenced scalar");
        return;
    }
    if (--sv->refcnt != 0)
        return;
    if ((sv->flags & SVf_READONLY) && sv_is_immortal(gcb, sv)) {
        sv->refcnt = IMMORTAL_COUNT;
        return;
    }
    release_dead(gcb, sv);
}

// The order matters: the destructor first, while the value is whole; then
// its class and magic (whose free methods may still read the body); then
// what the body owns by type; the body itself last. A glob's stash goes
// after its body, which may name it. Every reference the body held is
// dropped exactly once; a reference field is cleared before its referent
// goes, so that a destructor run by the release does not find it again.
void sv_destroy_contents(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_OBJECT) {
        if (gcb->main_stash)
            call_destructors(gcb, sv);
        if (sv->refcnt != 0) {
            if (gcb->sv_in_clean_objs) {
                HV* stash = sv_stash(sv);
                const char* name = stash ? hv_body(stash)->name : nullptr;
                fatal_error(gcb, "DESTROY created new reference to dead object '%s'", name ? name : "");
            }
            return;  // a destructor gave the value a new reference: it lives on
        }
        if (sv->flags & SVs_OBJECT) {
            HV* stash = sv_stash(sv);
            sv_stash(sv) = nullptr;
            sv_release(gcb, as_sv(stash));
            sv->flags &= ~SVs_OBJECT;
            if (sv_type(sv) != SVt_PVIO)
                gcb->sv_objcount--;
        }
    }
    uint32_t type = sv_type(sv);
    if (type >= SVt_PVMG && sv_magic_chain(sv))
        mg_free_chain(gcb, sv);

    HV* glob_stash = nullptr;
    bool string_part = true;
    switch (type) {
    case SVt_PVIO: {
        PVIO* io = static_cast<PVIO*>(sv->any);
        if (io->ifp && io->ifp != PRX_STDOUT && io->ifp != PRX_STDERR)
            io_close_streams(gcb, sv_as<IO>(sv), 0);
        if (io->dirp && !(io->ioflags & 0x40))
            prx_closedir(io->dirp);
        io->dirp = nullptr;
        pool_free(gcb, io->top_name);
        pool_free(gcb, io->fmt_name);
        pool_free(gcb, io->bottom_name);
        io->top_name = io->fmt_name = io->bottom_name = nullptr;
        break;
    }
    case SVt_PVGV: {
        GV* gv = sv_as<GV>(sv);
        gp_release(gcb, gv);
        PVGV* b = gv_body(gv);
        pool_free(gcb, b->name);
        b->name = nullptr;
        glob_stash = b->gvstash;
        b->gvstash = nullptr;
        break;
    }
    case SVt_PVCV:
    case SVt_PVFM:
        cv_undefine(gcb, sv_as<CV>(sv));
        break;
    case SVt_PVHV:
        if (hv_body(sv_as<HV>(sv))->pmroot)
            op_pattern_list_detach(gcb, sv_as<HV>(sv));
        hv_free_storage(gcb, sv_as<HV>(sv));
        string_part = false;
        break;
    case SVt_PVAV:
        av_free_storage(gcb, sv_as<AV>(sv));
        string_part = false;
        break;
    case SVt_PVLV: {
        PVLV* lv = static_cast<PVLV*>(sv->any);
        SV* targ = lv->targ;
        lv->targ = nullptr;
        sv_release(gcb, targ);
        break;
    }
    default:
        break;
    }
    // The string part: a reference's referent (a weak one is only taken off
    // its referent's list), else the buffer when the value owns it (a length
    // of 0 marks a borrowed buffer).
    if (string_part && type != SVt_NULL && type != SVt_IV && type != SVt_NV) {
        if (sv->flags & SVf_OOK)
            sv_undo_offset(gcb, sv);
        if ((sv->flags & (SVf_ROK | SVf_WEAKREF)) == (SVf_ROK | SVf_WEAKREF)) {
            del_backref(gcb, sv);
        } else if (sv->flags & SVf_ROK) {
            SV* referent = sv_rv(sv);
            sv_rv(sv) = nullptr;
            sv_release(gcb, referent);
        } else if (type != SVt_RV && sv_pv(sv) && sv_len(sv) != 0) {
            pool_free(gcb, sv_pv(sv));
            sv_pv(sv) = nullptr;
        }
    }
    sv_free_body(gcb, sv);
    sv->flags = SVt_FREED | (sv->flags & SVf_SWEPT);
    sv_release(gcb, as_sv(glob_stash));
}

void del_backref(PERLGCB* gcb, SV* sv)
{
    AV* list = backref_list(gcb, sv_rv(sv));
    PVAV* b = av_body(list);
    for (int32_t i = 0; i <= b->fill; i++)
        if (b->array[i] == sv)
            b->array[i] = &gcb->sv_undef;
}

// The referent keeps living as long as the statement: one whose only
// reference this was becomes a temporary instead of going at once, since the
// caller may still be reading it through the reference's old value.
void sv_drop_reference(PERLGCB* gcb, SV* sv)
{
    if ((sv->flags & (SVf_ROK | SVf_WEAKREF)) == (SVf_ROK | SVf_WEAKREF)) {
        del_backref(gcb, sv);
        sv->flags &= ~(SVf_ROK | SVf_WEAKREF);
        sv_rv(sv) = nullptr;
        return;
    }
    SV* referent = sv_rv(sv);
    sv_rv(sv) = nullptr;
    sv->flags &= ~(SVf_ROK | SVf_OVERLOAD);
    if (!referent)
        return;
    if (referent->refcnt == 1 && !(referent->flags & SVf_READONLY))
        push_temporary(gcb, referent);
    else
        sv_release(gcb, referent);
}

void sv_release_object_ref(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SVf_ROK))
        return;
    SV* referent = sv_rv(sv);
    if (!referent || !(referent->flags & SVs_OBJECT))
        return;
    if (sv->flags & SVf_WEAKREF) {
        del_backref(gcb, sv);
        sv->flags &= ~(SVf_WEAKREF | SVf_ROK);
        sv_rv(sv) = nullptr;
    } else {
        sv->flags &= ~(SVf_ROK | SVf_OVERLOAD);
        sv_rv(sv) = nullptr;
        sv_release(gcb, referent);
    }
}

// sv keeps its head and count (its owners still point at it) and takes
// over nsv's body and flags; nsv's reference (its only one) goes with its
// head. sv's own magic stays with sv: it moves onto the new body.
void sv_replace(PERLGCB* gcb, SV* sv, SV* nsv)
{
    uint32_t refcnt = sv->refcnt;
    sv_make_modifiable(gcb, sv);
    if (nsv->refcnt != 1 && warn_enabled_default(gcb, WARN_INTERNAL))
        category_warning(gcb, WARN_INTERNAL, "Reference miscount in sv_replace()");
    if (sv->flags & SV_MAGIC_FLAGS) {
        if (nsv->flags & SV_MAGIC_FLAGS)
            mg_free_chain(gcb, nsv);
        else
            sv_upgrade_body(gcb, nsv, SVt_PVMG);
        sv_magic_chain(nsv) = sv_magic_chain(sv);
        nsv->flags |= sv->flags & SV_MAGIC_FLAGS;
        sv->flags &= ~SV_MAGIC_FLAGS;
        sv_magic_chain(sv) = nullptr;
    }
    sv->refcnt = 0;
    sv_destroy_contents(gcb, sv);
    sv->any = nsv->any;
    sv->flags = nsv->flags;
    sv->refcnt = refcnt;
    nsv->any = nullptr;
    free_head(gcb, nsv);
}

void errsv_set_empty(PERLGCB* gcb)
{
    GP* gp = gv_gp(gcb->error_glob);
    if (gp && gp->gp_sv)
        sv_set_bytes(gcb, gp->gp_sv, "", 0);
}

// ---- the argument of a call on a further stack level ----------------------------

void push_mark_and_arg(PERLGCB* gcb, SV* arg)
{
    SV** sp = gcb->arg_sp;
    if (++gcb->mark_sp == gcb->mark_max)
        mark_stack_extend(gcb);
    *gcb->mark_sp = static_cast<int32_t>(sp - gcb->arg_base);
    if (gcb->arg_max - sp < 1)
        sp = arg_stack_extend(gcb, sp, sp, 1);
    *++sp = arg;
    gcb->arg_sp = sp;
}
