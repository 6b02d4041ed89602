// The save stack: growth, scopes, the push routines and the unwinding that
// undoes each entry by its kind.
#include "prxscope.h"

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxsv.h"

namespace {

// Makes room for need more slots with one general growth step.
inline void room(PERLGCB* gcb, int32_t need)
{
    if (gcb->savestack_ix + need > gcb->savestack_max)
        save_stack_extend(gcb);
}

inline save_entry& pop(PERLGCB* gcb) { return gcb->savestack[--gcb->savestack_ix]; }
inline void* pop_ptr(PERLGCB* gcb) { return pop(gcb).ptr; }
inline int32_t pop_i32(PERLGCB* gcb) { return pop(gcb).i32; }
inline int64_t pop_i64(PERLGCB* gcb) { return pop(gcb).i64; }

inline bool magic_scalar(SV* sv)
{
    return sv_type(sv) >= SVt_PVMG && sv_magic_chain(sv) && sv_type(sv) != SVt_PVGV;
}

// Public IOK, NOK and POK from their private flags.
inline void publish_private_flags(SV* sv) { sv->flags |= (sv->flags & SV_PRIVATE_OK) >> 8; }

// Runs set magic under a localizing state.
void set_magic_localizing(PERLGCB* gcb, SV* sv, int32_t state)
{
    gcb->localizing = state;
    if (sv->flags & SVs_SMG)
        mg_call_set(gcb, sv);
    gcb->localizing = 0;
}

// Installs a fresh undefined value in *slot, sharing the old value's magic;
// the old value stays with the entry the caller pushed.
SV* fresh_value(PERLGCB* gcb, SV** slot)
{
    SV* osv = *slot;
    SV* sv = sv_new_undef(gcb, 0);
    *slot = sv;
    if (osv && magic_scalar(osv)) {
        sv_upgrade_body(gcb, sv, sv_type(osv));
        if (osv->flags & SVs_GMG) {
            int32_t oldtainted = gcb->tainted;
            mg_call_get(gcb, osv);
            if (gcb->tainting && gcb->tainted) {
                // Keep the taint magic pointing at the old value for the
                // scope; the entry puts its object back.
                MAGIC* mg = mg_find_by_type(gcb, osv, 't');
                if (mg) {
                    save_push_value_ptr(gcb, &mg->obj);
                    mg->obj = osv;
                }
            }
            publish_private_flags(osv);
            gcb->tainted = oldtainted;
        }
        sv_magic_chain(sv) = sv_magic_chain(osv);
        sv->flags |= osv->flags & SV_MAGIC_FLAGS;
        set_magic_localizing(gcb, sv, 1);
    }
    return sv;
}

// Puts the saved value back into *slot, taking over the magic of the value
// there, and drops the entry's reference to it.
void restore_value(PERLGCB* gcb, SV** slot, SV* value)
{
    SV* sv = *slot;
    if (sv && magic_scalar(sv)) {
        if (sv_type(sv) > sv_type(value))
            sv_upgrade_body(gcb, value, sv_type(sv));
        sv_magic_chain(value) = sv_magic_chain(sv);
        value->flags |= sv->flags & SV_MAGIC_FLAGS;
        sv_magic_chain(sv) = nullptr;
        sv->flags &= ~SV_MAGIC_FLAGS;
    } else if (magic_scalar(value)) {
        publish_private_flags(value);
        value->flags &= ~SV_MAGIC_FLAGS;
        sv_magic_chain(value) = nullptr;
    }
    if (sv)
        sv_release(gcb, sv);
    *slot = value;
    set_magic_localizing(gcb, value, 2);
    sv_release(gcb, value);
}

// Moves the magic chain and the magic flags of from to to.
void move_magic(SV* from, SV* to)
{
    sv_magic_chain(to) = sv_magic_chain(from);
    to->flags |= from->flags & SV_MAGIC_FLAGS;
    sv_magic_chain(from) = nullptr;
    from->flags &= ~SV_MAGIC_FLAGS;
}

// Kinds 2 and 3: the old aggregate goes back into the glob's slot and takes
// back the magic the current one carries.
void restore_aggregate(PERLGCB* gcb, SV** slot, SV* old)
{
    SV* cur = *slot;
    if (cur) {
        move_magic(cur, old);
        sv_release(gcb, cur);
    }
    *slot = old;
    if (old->flags & SV_MAGIC_FLAGS)
        set_magic_localizing(gcb, old, 2);
}

inline bool tied(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SVs_RMG) && mg_find_by_type(gcb, sv, 'P');
}

// Kind 18: clears the pad entry at index of the current pad, or replaces it
// when somebody else holds it.
void clear_pad_entry(PERLGCB* gcb, int32_t index)
{
    SV** slot = &gcb->curpad[index];
    SV* sv = *slot;
    if (sv->refcnt <= 1 && !(sv->flags & SVs_OBJECT)) {
        if (sv->flags & SV_THINK_FIRST)
            sv_make_modifiable(gcb, sv);
        if (sv->flags & SV_MAGIC_FLAGS)
            mg_free_chain(gcb, sv);
        uint32_t type = sv_type(sv);
        switch (type) {
        case SVt_NULL:
            break;
        case SVt_PVAV:
            av_remove_all(gcb, sv_as<AV>(sv));
            break;
        case SVt_PVHV:
            hv_remove_all(gcb, sv_as<HV>(sv));
            break;
        case SVt_PVCV:
            fatal_error(gcb, "panic: leave_scope pad code");
        default:
            sv->flags &= ~SV_VALUE_FLAGS;
            if (type >= SVt_PV && type <= SVt_PVLV) {
                if (sv->flags & SVf_OOK)
                    sv_undo_offset(gcb, sv);
                if (sv->flags & SVf_OOK)
                    sv_undo_offset(gcb, sv);
            } else if (type <= SVt_RV && (sv->flags & SVf_OOK)) {
                sv_undo_offset(gcb, sv);
            }
            break;
        }
        return;
    }
    uint32_t padflags = sv->flags & (SVs_PADBUSY | SVs_PADTMP | SVs_PADMY);
    SV* nsv;
    switch (sv_type(sv)) {
    case SVt_PVAV:
        nsv = as_sv(av_new_empty(gcb));
        break;
    case SVt_PVHV:
        nsv = as_sv(hv_new_empty(gcb));
        break;
    default:
        nsv = sv_new_undef(gcb, 0);
        break;
    }
    *slot = nsv;
    sv_release(gcb, sv);
    nsv->flags |= padflags;
}

}  // namespace

// ---- growth ---------------------------------------------------------------

void save_stack_extend(PERLGCB* gcb)
{
    int32_t cap = gcb->savestack_max * 3 / 2 + 4;
    gcb->savestack =
        static_cast<save_entry*>(pool_realloc(gcb, gcb->savestack, static_cast<uint64_t>(cap) * sizeof(save_entry)));
    gcb->savestack_max = cap;
}

void save_stack_extend_by(PERLGCB* gcb, int32_t n)
{
    int32_t cap = gcb->savestack_ix + n;
    gcb->savestack =
        static_cast<save_entry*>(pool_realloc(gcb, gcb->savestack, static_cast<uint64_t>(cap) * sizeof(save_entry)));
    gcb->savestack_max = cap;
}

// ---- scopes ---------------------------------------------------------------

void scope_enter(PERLGCB* gcb)
{
    if (gcb->scope_ix == gcb->scope_max) {
        int32_t cap = gcb->scope_max * 3 / 2;
        gcb->scope_stack =
            static_cast<int32_t*>(pool_realloc(gcb, gcb->scope_stack, static_cast<uint64_t>(cap) * sizeof(int32_t)));
        gcb->scope_max = cap;
    }
    gcb->scope_stack[gcb->scope_ix++] = gcb->savestack_ix;
}

void scope_leave(PERLGCB* gcb)
{
    int32_t base = gcb->scope_stack[--gcb->scope_ix];
    leave_scope(gcb, base);
}

namespace {

// The undo steps of the larger kinds. Each is entered with the kind popped
// and pops its own operands, newest first. "Held" below is a reference
// that the entry took when it was pushed and that the step hands on or
// drops.

// SAVE_GLOB_BODY: the glob gets back its old body and string. The entry
// holds the glob and the old body's reference; the current body's
// reference is dropped, the old one goes back into the glob as it is.
void undo_glob_body(PERLGCB* gcb)
{
    GP* gp = static_cast<GP*>(pop_ptr(gcb));
    GV* gv = static_cast<GV*>(pop_ptr(gcb));
    SV* gsv = as_sv(gv);
    char* pv = static_cast<char*>(pop_ptr(gcb));
    int64_t cur = pop_i64(gcb);
    int64_t len = pop_i64(gcb);
    // The entry owned the old string (the push set the glob's length to 0);
    // a string the glob got since is its own.
    if (sv_pv(gsv) && sv_len(gsv) > 0)
        pool_free(gcb, sv_pv(gsv));
    sv_pv(gsv) = pv;
    sv_cur(gsv) = static_cast<uint64_t>(cur);
    sv_len(gsv) = static_cast<uint64_t>(len);
    gp_release(gcb, gv);
    gv_gp(gv) = gp;
    if (gp && gp->gp_cv && !gp->gp_cvgen)
        gcb->method_cache_generation++;  // a method comes back into use
    sv_release(gcb, gsv);
}

// SAVE_ARRAY_ELEMENT: the element is fetched (created) again and gets the
// old value back. The entry holds the array and the old value: the array's
// reference is dropped, the old value's passes to the slot (restore_value).
// A tied array's slot is a temporary that the fetch made: it gets one more
// reference, since the restore drops the slot's value. With no slot to
// restore into, both held references are dropped.
void undo_array_element(PERLGCB* gcb)
{
    SV* value = static_cast<SV*>(pop_ptr(gcb));
    int32_t idx = pop_i32(gcb);
    AV* av = static_cast<AV*>(pop_ptr(gcb));
    SV** slot = av_fetch_element(gcb, av, idx, 1);
    if (slot && *slot != &gcb->sv_undef) {
        if (tied(gcb, as_sv(av)))
            sv_refinc(*slot);
        sv_release(gcb, as_sv(av));
        restore_value(gcb, slot, value);
    } else {
        sv_release(gcb, as_sv(av));
        sv_release(gcb, value);
    }
}

// SAVE_HASH_ELEMENT: as the array element, with the hash and the key both
// held by the entry and dropped.
void undo_hash_element(PERLGCB* gcb)
{
    SV* value = static_cast<SV*>(pop_ptr(gcb));
    SV* key = static_cast<SV*>(pop_ptr(gcb));
    HV* hv = static_cast<HV*>(pop_ptr(gcb));
    hash_entry* he = hv_fetch_sv(gcb, hv, key, 1, 0);
    if (he && he->value && he->value != &gcb->sv_undef) {
        if (tied(gcb, as_sv(hv)))
            sv_refinc(he->value);
        sv_release(gcb, as_sv(hv));
        sv_release(gcb, key);
        restore_value(gcb, &he->value, value);
    } else {
        sv_release(gcb, as_sv(hv));
        sv_release(gcb, key);
        sv_release(gcb, value);
    }
}

// Undoes one entry whose kind was just popped.
void undo_entry(PERLGCB* gcb, int32_t kind)
{
    switch (kind) {
    // ---- values put back --------------------------------------------------
    case SAVE_ITEM: {
        // The target takes over the copy's body; the copy's head is freed
        // (the entry held the copy's only reference). The target was never
        // held: its owner keeps it alive.
        SV* copy = static_cast<SV*>(pop_ptr(gcb));
        SV* target = static_cast<SV*>(pop_ptr(gcb));
        sv_replace(gcb, target, copy);
        set_magic_localizing(gcb, target, 2);
        break;
    }
    case SAVE_SCALAR: {
        // The glob's scalar slot gets the old scalar, whose held reference
        // passes to the slot; the local scalar's is dropped. The glob's held
        // reference goes after the restore, which writes into its body.
        SV* value = static_cast<SV*>(pop_ptr(gcb));
        GV* gv = static_cast<GV*>(pop_ptr(gcb));
        restore_value(gcb, &gv_gp(gv)->gp_sv, value);
        sv_release(gcb, as_sv(gv));
        break;
    }
    case SAVE_ARRAY:
    case SAVE_HASH: {
        // The old aggregate goes back into the glob's slot with the slot's
        // reference it had before the local (the entry held it, not
        // counted again); the local aggregate's is dropped. The glob is
        // not held.
        SV* old = static_cast<SV*>(pop_ptr(gcb));
        GV* gv = static_cast<GV*>(pop_ptr(gcb));
        SV** slot = kind == SAVE_ARRAY ? reinterpret_cast<SV**>(&gv_gp(gv)->gp_av)
                                       : reinterpret_cast<SV**>(&gv_gp(gv)->gp_hv);
        restore_aggregate(gcb, slot, old);
        break;
    }
    case SAVE_SCALAR_BY_REF: {
        // As SAVE_SCALAR, for a slot given by its address.
        SV* value = static_cast<SV*>(pop_ptr(gcb));
        SV** slot = static_cast<SV**>(pop_ptr(gcb));
        restore_value(gcb, slot, value);
        break;
    }
    case SAVE_VALUE_PTR_BY_REF: {
        // The slot gets the old value back. The entry held one reference on
        // it besides the slot's own: the slot takes it back without a count,
        // the value there now loses the slot's reference, and the entry's
        // extra one is dropped.
        SV* value = static_cast<SV*>(pop_ptr(gcb));
        SV** slot = static_cast<SV**>(pop_ptr(gcb));
        SV* cur = *slot;
        *slot = value;
        if (cur)
            sv_release(gcb, cur);
        sv_release(gcb, value);
        break;
    }
    case SAVE_ARRAY_ELEMENT:
        undo_array_element(gcb);
        break;
    case SAVE_HASH_ELEMENT:
        undo_hash_element(gcb);
        break;
    case SAVE_GLOB_BODY:
        undo_glob_body(gcb);
        break;

    // ---- plain stores: no reference moves ----------------------------------
    case SAVE_INT:
    case SAVE_LONG:
    case SAVE_I32: {
        int32_t* addr = static_cast<int32_t*>(pop_ptr(gcb));
        *addr = pop_i32(gcb);
        break;
    }
    case SAVE_I16: {
        int16_t* addr = static_cast<int16_t*>(pop_ptr(gcb));
        *addr = static_cast<int16_t>(pop_i32(gcb));
        break;
    }
    case SAVE_I8: {
        int8_t* addr = static_cast<int8_t*>(pop_ptr(gcb));
        *addr = static_cast<int8_t>(pop_i32(gcb));
        break;
    }
    case SAVE_IV: {
        int64_t* addr = static_cast<int64_t*>(pop_ptr(gcb));
        *addr = pop_i64(gcb);
        break;
    }
    case SAVE_VALUE_PTR:
    case SAVE_ARRAY_PTR:
    case SAVE_HASH_PTR:
    case SAVE_STRING_PTR:
    case SAVE_GENERIC_PTR: {
        // The pointer goes back as it was: a value slot saved this way
        // never held a reference of the entry's.
        void** addr = static_cast<void**>(pop_ptr(gcb));
        *addr = pop_ptr(gcb);
        break;
    }
    case SAVE_OP:
        gcb->op = static_cast<OP*>(pop_ptr(gcb));
        break;
    case SAVE_HINTS:
        gcb->compile_hints = static_cast<uint32_t>(pop_i32(gcb));
        break;
    case SAVE_STACK_POS:
        gcb->arg_sp = gcb->arg_base + pop_i32(gcb);
        break;
    case SAVE_COMPILE_PAD: {
        AV* pad = static_cast<AV*>(pop_ptr(gcb));
        gcb->comppad = pad;
        gcb->curpad = pad ? av_body(pad)->array : nullptr;
        break;
    }
    case SAVE_PAD_SLOT: {
        int32_t idx = pop_i32(gcb);
        SV** array = static_cast<SV**>(pop_ptr(gcb));
        SV* value = static_cast<SV*>(pop_ptr(gcb));
        if (array)
            array[idx] = value;
        break;
    }

    // ---- what the entry owns: released, freed or handed on ------------------
    case SAVE_RELEASE:
        // The entry's reference is dropped.
        sv_release(gcb, static_cast<SV*>(pop_ptr(gcb)));
        break;
    case SAVE_MAKE_TEMPORARY:
        // The entry's reference passes to the temporaries stack.
        sv_make_temporary(gcb, static_cast<SV*>(pop_ptr(gcb)));
        break;
    case SAVE_FREE_OP: {
        OP* op = static_cast<OP*>(pop_ptr(gcb));
        if (gcb->comppad)
            gcb->curpad = av_body(gcb->comppad)->array;
        op_free_tree(gcb, op);
        break;
    }
    case SAVE_FREE_BLOCK:
        pool_free(gcb, pop_ptr(gcb));
        break;
    case SAVE_STRING_PTR_BY_REF: {
        // A string the slot got since the save is the slot's own: freed.
        char* old = static_cast<char*>(pop_ptr(gcb));
        char** slot = static_cast<char**>(pop_ptr(gcb));
        if (*slot != old) {
            pool_free(gcb, *slot);
            *slot = old;
        }
        break;
    }
    case SAVE_DELETE: {
        // The key is deleted (its value discarded); the hash's held
        // reference is dropped and the key string, owned by the entry, freed.
        HV* hv = static_cast<HV*>(pop_ptr(gcb));
        char* key = static_cast<char*>(pop_ptr(gcb));
        int32_t klen = pop_i32(gcb);
        hv_delete_str(gcb, hv, key, klen, 2);
        sv_release(gcb, as_sv(hv));
        pool_free(gcb, key);
        break;
    }
    case SAVE_GLOB_CLEAR:
        // The glob is emptied in place; no reference of the entry's.
        sv_destroy_contents(gcb, static_cast<SV*>(pop_ptr(gcb)));
        break;
    case SAVE_CLEAR_PAD:
        clear_pad_entry(gcb, pop_i32(gcb));
        break;

    // ---- calls and raw slots ------------------------------------------------------
    case SAVE_DESTRUCTOR: {
        void* arg = pop_ptr(gcb);
        pop(gcb).fn(arg);
        break;
    }
    case SAVE_DESTRUCTOR_X: {
        void* arg = pop_ptr(gcb);
        pop(gcb).fn_x(gcb, arg);
        break;
    }
    case SAVE_CAPTURE_CONTEXT:
    case SAVE_ALLOC: {
        // Raw slots that their owner has read already.
        int32_t count = pop_i32(gcb);
        gcb->savestack_ix -= count;
        break;
    }
    }
}

}  // namespace

void leave_scope(PERLGCB* gcb, int32_t base)
{
    if (base < -1)
        fatal_error(gcb, "panic: corrupt saved stack index");
    // A base of -1 empties the stack and stops there.
    if (base < 0)
        base = 0;
    // The index is read afresh each round: an undo step may push and pop
    // entries of its own (set magic, destructors). A step that dies has
    // taken its entry off already, so the next unwinding goes on below it.
    while (gcb->savestack_ix > base) {
        int32_t kind = pop_i32(gcb);
        if (static_cast<uint32_t>(kind) > SAVE_KIND_MAX)
            fatal_error(gcb, "panic: leave_scope inconsistency");
        undo_entry(gcb, kind);
    }
}

// ---- pushes ---------------------------------------------------------------

SV* save_push_scalar(PERLGCB* gcb, GV* gv)
{
    SV** slot = &gv_gp(gv)->gp_sv;
    room(gcb, 3);
    save_put_ptr(gcb, sv_refinc(as_sv(gv)));
    save_put_ptr(gcb, sv_refinc(*slot));
    save_put_i32(gcb, SAVE_SCALAR);
    return fresh_value(gcb, slot);
}

SV* save_push_scalar_by_ref(PERLGCB* gcb, SV** slot)
{
    room(gcb, 3);
    save_put_ptr(gcb, slot);
    save_put_ptr(gcb, sv_refinc(*slot));
    save_put_i32(gcb, SAVE_SCALAR_BY_REF);
    return fresh_value(gcb, slot);
}

void save_push_value_ptr_by_ref(PERLGCB* gcb, SV** slot)
{
    room(gcb, 3);
    save_put_ptr(gcb, slot);
    save_put_ptr(gcb, sv_refinc(*slot));
    save_put_i32(gcb, SAVE_VALUE_PTR_BY_REF);
}

void save_push_string_ptr_by_ref(PERLGCB* gcb, char** slot)
{
    room(gcb, 3);
    save_put_ptr(gcb, slot);
    save_put_ptr(gcb, *slot);
    save_put_i32(gcb, SAVE_STRING_PTR_BY_REF);
}

void save_push_gp(PERLGCB* gcb, GV* gv, int32_t empty)
{
    if (gcb->savestack_ix + 6 > gcb->savestack_max)
        save_stack_extend_by(gcb, 6);
    SV* gsv = as_sv(gv);
    save_put_i64(gcb, static_cast<int64_t>(sv_len(gsv)));
    sv_len(gsv) = 0;  // the entry owns the buffer now
    save_put_i64(gcb, static_cast<int64_t>(sv_cur(gsv)));
    save_put_ptr(gcb, sv_pv(gsv));
    gsv->flags &= ~(SVf_POK | SVp_POK);
    save_put_ptr(gcb, sv_refinc(gsv));
    GP* old = gv_gp(gv);
    save_put_ptr(gcb, old);
    save_put_i32(gcb, SAVE_GLOB_BODY);

    if (!empty) {
        gp_retain(gcb, old);
        gv_body(gv)->gvflags |= GVf_INTRO;
        return;
    }
    GP* gp = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
    xk_fill(0, gp, sizeof(GP));
    if (old && old->gp_cv && !old->gp_cvgen)
        gcb->method_cache_generation++;  // a method goes out of use
    if (old && old->gp_io && (io_body(old->gp_io)->ioflags & IOf_ARGV)) {
        gp->gp_io = io_new_body(gcb);
        io_body(gp->gp_io)->ioflags |= IOf_ARGV | IOf_START;
    }
    gv_gp(gv) = gp_retain(gcb, gp);
    gp->gp_sv = sv_new_undef(gcb, 0);
    COP* cop = gcb->current_statement;
    gp->gp_line = cop ? cop->cop_line : 0;
    const char* file = gv_statement_file(gcb, cop);
    gp->gp_file = file ? file : "";
    gp->gp_egv = gv;
}

namespace {

// Saves a glob's array or hash slot for the scope (kind SAVE_ARRAY or
// SAVE_HASH) and puts a new empty aggregate there, which takes over the old
// one's magic as localized.
template <class T>
T* localize_aggregate(PERLGCB* gcb, GV* gv, T** slot, int32_t kind, T* (*make)(PERLGCB*))
{
    T* old = *slot;
    room(gcb, 3);
    save_put_ptr(gcb, gv);
    save_put_ptr(gcb, old);
    save_put_i32(gcb, kind);
    T* fresh = make(gcb);
    *slot = fresh;
    if (sv_magic_chain(as_sv(old))) {
        move_magic(as_sv(old), as_sv(fresh));
        set_magic_localizing(gcb, as_sv(fresh), 1);
    }
    return fresh;
}

}  // namespace

AV* save_push_array(PERLGCB* gcb, GV* gv)
{
    if (!gv_gp(gv)->gp_av)
        gv_ensure_array(gcb, gv);
    AV* oav = gv_gp(gv)->gp_av;
    uint8_t avflags = av_body(oav)->avflags;
    if (!(avflags & AVf_REAL) && (avflags & AVf_REIFY))
        av_make_real(gcb, oav);
    return localize_aggregate(gcb, gv, &gv_gp(gv)->gp_av, SAVE_ARRAY, av_new_empty);
}

HV* save_push_hash(PERLGCB* gcb, GV* gv)
{
    if (!gv_gp(gv)->gp_hv)
        gv_ensure_hash(gcb, gv);
    return localize_aggregate(gcb, gv, &gv_gp(gv)->gp_hv, SAVE_HASH, hv_new_empty);
}

void save_push_item(PERLGCB* gcb, SV* item)
{
    SV* copy = sv_new_undef(gcb, 0);
    sv_assign(gcb, copy, item);
    room(gcb, 3);
    save_put_ptr(gcb, item);
    save_put_ptr(gcb, copy);
    save_put_i32(gcb, SAVE_ITEM);
}

void save_push_list(PERLGCB* gcb, SV** items, int32_t n)
{
    for (int32_t i = 1; i <= n; i++)
        save_push_item(gcb, items[i]);
}

namespace {

void push_i32_at(PERLGCB* gcb, int32_t value, void* addr, int32_t kind)
{
    room(gcb, 3);
    save_put_i32(gcb, value);
    save_put_ptr(gcb, addr);
    save_put_i32(gcb, kind);
}

void push_ptr_at(PERLGCB* gcb, void* value, void* addr, int32_t kind)
{
    room(gcb, 3);
    save_put_ptr(gcb, value);
    save_put_ptr(gcb, addr);
    save_put_i32(gcb, kind);
}

void push_one(PERLGCB* gcb, void* operand, int32_t kind)
{
    room(gcb, 2);
    save_put_ptr(gcb, operand);
    save_put_i32(gcb, kind);
}

}  // namespace

void save_push_int(PERLGCB* gcb, int32_t* addr) { push_i32_at(gcb, *addr, addr, SAVE_INT); }
void save_push_i32(PERLGCB* gcb, int32_t* addr) { push_i32_at(gcb, *addr, addr, SAVE_I32); }
void save_push_i16(PERLGCB* gcb, int16_t* addr) { push_i32_at(gcb, *addr, addr, SAVE_I16); }
void save_push_i8(PERLGCB* gcb, int8_t* addr) { push_i32_at(gcb, *addr, addr, SAVE_I8); }

void save_push_iv(PERLGCB* gcb, int64_t* addr)
{
    room(gcb, 3);
    save_put_i64(gcb, *addr);
    save_put_ptr(gcb, addr);
    save_put_i32(gcb, SAVE_IV);
}

void save_push_value_ptr(PERLGCB* gcb, SV** addr) { push_ptr_at(gcb, *addr, addr, SAVE_VALUE_PTR); }
void save_push_hash_ptr(PERLGCB* gcb, HV** addr) { push_ptr_at(gcb, *addr, addr, SAVE_HASH_PTR); }
void save_push_string_ptr(PERLGCB* gcb, char** addr) { push_ptr_at(gcb, *addr, addr, SAVE_STRING_PTR); }
void save_push_generic_ptr(PERLGCB* gcb, void** addr) { push_ptr_at(gcb, *addr, addr, SAVE_GENERIC_PTR); }

void save_push_release_value(PERLGCB* gcb, SV* sv) { push_one(gcb, sv, SAVE_RELEASE); }
void save_push_make_temporary(PERLGCB* gcb, SV* sv) { push_one(gcb, sv, SAVE_MAKE_TEMPORARY); }
void save_push_free_op_tree(PERLGCB* gcb, OP* op) { push_one(gcb, op, SAVE_FREE_OP); }
void save_push_free_block(PERLGCB* gcb, void* block) { push_one(gcb, block, SAVE_FREE_BLOCK); }

void save_push_clear_pad_entry(PERLGCB* gcb, SV** slot)
{
    room(gcb, 2);
    save_put_i32(gcb, static_cast<int32_t>(slot - gcb->curpad));
    save_put_i32(gcb, SAVE_CLEAR_PAD);
}

void save_push_delete(PERLGCB* gcb, HV* hv, char* key, int32_t klen)
{
    room(gcb, 4);
    save_put_i32(gcb, klen);
    save_put_ptr(gcb, key);
    save_put_ptr(gcb, sv_refinc(as_sv(hv)));
    save_put_i32(gcb, SAVE_DELETE);
}

void save_push_destructor(PERLGCB* gcb, void (*fn)(PERLGCB* gcb, void* arg), void* arg)
{
    room(gcb, 3);
    gcb->savestack[gcb->savestack_ix++].fn_x = fn;
    save_put_ptr(gcb, arg);
    save_put_i32(gcb, SAVE_DESTRUCTOR_X);
}

void save_push_aelem(PERLGCB* gcb, AV* av, int32_t idx, SV** slot)
{
    room(gcb, 4);
    save_put_ptr(gcb, sv_refinc(as_sv(av)));
    save_put_i32(gcb, idx);
    save_put_ptr(gcb, sv_refinc(*slot));
    save_put_i32(gcb, SAVE_ARRAY_ELEMENT);
    fresh_value(gcb, slot);
}

void save_push_helem(PERLGCB* gcb, HV* hv, SV* key, SV** slot)
{
    room(gcb, 4);
    save_put_ptr(gcb, sv_refinc(as_sv(hv)));
    save_put_ptr(gcb, sv_refinc(key));
    save_put_ptr(gcb, sv_refinc(*slot));
    save_put_i32(gcb, SAVE_HASH_ELEMENT);
    fresh_value(gcb, slot);
}

void save_push_op(PERLGCB* gcb) { push_one(gcb, gcb->op, SAVE_OP); }

int32_t save_push_alloc(PERLGCB* gcb, int32_t size, int32_t pad)
{
    int32_t start = pad + 8 * gcb->savestack_ix;
    // The sum is taken on 64 bits and divided without sign, so that a size
    // and a pad of 0 give a count of 0.
    uint64_t sum = static_cast<uint64_t>(static_cast<int64_t>(size) + pad - 1);
    int32_t count = static_cast<int32_t>(static_cast<uint32_t>(1 + sum / sizeof(save_entry)));
    while (gcb->savestack_ix + count + 2 > gcb->savestack_max)
        save_stack_extend(gcb);
    gcb->savestack_ix += count;
    save_put_i32(gcb, count);
    save_put_i32(gcb, SAVE_ALLOC);
    return start;
}
