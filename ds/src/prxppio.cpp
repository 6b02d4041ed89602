// Run-time functions of the ops on one I/O handle (open, close, fileno,
// binmode, select, getc, sysopen, read and write, eof, tell, seek), of the
// tie ops, and of the pipe, descriptor and socket ops the host does not offer.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {


// The operand count an op was compiled with.
int32_t op_argc(const OP* op) { return op->op_private & 15; }

// The handle operand of an op whose handle may be left out: the top entry,
// or the fallback glob pushed in its place (the undefined value pushed when
// there is none; null is returned then). sp follows.
SV* handle_operand(PERLGCB* gcb, const OP* op, SV**& sp, GV* fallback)
{
    if (op_argc(op))
        return *sp;
    SV* handle = as_sv(fallback);
    sp = pp_push_one(gcb, sp, handle ? handle : &gcb->sv_undef);
    return handle;
}

// The handle of eof and tell: the operand, popped, which becomes the last
// read handle (null when it is not a glob); without one, ARGV when argv is
// set (it becomes the last read handle), else the last read handle.
GV* take_read_handle(PERLGCB* gcb, const OP* op, bool argv)
{
    if (op_argc(op)) {
        SV** sp = pp_sp(gcb);
        GV* gv = sv_is_glob(*sp) ? sv_as<GV>(*sp) : nullptr;
        pp_put_sp(gcb, sp - 1);
        return gcb->last_input_glob = gv;
    }
    if (argv)
        gcb->last_input_glob = gcb->argv_glob;
    return gcb->last_input_glob;
}

IO* handle_io(SV* sv) { return sv_is_glob(sv) && gv_gp(sv_as<GV>(sv)) ? gv_gp(sv_as<GV>(sv))->gp_io : nullptr; }

// The tie magic of a handle glob, or null.
MAGIC* handle_tie(PERLGCB* gcb, SV* sv)
{
    if (!sv || !sv_is_glob(sv) || !(sv->flags & SVs_RMG))
        return nullptr;
    return mg_find_by_type(gcb, sv, 'q');
}

// Calls the tie method with the operands from slot (the handle's place) to
// the stack top: the handle's place receives the tie object and a mark goes
// below it. What the method leaves on the stack is the op's result.
OP* tie_dispatch(PERLGCB* gcb, SV** slot, SV* handle, MAGIC* mg, const char* method, int32_t flags)
{
    OP* op = gcb->op;
    int32_t at = static_cast<int32_t>(slot - gcb->arg_base);
    gcb->arg_base[at] = tie_object(gcb, handle, mg);
    push_mark(gcb, gcb->arg_base + at - 1);
    scope_enter(gcb);
    interp_call_method_by_name(gcb, method, flags);
    scope_leave(gcb);
    return op->op_next;
}

SV* temp_int(PERLGCB* gcb, int64_t n) { return sv_make_temporary(gcb, sv_new_from_int(gcb, n)); }

// The target set to an integer, with set magic.
SV* targ_int(PERLGCB* gcb, int64_t n)
{
    SV* targ = pp_pad_target(gcb, gcb->op);
    sv_set_int(gcb, targ, n);
    pp_set_magic(gcb, targ);
    return targ;
}


}  // namespace

// ---- open, close, fileno, binmode, select ----------------------------------------

OP* pp_open(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t argc = op_argc(op);
    SV* further = nullptr;
    if (argc >= 3)
        further = *sp--;
    SV* expr = nullptr;
    if (argc >= 2)
        expr = *sp--;
    SV* handle = *sp;
    if (!sv_is_glob(handle)) {
        pp_put_sp(gcb, sp);
        return die_error(gcb, "Can't use an undefined value as %s reference", "filehandle");
    }
    GV* gv = sv_as<GV>(handle);
    if (!expr) {
        GP* gp = gv_gp(gv);
        if (!gp->gp_sv)
            gp->gp_sv = sv_new_undef(gcb, 0);
        expr = gp->gp_sv;
    }
    if (IO* io = gv_gp(gv)->gp_io)
        io_body(io)->ioflags &= static_cast<uint8_t>(~IOf_UNTAINT);
    if (MAGIC* mg = handle_tie(gcb, handle)) {
        sp = pp_push_one(gcb, sp, expr);
        if (further)
            sp = pp_push_one(gcb, sp, further);
        return tie_dispatch(gcb, sp - (further ? 2 : 1), handle, mg, "OPEN", 0);
    }
    pp_put_sp(gcb, sp);
    uint64_t len = 0;
    const char* text = sv_text(gcb, expr, &len);
    int32_t ok = do_open_worker(gcb, gv, text, static_cast<int32_t>(len), 0, 0, 0, 0, further, further ? 1 : 0);
    sp = pp_sp(gcb);
    if (ok)
        *sp = targ_int(gcb, gcb->forkprocess);
    else if (gcb->forkprocess == 0)
        *sp = targ_int(gcb, 0);
    else
        *sp = &gcb->sv_undef;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_close(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* handle = handle_operand(gcb, op, sp, gcb->default_output_glob);
    if (MAGIC* mg = handle_tie(gcb, handle))
        return tie_dispatch(gcb, sp, handle, mg, "CLOSE", 0);
    GV* gv = handle && sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    int32_t ok;
    if (!gv) {
        gcb->errno_cell = 2;
        ok = 0;
    } else {
        ok = do_close_glob(gcb, gv, 1);
    }
    sp = pp_sp(gcb);
    *sp = pp_bool(gcb, ok);
    return op->op_next;
}

OP* pp_fileno(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (!op_argc(op)) {
        pp_push_one(gcb, sp, &gcb->sv_undef);
        return op->op_next;
    }
    SV* handle = *sp;
    if (MAGIC* mg = handle_tie(gcb, handle))
        return tie_dispatch(gcb, sp, handle, mg, "FILENO", 0);
    IO* io = handle_io(handle);
    if (!io || !io_body(io)->ifp) {
        *sp = &gcb->sv_undef;
        return op->op_next;
    }
    int32_t fd = prx_fileno(io_body(io)->ifp);
    sp = pp_sp(gcb);
    *sp = targ_int(gcb, fd);
    return op->op_next;
}

OP* pp_binmode(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* discipline = op_argc(op) > 1 ? *sp-- : nullptr;
    SV* handle = *sp;
    if (MAGIC* mg = handle_tie(gcb, handle)) {
        if (discipline)
            sp = pp_push_one(gcb, sp, discipline);
        return tie_dispatch(gcb, sp - (discipline ? 1 : 0), handle, mg, "BINMODE", 0);
    }
    pp_put_sp(gcb, sp);
    IO* io = handle_io(handle);
    if (!io || !io_body(io)->ifp) {
        *sp = &gcb->sv_undef;
        return op->op_next;
    }
    // Raw and text modes are one here: the mode change always succeeds.
    do_parse_discipline(gcb, discipline);
    sp = pp_sp(gcb);
    *sp = &gcb->sv_yes;
    return op->op_next;
}

OP* pp_select(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* given = op->op_private ? *sp-- : nullptr;
    pp_put_sp(gcb, sp);
    GV* cur = gcb->default_output_glob;
    GV* egv = cur && gv_gp(cur) && gv_gp(cur)->gp_egv ? gv_gp(cur)->gp_egv : cur;
    SV* result = &gcb->sv_undef;
    HV* stash = egv ? gv_body(egv)->gvstash : nullptr;
    if (stash) {
        PVGV* body = gv_body(egv);
        SV** slot = hv_fetch_str(gcb, stash, body->name, static_cast<int32_t>(body->namelen), 0);
        if (slot && *slot == as_sv(egv)) {
            SV* targ = pp_pad_target(gcb, op);
            gv_qualified_name_with_main(gcb, targ, egv, nullptr);
            pp_set_magic(gcb, targ);
            result = targ;
        } else {
            result = sv_make_temporary(gcb, sv_new_reference(gcb, as_sv(egv)));
        }
    }
    sp = pp_push_one(gcb, pp_sp(gcb), result);
    if (given) {
        GV* gv = sv_as<GV>(given);
        if (!handle_io(given))
            gv = gv_ensure_handle(gcb, gv);
        io_select_default_output(gcb, gv);
    }
    return op->op_next;
}

// ---- getc, sysopen, read, write ----------------------------------------------------

OP* pp_getc(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* handle = handle_operand(gcb, op, sp, gcb->stdin_glob);
    if (MAGIC* mg = handle_tie(gcb, handle)) {
        uint8_t ctx = pp_context(gcb, op);
        int32_t at = static_cast<int32_t>(sp - gcb->arg_base);
        OP* next = tie_dispatch(gcb, sp, handle, mg, "GETC", pp_call_flags(ctx));
        if (ctx == CTX_SCALAR && gcb->arg_sp >= gcb->arg_base + at) {
            SV* src = gcb->arg_base[at];
            SV* targ = pp_pad_target(gcb, op);
            uint32_t temp = src->flags & SVs_TEMP;
            src->flags &= ~SVs_TEMP;
            sv_assign(gcb, targ, src);
            src->flags |= temp;
            pp_set_magic(gcb, targ);
            gcb->arg_base[at] = targ;
            gcb->arg_sp = gcb->arg_base + at;
        }
        return next;
    }
    GV* gv = handle && sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    if (!gv || do_eof(gcb, gv)) {
        sp = pp_sp(gcb);
        *sp = &gcb->sv_undef;
        return op->op_next;
    }
    int32_t ch = prx_getc(io_body(gv_gp(gv)->gp_io)->ifp);
    gcb->tainted = 1;
    SV* targ = pp_pad_target(gcb, op);
    char byte = static_cast<char>(ch);
    sv_set_bytes(gcb, targ, &byte, 1);
    pp_set_magic(gcb, targ);
    sp = pp_sp(gcb);
    *sp = targ;
    return op->op_next;
}

OP* pp_sysopen(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t perm = op_argc(op) > 3 ? static_cast<int32_t>(sv_to_int(gcb, *sp--)) : 0666;
    int32_t mode = static_cast<int32_t>(sv_to_int(gcb, *sp--));
    SV* path = *sp--;
    SV* handle = *sp;
    pp_put_sp(gcb, sp);
    if (!sv_is_glob(handle))
        return die_error(gcb, "Can't use an undefined value as %s reference", "filehandle");
    GV* gv = sv_as<GV>(handle);
    uint64_t len = 0;
    const char* text = sv_text(gcb, path, &len);
    int32_t ok = do_open_entry(gcb, gv, text, static_cast<int32_t>(len), 1, mode, perm, 0);
    sp = pp_sp(gcb);
    if (ok) {
        io_body(gv_gp(gv)->gp_io)->lines = 0;
        *sp = &gcb->sv_yes;
    } else {
        *sp = &gcb->sv_undef;
    }
    return op->op_next;
}

// read, sysread and recv.
OP* pp_read(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t type = op->op_type;
    SV** mark = gcb->arg_base + top_mark(gcb);
    SV* handle = mark[1];
    if (type != OP_RECV) {
        if (MAGIC* mg = handle_tie(gcb, handle)) {
            pop_mark(gcb);
            return tie_dispatch(gcb, mark + 1, handle, mg, "READ", 0);
        }
    }
    pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    int32_t items = static_cast<int32_t>(sp - mark);
    int32_t at = static_cast<int32_t>(mark + 1 - gcb->arg_base);
    pp_put_sp(gcb, mark + 1);
    if (!handle || !sv_is_glob(handle)) {
        mark[1] = &gcb->sv_undef;
        return op->op_next;
    }
    SV* buf = mark[2];
    if (!sv_ok(buf))
        sv_set_bytes(gcb, buf, "", 0);
    uint64_t blen = 0;
    sv_force_string(gcb, buf, &blen);
    int64_t len = sv_to_int(gcb, mark[3]);
    if (len < 0)
        return die_error(gcb, "Negative length");
    gcb->errno_cell = 0;
    int64_t offset = items > 3 ? sv_to_int(gcb, mark[4]) : 0;
    IO* io = handle_io(handle);
    if (!io || !io_body(io)->ifp) {
        gcb->arg_base[at] = &gcb->sv_undef;
        return op->op_next;
    }
    if (type == OP_RECV)
        return die_error(gcb, "Unsupported socket function \"%s\" called", "recv");
    PVIO* b = io_body(io);
    if (offset < 0) {
        if (static_cast<uint64_t>(-offset) > blen)
            return die_error(gcb, "Offset outside string");
        offset += static_cast<int64_t>(blen);
    }
    char* p = sv_grow_buffer(gcb, buf, static_cast<uint64_t>(len + offset + 1));
    if (static_cast<uint64_t>(offset) > sv_cur(buf))
        std::memset(p + sv_cur(buf), 0, static_cast<size_t>(static_cast<uint64_t>(offset) - sv_cur(buf)));
    int64_t count;
    if (type == OP_SYSREAD) {
        count = prx_read(prx_fileno(b->ifp), p + offset, static_cast<size_t>(len));
    } else {
        count = static_cast<int64_t>(prx_fread(p + offset, 1, static_cast<size_t>(len), b->ifp));
        if (count == 0 && prx_ferror(b->ifp))
            count = -1;
    }
    SV** result = gcb->arg_base + at;
    if (count < 0) {
        if (warn_enabled(gcb, WARN_IO) && (b->type == '>' || b->ifp == PRX_STDOUT || b->ifp == PRX_STDERR))
            pp_warn_output_only(gcb, handle);
        *result = &gcb->sv_undef;
        return op->op_next;
    }
    sv_cur(buf) = static_cast<uint64_t>(offset + count);
    sv_pv(buf)[sv_cur(buf)] = '\0';
    buf->flags = (buf->flags & ~SV_VALUE_FLAGS) | SVf_POK | SVp_POK;
    pp_set_magic(gcb, buf);
    if (gcb->tainting && !(b->ioflags & IOf_UNTAINT))
        sv_mark_tainted(gcb, buf);
    *result = targ_int(gcb, count);
    return op->op_next;
}

namespace {

// syswrite and send.
OP* write_op(PERLGCB* gcb, bool is_send)
{
    OP* op = gcb->op;
    SV** mark = gcb->arg_base + top_mark(gcb);
    SV** sp = pp_sp(gcb);
    if (!is_send && sp - mark == 2) {
        SV* buf = mark[2];
        uint64_t n = (buf->flags & SVf_UTF8) ? sv_char_length(gcb, buf) : sv_byte_length(gcb, buf);
        sp = pp_push_one(gcb, sp, temp_int(gcb, static_cast<int64_t>(n)));
        mark = gcb->arg_base + top_mark(gcb);
    }
    SV* handle = mark[1];
    if (!is_send) {
        if (MAGIC* mg = handle_tie(gcb, handle)) {
            pop_mark(gcb);
            return tie_dispatch(gcb, mark + 1, handle, mg, "WRITE", 0);
        }
    }
    pop_mark(gcb);
    int32_t items = static_cast<int32_t>(sp - mark);
    int32_t at = static_cast<int32_t>(mark + 1 - gcb->arg_base);
    pp_put_sp(gcb, mark + 1);
    SV* buf = mark[2];
    int64_t len = sv_to_int(gcb, mark[3]);
    if (len < 0)
        return die_error(gcb, "Negative length");
    gcb->errno_cell = 0;
    SV* offsv = items > 3 ? mark[4] : nullptr;
    IO* io = handle_io(handle);
    if (!io || !io_body(io)->ifp) {
        if (warn_enabled(gcb, WARN_CLOSED))
            warn_bad_filehandle(gcb, sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr, io, op->op_type);
        gcb->arg_base[at] = &gcb->sv_undef;
        return op->op_next;
    }
    if (is_send)
        return die_error(gcb, "Unsupported socket function \"%s\" called", "send");
    uint64_t blen = 0;
    const char* p = sv_text(gcb, buf, &blen);
    int64_t offset = 0;
    if (offsv) {
        offset = sv_to_int(gcb, offsv);
        if (offset < 0) {
            if (static_cast<uint64_t>(-offset) > blen)
                return die_error(gcb, "Offset outside string");
            offset += static_cast<int64_t>(blen);
        } else if (blen > 0 && static_cast<uint64_t>(offset) >= blen) {
            return die_error(gcb, "Offset outside string");
        }
    }
    int64_t left = static_cast<int64_t>(blen) - offset;
    int64_t count = len < left ? len : left;
    if (count < 0)
        count = 0;
    // The descriptor write goes to the captured standard error.
    prx_write(prx_fileno(io_body(io)->ifp), p + offset, static_cast<uint32_t>(count));
    gcb->arg_base[at] = targ_int(gcb, count);
    return op->op_next;
}

}  // namespace

OP* pp_syswrite(PERLGCB* gcb) { return write_op(gcb, false); }

OP* pp_send(PERLGCB* gcb) { return write_op(gcb, true); }

// ---- eof, tell, seek ---------------------------------------------------------------

void pp_warn_output_only(PERLGCB* gcb, SV* gvsv)
{
    SV* name = sv_new_temporary(gcb);
    if (sv_is_glob(gvsv))
        gv_qualified_name(gcb, name, sv_as<GV>(gvsv), nullptr, 0);
    uint64_t len = 0;
    const char* text = (name->flags & SVf_POK) ? sv_text(gcb, name, &len) : "";
    if (len)
        category_warning(gcb, WARN_IO, "Filehandle %s opened only for output", text);
    else
        category_warning(gcb, WARN_IO, "Filehandle opened only for output");
}

void pp_argv_open_stdin(PERLGCB* gcb, GV* gv)
{
    PVIO* b = io_body(gv_gp(gv)->gp_io);
    b->ioflags &= static_cast<uint8_t>(~IOf_START);
    do_open_entry(gcb, gv, "-", 1, 0, 0, 0, 0);
    GP* gp = gv_gp(gv);
    if (!gp->gp_sv)
        gp->gp_sv = sv_new_undef(gcb, 0);
    sv_set_bytes(gcb, gp->gp_sv, "-", 1);
    pp_set_magic(gcb, gp->gp_sv);
}

OP* pp_eof(PERLGCB* gcb)
{
    OP* op = gcb->op;
    GV* gv = take_read_handle(gcb, op, (op->op_flags & OPf_SPECIAL) != 0);
    // eof() on ARGV: an unstarted walk over an empty @ARGV reads "-".
    if ((op->op_flags & OPf_SPECIAL) && gv && gv == gcb->argv_glob) {
        IO* io = gv_gp(gv)->gp_io;
        if (io && !io_body(io)->ifp) {
            PVIO* b = io_body(io);
            AV* av = gv_gp(gv)->gp_av;
            if ((b->ioflags & IOf_START) && (!av || av_highest_index(gcb, av) < 0)) {
                b->lines = 0;
                pp_argv_open_stdin(gcb, gv);
            } else if (!do_next_argv_file(gcb, gv)) {
                pp_push_one(gcb, pp_sp(gcb), &gcb->sv_yes);
                return op->op_next;
            }
        }
    }
    if (MAGIC* mg = handle_tie(gcb, as_sv(gv))) {
        SV** sp = pp_push_one(gcb, pp_sp(gcb), as_sv(gv));
        return tie_dispatch(gcb, sp, as_sv(gv), mg, "EOF", 0);
    }
    bool at_end = !gv || do_eof(gcb, gv);
    pp_push_one(gcb, pp_sp(gcb), pp_bool(gcb, at_end));
    return op->op_next;
}

OP* pp_tell(PERLGCB* gcb)
{
    OP* op = gcb->op;
    GV* gv = take_read_handle(gcb, op, false);
    SV** sp = pp_sp(gcb);
    if (MAGIC* mg = handle_tie(gcb, as_sv(gv))) {
        sp = pp_push_one(gcb, sp, as_sv(gv));
        return tie_dispatch(gcb, sp, as_sv(gv), mg, "TELL", 0);
    }
    int32_t pos = do_handle_position(gcb, gv);
    pp_push_one(gcb, pp_sp(gcb), targ_int(gcb, pos));
    return op->op_next;
}

// seek and sysseek.
OP* pp_sysseek(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    int32_t whence = static_cast<int32_t>(sv_to_int(gcb, *sp--));
    int32_t offset = static_cast<int32_t>(sv_to_int(gcb, *sp--));
    SV* handle = *sp--;
    GV* gv = sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    gcb->last_input_glob = gv;
    pp_put_sp(gcb, sp);
    if (MAGIC* mg = handle_tie(gcb, handle)) {
        sp = pp_push_one(gcb, sp, handle);
        pp_push_one(gcb, sp, temp_int(gcb, offset));
        pp_push_one(gcb, sp + 1, temp_int(gcb, whence));
        return tie_dispatch(gcb, sp, handle, mg, "SEEK", 0);
    }
    SV* result;
    if (op->op_type == OP_SEEK) {
        result = pp_bool(gcb, do_seek_handle(gcb, gv, offset, whence));
    } else {
        int32_t pos = do_seek_descriptor(gcb, gv, offset, whence);
        if (pos < 0)
            result = &gcb->sv_undef;
        else if (pos == 0)
            result = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "0 but true", 10));
        else
            result = temp_int(gcb, pos);
    }
    pp_push_one(gcb, pp_sp(gcb), result);
    return op->op_next;
}

// ---- tie, tied, untie, dbmopen ------------------------------------------------------

namespace {

// The constructor name and the magic type of a variable by its body type.
const char* tie_constructor(SV* var, char* how)
{
    switch (sv_type(var)) {
    case SVt_PVHV:
        *how = 'P';
        return "TIEHASH";
    case SVt_PVAV:
        *how = 'P';
        return "TIEARRAY";
    case SVt_PVGV:
        *how = 'q';
        return "TIEHANDLE";
    default:
        *how = 'q';
        return "TIESCALAR";
    }
}

char tie_type(SV* var)
{
    uint32_t t = sv_type(var);
    return t == SVt_PVAV || t == SVt_PVHV ? 'P' : 'q';
}

MAGIC* tie_magic(PERLGCB* gcb, SV* var, char how)
{
    return (var->flags & SVs_RMG) ? mg_find_by_type(gcb, var, how) : nullptr;
}

// Binds the variable to the object when it is one: its old tie magic goes;
// an object that refers to the variable itself is not kept in the record.
void bind_tie(PERLGCB* gcb, SV* var, SV* obj, char how)
{
    if (!sv_is_object_ref(gcb, obj))
        return;
    sv_remove_magic(gcb, var, how);
    sv_add_magic(gcb, var, sv_rv(obj) == var ? nullptr : obj, how, nullptr, 0);
}

}  // namespace

OP* pp_tie(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t markix = pop_mark(gcb);
    SV** mark = gcb->arg_base + markix;
    SV* var = mark[1];
    char how = 'q';
    const char* method = tie_constructor(var, &how);
    int32_t nargs = static_cast<int32_t>(pp_sp(gcb) - mark) - 1;
    SV* cls = mark[2];
    CV* cv = nullptr;
    if (!sv_is_object_ref(gcb, cls)) {
        HV* stash = gv_stash_by_value(gcb, cls, 0);
        GV* mgv = stash ? gv_find_method_autoload_flag(gcb, stash, method, 1) : nullptr;
        if (!mgv) {
            uint64_t len = 0;
            const char* name = sv_text(gcb, cls, &len);
            return die_error(gcb, "Can't locate object method \"%s\" via package \"%s\"", method, name);
        }
        cv = gv_gp(mgv)->gp_cv;
    }
    scope_enter(gcb);
    // The operands stay in the outer level's array while the call runs on
    // a level of its own.
    SV** args = mark + 2;
    stack_level_push(gcb, SI_MAGIC);
    SV** sp = pp_sp(gcb);
    push_mark(gcb, sp);
    sp = pp_extend(gcb, sp, nargs);
    for (int32_t i = 0; i < nargs; i++)
        *++sp = args[i];
    pp_put_sp(gcb, sp);
    int32_t count = cv ? interp_call_value(gcb, cv, 0) : interp_call_method_by_name(gcb, method, 0);
    SV* result = count > 0 ? *pp_sp(gcb) : &gcb->sv_undef;
    stack_level_pop(gcb);
    bind_tie(gcb, var, result, how);
    scope_leave(gcb);
    gcb->arg_base[markix + 1] = result;
    pp_put_sp(gcb, gcb->arg_base + markix + 1);
    return op->op_next;
}

OP* pp_tied(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* var = *sp;
    MAGIC* mg = tie_magic(gcb, var, tie_type(var));
    if (!mg)
        *sp = &gcb->sv_undef;
    else if (mg->obj)
        *sp = sv_new_temporary_copy(gcb, mg->obj);
    else
        *sp = sv_make_temporary(gcb, sv_new_reference(gcb, var));
    return op->op_next;
}

// untie and dbmclose.
OP* pp_untie(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* var = *sp;
    char how = tie_type(var);
    if (MAGIC* mg = tie_magic(gcb, var, how)) {
        SV* obj = mg->obj;
        if (obj && (obj->flags & SVf_ROK)) {
            SV* inner = sv_rv(obj);
            HV* stash = sv_type(inner) >= SVt_PVMG ? sv_stash(inner) : nullptr;
            GV* mgv = stash ? gv_find_method_autoload_flag(gcb, stash, "UNTIE", 0) : nullptr;
            if (mgv && sv_is_glob(as_sv(mgv)) && gv_gp(mgv)->gp_cv) {
                SV** p = pp_sp(gcb);
                push_mark(gcb, p);
                p = pp_extend(gcb, p, 2);
                *++p = obj;
                *++p = temp_int(gcb, static_cast<int64_t>(inner->refcnt) - 1);
                pp_put_sp(gcb, p);
                scope_enter(gcb);
                interp_call_value(gcb, gv_gp(mgv)->gp_cv, CALL_VOID | CALL_DISCARD);
                scope_leave(gcb);
            } else if (warn_enabled(gcb, WARN_UNTIE) && inner->refcnt > 1) {
                category_warning(gcb, WARN_UNTIE, "untie attempted while %lu inner references still exist",
                                 static_cast<uint64_t>(inner->refcnt - 1));
            }
        }
        sv_remove_magic(gcb, var, how);
    }
    sp = pp_sp(gcb);
    *sp = &gcb->sv_yes;
    return op->op_next;
}

OP* pp_dbmopen(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* perm = *sp--;
    SV* file = *sp--;
    SV* hash = *sp--;
    pp_put_sp(gcb, sp);
    SV* cls = sv_new_temporary_copy(gcb, &gcb->sv_no);
    sv_set_cstring(gcb, cls, "AnyDBM_File");
    HV* stash = gv_stash_by_value(gcb, cls, 0);
    GV* mgv = stash ? gv_find_method_autoload_flag(gcb, stash, "TIEHASH", 1) : nullptr;
    if (!mgv) {
        interp_require_file(gcb, "AnyDBM_File.pm");
        stash = gv_stash_by_value(gcb, cls, 0);
        mgv = stash ? gv_find_method_autoload_flag(gcb, stash, "TIEHASH", 1) : nullptr;
        if (!mgv)
            return die_error(gcb, "No dbm on this machine");
    }
    CV* cv = gv_gp(mgv)->gp_cv;
    bool create = sv_is_true(gcb, perm);
    scope_enter(gcb);
    int32_t base = static_cast<int32_t>(pp_sp(gcb) - gcb->arg_base);
    for (int32_t attempt = 0; attempt < 2; attempt++) {
        SV** p = gcb->arg_base + base;
        push_mark(gcb, p);
        p = pp_extend(gcb, p, 4);
        *++p = cls;
        *++p = file;
        *++p = temp_int(gcb, attempt ? 0 : create ? 66 : 2);
        *++p = perm;
        pp_put_sp(gcb, p);
        int32_t count = interp_call_value(gcb, cv, 0);
        if (count < 1)
            pp_push_one(gcb, pp_sp(gcb), &gcb->sv_undef);
        if (sv_is_object_ref(gcb, *pp_sp(gcb)))
            break;
        if (attempt == 0)
            pp_put_sp(gcb, pp_sp(gcb) - 1);
    }
    SV* result = *pp_sp(gcb);
    if (sv_is_object_ref(gcb, result)) {
        sv_remove_magic(gcb, hash, 'P');
        sv_add_magic(gcb, hash, result, 'P', nullptr, 0);
    }
    scope_leave(gcb);
    return op->op_next;
}

// ---- the pipe, descriptor and socket ops the host does not offer ------------------------

OP* pp_pipe_op(PERLGCB* gcb) { return die_error(gcb, "The %s function is unimplemented", "pipe"); }

OP* pp_umask(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (op_argc(op)) {
        int64_t mask = sv_to_int(gcb, *sp--);
        pp_put_sp(gcb, sp);
        if (mask & 0x1C0)
            return die_error(gcb, "umask not implemented");
    }
    pp_push_one(gcb, sp, &gcb->sv_undef);
    return op->op_next;
}

OP* pp_sselect(PERLGCB* gcb) { return die_error(gcb, "select not implemented"); }

OP* pp_truncate(PERLGCB* gcb)
{
    sv_to_int(gcb, *pp_sp(gcb));
    gcb->errno_cell = 0;
    return die_error(gcb, "truncate not implemented");
}

// fcntl and ioctl.
OP* pp_fcntl(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* argsv = *sp--;
    sv_to_double(gcb, *sp--);
    SV* handle = *sp;
    pp_put_sp(gcb, sp);
    GV* gv = gv_ensure_handle(gcb, sv_as<GV>(handle));
    IO* io = gv_gp(gv)->gp_io;
    if (!io_body(io)->ifp || !argsv) {
        gcb->errno_cell = 2;
        *pp_sp(gcb) = &gcb->sv_undef;
        return op->op_next;
    }
    if ((argsv->flags & SVf_POK) || !(argsv->flags & (SVf_IOK | SVf_NOK))) {
        uint64_t len = 0;
        char* p = sv_force_string(gcb, argsv, &len);
        if (len < 256) {
            p = sv_grow_buffer(gcb, argsv, 257);
            // The bytes the argument grows by are zero, not left as found.
            std::memset(p + len, 0, 256 - len);
            sv_cur(argsv) = 256;
        }
        sv_pv(argsv)[sv_cur(argsv)] = 17;
    } else {
        sv_to_int(gcb, argsv);
    }
    bool is_ioctl = op->op_type == OP_IOCTL;
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, is_ioctl ? "ioctl" : "fcntl");
    return die_error(gcb, is_ioctl ? "ioctl is not implemented" : "fcntl is not implemented");
}

OP* pp_flock(PERLGCB* gcb) { return die_error(gcb, "The %s function is unimplemented", "flock()"); }

namespace {

OP* socket_op(PERLGCB* gcb, const char* name) { return die_error(gcb, "Unsupported socket function \"%s\" called", name); }

}  // namespace

OP* pp_socket(PERLGCB* gcb) { return socket_op(gcb, "socket"); }
OP* pp_sockpair(PERLGCB* gcb) { return socket_op(gcb, "socketpair"); }
OP* pp_bind(PERLGCB* gcb) { return socket_op(gcb, "bind"); }
OP* pp_connect(PERLGCB* gcb) { return socket_op(gcb, "connect"); }
OP* pp_listen(PERLGCB* gcb) { return socket_op(gcb, "listen"); }
OP* pp_accept(PERLGCB* gcb) { return socket_op(gcb, "accept"); }
OP* pp_shutdown(PERLGCB* gcb) { return socket_op(gcb, "shutdown"); }
OP* pp_gsockopt(PERLGCB* gcb) { return socket_op(gcb, "getsockopt"); }
OP* pp_ssockopt(PERLGCB* gcb) { return socket_op(gcb, "setsockopt"); }
OP* pp_getsockname(PERLGCB* gcb) { return socket_op(gcb, "getsockname"); }
OP* pp_getpeername(PERLGCB* gcb) { return socket_op(gcb, "getpeername"); }
