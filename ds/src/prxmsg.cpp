// Messages, fatal errors and warnings: the message value and its suffix,
// the die and warn hooks, the fatal-error path over the jump environments,
// warnings by category, and the bad-filehandle warnings.
#include "prxmsg.h"

#include "prxcall.h"
#include "prxgv.h"
#include "prxlibc.h"
#include "prxre.h"
#include "prxscope.h"
#include "prxsvint.h"

namespace {

// The message value: a fresh temporary, or during global destruction the
// one reusable value made from the pool that is never freed.
SV* message_value(PERLGCB* gcb)
{
    if (!gcb->dirty)
        return sv_new_temporary(gcb);
    if (!gcb->reusable_message) {
        SV* sv = static_cast<SV*>(pool_malloc(gcb, sizeof(SV)));
        PVMG* body = static_cast<PVMG*>(pool_malloc(gcb, sizeof(PVMG)));
        std::memset(body, 0, sizeof *body);
        sv->any = body;
        sv->refcnt = 1u << 30;
        sv->flags = SVt_PVMG;
        gcb->reusable_message = sv;
    }
    return gcb->reusable_message;
}

SV* vformat_into_message(PERLGCB* gcb, const char* fmt, va_list* args)
{
    SV* sv = message_value(gcb);
    sv_format_set(gcb, sv, fmt, fmt ? std::strlen(fmt) : 0, args, nullptr, 0);
    return sv;
}

// The suffix rule: the last-read handle's line, then ".\n" or the global
// destruction ending; a text that ends in a newline is final.
void add_suffix(PERLGCB* gcb, SV* sv)
{
    uint64_t cur = sv_cur(sv);
    if (cur && sv_pv(sv)[cur - 1] == '\n')
        return;
    GV* gv = gcb->last_input_glob;
    if (gv && sv_type(as_sv(gv)) == SVt_PVGV && gv_gp(gv) && gv_gp(gv)->gp_io) {
        PVIO* io = static_cast<PVIO*>(gv_gp(gv)->gp_io->any);
        if (io && io->lines != 0) {
            SV* rs = gcb->rs;
            bool line = rs && (rs->flags & SVf_POK) && sv_cur(rs) == 1 && sv_pv(rs)[0] == '\n';
            const char* name = gv == gcb->argv_glob ? "" : gv_body(gv)->name;
            sv_append_formatted(gcb, sv, ", <%s> %s %ld", name ? name : "", line ? "line" : "chunk",
                                io->lines);
        }
    }
    sv_append_cstring(gcb, sv, gcb->dirty ? " during global destruction.\n" : ".\n");
}

struct Message {
    const char* text;   // null: no message
    uint64_t len;
};

// Builds a fatal message: the suffix rule, then the error accumulator takes
// the text when it holds queued errors.
Message fatal_message(PERLGCB* gcb, const char* fmt, va_list* args)
{
    if (!fmt)
        return Message{nullptr, 0};
    SV* msv = vbuild_message(gcb, fmt, args);
    SV* errors = gcb->errors;
    if (errors && (errors->flags & SVf_POK) && sv_cur(errors)) {
        sv_append_sv(gcb, errors, msv);
        Message m{sv_pv(errors), sv_cur(errors)};
        sv_cur(errors) = 0;
        return m;
    }
    return Message{sv_pv(msv), sv_cur(msv)};
}

// Jumps with a code to the top environment when an outer one exists; else
// "panic: top_env\n" to stream 2 and the bridge's last resort.
[[noreturn]] void jump_or_top_env_panic(PERLGCB* gcb, int32_t code)
{
    if (gcb->top_env && gcb->top_env->prev)
        jump_to(gcb, gcb->top_env, code);
    static const char text[] = "panic: top_env\n";
    prx_fwrite(text, 1, sizeof text - 1, PRX_STDERR);
    bridge_fatal_jump();
}

// Calls the die or warn hook in slot with the message (or $@ when there is
// none) on a stack level of the given kind. False when the hook is unset or
// cannot be called: it does not resolve to a subroutine with a body, or that
// subroutine is running already.
bool call_hook(PERLGCB* gcb, SV** slot, int32_t kind, const Message& m)
{
    SV* hook = *slot;
    if (!hook)
        return false;
    // The slot is empty while the hook is resolved, so that a die inside the
    // resolution does not come back here.
    scope_enter(gcb);
    save_push_value_ptr(gcb, slot);
    *slot = nullptr;
    HV* stash = nullptr;
    GV* gv = nullptr;
    CV* cv = sv_to_code(gcb, hook, &stash, &gv, 0);
    scope_leave(gcb);
    if (!cv)
        return false;
    PVCV* body = static_cast<PVCV*>(cv->any);
    if (body->depth != 0 || (!body->root && !body->xsub))
        return false;
    scope_enter(gcb);
    re_save_match_state(gcb);
    SV* arg;
    if (m.text) {
        arg = sv_new_from_bytes(gcb, m.text, m.len);
        arg->flags |= SVf_READONLY;
        save_push_release_value(gcb, arg);
    } else {
        arg = gv_gp(gcb->error_glob)->gp_sv;
    }
    stack_level_push(gcb, kind);
    push_mark_and_arg(gcb, arg);
    interp_call_value(gcb, cv, CALL_DISCARD);
    stack_level_pop_to_mark(gcb);
    scope_leave(gcb);
    return true;
}

// Steps 4 and 5 of a fatal error: into the innermost eval with code 3, or
// the text to standard error and the interpreter's failure exit.
[[noreturn]] void die_with(PERLGCB* gcb, const Message& m)
{
    if (gcb->in_eval) {
        gcb->restartop = die_return_to_eval(gcb, m.text, m.len);
        jump_or_top_env_panic(gcb, JUMP_DIE);
    }
    if (m.text)
        prx_stderr_write(gcb, m.text, m.len);
    interp_failure_exit(gcb);
}

void warn_with(PERLGCB* gcb, const Message& m)
{
    if (call_hook(gcb, &gcb->warn_hook, SI_WARNHOOK, m))
        return;
    prx_stderr_write(gcb, m.text, m.len);
}

Message warning_message(PERLGCB* gcb, const char* fmt, va_list* args)
{
    SV* msv = vbuild_message(gcb, fmt, args);
    return Message{sv_pv(msv), sv_cur(msv)};
}

// The warning bits of the current statement, or null for a fixed setting.
SV* warning_bits(PERLGCB* gcb)
{
    SV* w = gcb->current_statement ? gcb->current_statement->cop_warnings : nullptr;
    uintptr_t v = reinterpret_cast<uintptr_t>(w);
    return v == WARNINGS_STD || v == WARNINGS_ALL || v == WARNINGS_NONE ? nullptr : w;
}

bool bit_set(SV* bits, int32_t n)
{
    if (!(bits->flags & SVf_POK) || n < 0)
        return false;
    uint64_t byte = static_cast<uint64_t>(n) / 8;
    return byte < sv_cur(bits) && (static_cast<uint8_t>(sv_pv(bits)[byte]) >> (n % 8)) & 1;
}

}  // namespace

bool warn_enabled(PERLGCB* gcb, int32_t category)
{
    uintptr_t w = gcb->current_statement ? reinterpret_cast<uintptr_t>(gcb->current_statement->cop_warnings) : WARNINGS_STD;
    if (w == WARNINGS_ALL)
        return true;
    if (w == WARNINGS_NONE)
        return false;
    if (w == WARNINGS_STD)
        return gcb->warn_switch & G_WARN_ON;
    return bit_set(reinterpret_cast<SV*>(w), 2 * category);
}

bool warn_enabled_default(PERLGCB* gcb, int32_t category)
{
    uintptr_t w = gcb->current_statement ? reinterpret_cast<uintptr_t>(gcb->current_statement->cop_warnings) : WARNINGS_STD;
    if (w == WARNINGS_ALL || w == WARNINGS_STD)
        return true;
    if (w == WARNINGS_NONE)
        return false;
    return bit_set(reinterpret_cast<SV*>(w), 2 * category);
}

const char* vformat_message(PERLGCB* gcb, const char* fmt, va_list* args)
{
    return sv_pv(vformat_into_message(gcb, fmt, args));
}

const char* format_message(PERLGCB* gcb, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    const char* text = vformat_message(gcb, fmt, &ap);
    va_end(ap);
    return text;
}

SV* vbuild_message(PERLGCB* gcb, const char* fmt, va_list* args)
{
    SV* sv = vformat_into_message(gcb, fmt, args);
    add_suffix(gcb, sv);
    return sv;
}

SV* build_message(PERLGCB* gcb, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    SV* sv = vbuild_message(gcb, fmt, &ap);
    va_end(ap);
    return sv;
}

void fatal_error(PERLGCB* gcb, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Message m = fatal_message(gcb, fmt, &ap);
    va_end(ap);
    if (gcb->errno_cell == GUARD_ERRNO_MARK) {
        // The backtracking guard: straight back to the match entry. The mark
        // holds for this one jump only.
        gcb->errno_cell = 0;
        jump_or_top_env_panic(gcb, JUMP_GUARD);
    }
    call_hook(gcb, &gcb->die_hook, SI_DIEHOOK, m);
    die_with(gcb, m);
}

void stack_exhausted(PERLGCB* gcb)
{
    // The floor keeps a reserve below it, enough for the message, a die hook
    // (whose own checks fail at once, and which does not run again while it
    // runs) and the unwinding.
    fatal_error(gcb, "Nesting too deep for the native stack");
}

OP* die_error(PERLGCB* gcb, const char* fmt, ...)
{
    bool was_in_eval = gcb->in_eval != 0;
    va_list ap;
    va_start(ap, fmt);
    Message m = fatal_message(gcb, fmt, &ap);
    va_end(ap);
    call_hook(gcb, &gcb->die_hook, SI_DIEHOOK, m);
    gcb->restartop = die_return_to_eval(gcb, m.text, m.len);
    if ((gcb->top_env && gcb->top_env->prev) || (!gcb->restartop && was_in_eval))
        jump_or_top_env_panic(gcb, JUMP_DIE);
    return gcb->restartop;
}

void warning(PERLGCB* gcb, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Message m = warning_message(gcb, fmt, &ap);
    va_end(ap);
    warn_with(gcb, m);
}

void category_warning(PERLGCB* gcb, int32_t category, const char* fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    Message m = warning_message(gcb, fmt, &ap);
    va_end(ap);
    SV* bits = warning_bits(gcb);
    if (bits && (bit_set(bits, 1) || bit_set(bits, 2 * category + 1))) {
        call_hook(gcb, &gcb->die_hook, SI_DIEHOOK, m);
        die_with(gcb, m);
    }
    warn_with(gcb, m);
}

void warn_bad_filehandle(PERLGCB* gcb, GV* gv, IO* io, int32_t optype)
{
    const char* name = optype == 26    ? "readline"
                       : optype == 207 ? "write"
                       : gcb->op_desc_table ? gcb->op_desc_table[optype] : "";
    const char* parens = optype >= 236 && optype <= 262 ? "" : "()";
    PVIO* iob = io ? static_cast<PVIO*>(io->any) : nullptr;
    const char* kind = "filehandle";
    const char* state = "unopened";
    int32_t category = WARN_UNOPENED;
    if (optype == 214 || optype == 215 || (optype >= 223 && optype <= 233)) {
        kind = "socket";
        if (iob && iob->type == ' ') {
            state = "closed";
            category = WARN_CLOSED;
        }
    } else if (iob && iob->type == 's') {
        kind = "socket";
    } else if (iob && iob->type == ' ') {
        state = "closed";
        category = WARN_CLOSED;
    }
    bool dirhandle = iob && iob->dirp && !(iob->ioflags & 0x40);
    if (gv && sv_type(as_sv(gv)) == SVt_PVGV) {
        SV* handle = sv_new_temporary(gcb);
        gv_qualified_name(gcb, handle, gv, nullptr, 0);
        if ((handle->flags & SVf_POK) && sv_cur(handle)) {
            const char* hname = sv_pv(handle);
            category_warning(gcb, category, "%s%s on %s %s %s", name, parens, state, kind, hname);
            if (dirhandle)
                category_warning(gcb, category, "\t(Are you trying to call %s%s on dirhandle %s?)\n", name, parens,
                                 hname);
            return;
        }
    }
    category_warning(gcb, category, "%s%s on %s %s", name, parens, state, kind);
    if (dirhandle)
        category_warning(gcb, category, "\t(Are you trying to call %s%s on dirhandle?)\n", name, parens);
}
