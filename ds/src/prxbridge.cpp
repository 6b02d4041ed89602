// The bridge's life entries: a call site's pattern compiled and released,
// the task's interpreter made and taken down, and the entries that evaluate
// text, read scalars and call subs in an interpreter a caller holds.
#include <cstring>

#include "prxbridge.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxlibc.h"
#include "prxmsg.h"
#include "prxperl.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxtbl.h"

namespace {

constexpr const char BRIDGE_NAME[] = "PRXGCB";
constexpr int32_t BRIDGE_NAME_LEN = 6;
constexpr uint32_t BRIDGE_FLAGS = 0x2004;
constexpr int32_t REPORTING_LIMIT = 4;  // failures after which a call site goes quiet

// The command line of every bridge interpreter: an empty program name, -e
// and the program 0. The interpreter keeps the vector, so it is static.
constinit char arg_name[] = "";
constinit char arg_switch[] = "-e";
constinit char arg_program[] = "0";
constinit char* startup_args[] = {arg_name, arg_switch, arg_program, nullptr};

PRXGCB* bridge_block_of(host_task* task)
{
    void* block = nullptr;
    if (xkNamedBlockGet(task, 2, BRIDGE_NAME, BRIDGE_NAME_LEN, &block, 0) != 0)
        return nullptr;
    return static_cast<PRXGCB*>(block);
}

// Drops one reference of the task's bridge block; the last one destroys the
// interpreter, frees the block and deletes its name.
void bridge_block_release(host_task* task, PRXGCB* block)
{
    if (--block->refcnt > 0)
        return;
    rexhost_interp_destroy(block->interp, task);
    host_pool_free(task->allocator, block, 0, POOL_FREE);
    xkNamedBlockSet(task, 1, BRIDGE_NAME, BRIDGE_NAME_LEN, nullptr);
}

// Counts a failing compile; the fifth failure of a record is announced.
uint32_t counted(host_task* task, PrxCompiled* record, const char* name, uint32_t status)
{
    if (record->failures == REPORTING_LIMIT)
        xkIssueMessage(task, MSG_TABLE, MSG_FIFTH_FAILURE, name);
    record->failures++;
    return status;
}

// The text of a value: its string when it holds one, else the conversion.
const char* text_of(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (!sv) {
        *len = 0;
        return "";
    }
    return sv_text(gcb, sv, len);
}

// The work of an interpreter that failed to start is lost with it: its
// captured text has been handed over or dropped, and nothing refers to it.
void discard_interpreter(PERLGCB* gcb, host_task* task) { rexhost_interp_destroy(gcb, task); }

}  // namespace

extern "C" {

PERLGCB* rexhost_interp_create(host_task* task)
{
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return nullptr;
    PERLGCB* gcb = nullptr;
    try {
        gcb = interp_alloc();
        if (gcb && init_table_block(gcb) != 0) {
            interp_free(gcb);
            gcb = nullptr;
        }
        if (gcb) {
            rexhost_build_fold(gcb);
            if (bridge_head_run(gcb, [&] { interp_construct(gcb); }) != 0) {
                // Construction fell back to the head: the block is no
                // interpreter; it goes with its pool and its name.
                interp_free(gcb);
                gcb = nullptr;
            }
        }
        if (gcb) {
            bridge_head_run(gcb, [&] {
                JumpEnv env;
                jump_run(gcb, &env, true, [&] { interp_parse(gcb, nullptr, 3, startup_args, nullptr); });
            });
        }
    } catch (...) {
    }
    task_guard_leave(&guard);
    return gcb;
}

void rexhost_interp_destroy(PERLGCB* gcb, host_task* task)
{
    if (!gcb)
        return;
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return;
    try {
        bridge_head_run(gcb, [&] {
            if (gcb->subject) {
                SV* subject = gcb->subject;
                gcb->subject = nullptr;
                sv_release(gcb, subject);
            }
            interp_destruct_before_free(gcb);
        });
        // Whatever destruction left, the pool takes with it.
        interp_free(gcb);
    } catch (...) {
    }
    task_guard_leave(&guard);
}

PERLGCB* rexhost_interp_create_here()
{
    PERLGCB* gcb = nullptr;
    try {
        gcb = interp_alloc();
        if (!gcb)
            return nullptr;
        if (bridge_head_run(gcb, [&] { interp_construct(gcb); }) != 0) {
            interp_free(gcb);
            return nullptr;
        }
        if (init_table_block(gcb) != 0) {
            interp_free(gcb);
            return nullptr;
        }
        rexhost_build_fold(gcb);
        bridge_head_run(gcb, [&] {
            if (interp_parse(gcb, nullptr, 3, startup_args, nullptr) == 0)
                interp_run(gcb);
        });
    } catch (...) {
    }
    return gcb;
}

void rexhost_interp_free(PERLGCB* gcb)
{
    if (!gcb)
        return;
    try {
        bridge_head_run(gcb, [&] { interp_destruct_before_free(gcb); });
        interp_free(gcb);
    } catch (...) {
    }
}

void rexhost_regfree(PERLGCB* gcb, host_task* task, re_compiled* pattern, ReplaceNode* tree)
{
    if (!gcb || !pattern)
        return;
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return;
    try {
        bridge_head_run(gcb, [&] {
            JumpEnv env;
            jump_run(gcb, &env, true, [&] {
                pregfree(gcb, pattern);
                if (tree)
                    rexhost_free_tree(gcb, tree);
            });
        });
    } catch (...) {
    }
    task_guard_leave(&guard);
}

uint32_t rexhost_compile(PrxCompiled* record, host_task* task, const char* text, int32_t length, const char* name,
                         int32_t constant)
{
    try {
        bool reporting = record->failures <= REPORTING_LIMIT;
        if (record->failures > REPORTING_LIMIT && (constant & 1))
            return counted(task, record, name, ST_NOT_COMPILED);

        PRXGCB* block = bridge_block_of(task);
        if (block) {
            block->refcnt++;
        } else {
            block = static_cast<PRXGCB*>(host_pool_alloc(task->allocator, sizeof(PRXGCB), BRIDGE_FLAGS));
            if (!block)
                return counted(task, record, name, ST_NO_MEMORY);
            block->refcnt = 1;
            block->interp = rexhost_interp_create(task);
            if (!block->interp) {
                host_pool_free(task->allocator, block, 0, POOL_FREE);
                return counted(task, record, name, ST_NO_MEMORY);
            }
            PERLGCB* gcb = block->interp;
            rexhost_report_notes(task, gcb, name);
            if (gcb->err.len > 0) {
                // The interpreter reported errors while it started: it is
                // of no use, and a later compile makes a fresh one.
                if (reporting)
                    rexhost_report_errors(task, gcb, name);
                discard_interpreter(gcb, task);
                host_pool_free(task->allocator, block, 0, POOL_FREE);
                return counted(task, record, name, ST_TASK_SWITCH);
            }
            xkNamedBlockSet(task, 1, BRIDGE_NAME, BRIDGE_NAME_LEN, block);
        }

        record->last_status = ST_NO_MATCH;
        record->bridge = block;
        PERLGCB* gcb = block->interp;
        uint32_t status = rexhost_parse(gcb, task, text, text ? text + length : nullptr, &record->pattern, &record->tree);
        if (status) {
            if (reporting)
                xkReportStatus(task, status);
            status = ST_NOT_COMPILED;
        }
        rexhost_report_notes(task, gcb, name);
        if (record->pattern)
            return status ? counted(task, record, name, status) : 0;

        if (reporting) {
            rexhost_report_errors(task, gcb, name);
            xkIssueMessage(task, MSG_TABLE, MSG_COMPILE_FAILED, name);
        }
        record->bridge = nullptr;
        bridge_block_release(task, block);
        return counted(task, record, name, ST_NOT_COMPILED);
    } catch (...) {
    }
    return ST_NOT_COMPILED;
}

void rexhost_release(host_task* task, PrxCompiled* record)
{
    if (!record)
        return;
    try {
        if (PRXGCB* block = record->bridge) {
            rexhost_regfree(block->interp, task, record->pattern, record->tree);
            record->bridge = nullptr;
            record->pattern = nullptr;
            record->tree = nullptr;
            bridge_block_release(task, block);
        }
        host_pool_free(task->allocator, record, 0, POOL_FREE);
    } catch (...) {
    }
}

// ---- evaluation, variable and call entries ---------------------------------------
//
// These run on the caller's task. A fatal error that no eval takes ends at
// the head buffer and the entry answers its empty result; so does an
// interpreter whose start-up parse did not run to its end (no memory), whose
// symbol table and handles may be missing.

uint32_t rexhost_set_option(PERLGCB* gcb, int32_t on)
{
    if (!gcb)
        return 0;
    uint32_t previous = gcb->debug_flags & 0x200;
    if (on)
        gcb->debug_flags |= 0x200;
    else
        gcb->debug_flags &= ~0x200u;
    return previous;
}

const char* rexhost_eval_text(PERLGCB* gcb, const char* text, int32_t raise)
{
    if (!gcb || !text || !gcb->started)
        return nullptr;
    const char* result = nullptr;
    try {
        int32_t scopes = gcb->scope_ix;
        bridge_head_run(gcb, [&] {
            // The previous evaluation's temporaries, its result among them,
            // go now: its caller has had the text. The result of this one
            // stays until the next evaluation.
            tmps_free_to_floor(gcb);
            // The evaluation's own save entries go with this scope.
            scope_enter(gcb);
            SV* sv = interp_eval_string(gcb, text, raise);
            uint64_t len = 0;
            result = text_of(gcb, sv, &len);
        });
        // Closed here also when a fatal error ended the evaluation.
        bridge_head_run(gcb, [&] {
            while (gcb->scope_ix > scopes)
                scope_leave(gcb);
        });
    } catch (...) {
    }
    return result;
}

}  // extern "C"

namespace {

// Runs the body of a variable or call entry under the head buffer. Looking
// a name up may compile and run code (a name that starts with a non-ASCII
// character asks for the utf8 module through a BEGIN block): when a fatal
// error ends the body, what it left on the save stack and the scope stack
// (the compile state of that block, its lexer context) is undone here, so
// that the interpreter is as it was before the entry.
template <class Body>
void name_entry_run(PERLGCB* gcb, Body&& body)
{
    int32_t save_ix = gcb->savestack_ix;
    int32_t scope_ix = gcb->scope_ix;
    if (bridge_head_run(gcb, body) != JUMP_NONE) {
        bridge_head_run(gcb, [&] {
            if (gcb->savestack_ix > save_ix)
                leave_scope(gcb, save_ix);
            gcb->scope_ix = scope_ix;
            tmps_free_to_floor(gcb);
        });
    }
}

}  // namespace

extern "C" {

int32_t rexhost_get_sv_text(PERLGCB* gcb, const char* name, const char** text, int64_t* length)
{
    const char* t = "";
    uint64_t len = 0;
    if (gcb && name && gcb->started) {
        try {
            name_entry_run(gcb, [&] { t = text_of(gcb, interp_get_scalar(gcb, name, 0), &len); });
        } catch (...) {
        }
    }
    if (text)
        *text = t;
    if (length)
        *length = static_cast<int64_t>(len);
    return 1;
}

int32_t rexhost_get_sv_number(PERLGCB* gcb, const char* name, double* number)
{
    double d = 0.0;
    if (gcb && name && gcb->started) {
        try {
            name_entry_run(gcb, [&] {
                SV* sv = interp_get_scalar(gcb, name, 0);
                if (sv)
                    d = (sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv);
            });
        } catch (...) {
        }
    }
    if (number)
        *number = d;
    return 1;
}

int32_t rexhost_call(PERLGCB* gcb, const char* name)
{
    if (!gcb || !name || !gcb->started)
        return 1;
    try {
        name_entry_run(gcb, [&] {
            push_mark(gcb, gcb->arg_sp);
            interp_call_named(gcb, name, CALL_DISCARD | CALL_NOARGS);
        });
    } catch (...) {
    }
    return 1;
}

}  // extern "C"
