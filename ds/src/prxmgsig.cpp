// %ENV and %SIG: element magic that passes stores and deletes on to the
// environment, the per-signal handler table with the die and warn hooks,
// and the signal entry that calls a handler.
#include <cstring>

#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxproc.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsearch.h"
#include "prxsv.h"
#include "prxtbl.h"

namespace {


// The key of an element record: its bytes, or the string of its key value.
const char* key_of(PERLGCB* gcb, MAGIC* mg, uint64_t* len)
{
    if (mg->len == HEK_SV_KEY)
        return sv_text(gcb, reinterpret_cast<SV*>(mg->ptr), len);
    *len = mg->ptr && mg->len > 0 ? static_cast<uint64_t>(mg->len) : 0;
    return mg->ptr ? mg->ptr : "";
}

// Names compare as blank-padded texts: trailing blanks do not count.
bool same_name(const char* a, uint64_t alen, const char* b)
{
    return xk_padcmp64(a, static_cast<int64_t>(alen), b, static_cast<int64_t>(std::strlen(b))) == 0;
}

uint32_t whichsig(PERLGCB* gcb, const char* name, uint64_t len)
{
    for (int i = 1; gcb->signal_name_table[i]; i++)
        if (same_name(name, len, gcb->signal_name_table[i]))
            return gcb->signal_number_table[i];
    return 0;
}

prx_sighandler signal_entry() { return reinterpret_cast<prx_sighandler>(&signal_deliver); }

void release_slot(PERLGCB* gcb, SV** slot)
{
    sv_release(gcb, *slot);
    *slot = nullptr;
}

}  // namespace

uint32_t signal_number_by_name(PERLGCB* gcb, const char* name, int32_t len)
{
    return whichsig(gcb, name, len < 0 ? 0 : static_cast<uint64_t>(len));
}

// ---- %ENV ----------------------------------------------------------------------

int32_t magic_env_set(PERLGCB* gcb, SV* sv, MAGIC*)
{
    if (!gcb->localizing)
        return 0;
    HV* hv = sv_as<HV>(sv);
    hv_iter_start(gcb, hv);
    while (hash_entry* he = hv_iter_advance(gcb, hv)) {
        int32_t klen = 0;
        const char* key = hv_entry_key(gcb, he, &klen);
        uint64_t vlen = 0;
        env_set(gcb, key, sv_text(gcb, hv_entry_value(gcb, hv, he), &vlen));
    }
    return 0;
}

int32_t magic_envelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    uint64_t len = 0;
    const char* s = sv_text(gcb, sv, &len);
    uint64_t klen = 0;
    const char* key = key_of(gcb, mg, &klen);
    env_set(gcb, key, s);
    if (!gcb->tainting)
        return 0;
    // A PATH whose elements may be written by others taints what it finds.
    mg->mgflags &= ~MGf_TAINTEDDIR;
    if (s && klen == 4 && std::memcmp(key, "PATH", 4) == 0) {
        const char* strend = s + len;
        while (s < strend) {
            char buf[256];
            int32_t n = 0;
            s = copy_to_delimiter(gcb, buf, buf + sizeof buf, s, strend, ':', &n);
            s++;
            // The host's file status record: the mode is the 16-bit field at byte 6.
            char st[256];
            if (n >= static_cast<int32_t>(sizeof buf) || buf[0] != '/' ||
                (prx_stat(buf, st) == 0 && (reinterpret_cast<uint16_t*>(st)[3] & 2))) {
                mg->mgflags |= MGf_TAINTEDDIR;
                return 0;
            }
        }
    }
    return 0;
}

int32_t magic_envelem_clear(PERLGCB* gcb, SV*, MAGIC* mg)
{
    uint64_t klen = 0;
    env_set(gcb, key_of(gcb, mg, &klen), nullptr);
    return 0;
}

// ---- %SIG -------------------------------------------------------------------------

int32_t magic_sigelem_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    uint64_t klen = 0;
    const char* key = key_of(gcb, mg, &klen);
    uint32_t i = whichsig(gcb, key, klen);
    if (!i || !gcb->signal_handler_slots)
        return 0;
    if (gcb->signal_handler_slots[i]) {
        sv_assign(gcb, sv, gcb->signal_handler_slots[i]);
        return 0;
    }
    // The disposition is asked once and the answer cached in the slot.
    if (signal_get(gcb, static_cast<int32_t>(i)) == reinterpret_cast<prx_sighandler>(1))
        sv_set_cstring(gcb, sv, "IGNORE");
    else
        sv_assign(gcb, sv, &gcb->sv_undef);
    gcb->signal_handler_slots[i] = sv_refinc(sv);
    sv->flags &= ~SVs_TEMP;
    return 0;
}

int32_t magic_sigelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    uint64_t klen = 0;
    const char* key = key_of(gcb, mg, &klen);
    SV** hook = nullptr;
    uint32_t i = 0;
    if (key[0] == '_') {
        if (same_name(key, klen, "__DIE__"))
            hook = &gcb->die_hook;
        else if (same_name(key, klen, "__WARN__"))
            hook = &gcb->warn_hook;
        else
            fatal_error(gcb, "No such hook: %s", key);
        release_slot(gcb, hook);
    } else {
        i = whichsig(gcb, key, klen);
        if (!i || !gcb->signal_handler_slots) {
            if (warn_enabled(gcb, WARN_SIGNAL))
                category_warning(gcb, WARN_SIGNAL, "No such signal: SIG%s", key);
            return 0;
        }
        SV* name = sv_new_from_bytes(gcb, key, klen);
        release_slot(gcb, &gcb->signal_name_slots[i]);
        release_slot(gcb, &gcb->signal_handler_slots[i]);
        gcb->signal_handler_slots[i] = sv_refinc(sv);
        sv->flags &= ~SVs_TEMP;
        name->flags |= SVf_READONLY;
        gcb->signal_name_slots[i] = name;
    }
    if (sv_type(sv) == SVt_PVGV || (sv->flags & SVf_ROK)) {
        if (i)
            signal_set(gcb, static_cast<int32_t>(i), signal_entry());
        else
            *hook = sv_refinc(sv);
        return 0;
    }
    uint64_t len = 0;
    const char* s = sv_force_string(gcb, sv, &len);
    if (same_name(s, len, "IGNORE")) {
        if (i)
            signal_set(gcb, static_cast<int32_t>(i), reinterpret_cast<prx_sighandler>(1));
    } else if (same_name(s, len, "DEFAULT") || !len) {
        if (i)
            signal_set(gcb, static_cast<int32_t>(i), nullptr);
    } else {
        if (!std::memchr(s, ':', len) && !std::memchr(s, '\'', len))
            sv_insert(gcb, sv, 0, 0, "main::", 6);
        if (i)
            signal_set(gcb, static_cast<int32_t>(i), signal_entry());
        else
            *hook = sv_refinc(sv);
    }
    return 0;
}

int32_t magic_sigelem_clear(PERLGCB* gcb, SV*, MAGIC* mg)
{
    uint64_t klen = 0;
    const char* key = key_of(gcb, mg, &klen);
    uint32_t i = whichsig(gcb, key, klen);
    if (i && gcb->signal_handler_slots) {
        release_slot(gcb, &gcb->signal_handler_slots[i]);
        release_slot(gcb, &gcb->signal_name_slots[i]);
    }
    return 0;
}

// ---- the signal entry ---------------------------------------------------------------

// Protections of a delivery, as bits: 1 save stack, 4 mark stack, 8 return
// stack, 16 scope stack; 64 the argument holds a reference of its own.
void signal_unwind_handler_stack(PERLGCB* gcb, void* flags)
{
    if (reinterpret_cast<intptr_t>(flags) & 1)
        gcb->savestack_ix -= 5;
}

void signal_deliver(int32_t sig)
{
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb)
        return;
    OP* myop = gcb->op;
    intptr_t flags = 0;
    if (gcb->savestack_ix + 15 <= gcb->savestack_max)
        flags |= 1;
    if (gcb->mark_sp < gcb->mark_max - 2)
        flags |= 4;
    if (gcb->return_ix < gcb->return_max - 2)
        flags |= 8;
    if (gcb->scope_ix < gcb->scope_max - 3)
        flags |= 16;
    const char* signame = sig > 0 && sig < SIGNAL_TABLE_SIZE ? gcb->signal_name_table[sig] : nullptr;
    if (!gcb->signal_handler_slots || sig <= 0 || sig >= SIGNAL_TABLE_SIZE || !gcb->signal_handler_slots[sig]) {
        // The die path jumps away, or hands back the op to resume at when
        // nothing outside can take the jump: there is no handler to call.
        die_error(gcb, "Signal SIG%s received, but no signal handler set.\n", signame ? signame : "");
        return;
    }

    if (flags & 1) {
        gcb->savestack_ix += 5;
        save_push_destructor(gcb, signal_unwind_handler_stack, reinterpret_cast<void*>(flags));
    }
    if (flags & 4)
        gcb->mark_sp++;
    if (flags & 8)
        gcb->return_stack[++gcb->return_ix] = nullptr;
    if (flags & 16)
        gcb->scope_ix++;

    SV* handler = gcb->signal_handler_slots[sig];
    CV* cv = nullptr;
    GV* gv = nullptr;
    if ((handler->flags & SVf_ROK) && sv_rv(handler) && sv_type(sv_rv(handler)) == SVt_PVCV) {
        cv = sv_as<CV>(sv_rv(handler));
    } else {
        HV* stash = nullptr;
        cv = sv_to_code(gcb, handler, &stash, &gv, 1);
    }
    SV* arg = nullptr;
    if (!cv || (!static_cast<PVCV*>(cv->any)->root && !static_cast<PVCV*>(cv->any)->xsub)) {
        if (warn_enabled(gcb, WARN_SIGNAL)) {
            GV* named = gv ? gv : cv ? static_cast<PVCV*>(cv->any)->gv : nullptr;
            if (named && gv_gp(named) && gv_gp(named)->gp_egv)
                named = gv_gp(named)->gp_egv;
            category_warning(gcb, WARN_SIGNAL, "SIG%s handler \"%s\" not defined.\n", signame,
                             named ? gv_body(named)->name : "__ANON__");
        }
    } else {
        if (gcb->signal_name_slots[sig]) {
            arg = sv_refinc(gcb->signal_name_slots[sig]);
            flags |= 64;
        } else {
            arg = sv_new_temporary(gcb);
            sv_set_cstring(gcb, arg, signame);
        }
        stack_level_push(gcb, SI_SIGNAL);
        SV** sp = gcb->arg_sp;
        push_mark(gcb, sp);
        sp = arg_stack_room(gcb, sp, 1);
        *++sp = arg;
        gcb->arg_sp = sp;
        interp_call_value(gcb, cv, CALL_DISCARD);
        stack_level_pop(gcb);
    }
    if (flags & 1)
        gcb->savestack_ix -= 8;
    if (flags & 4)
        gcb->mark_sp--;
    if (flags & 8)
        gcb->return_ix--;
    if (flags & 16)
        gcb->scope_ix--;
    if (flags & 64)
        sv_release(gcb, arg);
    gcb->op = myop;
}
