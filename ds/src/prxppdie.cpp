// die and warn: the message value from the operands, the rules for an empty
// message (the pending error in $@ extended, an exception object's PROPAGATE
// method, the fixed fallback texts), and the hand-over to the error path.
#include <cstring>

#include "prxcall.h"
#include "prxgv.h"
#include "prxio.h"
#include "prxpp.h"

namespace {

SV* error_value(PERLGCB* gcb)
{
    SV* err = gv_gp(gcb->error_glob)->gp_sv;
    if (sv_type(err) < SVt_PV)
        sv_upgrade_body(gcb, err, SVt_PV);
    return err;
}

// The operands of die and warn as one message value. Several (or no)
// operands are joined into the op's target and the stack ends one above the
// mark; *joined tells which way it went.
SV* message_operands(PERLGCB* gcb, bool* joined)
{
    int32_t mark = pop_mark(gcb);
    SV** sp = pp_sp(gcb);
    SV** markp = gcb->arg_base + mark;
    if (sp - markp == 1) {
        *joined = false;
        return *sp;
    }
    SV* targ = pp_pad_target(gcb, gcb->op);
    do_join_list(gcb, targ, &gcb->sv_no, markp, sp);
    sp = pp_extend(gcb, markp, 1) + 1;
    *sp = targ;
    pp_put_sp(gcb, sp);
    *joined = true;
    return targ;
}

// Calls $@->PROPAGATE(file, line) for the current statement and makes its
// result the new $@. The call keeps the pending error and traps its own.
void propagate_object(PERLGCB* gcb, SV* err)
{
    HV* stash = sv_stash(sv_rv(err));
    GV* gv = gv_find_method_autoload_flag(gcb, stash, "PROPAGATE", 1);
    if (!gv || !sv_is_glob(as_sv(gv)) || !gv_gp(gv)->gp_cv)
        return;
    COP* cop = gcb->current_statement;
    const char* file = gv_statement_file(gcb, cop);
    SV* filesv = file ? sv_new_from_bytes(gcb, file, std::strlen(file)) : sv_new_undef(gcb, 0);
    sv_make_temporary(gcb, filesv);
    SV* linesv = sv_make_temporary(gcb, sv_new_from_uint(gcb, cop ? cop->cop_line : 0));
    SV** sp = pp_sp(gcb);
    push_mark(gcb, sp);
    sp = pp_extend(gcb, sp, 3);
    *++sp = err;
    *++sp = filesv;
    *++sp = linesv;
    pp_put_sp(gcb, sp);
    interp_call_value(gcb, gv_gp(gv)->gp_cv, CALL_EVAL | CALL_KEEPERR);
    sp = pp_sp(gcb);
    SV* result = *sp;
    pp_put_sp(gcb, sp - 1);
    sv_assign(gcb, err, result);
}

}  // namespace

OP* pp_die(PERLGCB* gcb)
{
    bool joined = false;
    SV* msg = message_operands(gcb, &joined);
    uint64_t len = 0;
    const char* text = (msg->flags & SVf_ROK) ? nullptr : sv_text(gcb, msg, &len);
    if (text && len > 0)
        return die_error(gcb, "%_", msg);

    SV* err = error_value(gcb);
    SV* tested = joined ? err : msg;
    if (tested->flags & SVf_ROK) {
        if (!joined) {
            if (msg != err)
                sv_assign(gcb, err, msg);
        } else if (sv_is_object_ref(gcb, err)) {
            propagate_object(gcb, err);
        }
        // No message: the die hook gets $@ itself and the unwinding keeps it.
        return die_error(gcb, nullptr);
    }
    if ((err->flags & SVf_POK) && sv_cur(err) > 0)
        sv_append_cstring(gcb, err, "\t...propagated");
    msg = err;
    text = sv_text(gcb, msg, &len);
    if (!text || len == 0)
        msg = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "Died", 4));
    return die_error(gcb, "%_", msg);
}

OP* pp_warn(PERLGCB* gcb)
{
    bool joined = false;
    SV* msg = message_operands(gcb, &joined);
    uint64_t len = 0;
    const char* text = sv_text(gcb, msg, &len);
    if (!text || len == 0) {
        SV* err = error_value(gcb);
        if ((err->flags & SVf_POK) && sv_cur(err) > 0)
            sv_append_cstring(gcb, err, "\t...caught");
        msg = err;
        text = sv_text(gcb, msg, &len);
    }
    if (!text || len == 0)
        msg = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "Warning: something's wrong", 26));
    warning(gcb, "%_", msg);
    *pp_sp(gcb) = &gcb->sv_yes;
    return gcb->op->op_next;
}
