// Run-time functions of formatted output: write (enterwrite, and leavewrite
// at the end of a format's body, with paging and the top-of-page format) and
// printf.
#include <cstring>
#include <utility>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxio.h"
#include "prxlibc.h"
#include "prxpp.h"
#include "prxscope.h"

namespace {

// Code flag of a closure prototype.
constexpr uint16_t CVf_CLONE = 0x1;
// Lines left on a page that never ends.
constexpr int32_t LINES_NO_PAGING = 100000000;

int32_t op_argc(const OP* op) { return op->op_private & 15; }

PVCV* code_body(CV* cv) { return static_cast<PVCV*>(cv->any); }
int32_t& target_lines(SV* target) { return static_cast<PVFM*>(target->any)->lines; }

SV* new_format_target(PERLGCB* gcb)
{
    SV* sv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, sv, SVt_PVFM);
    sv_set_bytes(gcb, sv, "", 0);
    return sv;
}

// The body and top targets, made on first use.
void ensure_format_targets(PERLGCB* gcb)
{
    if (!gcb->format_body_target)
        gcb->format_body_target = new_format_target(gcb);
    if (!gcb->format_top_target)
        gcb->format_top_target = new_format_target(gcb);
    if (!gcb->format_target)
        gcb->format_target = gcb->format_body_target;
}

std::pair<const char*, uint64_t> qualified(PERLGCB* gcb, GV* gv)
{
    SV* name = sv_new_temporary(gcb);
    gv_qualified_name(gcb, name, gv, nullptr, 0);
    uint64_t len = 0;
    const char* text = (name->flags & SVf_POK) ? sv_text(gcb, name, &len) : "";
    return {text, len};
}

// A closure prototype runs as a fresh clone.
CV* runnable_format(PERLGCB* gcb, CV* cv)
{
    if (code_body(cv)->cvflags & CVf_CLONE)
        cv = sv_as<CV>(sv_make_temporary(gcb, as_sv(cv_clone(gcb, cv))));
    return cv;
}

// Starts a format: a scope with its own temporaries floor, the return op on
// the return stack, a format frame (holding one reference on the default
// output handle it replaces), the format's pad, and the handle as the
// default output. The next op is the format's start.
OP* format_start(PERLGCB* gcb, CV* cv, GV* gv, OP* retop)
{
    uint8_t ctx = pp_context(gcb, gcb->op);
    scope_enter(gcb);
    save_push_int(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;
    return_stack_push(gcb, retop);
    int32_t ix = cx_next_index(gcb);
    gcb->current_level->si_cxix = ix;
    cx_frame* cx = cx_current(gcb);
    std::memset(cx, 0, sizeof *cx);
    cx->type = CXt_FORMAT;
    cx->blk.oldsp = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    cx->blk.oldcop = gcb->current_statement;
    cx->blk.oldretsp = gcb->return_ix;
    cx->blk.oldmarksp = static_cast<int32_t>(gcb->mark_sp - gcb->mark_stack);
    cx->blk.oldscopesp = gcb->scope_ix;
    cx->blk.oldpm = gcb->last_match_op;
    cx->blk.gimme = ctx;
    cx->sub.cv = cv;
    cx->sub.gv = gv;
    cx->sub.dfoutgv = sv_as<GV>(sv_refinc(as_sv(gcb->default_output_glob)));
    cx->sub.hasargs = 0;
    cx->sub.oldcurpad = gcb->curpad;
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&gcb->curpad));
    AV* padlist = code_body(cv)->padlist;
    if (padlist) {
        SV** pads = av_body(padlist)->array;
        gcb->curpad = av_body(sv_as<AV>(pads[1]))->array;
    }
    io_select_default_output(gcb, gv);
    return code_body(cv)->start;
}

// Writes the text to the stream; true when it was written and the stream
// shows no error.
bool write_text(PrxStream fp, const char* text, uint64_t len)
{
    if (len && prx_fwrite(text, 1, static_cast<uint32_t>(len), fp) == 0)
        return false;
    return prx_ferror(fp) == 0;
}

void warn_input_only(PERLGCB* gcb, GV* gv, IO* io, int32_t optype)
{
    if (!(warn_enabled(gcb, WARN_CLOSED) || warn_enabled(gcb, WARN_IO)))
        return;
    if (io && io_body(io)->ifp) {
        auto [text, len] = qualified(gcb, gv);
        if (len)
            category_warning(gcb, WARN_IO, "Filehandle %s opened only for input", text);
        else
            category_warning(gcb, WARN_IO, "Filehandle opened only for input");
    } else {
        warn_bad_filehandle(gcb, gv, io, optype);
    }
}

}  // namespace

OP* pp_enterwrite(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    GV* gv = nullptr;
    if (op_argc(op)) {
        SV* top = *sp--;
        if (top && sv_is_glob(top))
            gv = sv_as<GV>(top);
        else if (!top)
            gv = gcb->default_output_glob;
    } else {
        gv = gcb->default_output_glob;
    }
    sp = pp_extend(gcb, sp, 1);
    pp_put_sp(gcb, sp);
    IO* io = gv && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;
    if (!io) {
        *++sp = &gcb->sv_no;
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    PVIO* b = io_body(io);
    GV* fgv = b->fmt_gv ? b->fmt_gv : gv;
    CV* cv = gv_gp(fgv)->gp_form;
    if (!cv) {
        auto [text, len] = qualified(gcb, fgv);
        if (len)
            return die_error(gcb, "Undefined format \"%s\" called", text);
        return die_error(gcb, "Not a format reference");
    }
    cv = runnable_format(gcb, cv);
    b->ioflags &= static_cast<uint8_t>(~IOf_DIDTOP);
    ensure_format_targets(gcb);
    return format_start(gcb, cv, gv, op->op_next);
}

OP* pp_leavewrite(PERLGCB* gcb)
{
    OP* op = gcb->op;
    ensure_format_targets(gcb);
    cx_frame* cx = cx_current(gcb);
    GV* gv = cx->sub.gv;
    IO* io = gv_gp(gv)->gp_io;
    PVIO* b = io_body(io);
    PrxStream ofp = b->ofp;
    SV* target = gcb->format_target;

    if (b->lines_left < target_lines(target) && target != gcb->format_top_target) {
        bool have_top = true;
        if (!b->top_gv) {
            if (!b->top_name) {
                if (!b->fmt_name)
                    b->fmt_name = pool_strdup(gcb, gv_body(gv)->name ? gv_body(gv)->name : "");
                SV* topname = sv_make_temporary(gcb, sv_new_formatted(gcb, "%s_TOP", b->fmt_name));
                GV* named = gv_fetch_by_name(gcb, sv_pv(topname), 0, SVt_PVFM);
                if ((named && gv_gp(named)->gp_form) || !gv_fetch_by_name(gcb, "top", 0, SVt_PVFM))
                    b->top_name = pool_strdup(gcb, sv_pv(topname));
                else
                    b->top_name = pool_strdup(gcb, "top");
            }
            GV* topgv = gv_fetch_by_name(gcb, b->top_name, 0, SVt_PVFM);
            if (!topgv || !gv_gp(topgv)->gp_form) {
                b->lines_left = LINES_NO_PAGING;
                have_top = false;
            } else {
                b->top_gv = topgv;
            }
        }
        if (have_top && (b->ioflags & IOf_DIDTOP)) {
            // The body does not fit a page even after a top of page: the
            // lines that fit go out now.
            if (b->lines_left <= 0) {
                have_top = false;
            } else {
                const char* s = sv_pv(target);
                const char* end = s + sv_cur(target);
                int32_t n = b->lines_left;
                while (n > 0 && s < end) {
                    const char* nl = static_cast<const char*>(std::memchr(s, '\n', static_cast<size_t>(end - s)));
                    if (!nl)
                        break;
                    s = nl + 1;
                    n--;
                }
                if (n == 0) {
                    if (ofp)
                        write_text(ofp, sv_pv(target), static_cast<uint64_t>(s - sv_pv(target)));
                    sv_chop_front(gcb, target, s);
                    target_lines(target) -= b->lines_left;
                }
            }
        }
        if (have_top) {
            if (b->lines_left >= 0 && b->page > 0 && ofp && gcb->formfeed_value) {
                uint64_t fflen = 0;
                const char* ff = sv_text(gcb, gcb->formfeed_value, &fflen);
                write_text(ofp, ff, fflen);
            }
            b->lines_left = b->page_len;
            b->page++;
            gcb->format_target = gcb->format_top_target;
            b->ioflags |= IOf_DIDTOP;
            GV* fgv = b->top_gv;
            if (!fgv)
                return die_error(gcb, "bad top format reference");
            CV* cv = gv_gp(fgv)->gp_form;
            if (!cv) {
                auto [text, len] = qualified(gcb, fgv);
                (void)len;
                return die_error(gcb, "Undefined top format \"%s\" called", text);
            }
            return format_start(gcb, runnable_format(gcb, cv), gv, op);
        }
    }

    // Leave the format.
    gcb->current_statement = cx->blk.oldcop;
    gcb->mark_sp = gcb->mark_stack + cx->blk.oldmarksp;
    gcb->scope_ix = cx->blk.oldscopesp;
    gcb->return_ix = cx->blk.oldretsp;
    gcb->last_match_op = cx->blk.oldpm;
    GV* saved = cx->sub.dfoutgv;
    gcb->arg_sp = gcb->arg_base + cx->blk.oldsp;
    gcb->current_level->si_cxix--;
    io_select_default_output(gcb, saved);
    if (saved)
        sv_release(gcb, as_sv(saved));
    scope_leave(gcb);

    SV* result;
    ofp = b->ofp;
    if (!ofp) {
        warn_input_only(gcb, gv, io, op->op_type);
        result = &gcb->sv_no;
    } else {
        b->lines_left -= target_lines(target);
        if (b->lines_left < 0 && warn_enabled(gcb, WARN_IO))
            category_warning(gcb, WARN_IO, "page overflow");
        if (write_text(ofp, sv_pv(target), sv_cur(target))) {
            // Written: the text goes, so that the next write does not put
            // it out again.
            target_lines(target) = 0;
            sv_cur(target) = 0;
            sv_pv(target)[0] = '\0';
            if (b->ioflags & IOf_FLUSH)
                prx_return_zero(ofp);
            result = &gcb->sv_yes;
        } else {
            result = &gcb->sv_no;
        }
    }
    pp_push_one(gcb, gcb->arg_sp, result);
    gcb->format_target = gcb->format_body_target;
    return return_stack_pop(gcb);
}

OP* pp_prtf(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t markix = top_mark(gcb);
    bool stacked = op->op_flags & OPf_STACKED;
    SV* handle = stacked ? gcb->arg_base[markix + 1] : as_sv(gcb->default_output_glob);
    GV* gv = handle && sv_is_glob(handle) ? sv_as<GV>(handle) : nullptr;
    MAGIC* mg = gv && (handle->flags & SVs_RMG) ? mg_find_by_type(gcb, handle, 'q') : nullptr;
    if (mg) {
        SV** sp = pp_sp(gcb);
        if (!stacked) {
            sp = pp_extend(gcb, sp, 1);
            SV** first = gcb->arg_base + markix + 1;
            std::memmove(first + 1, first, static_cast<size_t>(sp - first + 1) * sizeof(SV*));
            pp_put_sp(gcb, sp + 1);
        }
        gcb->arg_base[markix + 1] = tie_object(gcb, handle, mg);
        scope_enter(gcb);
        interp_call_method_by_name(gcb, "PRINTF", 0);
        scope_leave(gcb);
        SV* result = gcb->arg_sp > gcb->arg_base + markix ? *gcb->arg_sp : &gcb->sv_undef;
        gcb->arg_base[markix + 1] = result;
        pp_put_sp(gcb, gcb->arg_base + markix + 1);
        return op->op_next;
    }
    pop_mark(gcb);
    SV** first = gcb->arg_base + markix + (stacked ? 2 : 1);
    int32_t count = static_cast<int32_t>(pp_sp(gcb) - first) + 1;
    IO* io = gv && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;
    SV* sv = sv_new_undef(gcb, 0);
    SV* result = &gcb->sv_undef;
    if (!io) {
        if (warn_enabled(gcb, WARN_UNOPENED) || warn_enabled(gcb, WARN_CLOSED))
            warn_bad_filehandle(gcb, gv, nullptr, op->op_type);
        gcb->errno_cell = 2;
    } else if (!io_body(io)->ofp) {
        warn_input_only(gcb, gv, io, op->op_type);
        gcb->errno_cell = 2;
    } else {
        PrxStream ofp = io_body(io)->ofp;
        if (count > 0)
            do_format_list(gcb, sv, count, first);
        else
            sv_set_bytes(gcb, sv, "", 0);
        if (!do_print_value(gcb, sv, ofp))
            result = &gcb->sv_undef;
        else if ((io_body(io)->ioflags & IOf_FLUSH) && prx_return_zero(ofp) == -1)
            result = &gcb->sv_undef;
        else
            result = &gcb->sv_yes;
    }
    sv_release(gcb, sv);
    SV** sp = pp_extend(gcb, gcb->arg_base + markix, 1) + 1;
    *sp = result;
    pp_put_sp(gcb, sp);
    return op->op_next;
}
