// The host record as both modules see it: the service-group tables, the task
// locator, the character tables, pools, statuses and catalogue numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

typedef void (*HostEntry)();  // one service entry, called through its real signature
typedef HostEntry* host_service_group;  // a group's service entries by slot number

// A host memory pool: the wrappers call these two words directly.
struct host_pool {
    void* (*alloc)(host_pool* pool, uint64_t size, uint32_t flags);            // null when exhausted
    int32_t (*free)(host_pool* pool, void* block, uint64_t size, uint32_t flags);  // returns 0
};
static_assert(offsetof(host_pool, alloc) == 0 && offsetof(host_pool, free) == 8);

// The handle of a host task: what services that name a task receive.
struct host_task {
    uint8_t reserved0[0x28];
    host_pool* allocator;        // +0x28 the task's allocator
    uint8_t* session_block;      // +0x30 the session block; +0x128 holds the key-37 record
};
static_assert(offsetof(host_task, allocator) == 0x28);
static_assert(offsetof(host_task, session_block) == 0x30);
constexpr size_t HOST_SESSION_RECORD_OFFSET = 0x128;

// A host task record; word 0 doubles as the current-task cell of the main task
// when the host offers no cell of its own, word 34 is the task handle.
struct host_task_record {
    void* cell;                  // word 0
    uint64_t words1_33[33];
    host_task* handle;           // word 34, +0x110
};
static_assert(offsetof(host_task_record, handle) == 0x110);

// Multibyte information; its fourth word is nonzero while multibyte handling is active.
struct host_mbcs_info {
    uint64_t word[4];
};

struct XkServices;

// The host's service record handed to mcn_main; slots are 8-byte words.
struct host_vector {
    host_service_group* groups;    // 0  service-group tables by group number
    uint8_t* in_use;               // 1  one in-use byte per group
    uint64_t w2_3[2];
    host_task_record* main_task;   // 4
    uint64_t w5;
    const uint8_t* upper;          // 6  byte -> upper case
    const uint8_t* lower;          // 7  byte -> lower case
    const uint8_t* cclass;         // 8  character-class bits (HC_*)
    uint64_t w9;
    host_pool* allocator;          // 10 the host's own allocator
    uint64_t w11_12[2];
    host_mbcs_info* mbcs;          // 13 multibyte information, or null
    uint64_t w14_55[42];
    void** current_task_cell;      // 56 cell holding the current task record, or null
    uint64_t w57_61[5];
    uint8_t* settings;             // 62 settings record; word at 0x310 -> a 32-bit setting
    uint64_t w63_81[19];
    XkServices* toolkit;           // 82 toolkit-services record
    uint64_t w83_94[12];
    uint64_t no_task;              // 95 nonzero when no task exists
};
static_assert(offsetof(host_vector, main_task) == 4 * 8);
static_assert(offsetof(host_vector, upper) == 6 * 8);
static_assert(offsetof(host_vector, cclass) == 8 * 8);
static_assert(offsetof(host_vector, allocator) == 10 * 8);
static_assert(offsetof(host_vector, mbcs) == 13 * 8);
static_assert(offsetof(host_vector, current_task_cell) == 56 * 8);
static_assert(offsetof(host_vector, settings) == 62 * 8);
static_assert(offsetof(host_vector, toolkit) == 82 * 8);
static_assert(offsetof(host_vector, no_task) == 95 * 8);
constexpr size_t HOST_SETTINGS_WORD_OFFSET = 0x310;

// Character-class bits of host_vector slot 8.
enum : uint8_t {
    HC_UPPER = 0x01,
    HC_LOWER = 0x02,
    HC_DIGIT = 0x04,
    HC_SPACE = 0x08,
    HC_PUNCT = 0x10,
    HC_BLANK = 0x20,   // printable but not graphic
    HC_CNTRL = 0x40,
    HC_XDIGIT = 0x80,
    HC_ALPHA = 0x03,
    HC_ALNUM = 0x07,
    HC_GRAPH = 0x17,
    HC_PRINT = 0x37,
};

// Groups and the interface id of rexhost's entry table.
constexpr unsigned HOST_GROUP_COUNT = 256;
constexpr unsigned HOST_GROUP_SLOTS = 512;
constexpr unsigned REXHOST_GROUP = 183;
constexpr uint32_t REXHOST_INTERFACE_ID = (5u << 16) | REXHOST_GROUP;  // 327863
static_assert(REXHOST_INTERFACE_ID == 327863);

// Request record of xkTextToDouble.
struct XkTextToDoubleReq {
    int32_t length;
    int32_t zero;
    const char* text;
    int32_t length2;
    int32_t pad;
    double* result;
};
static_assert(offsetof(XkTextToDoubleReq, text) == 0x08);
static_assert(offsetof(XkTextToDoubleReq, length2) == 0x10);
static_assert(offsetof(XkTextToDoubleReq, result) == 0x18);

// Request record of xkFormatDouble (80 bytes, zero-filled before use).
struct XkFormatDoubleReq {
    int32_t digits;
    int32_t code;               // 99
    const double* value;
    int32_t value_size;         // 8
    int32_t pad1;
    char* buffer;
    int32_t width;
    int32_t pad2;
    uint64_t w5;
    host_task* task;            // +0x30
    uint64_t w7_9[3];
};
static_assert(offsetof(XkFormatDoubleReq, value) == 0x08);
static_assert(offsetof(XkFormatDoubleReq, value_size) == 0x10);
static_assert(offsetof(XkFormatDoubleReq, buffer) == 0x18);
static_assert(offsetof(XkFormatDoubleReq, width) == 0x20);
static_assert(offsetof(XkFormatDoubleReq, task) == 0x30);
static_assert(sizeof(XkFormatDoubleReq) == 80);

// Pool flags the modules pass.
enum : uint32_t {
    POOL_ZERO = 0x2,            // zero-filled block
    POOL_ALLOC = 0x2000,
    POOL_ALLOC_ZERO = 0x2002,
    POOL_ALLOC_ZERO6 = 0x2006,
    POOL_FREE = 4,
    POOL_CREATE_FLAGS = 0x4004,
};
constexpr uint32_t POOL_UNKNOWN_SIZE = 0xFFFFFFFFu;

// Message catalogue.
constexpr int32_t MSG_TABLE = 738;
enum : int32_t {
    MSG_MISSING_ARG = 103,
    MSG_BAD_ARG = 104,
    MSG_COMPILE_FAILED = 105,
    MSG_FIFTH_FAILURE = 204,
    MSG_UNSUPPORTED = 304,
};

// Host statuses shared by both modules.
enum : uint32_t {
    ST_OK = 0,
    ST_NO_MEMORY = 0x80000803u,
    ST_NOT_COMPILED = 0x8001C803u,
    ST_TASK_SWITCH = 0x8001C80Bu,
    ST_PRX_BAD_ID = 0x8001D802u,
    ST_PRX_MISSING = 0x0001D804u,
    ST_PRX_NO_MEMORY = 0x8001D811u,
    ST_PRX_FAILED = 0x8001D84Au,
    ST_NO_MATCH = 0x8017113Bu,
    ST_MISSING_ARG = 0x8017113Cu,
    ST_GUARD = 4,
};

// The host's missing value as PRXMATCH writes it.
constexpr uint64_t HOST_MISSING_BITS = 0xFFFFD10000000000ull;

// Every module-side host call goes through this one pointer (set by mcn_main).
extern host_vector* g_host_vector;
extern void* g_module_handle;

// The host's class bits of the byte c (its low 8 bits), and the tests made of
// them. The modules' class tests go through these.
inline uint8_t host_cclass(uint32_t c) { return g_host_vector->cclass[c & 0xFF]; }
inline bool host_is_alpha(uint32_t c) { return host_cclass(c) & HC_ALPHA; }
inline bool host_is_digit(uint32_t c) { return host_cclass(c) & HC_DIGIT; }
inline bool host_is_space(uint32_t c) { return host_cclass(c) & HC_SPACE; }
inline bool host_is_alnum(uint32_t c) { return host_cclass(c) & HC_ALNUM; }
inline bool host_is_upper(uint32_t c) { return host_cclass(c) & HC_UPPER; }
// A word character: alphanumeric or the underscore.
inline bool host_is_word(uint32_t c) { return host_is_alnum(c) || c == '_'; }
