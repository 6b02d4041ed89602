// matchmod's own interface: the module entry and the PRXMATCH callback, with
// the function-support library they use.
#pragma once

#include <cstdint>

#include "host/hostif.h"
#include "host/xkfunc.h"
#include "matchmod/xklog.h"
#include "matchmod/xkstore.h"
#include "matchmod/xkstring.h"
#include "matchmod/mmhost.h"

extern "C" void* prxmatch_describe(int64_t request);
extern "C" uint32_t prxmatch_call(XkFuncCall* call, double* result, void* a3, void* a4);
void* xkFuncDescriptorList(int32_t kind, int32_t count, const XkFuncDescriptor* descriptors,
                           const xk_func_callback* callbacks);
