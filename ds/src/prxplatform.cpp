// The platform layer: structured exceptions (a raise is recorded and
// returns, as a continuable exception does when nobody handles it) and the
// bounds of the running thread's native stack.
#include "prxnum.h"

#include <pthread.h>

constinit PlatformExceptions g_platform_exceptions = {0, 0};

void platform_raise_exception(uint32_t code, uint32_t, uint32_t, const uint64_t*)
{
    g_platform_exceptions.last_code = code;
    g_platform_exceptions.count++;
}

namespace {

// The stack floor of this thread, found once: the stack's bounds do not move
// while the thread lives.
constinit thread_local uintptr_t t_stack_floor = 0;
constinit thread_local bool t_stack_floor_known = false;

// What the floor keeps above the stack's end: room to build a message, run
// a die hook and throw the unwinding exception (an eighth of the stack,
// between 64 and 256 KB; sanitizer builds have larger frames).
constexpr uintptr_t STACK_RESERVE_MIN = 64 * 1024;
constexpr uintptr_t STACK_RESERVE_MAX = 256 * 1024;

}  // namespace

uintptr_t prx_stack_floor()
{
    if (t_stack_floor_known)
        return t_stack_floor;
    t_stack_floor_known = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0)
        return 0;
    void* low = nullptr;
    size_t size = 0;
    int rc = pthread_attr_getstack(&attr, &low, &size);
    pthread_attr_destroy(&attr);
    if (rc != 0 || !low || size == 0)
        return 0;
    uintptr_t reserve = size / 8;
    if (reserve < STACK_RESERVE_MIN)
        reserve = STACK_RESERVE_MIN;
    if (reserve > STACK_RESERVE_MAX)
        reserve = STACK_RESERVE_MAX;
    if (reserve >= size / 2)
        reserve = size / 2;
    t_stack_floor = reinterpret_cast<uintptr_t>(low) + reserve;
    return t_stack_floor;
}
