// The embedding bridge: the entry table, the task guard its entries share,
// and the entry points of the table.
#pragma once

#include <type_traits>

#include "prx.h"

// Task guard of the entries that work for a named task: switches to the task
// when it is not the current one, and back on leave.
struct TaskGuard {
    host_task* back;      // the task the switch returned, to switch back to
    host_task* noted;     // this thread's note of a switched task before the switch
    bool switched;
};
// False when the switch failed; nothing has been touched then.
bool task_guard_enter(host_task* task, TaskGuard* guard);
void task_guard_leave(TaskGuard* guard);

// A node of a parsed s/// replacement: 32 bytes from the interpreter's
// pool, zero-filled.
struct ReplaceNode {
    ReplaceNode* child;   // operand of kinds 1 to 5; first element of kind 9
    ReplaceNode* next;    // next element of a list
    char* text;           // literal bytes of kind 8 (pool block, not terminated), or null
    uint32_t kind;        // RN_*
    int32_t number;       // group number (6, 7), text length (8), element count (9)
};
static_assert(sizeof(ReplaceNode) == 32 && std::is_trivially_copyable_v<ReplaceNode>);

// Node kinds.
enum : uint32_t {
    RN_UPPER_FIRST = 1,   // \u
    RN_LOWER_FIRST = 2,   // \l
    RN_UPPER = 3,         // \U
    RN_LOWER = 4,         // \L
    RN_QUOTE = 5,         // \Q
    RN_GROUP = 6,         // $n or ${n}
    RN_BACKREF = 7,       // \1 to \9
    RN_LITERAL = 8,
    RN_LIST = 9,
};

// Token kinds of the replacement tokenizer: 1 to 8 as the node kinds they
// start, and these.
enum : int32_t {
    RT_END = 10,          // end of the text
    RT_CASE_END = 11,     // \E, or a \L or \U that closes an open one
    RT_ERROR = 12,        // value: RR_* reason
};
// Error reasons of the replacement parser.
enum : int32_t {
    RR_NO_MEMORY = 1,
    RR_DOLLAR = 2,        // "$" not followed by a group number
    RR_AT = 3,            // "@" not at the end
    RR_BRACE = 4,         // unterminated braced group number
};

// The tokenizer's state over one replacement text.
struct ReplaceLexer {
    int32_t kind;         // kind of the last token
    char* text_start;
    char* text_end;
    char* tok_start;
    char* tok_end;        // also the scan position
    int32_t value;        // digit, group number, escape mark (1) or error reason
    char* case_stack;     // open case letters, zero-terminated (pool block)
    int32_t depth;        // letters on the case stack
    host_pool* pool;      // the interpreter's pool
};

// Reads the next token into the lexer.
void rexhost_next_token(ReplaceLexer* lexer);
// Parses a replacement into a tree; null with *error set to an RR_* reason,
// or null with *error 0 for an empty replacement.
ReplaceNode* rexhost_parse_replacement(host_pool* pool, ReplaceLexer* lexer, int32_t* error);
// Frees a replacement tree back to the interpreter's pool.
void rexhost_free_tree(PERLGCB* gcb, ReplaceNode* node);
// The recursive worker of rexhost_expand; lowers *room by what it writes.
void rexhost_expand_node(ReplaceNode* node, re_compiled* pattern, char* out, int32_t* room, const char* beginning,
                         int32_t* overflow, int32_t* written);

// Fills the interpreter's case-fold table, once it has one, from the host's
// case tables.
void rexhost_build_fold(PERLGCB* gcb);

// Runs body under the head buffer of the interpreter, the bridge's last
// resort: a jump that no inner environment takes ends there. Returns 0 or
// the code of the jump that arrived (-1). The head's earlier state is put
// back afterwards (cleared when no outer entry had armed it).
template <class Body>
int32_t bridge_head_run(PERLGCB* gcb, Body&& body)
{
    JumpEnv saved = *head_env(gcb);
    // The entry runs on the caller's thread, whose stack bounds these are.
    gcb->stack_floor = prx_stack_floor();
    int32_t code = jump_run(gcb, head_env(gcb), false, body);
    // Only the head's JumpEnv is ever written in the buffer.
    if (saved.must_catch)
        *head_env(gcb) = saved;
    else
        *head_env(gcb) = JumpEnv{};
    return code;
}

// The entry points of the table, one per row of host/prxentry.def, and the
// init routine that binds the table.
extern "C" {
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) RET FN PARAMS;
#include "host/prxentry.def"
#undef PRX_ENTRY
int64_t rexhost_bind();
}

extern const rexhost_entry_table entry_table;
