// Run-time functions that read lines: the line reader behind readline,
// rcatline and glob, the readline op itself, quoted execution (backtick)
// and the glob op.
#include <cstring>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpp.h"
#include "prxproc.h"
#include "prxscope.h"

namespace {

// Backtick's private bits: the stream mode.
constexpr uint8_t OPpOPEN_IN_RAW = 0x10;
constexpr uint8_t OPpOPEN_IN_CRLF = 0x20;
// Flags of the iteration overload: unary, no right operand.
constexpr int32_t ITER_FLAGS = AMGf_noright | AMGf_unary;
// The characters that make an expanded name a pattern still to match.
constexpr const char* GLOB_WILDCARDS = "$&*(){}[]'\";\\|?<>~`";
constexpr uint64_t RECORD_START = 80;

// Makes the target undefined: its value flags go, magic and read-only stay.
void make_undefined(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVf_ROK)
        sv_drop_reference(gcb, sv);
    if (sv->flags & SVf_OOK)
        sv_undo_offset(gcb, sv);
    sv->flags &= ~(SV_VALUE_FLAGS | SVf_OOK);
    pp_set_magic(gcb, sv);
}

// Gives the spare room of a string buffer back to the pool.
void shrink_buffer(PERLGCB* gcb, SV* sv, uint64_t size)
{
    if (sv_type(sv) < SVt_PV || (sv->flags & SVf_OOK) || !sv_pv(sv) || size <= sv_cur(sv))
        return;
    sv_pv(sv) = static_cast<char*>(pool_realloc(gcb, sv_pv(sv), size));
    sv_len(sv) = size;
}

void taint_record(PERLGCB* gcb, PVIO* b, SV* sv)
{
    if (b && (b->ioflags & IOf_UNTAINT))
        return;
    gcb->tainted = 1;
    if (gcb->tainting)
        sv_mark_tainted(gcb, sv);
}

// Whether an expanded name still holds a wildcard: it then names nothing
// unless it stats.
bool unmatched_name(PERLGCB* gcb, SV* sv)
{
    uint64_t len = 0;
    const char* p = sv_text(gcb, sv, &len);
    for (uint64_t i = 0; i < len; i++) {
        uint8_t c = static_cast<uint8_t>(p[i]);
        if (host_is_alnum(c) || !c || !std::strchr(GLOB_WILDCARDS, c))
            continue;
        return prx_stat(p, &gcb->stat_buf) < 0;
    }
    return false;
}

// The reader: from the last-read glob into the target (scalar context) or
// new temporaries (list context).
OP* read_lines(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t type = op->op_type;
    SV** sp = pp_sp(gcb);
    SV* targ;
    if (op->op_flags & OPf_STACKED)
        targ = *sp--;
    else
        targ = op->op_targ ? pp_pad_target(gcb, op) : &gcb->sv_undef;
    pp_put_sp(gcb, sp);
    uint8_t ctx = pp_context(gcb, op);
    GV* gv = gcb->last_input_glob;

    MAGIC* mg = gv && sv_is_glob(as_sv(gv)) && (as_sv(gv)->flags & SVs_RMG) ? mg_find_by_type(gcb, as_sv(gv), 'q')
                                                                              : nullptr;
    if (mg) {
        int32_t at = static_cast<int32_t>(sp - gcb->arg_base) + 1;
        push_mark(gcb, sp);
        pp_push_one(gcb, sp, tie_object(gcb, as_sv(gv), mg));
        scope_enter(gcb);
        interp_call_method_by_name(gcb, "READLINE", pp_call_flags(ctx));
        scope_leave(gcb);
        if (ctx == CTX_SCALAR && gcb->arg_sp >= gcb->arg_base + at) {
            SV* result = gcb->arg_base[at];
            if (result != targ) {
                uint32_t temp = result->flags & SVs_TEMP;
                result->flags &= ~SVs_TEMP;
                sv_assign(gcb, targ, result);
                result->flags |= temp;
                gcb->arg_base[at] = targ;
            }
            pp_set_magic(gcb, targ);
        }
        return op->op_next;
    }

    IO* io = gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;
    PVIO* b = io ? io_body(io) : nullptr;
    PrxStream fp = b ? b->ifp : 0;
    // Standard input opened for an ARGV walk over no files: it has no
    // stream here, which is the end of the input, not a closed handle.
    bool opened_stdin = false;
    if (!fp) {
        if (b && (b->ioflags & IOf_ARGV)) {
            if (b->ioflags & IOf_START) {
                b->lines = 0;
                AV* av = gv_gp(gv_ensure_array(gcb, gv))->gp_av;
                if (av_highest_index(gcb, av) < 0) {
                    pp_argv_open_stdin(gcb, gv);
                    fp = b->ifp;
                    opened_stdin = true;
                }
            }
            if (!opened_stdin) {
                fp = do_next_argv_file(gcb, gv);
                if (!fp)
                    do_close_glob(gcb, gv, 0);
            }
        } else if (type == OP_GLOB) {
            // Expansion would run a shell command built from the pattern
            // text; no process is started: the pattern is dropped and the
            // glob reads nothing.
            sp = pp_sp(gcb);
            pp_put_sp(gcb, sp - 1);
        }
    } else if (type == OP_GLOB) {
        sp = pp_sp(gcb);
        pp_put_sp(gcb, sp - 1);
    } else if (warn_enabled(gcb, WARN_IO) && (b->type == '>' || fp == PRX_STDOUT || fp == PRX_STDERR)) {
        pp_warn_output_only(gcb, as_sv(gv));
    }

    if (!fp) {
        if (!opened_stdin && (warn_enabled(gcb, WARN_GLOB) || warn_enabled(gcb, WARN_CLOSED)) &&
            (!b || !(b->ioflags & IOf_START))) {
            if (type == OP_GLOB)
                category_warning(gcb, WARN_GLOB, "glob failed (can't start child: %s)",
                                 prx_strerror(gcb->errno_cell));
            else
                warn_bad_filehandle(gcb, gv, io, type);
        }
        if (ctx == CTX_SCALAR) {
            make_undefined(gcb, targ);
            pp_push_one(gcb, pp_sp(gcb), targ);
        }
        return op->op_next;
    }

    SV* sv;
    int32_t offset = 0;
    bool fresh = false;
    if (ctx == CTX_SCALAR) {
        sv = targ;
        if (sv->flags & SVf_ROK)
            sv_drop_reference(gcb, sv);
        if (sv_type(sv) < SVt_PV)
            sv_upgrade_body(gcb, sv, SVt_PV);
        if (!sv_len(sv)) {
            sv_grow_buffer(gcb, sv, RECORD_START);
            fresh = true;
        }
        if (type == OP_RCATLINE) {
            if (!(sv->flags & SVf_POK)) {
                if (sv_ok(sv)) {
                    uint64_t n = 0;
                    sv_force_string(gcb, sv, &n);
                } else {
                    sv_set_bytes(gcb, sv, "", 0);
                }
            }
            offset = static_cast<int32_t>(sv_cur(sv));
        }
    } else {
        sv = sv_make_temporary(gcb, sv_new_undef(gcb, RECORD_START));
    }

    for (;;) {
        if (!sv_read_record(gcb, sv, fp, offset)) {
            // A slurped empty file is one empty record, once.
            bool empty_slurp = type != OP_GLOB && ctx == CTX_SCALAR && sv_cur(sv) == static_cast<uint64_t>(offset) &&
                               !(gcb->rs && sv_ok(gcb->rs)) && !(b->ioflags & IOf_NOLINE);
            if (!empty_slurp) {
                if (b->ioflags & IOf_ARGV) {
                    fp = do_next_argv_file(gcb, gv);
                    if (fp)
                        continue;
                    do_close_glob(gcb, gv, 0);
                } else if (type == OP_GLOB) {
                    if (!do_close_glob(gcb, gv, 0) && warn_enabled(gcb, WARN_GLOB))
                        category_warning(gcb, WARN_GLOB, "glob failed (child exited with status %d%s)",
                                         gcb->child_status >> 8, (gcb->child_status & 0x80) ? ", core dumped" : "");
                }
                if (ctx == CTX_SCALAR) {
                    make_undefined(gcb, targ);
                    pp_push_one(gcb, pp_sp(gcb), targ);
                }
                taint_record(gcb, b, sv);
                return op->op_next;
            }
        }
        taint_record(gcb, b, sv);
        b->lines++;
        b->ioflags |= IOf_NOLINE;
        pp_set_magic(gcb, sv);
        pp_push_one(gcb, pp_sp(gcb), sv);
        if (type == OP_GLOB) {
            uint64_t rslen = 0;
            const char* rs = gcb->rs && sv_ok(gcb->rs) ? sv_text(gcb, gcb->rs, &rslen) : nullptr;
            if (sv_cur(sv) && rslen && sv_pv(sv)[sv_cur(sv) - 1] == rs[0])
                sv_pv(sv)[--sv_cur(sv)] = '\0';
            if (unmatched_name(gcb, sv)) {
                pp_put_sp(gcb, pp_sp(gcb) - 1);
                continue;
            }
        }
        if (ctx != CTX_SCALAR) {
            if (sv_len(sv) - sv_cur(sv) > 20)
                shrink_buffer(gcb, sv, sv_cur(sv) + 1);
            sv = sv_make_temporary(gcb, sv_new_undef(gcb, RECORD_START));
            offset = 0;
            continue;
        }
        if (fresh && sv_len(sv) - sv_cur(sv) > RECORD_START)
            shrink_buffer(gcb, sv, sv_cur(sv) < 60 ? RECORD_START : sv_cur(sv) + 40);
        return op->op_next;
    }
}

}  // namespace

OP* io_readline(PERLGCB* gcb) { return read_lines(gcb); }

OP* pp_readline(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* operand = *sp;
    if (gcb->overload_generation && (operand->flags & SVf_OVERLOAD)) {
        SV* result = overload_call_operator(gcb, operand, &gcb->sv_undef, AMG_ITER, ITER_FLAGS);
        if (result) {
            SV* targ = (op->op_flags & OPf_STACKED) ? sp[-1] : pp_pad_target(gcb, op);
            sv_assign(gcb, targ, result);
            pp_set_magic(gcb, targ);
            sp = pp_sp(gcb);
            *sp = targ;
            return op->op_next;
        }
    }
    sp--;
    pp_put_sp(gcb, sp);
    if (sv_is_glob(operand)) {
        gcb->last_input_glob = sv_as<GV>(operand);
    } else if ((operand->flags & SVf_ROK) && sv_is_glob(sv_rv(operand))) {
        gcb->last_input_glob = sv_as<GV>(sv_rv(operand));
    } else {
        pp_push_one(gcb, sp, operand);
        pp_rv2gv(gcb);
        sp = pp_sp(gcb);
        gcb->last_input_glob = sv_is_glob(*sp) ? sv_as<GV>(*sp) : nullptr;
        pp_put_sp(gcb, sp - 1);
        gcb->op = op;
    }
    return read_lines(gcb);
}

// The op carries the glob of the handle it reads.
OP* pp_rcatline(PERLGCB* gcb)
{
    gcb->last_input_glob = sv_as<GV>(op_value_sv(gcb->op));
    return read_lines(gcb);
}

OP* pp_glob(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* handle = sp[0];
    SV* pattern = sp[-1];
    if (gcb->overload_generation && (pattern->flags & SVf_OVERLOAD)) {
        SV* result = overload_call_operator(gcb, pattern, &gcb->sv_undef, AMG_ITER, ITER_FLAGS);
        if (result) {
            SV* targ = (op->op_flags & OPf_STACKED) ? pattern : pp_pad_target(gcb, op);
            sv_assign(gcb, targ, result);
            pp_set_magic(gcb, targ);
            sp = pp_sp(gcb) - 1;
            *sp = targ;
            pp_put_sp(gcb, sp);
            return op->op_next;
        }
    }
    scope_enter(gcb);
    if (gcb->tainting) {
        gcb->tainted = 1;
        taint_check_dependency(gcb, "Insecure dependency in %s%s", "glob");
    }
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->last_input_glob));
    gcb->last_input_glob = sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    pp_put_sp(gcb, pp_sp(gcb) - 1);
    save_push_value_ptr(gcb, &gcb->rs);
    gcb->rs = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "\n", 1));
    OP* next = read_lines(gcb);
    scope_leave(gcb);
    return next;
}

OP* pp_backtick(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* cmd = *sp;
    uint64_t len = 0;
    const char* text = sv_text(gcb, cmd, &len);
    uint8_t ctx = pp_context(gcb, op);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "``");
    const char* mode = (op->op_private & OPpOPEN_IN_RAW) ? "rb" : (op->op_private & OPpOPEN_IN_CRLF) ? "rt" : "r";
    char* command = pool_strndup(gcb, text, static_cast<int32_t>(len));
    PrxStream fp = pipe_open(gcb, command, mode);
    pool_free(gcb, command);
    sp = pp_sp(gcb);
    if (!fp) {
        gcb->child_status = -1;
        if (ctx == CTX_SCALAR)
            *sp = &gcb->sv_undef;
        else
            pp_put_sp(gcb, sp - 1);
        return op->op_next;
    }
    if (ctx == CTX_VOID) {
        char block[256];
        while (prx_fread(block, 1, sizeof block, fp) > 0) {
        }
        pp_put_sp(gcb, sp - 1);
    } else if (ctx == CTX_SCALAR) {
        SV* targ = pp_pad_target(gcb, op);
        sv_set_bytes(gcb, targ, "", 0);
        while (sv_read_record(gcb, targ, fp, static_cast<int32_t>(sv_cur(targ)))) {
        }
        if (gcb->tainting)
            sv_mark_tainted(gcb, targ);
        sp = pp_sp(gcb);
        *sp = targ;
    } else {
        pp_put_sp(gcb, sp - 1);
        for (;;) {
            SV* sv = sv_new_undef(gcb, 79);
            if (!sv_read_record(gcb, sv, fp, 0)) {
                sv_release(gcb, sv);
                break;
            }
            sv_make_temporary(gcb, sv);
            if (sv_len(sv) - sv_cur(sv) > 20)
                shrink_buffer(gcb, sv, sv_cur(sv) + 1);
            if (gcb->tainting)
                sv_mark_tainted(gcb, sv);
            pp_push_one(gcb, pp_sp(gcb), sv);
        }
    }
    int32_t status = pipe_close(gcb, fp);
    gcb->child_status = status == -1 ? -1 : (status & 0xFFFF);
    gcb->tainted = 1;
    return op->op_next;
}
