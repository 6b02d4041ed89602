// One call stub per host service: load the module's host record, mark the
// group in use, and call slot S of group G with the caller's own arguments.
#pragma once

#include <atomic>

#include "hostif.h"

#define HOST_UNPAREN(...) __VA_ARGS__

template <unsigned G, unsigned S, class Fn>
[[gnu::always_inline]] inline Fn host_entry()
{
    host_vector* hv = g_host_vector;
    // Tasks on several threads call services at once: the mark is an atomic
    // store (relaxed: the host reads it only as a flag, never to order
    // anything), and it is made only while the byte is still clear, so that
    // the cache line is not written on every call.
    std::atomic_ref<uint8_t> mark(hv->in_use[G]);
    if (!mark.load(std::memory_order_relaxed))
        mark.store(1, std::memory_order_relaxed);
    return reinterpret_cast<Fn>(hv->groups[G][S]);
}

#define HOST_SVC(G, S, NAME, RET, PARAMS, ARGS) \
    [[gnu::always_inline]] inline RET NAME PARAMS { return host_entry<G, S, RET(*) PARAMS>() ARGS; }
#define HOST_SVC_VA(G, S, NAME, RET, PARAMS, ARGS)                                       \
    template <class... More>                                                              \
    [[gnu::always_inline]] inline RET NAME(HOST_UNPAREN PARAMS, More... more)             \
    {                                                                                     \
        return host_entry<G, S, RET (*)(HOST_UNPAREN PARAMS, ...)>()(HOST_UNPAREN ARGS, more...); \
    }
#include "hostsvc.def"
#undef HOST_SVC
#undef HOST_SVC_VA

// The task that runs now: null while the no-task flag is set; the value 1 in
// the current-task cell names the main task record itself.
host_task_record* host_current_task();
// The main task record, or null while the no-task flag is set.
host_task_record* host_main_task();
// The handle of a task record (word 34), null for none.
inline host_task* host_task_handle(host_task_record* rec) { return rec ? rec->handle : nullptr; }
// The raw value of the current-task cell, as task switching passes it on.
void* host_current_task_cell_value();
// The handle of the task that runs now on this thread: the task that an
// entry of this thread switched to while it runs there, else the one the
// current-task cell names. A host that runs tasks on several threads at once
// keeps a current task per thread, which its one cell cannot show.
host_task* host_current_task_handle();
// Notes the task this thread's entry switched to (null: none) and returns
// the note it replaces, for the entry to put back when it switches back.
host_task* host_note_switched_task(host_task* task);
