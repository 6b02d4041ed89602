// The jump transport, the bridge's last resort, the interpreter look-up of
// code entered without an interpreter, and the exits.
#include "prx.h"
#include "prxlibc.h"

PERLGCB* interp_of_current_task()
{
    host_task* task = host_current_task_handle();
    if (!task)
        return nullptr;
    void* block = nullptr;
    if (xkNamedBlockGet(task, 2, "PERLGCB", 7, &block, 0) != 0)
        return nullptr;
    return static_cast<PERLGCB*>(block);
}

void jump_to(PERLGCB*, JumpEnv* env, int32_t code)
{
    throw JumpUnwind{env, code};
}

void bridge_fatal_jump(int32_t)
{
    PERLGCB* gcb = interp_of_current_task();
    if (!gcb || !head_env(gcb)->must_catch) {
        // No bridge call is under way: nothing can take the jump. This is a
        // broken embedding, not a state the interpreter can go on from.
        prx_host_abort("panic: no bridge jump buffer is set");
    }
    jump_to(gcb, head_env(gcb), JUMP_LAST_RESORT);
}

void interp_exit(PERLGCB* gcb, int32_t status)
{
    if (status == 0 || status == 1 || status == -1)
        gcb->exit_status = status;
    else
        gcb->exit_status = status & 0xFFFF;
    interp_exit_jump(gcb);
}

void interp_failure_exit(PERLGCB* gcb)
{
    int32_t status;
    if (gcb->errno_cell & 0xFF)
        status = gcb->errno_cell == -1 ? -1 : (gcb->errno_cell & 0xFFFF);
    else if ((gcb->exit_status >> 8) & 0xFF)
        status = (gcb->exit_status >> 8) == -1 ? -1 : ((gcb->exit_status >> 8) & 0xFFFF);
    else
        status = 255;
    gcb->exit_status = status;
    interp_exit_jump(gcb);
}

void interp_exit_jump(PERLGCB* gcb)
{
    interp_exit_unwind(gcb);
    if (gcb->top_env && gcb->top_env->prev)
        jump_to(gcb, gcb->top_env, JUMP_EXIT);
    bridge_fatal_jump();
}

void interp_exit_unwind(PERLGCB* gcb)
{
    if (gcb->e_program) {
        SV* e = gcb->e_program;
        gcb->e_program = nullptr;
        sv_release(gcb, e);
    }
    if (gcb->current_level)
        stack_unwind_for_exit(gcb);
}
