// Tied aggregates: the magic methods of tied elements and aggregates, which
// call FETCH, STORE, DELETE, FETCHSIZE, CLEAR, FIRSTKEY, NEXTKEY and EXISTS
// on the tie object, and the array code's own tie method calls.
#include "prxcall.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// Opens a scope, and with tmps a temporaries frame, then switches to a
// stack level of the magic kind.
void frame_open(PERLGCB* gcb, bool tmps)
{
    scope_enter(gcb);
    if (tmps) {
        save_push_int(gcb, &gcb->temps_floor);
        gcb->temps_floor = gcb->temps_ix;
    }
    stack_level_push(gcb, SI_MAGIC);
}

void frame_close(PERLGCB* gcb, bool tmps)
{
    stack_level_pop(gcb);
    if (tmps)
        tmps_free_to_floor(gcb);
    scope_leave(gcb);
}

// Pushes a mark, the tie object, with n > 1 the key of the record and with
// n > 2 the value, and calls the method; returns the count of results.
int32_t methcall(PERLGCB* gcb, SV* sv, MAGIC* mg, const char* meth, int32_t flags, int32_t n, SV* val)
{
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, n);
    *++sp = tie_object(gcb, sv, mg);
    if (n > 1) {
        if (mg->ptr) {
            if (mg->len >= 0)
                *++sp = sv_make_temporary(gcb, sv_new_from_bytes(gcb, mg->ptr, static_cast<uint64_t>(mg->len)));
            else if (mg->len == HEK_SV_KEY)
                *++sp = reinterpret_cast<SV*>(mg->ptr);
        } else if (mg->type == 'p') {
            *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, mg->len));
        }
    }
    if (n > 2)
        *++sp = val;
    gcb->arg_sp = sp;
    return interp_call_method_by_name(gcb, meth, flags);
}

// A one-key method in scalar context whose result is assigned to the value.
void methpack(PERLGCB* gcb, SV* sv, MAGIC* mg, const char* meth)
{
    frame_open(gcb, true);
    if (methcall(gcb, sv, mg, meth, 0, 2, nullptr))
        sv_assign(gcb, sv, *gcb->arg_sp--);
    frame_close(gcb, true);
}

}  // namespace

int32_t magic_call_tie_method(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    methpack(gcb, sv, mg, "FETCH");
    // A keyed element is not fetched again until the next store.
    if (mg->ptr)
        mg->mgflags |= MGf_GSKIP;
    return 0;
}

int32_t magic_packelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    frame_open(gcb, false);
    methcall(gcb, sv, mg, "STORE", CALL_DISCARD, 3, sv);
    frame_close(gcb, false);
    return 0;
}

int32_t magic_packelem_clear(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    methpack(gcb, sv, mg, "DELETE");
    return 0;
}

int32_t magic_pack_exists(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    methpack(gcb, sv, mg, "EXISTS");
    return 0;
}

uint32_t magic_pack_len(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    uint32_t retval = 0;
    frame_open(gcb, true);
    if (methcall(gcb, sv, mg, "FETCHSIZE", 0, 2, nullptr))
        retval = static_cast<uint32_t>(sv_to_int(gcb, *gcb->arg_sp--)) - 1;
    frame_close(gcb, true);
    return retval;
}

int32_t magic_pack_clear(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    frame_open(gcb, false);
    methcall(gcb, sv, mg, "CLEAR", CALL_DISCARD, 1, nullptr);
    frame_close(gcb, false);
    return 0;
}

int32_t magic_pack_next_key(PERLGCB* gcb, SV* sv, MAGIC* mg, SV* key)
{
    bool next = key->flags & SVf_OK_ANY;
    frame_open(gcb, true);
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, 2);
    *++sp = tie_object(gcb, sv, mg);
    if (next)
        *++sp = key;
    gcb->arg_sp = sp;
    if (interp_call_method_by_name(gcb, next ? "NEXTKEY" : "FIRSTKEY", 0))
        sv_assign(gcb, key, *gcb->arg_sp--);
    frame_close(gcb, true);
    return 0;
}

void tie_call_array_method(PERLGCB* gcb, SV* obj, const char* method, int32_t call_flags, SV** args, int32_t nargs,
                           SV** result)
{
    stack_level_push(gcb, SI_MAGIC);
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, nargs + 1);
    *++sp = obj;
    for (int32_t i = 0; i < nargs; i++)
        *++sp = args[i];
    gcb->arg_sp = sp;
    scope_enter(gcb);
    int32_t count = interp_call_method_by_name(gcb, method, call_flags);
    if (result)
        *result = count ? sv_new_copy(gcb, *gcb->arg_sp--) : &gcb->sv_undef;
    scope_leave(gcb);
    stack_level_pop(gcb);
}
