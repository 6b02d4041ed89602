// The embedding bridge: the entry table, the task guard its entries share,
// and the entry points of the table.
#pragma once

#include "prx.h"

// Task guard of the entries that work for a named task: switches to the task
// when it is not the current one, and back on leave.
struct TaskGuard {
    host_task* back;      // the task the switch returned, to switch back to
    bool switched;
};
// False when the switch failed; nothing has been touched then.
bool task_guard_enter(host_task* task, TaskGuard* guard);
void task_guard_leave(TaskGuard* guard);

extern "C" {
int32_t rexhost_unbind(void* a, void* b, void* c, void* d);
int64_t rexhost_bind();
PERLGCB* rexhost_interp_create(host_task* task);
void rexhost_interp_destroy(PERLGCB* gcb, host_task* task);
uint32_t rexhost_parse(PERLGCB* gcb, host_task* task, const char* start, const char* end,
                       re_compiled** pattern_out, ReplaceNode** tree_out);
void rexhost_regfree(PERLGCB* gcb, host_task* task, re_compiled* pattern, ReplaceNode* tree);
uint32_t rexhost_match(PERLGCB* gcb, host_task* task, re_compiled* pattern, const char* start, const char* end,
                       const char* beginning, int32_t min_end, uint32_t flags);
int32_t rexhost_expand(ReplaceNode* node, re_compiled* pattern, char* out, int32_t room, const char* beginning,
                       int32_t* overflow);
void rexhost_report_errors(host_task* task, PERLGCB* gcb, const char* name);
void rexhost_report_notes(host_task* task, PERLGCB* gcb, const char* name);
uint32_t rexhost_set_option(PERLGCB* gcb, int32_t on);
uint32_t rexhost_compile(PrxCompiled* record, host_task* task, const char* text, int32_t length, const char* name,
                         int32_t constant);
void rexhost_release(host_task* task, PrxCompiled* record);
PERLGCB* rexhost_interp_create_here();
void rexhost_interp_free(PERLGCB* gcb);
const char* rexhost_eval_text(PERLGCB* gcb, const char* text, int32_t raise);
int32_t rexhost_get_sv_text(PERLGCB* gcb, const char* name, const char** text, int64_t* length);
int32_t rexhost_get_sv_number(PERLGCB* gcb, const char* name, double* number);
int32_t rexhost_call(PERLGCB* gcb, const char* name);
}

extern const rexhost_entry_table entry_table;
