// rexhost's module entry, its image-information and linkage records, the
// entry table bound under interface id 327863, and the task guard.
#include <cstring>

#include "host/modrec.h"
#include "prxbridge.h"

namespace {

// Signatures stay in step with the slot types of the module boundary.
static_assert(std::is_same_v<decltype(&rexhost_unbind), rexhost_unbind_fn>);
static_assert(std::is_same_v<decltype(&rexhost_interp_create), rexhost_interp_create_fn>);
static_assert(std::is_same_v<decltype(&rexhost_interp_destroy), rexhost_interp_destroy_fn>);
static_assert(std::is_same_v<decltype(&rexhost_parse), rexhost_parse_fn>);
static_assert(std::is_same_v<decltype(&rexhost_regfree), rexhost_regfree_fn>);
static_assert(std::is_same_v<decltype(&rexhost_match), rexhost_match_fn>);
static_assert(std::is_same_v<decltype(&rexhost_expand), rexhost_expand_fn>);
static_assert(std::is_same_v<decltype(&rexhost_report_errors), rexhost_report_fn>);
static_assert(std::is_same_v<decltype(&rexhost_report_notes), rexhost_report_fn>);
static_assert(std::is_same_v<decltype(&rexhost_set_option), rexhost_set_option_fn>);
static_assert(std::is_same_v<decltype(&rexhost_compile), rexhost_compile_fn>);
static_assert(std::is_same_v<decltype(&rexhost_release), rexhost_release_fn>);
static_assert(std::is_same_v<decltype(&rexhost_interp_create_here), rexhost_interp_create_here_fn>);
static_assert(std::is_same_v<decltype(&rexhost_interp_free), rexhost_interp_free_fn>);
static_assert(std::is_same_v<decltype(&rexhost_eval_text), rexhost_eval_text_fn>);
static_assert(std::is_same_v<decltype(&rexhost_get_sv_text), rexhost_get_sv_text_fn>);
static_assert(std::is_same_v<decltype(&rexhost_get_sv_number), rexhost_get_sv_number_fn>);
static_assert(std::is_same_v<decltype(&rexhost_call), rexhost_call_fn>);

constexpr uint32_t BUILD_STAMP = 0x6578A1C0u;

constinit const module_linkage linkage = module_linkage_record("rexhost ", {.init = &rexhost_bind}, BUILD_STAMP);

constinit const char version_texts[] = "rexhost 1.0";

}  // namespace

constinit const TOV_Image_Information image_information =
    image_information_record(image_information.linkage_list, &linkage, version_texts, "rexhost/ds/src", BUILD_STAMP);

constinit const rexhost_entry_table entry_table = {
    .header = {nullptr, nullptr, nullptr},
    .slot0 = nullptr,
    .unbind = &rexhost_unbind,                          // unbind the interface
    .interp_create = &rexhost_interp_create,            // create the task's interpreter
    .interp_destroy = &rexhost_interp_destroy,          // destroy an interpreter
    .parse = &rexhost_parse,                            // parse and compile a pattern text
    .regfree = &rexhost_regfree,                        // free a pattern and its tree
    .match = &rexhost_match,                            // match a compiled pattern
    .expand = &rexhost_expand,                          // expand a replacement
    .report_errors = &rexhost_report_errors,            // hand over captured errors
    .report_notes = &rexhost_report_notes,              // hand over captured output
    .set_option = &rexhost_set_option,                  // pattern trace on or off
    .compile = &rexhost_compile,                        // compile for a call site
    .release = &rexhost_release,                        // release a call-site record
    .interp_create_here = &rexhost_interp_create_here,  // create on the current task
    .interp_free = &rexhost_interp_free,                // destruct and free
    .eval_text = &rexhost_eval_text,                    // evaluate a program text
    .get_sv_text = &rexhost_get_sv_text,                // read a scalar as text
    .get_sv_number = &rexhost_get_sv_number,            // read a scalar as a number
    .call = &rexhost_call,                              // call a subroutine by name
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
