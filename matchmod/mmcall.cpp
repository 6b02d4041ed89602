// The PRXMATCH callback: one call per evaluation of PRXMATCH(pattern, source)
// with the host's per-call record. A text pattern is compiled through rexhost
// and its call-site record kept or released; a numeric pattern names a
// session slot. The result is the 1-based position of the first match, 0, or
// missing with a failure status.
#include <cstring>

#include "matchmod/mm.h"
#include "matchmod/mmsession.h"

namespace {

constexpr const char* FUNCTION_NAME = "PRXMATCH";
constexpr char REXHOST_NAME[] = "REXHOST ";
constexpr int32_t LOAD_MODE = 2;
constexpr uint32_t MATCH_STATUS_MASK = 0x803FFFFFu;   // bits 22 to 29 cleared

bool no_match(uint32_t status) { return (status & MATCH_STATUS_MASK) == ST_NO_MATCH; }

// Call-site kinds whose records may stay on the call site.
bool kind_keeps(uint8_t kind) { return kind == 'h' || kind == 0x88 || kind == 'X' || kind == 'H'; }

uint32_t map_compile_status(uint32_t status, XkFuncCall* call)
{
    switch (status) {
    case ST_NO_MEMORY:
        return ST_PRX_NO_MEMORY;
    case ST_TASK_SWITCH:
        return ST_PRX_FAILED;
    case ST_NOT_COMPILED:
        call->err_flags |= XKERR_FLAGGED;
        return ST_PRX_MISSING;
    default:
        return ST_PRX_BAD_ID;
    }
}

// Lengths of the interpreter's captured output and error text.
int32_t captured_out(const PERLGCB* interp)
{
    return interp ? reinterpret_cast<const PrxGcbHead*>(interp)->out.len : 0;
}
int32_t captured_err(const PERLGCB* interp)
{
    return interp ? reinterpret_cast<const PrxGcbHead*>(interp)->err.len : 0;
}

// Releases a record that is not to stay; a record the call site still names
// is taken off it first.
void release(XkFuncCall* call, PrxCompiled* rec)
{
    if (call->cached == rec)
        call->cached = nullptr;
    rexhost_release(call->task, rec);
}

uint32_t call_body(XkFuncCall* call, double* result)
{
    host_task* task = call->task;
    PrxCompiled* rec = nullptr;
    bool release_after = false;

    if (call->arg_flags & XKARG_NUMERIC) {
        // Pattern id: a slot of the session; its record is the session's.
        if (!call->arg1 || xk_number_missing(call->arg1->number)) {
            xkIssueMessage(task, MSG_TABLE, MSG_MISSING_ARG, 1, FUNCTION_NAME);
            xkIssueMessage(task, MSG_TABLE, MSG_BAD_ARG, 1, FUNCTION_NAME);
            call->err_flags |= XKERR_FLAGGED;
            return ST_PRX_MISSING;
        }
        PrxSlot* slot = prx_slot_find_id(task, call);
        if (!slot || !slot->compiled) {
            xkIssueMessage(task, MSG_TABLE, MSG_BAD_ARG, 1, FUNCTION_NAME);
            return ST_PRX_BAD_ID;
        }
        rec = slot->compiled;
        rec->failures = 0;
    } else {
        rec = static_cast<PrxCompiled*>(call->cached);
        if (!rec) {
            host_pool* pool = task->allocator;
            rec = static_cast<PrxCompiled*>(pool->alloc(pool, sizeof(PrxCompiled), POOL_ALLOC_ZERO6));
            if (!rec)
                return ST_PRX_NO_MEMORY;
        }
        if (!rec->pattern) {
            const XkValue* pat = call->arg1;
            int32_t constant = (call->arg_flags & XKARG_CONSTANT) ? 1 : 0;
            xkLoadModule(REXHOST_INTERFACE_ID, REXHOST_NAME, LOAD_MODE);
            uint32_t status = rexhost_compile(rec, task, pat ? pat->text : nullptr,
                                              pat ? static_cast<int32_t>(pat->length) : 0, FUNCTION_NAME, constant);
            // Decided before the status is looked at: a failed compile of a
            // constant argument stays on the call site with its count.
            bool once = rec->pattern && (rec->pattern->analysis_flags & RE_KEEP_ONCE);
            if ((once || constant) && kind_keeps(call->kind))
                call->cached = rec;
            else
                release_after = true;
            if (status != 0) {
                uint32_t mapped = map_compile_status(status, call);
                if (release_after)
                    release(call, rec);
                return mapped;
            }
        }
    }

    // Match. A record without a bridge block reaches the engine with no
    // interpreter, which the engine answers with 0x8017113C.
    PERLGCB* interp = rec->bridge ? rec->bridge->interp : nullptr;
    const XkValue* src = call->arg2;
    const char* start = src ? src->text : nullptr;
    const char* end = start ? start + src->length : nullptr;
    uint32_t status = rexhost_match(interp, task, rec->pattern, start, end, start, 0, 0);
    rec->last_status = status;
    if (status == ST_GUARD) {
        xkPutLog("ERROR: Catastrophic backtracking detected.");
        status = ST_PRX_FAILED;
    } else if (status == 0) {
        if (captured_out(interp) > 0)
            rexhost_report_notes(task, interp, FUNCTION_NAME);
        int32_t position = static_cast<int32_t>(static_cast<uint32_t>(rec->pattern->start_offsets[0]) + 1u);
        *result = static_cast<double>(position);
    } else {
        if (!no_match(status))
            xkReportStatus(task, status);
        if (captured_out(interp) > 0)
            rexhost_report_notes(task, interp, FUNCTION_NAME);
        if (captured_err(interp) > 0) {
            rexhost_report_errors(task, interp, FUNCTION_NAME);
            status = ST_PRX_FAILED;
        } else {
            *result = 0;
        }
    }
    if (status != 0 && !no_match(status)) {
        if (rec->failures == 4)
            xkIssueMessage(task, MSG_TABLE, MSG_FIFTH_FAILURE, FUNCTION_NAME);
        rec->failures++;
    }
    if (release_after)
        release(call, rec);
    return status == ST_NO_MATCH ? 0 : status;
}

}  // namespace

extern "C" uint32_t prxmatch_call(XkFuncCall* call, double* result, void*, void*)
{
    uint64_t missing = HOST_MISSING_BITS;
    std::memcpy(result, &missing, sizeof missing);
    try {
        return call_body(call, result);
    } catch (...) {
    }
    return ST_PRX_FAILED;
}
