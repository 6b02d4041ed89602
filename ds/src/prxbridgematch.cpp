// The bridge's match entry, which runs the engine's start finder and
// matcher straight over a copy of the caller's subject, and the expansion
// of a parsed replacement after a match.
#include <cstring>

#include "prxbridge.h"
#include "prxlibc.h"
#include "prxre.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr int32_t STACK_QUOTE_ROOM = 1024;
constexpr uint32_t QUOTE_FLAGS = 0x2004;

// Copies n bytes to the output, cut to the room; a cut sets the overflow flag.
void put_bytes(const char* from, int32_t n, char* out, int32_t* room, int32_t* overflow, int32_t* written)
{
    if (n <= 0)
        return;
    if (n > *room) {
        *overflow = 1;
        n = *room;
    }
    std::memcpy(out, from, static_cast<size_t>(n));
    *room -= n;
    *written += n;
}

// Rewrites the n bytes at text with a backslash before every byte that is no
// letter, digit or underscore; the result is never longer than room.
int32_t quote_in_place(char* text, int32_t n, int32_t room, int32_t* overflow)
{
    char stack_scratch[STACK_QUOTE_ROOM];
    char* scratch = stack_scratch;
    host_task* task = host_current_task_handle();
    bool allocated = false;
    if (room > STACK_QUOTE_ROOM) {
        scratch = task ? static_cast<char*>(host_pool_alloc(task->allocator, static_cast<uint64_t>(room), QUOTE_FLAGS))
                       : nullptr;
        if (!scratch)
            return 0;
        allocated = true;
    }
    int32_t w = 0;
    for (int32_t i = 0; i < n; i++) {
        uint8_t c = static_cast<uint8_t>(text[i]);
        if (!(host_cclass(c) & HC_ALNUM) && c != '_') {
            if (w >= room) {
                *overflow = 1;
                break;
            }
            scratch[w++] = '\\';
        }
        if (w >= room) {
            *overflow = 1;
            break;
        }
        scratch[w++] = static_cast<char>(c);
    }
    std::memcpy(text, scratch, static_cast<size_t>(w));
    if (allocated)
        host_pool_free(task->allocator, scratch, 0, POOL_FREE);
    return w;
}

}  // namespace

void rexhost_expand_node(ReplaceNode* node, re_compiled* pattern, char* out, int32_t* room, const char* beginning,
                         int32_t* overflow, int32_t* written)
{
    if (!node || *room <= 0)
        return;
    switch (node->kind) {
    case RN_LITERAL:
        if (node->number > 0)
            put_bytes(node->text, node->number, out, room, overflow, written);
        return;
    case RN_GROUP:
    case RN_BACKREF: {
        int32_t n = node->number;
        if (n < 0 || static_cast<uint32_t>(n) > pattern->last_group)
            return;
        int32_t from = pattern->start_offsets[n];
        int32_t len = pattern->end_offsets[n] - from;
        if (len > 0 && from >= 0)
            put_bytes(beginning + from, len, out, room, overflow, written);
        return;
    }
    case RN_LIST:
        for (ReplaceNode* e = node->child; e && *room > 0; e = e->next) {
            int32_t w = 0;
            rexhost_expand_node(e, pattern, out + *written, room, beginning, overflow, &w);
            *written += w;
        }
        return;
    case RN_UPPER_FIRST:
    case RN_LOWER_FIRST:
    case RN_UPPER:
    case RN_LOWER:
    case RN_QUOTE: {
        int32_t room_before = *room;
        int32_t w = 0;
        rexhost_expand_node(node->child, pattern, out, room, beginning, overflow, &w);
        if (w <= 0)
            return;
        if (node->kind == RN_UPPER_FIRST) {
            out[0] = static_cast<char>(g_host_vector->upper[static_cast<uint8_t>(out[0])]);
        } else if (node->kind == RN_LOWER_FIRST) {
            out[0] = static_cast<char>(g_host_vector->lower[static_cast<uint8_t>(out[0])]);
        } else if (node->kind == RN_UPPER) {
            host_mbcs_info* mbcs = g_host_vector->mbcs;
            if (mbcs && mbcs->word[3])
                xkMbcsUpper(out, w);
            else
                for (int32_t i = 0; i < w; i++)
                    out[i] = static_cast<char>(g_host_vector->upper[static_cast<uint8_t>(out[i])]);
        } else if (node->kind == RN_LOWER) {
            xkMbcsLower(out, w);
        } else {
            // The quoted text replaces the operand within the room the
            // operand started with.
            w = quote_in_place(out, w, room_before, overflow);
            *room = room_before - w;
        }
        *written += w;
        return;
    }
    default:
        return;
    }
}

extern "C" int32_t rexhost_expand(ReplaceNode* node, re_compiled* pattern, char* out, int32_t room,
                                  const char* beginning, int32_t* overflow)
{
    if (room <= 0)
        return 0;
    int32_t left = room;
    int32_t written = 0;
    int32_t scratch_flag = 0;
    try {
        rexhost_expand_node(node, pattern, out, &left, beginning, overflow ? overflow : &scratch_flag, &written);
    } catch (...) {
    }
    return room - left;
}

extern "C" uint32_t rexhost_match(PERLGCB* gcb, host_task* task, re_compiled* pattern, const char* start,
                                  const char* end, const char* beginning, int32_t min_end, uint32_t flags)
{
    if (!gcb || !pattern)
        return ST_MISSING_ARG;
    TaskGuard guard;
    if (!task_guard_enter(task, &guard))
        return ST_TASK_SWITCH;
    // A guard mark left over from an earlier trip must not turn this
    // match's errors into a guard trip.
    if (gcb->errno_cell == GUARD_ERRNO_MARK)
        gcb->errno_cell = 0;
    int32_t result = 0;
    bool failed = false;
    bool no_subject = false;
    try {
        int32_t head_code = bridge_head_run(gcb, [&] {
            int32_t save_ix = gcb->savestack_ix;
            JumpEnv env;
            int32_t code = jump_run(gcb, &env, true, [&] {
                uint64_t length = static_cast<uint64_t>(end - beginning);
                if (!gcb->subject)
                    gcb->subject = sv_new_from_bytes(gcb, beginning, length);
                else
                    sv_set_bytes(gcb, gcb->subject, beginning, length);
                if (!gcb->subject) {
                    no_subject = true;
                    return;
                }
                const char* copy = sv_pv(gcb->subject);
                const char* s = copy + (start - beginning);
                const char* e = copy + (end - beginning);
                uint32_t af = pattern->analysis_flags;
                if (af & (PMf_MULTILINE | PMf_SINGLELINE))
                    gcb->multiline = (af & PMf_MULTILINE) ? 1 : 0;
                if (af & REA_USE_FINDER) {
                    const char* p = re_guess_start(gcb, pattern, gcb->subject, s, e, flags, nullptr);
                    if (!p) {
                        result = 0;
                        return;
                    }
                    if ((af & REA_CHECK_ALL) && ((af & REA_NOSCAN) || !(af & REA_CHECK_TAIL) || !(flags & 4))) {
                        pattern->subject_copy = const_cast<char*>(p);
                        pattern->subject_copy_length = static_cast<int32_t>(e - p);
                        pattern->start_offsets[0] = static_cast<int32_t>(p - copy);
                        pattern->end_offsets[0] = pattern->start_offsets[0] + pattern->min_length;
                        pattern->last_group = 0;
                        pattern->last_closed_group = 0;
                        result = 1;
                        return;
                    }
                    s = p;
                }
                result = re_exec(gcb, pattern, s, e, copy, min_end, gcb->subject, nullptr, flags | REXEC_CHECKED);
            });
            if (code) {
                result = code;
                if (code != JUMP_GUARD)
                    failed = true;
            }
            gcb->multiline = 0;
            if (gcb->savestack_ix > save_ix)
                leave_scope(gcb, save_ix);
        });
        if (head_code)
            failed = true;
    } catch (...) {
        failed = true;
    }
    gcb->multiline = 0;
    task_guard_leave(&guard);
    if (no_subject)
        return ST_NO_MEMORY;
    // A jump other than the guard's is a failure, never a match: the error
    // text it left in the captured standard error tells the caller more.
    if (failed && !gcb->subject)
        return ST_NO_MEMORY;
    if (failed)
        return ST_TASK_SWITCH;
    if (result == JUMP_GUARD)
        return ST_GUARD;
    if (result == 1)
        return 0;
    return ST_NO_MATCH;
}
