// rexhost's module entry, its image-information and linkage records, the
// entry table bound under interface id 327863, and the task guard.
#include <cstring>

#include "host/modrec.h"
#include "prxbridge.h"

namespace {

constexpr uint32_t BUILD_STAMP = 0x6578A1C0u;

constinit const module_linkage linkage = module_linkage_record("rexhost ", {.init = &rexhost_bind}, BUILD_STAMP);

constinit const char version_texts[] = "rexhost 1.0";

}  // namespace

constinit const TOV_Image_Information image_information =
    image_information_record(image_information.linkage_list, &linkage, version_texts, "rexhost/ds/src", BUILD_STAMP);

constinit const rexhost_entry_table entry_table = {
    .header = {nullptr, nullptr, nullptr},
    .slot0 = nullptr,
#define PRX_ENTRY(SLOT, FIELD, FN, RET, PARAMS, ARGS) .FIELD = &FN,
#include "host/prxentry.def"
#undef PRX_ENTRY
};

extern "C" __attribute__((visibility("default"))) const TOV_Image_Information* mcn_main(void* host, void* module)
{
    g_host_vector = static_cast<host_vector*>(host);
    g_module_handle = module;
    xk_read_host_setting();
    return &image_information;
}

extern "C" __attribute__((visibility("default"))) void xkvercn1(void* dest)
{
    std::memcpy(dest, image_information.version_block, sizeof image_information.version_block);
}

extern "C" int64_t rexhost_bind()
{
    return xkBindInterface(REXHOST_INTERFACE_ID, const_cast<rexhost_entry_table*>(&entry_table), g_module_handle);
}

extern "C" int32_t rexhost_unbind(void*, void* b, void* c, void* d)
{
    return xkUnbindInterface(REXHOST_INTERFACE_ID, b, c, d);
}

bool task_guard_enter(host_task* task, TaskGuard* guard)
{
    guard->switched = false;
    guard->back = nullptr;
    guard->noted = nullptr;
    // Compared with the task that runs now: the interpreter's pool and its
    // name are found under the current task, so the work must run there.
    host_task* current = host_current_task_handle();
    if (task == current)
        return true;
    int32_t status = 0;
    host_task* prev = xkTaskSwitch(host_current_task_cell_value(), task, &status);
    if (status != 0)
        return false;
    guard->back = prev;
    guard->noted = host_note_switched_task(task);
    guard->switched = true;
    return true;
}

void task_guard_leave(TaskGuard* guard)
{
    if (!guard->switched)
        return;
    int32_t status = 0;
    xkTaskSwitch(host_current_task_cell_value(), guard->back, &status);
    host_note_switched_task(guard->noted);
    guard->switched = false;
}
