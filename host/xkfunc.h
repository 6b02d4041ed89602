// Host function records: the per-call record the host hands a function
// callback, and the descriptor and callback lists a function module returns.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hostif.h"

// The value record of an argument.
struct XkValue {
    double number;           // +0    numeric arguments
    int64_t length;          // +8    text length (the pattern argument reads 32 bits)
    const char* text;        // +0x10 text bytes
};
static_assert(offsetof(XkValue, length) == 8 && offsetof(XkValue, text) == 0x10);

// The host's per-call record.
struct XkFuncCall {
    host_task* task;         // +0x00
    uint64_t w1;
    void* cached;            // +0x10 the call site's cached record, or null
    uint8_t kind;            // +0x18 call-site kind letter
    uint8_t pad19[15];
    uint8_t arg_flags;       // +0x28 bit 0 numeric first argument, bit 2 constant
    uint8_t err_flags;       // +0x29 bit 0 set on the failures the function reports
    uint8_t pad2a[6];
    XkValue* arg1;           // +0x30
    uint64_t w7;
    XkValue* arg2;           // +0x40
};
static_assert(offsetof(XkFuncCall, cached) == 0x10);
static_assert(offsetof(XkFuncCall, kind) == 0x18);
static_assert(offsetof(XkFuncCall, arg_flags) == 0x28);
static_assert(offsetof(XkFuncCall, err_flags) == 0x29);
static_assert(offsetof(XkFuncCall, arg1) == 0x30);
static_assert(offsetof(XkFuncCall, arg2) == 0x40);

enum : uint8_t {
    XKARG_NUMERIC = 0x01,
    XKARG_CONSTANT = 0x04,
    XKERR_FLAGGED = 0x01,
};

typedef uint32_t (*xk_func_callback)(XkFuncCall* call, double* result, void* a3, void* a4);

// A function descriptor (40 bytes).
struct XkFuncDescriptor {
    char name[24];
    uint16_t min_args;
    uint16_t max_args;
    uint32_t attr1;
    uint32_t attr2;
    uint32_t attr3;
};
static_assert(offsetof(XkFuncDescriptor, min_args) == 0x18);
static_assert(offsetof(XkFuncDescriptor, attr1) == 0x1C);
static_assert(offsetof(XkFuncDescriptor, attr3) == 0x24);
static_assert(sizeof(XkFuncDescriptor) == 40);

// Request 1 answer: the descriptor list (16 bytes).
struct XkFuncDescriptorListRec {
    int32_t count;
    const XkFuncDescriptor* descriptors;
};
static_assert(sizeof(XkFuncDescriptorListRec) == 16);
// Request 2 answer: count + 1 words, word 0 zero, then the callbacks.
