// matchmod's module entry: image information and linkage records, and the
// handler that tells the host about the function PRXMATCH.
#include <cstring>

#include "host/hostcall.h"
#include "host/modrec.h"
#include "host/xkfunc.h"
#include "host/xkmem.h"
#include "matchmod/mm.h"

namespace {

constexpr uint32_t BUILD_STAMP = 0x6578A1C1u;

constinit const module_linkage linkage =
    module_linkage_record("matchmod", {.handler = &prxmatch_describe}, BUILD_STAMP);

constinit const char version_texts[] = "matchmod 1.0";

constinit const XkFuncDescriptor prxmatch_descriptor = {
    .name = "PRXMATCH",
    .min_args = 2,
    .max_args = 2,
    .attr1 = 0x42,
    .attr2 = 0x8000,
    .attr3 = 0x13,
};

}  // namespace

constinit const TOV_Image_Information mm_image_information =
    image_information_record(mm_image_information.linkage_list, &linkage, version_texts, "matchmod", BUILD_STAMP);

extern "C" __attribute__((visibility("default"))) const TOV_Image_Information* mcn_main(void* host, void* module)
{
    g_host_vector = static_cast<host_vector*>(host);
    g_module_handle = module;
    g_xk_services = g_host_vector->toolkit;
    return &mm_image_information;
}

extern "C" __attribute__((visibility("default"))) void xkvercn1(void* dest)
{
    std::memcpy(dest, mm_image_information.version_block, sizeof mm_image_information.version_block);
}

void* xkFuncDescriptorList(int32_t kind, int32_t count, const XkFuncDescriptor* descriptors,
                           const xk_func_callback* callbacks)
{
    host_pool* pool = g_host_vector->allocator;
    if (kind == 1) {
        auto* list = static_cast<XkFuncDescriptorListRec*>(xk_alloc_or_stop(pool, sizeof(XkFuncDescriptorListRec)));
        if (!list)
            return nullptr;
        list->count = count;
        list->descriptors = descriptors;
        return list;
    }
    if (kind == 2) {
        uint64_t size = (static_cast<uint64_t>(count) + 1) * sizeof(void*);
        auto* words = static_cast<void**>(xk_alloc_or_stop(pool, size));
        if (!words)
            return nullptr;
        for (int32_t i = 0; i < count; i++)
            words[i + 1] = reinterpret_cast<void*>(callbacks[i]);
        return words;
    }
    return nullptr;
}

extern "C" void* prxmatch_describe(int64_t request)
{
    try {
        static constexpr xk_func_callback callbacks[1] = {&prxmatch_call};
        if (request == 1)
            return xkFuncDescriptorList(1, 1, &prxmatch_descriptor, nullptr);
        if (request == 2)
            return xkFuncDescriptorList(2, 1, nullptr, callbacks);
    } catch (...) {
    }
    return nullptr;
}
