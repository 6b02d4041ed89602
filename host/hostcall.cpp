// The module's host record, the task locator and the linkage record's
// callbacks, shared by both modules.
#include "hostcall.h"
#include "modrec.h"

constinit host_vector* g_host_vector = nullptr;
constinit void* g_module_handle = nullptr;

void* host_current_task_cell_value()
{
    host_vector* hv = g_host_vector;
    if (hv->no_task)
        return nullptr;
    void** cell = hv->current_task_cell ? hv->current_task_cell : &hv->main_task->cell;
    return *cell;
}

host_task_record* host_current_task()
{
    host_vector* hv = g_host_vector;
    if (hv->no_task)
        return nullptr;
    void* value = host_current_task_cell_value();
    if (value == reinterpret_cast<void*>(1))
        return hv->main_task;
    return static_cast<host_task_record*>(value);
}

namespace {
constinit thread_local host_task* t_switched_task = nullptr;  // the task this thread's entry switched to
}  // namespace

host_task* host_current_task_handle()
{
    if (t_switched_task)
        return t_switched_task;
    return host_task_handle(host_current_task());
}

host_task* host_note_switched_task(host_task* task)
{
    host_task* previous = t_switched_task;
    t_switched_task = task;
    return previous;
}

host_task_record* host_main_task()
{
    host_vector* hv = g_host_vector;
    return hv->no_task ? nullptr : hv->main_task;
}

extern "C" int64_t linkage_return_one() { return 1; }
