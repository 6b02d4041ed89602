// The toolkit-services record the host keeps at host_vector slot 82, and the
// objects it leads to: the log object, the case service, the transcoder and
// the host record of the clock seed. Only matchmod reads it.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

struct XkServices;

// The log object: each operation takes the object itself first and the
// caller's variable arguments as one argument list. Format texts are UTF-16;
// in them %hs is 8-bit text, %s and %S UTF-16 text, %.*S counted UTF-16.
struct XkLog {
    void* w0_3[4];
    // word 4: format into the caller's UTF-16 buffer of `size` characters,
    // terminated; the characters written go to *length. 0 on success.
    int32_t (*write)(XkLog* self, const char16_t* format, int64_t zero, char16_t* buffer, int32_t size,
                     int32_t* length, va_list args);
    // word 5: format and print one line at a level (4 error ... 0 dump).
    int32_t (*print)(XkLog* self, int32_t level, const char16_t* format, int64_t zero, va_list args);
    void* w6;
    // word 7: issue the catalogue message `code` at a level; the arguments
    // are the ones the catalogue text names.
    int32_t (*message)(XkLog* self, int32_t level, uint32_t code, va_list args);
};
static_assert(offsetof(XkLog, write) == 4 * 8);
static_assert(offsetof(XkLog, print) == 5 * 8);
static_assert(offsetof(XkLog, message) == 7 * 8);

// The case service: words 31 and 32 map one character to upper and lower case.
struct XkCaseService {
    void* w0_30[31];
    char16_t (*upper)(XkCaseService* self, char16_t c, int32_t one);   // word 31
    char16_t (*lower)(XkCaseService* self, char16_t c, int32_t one);   // word 32
};
static_assert(offsetof(XkCaseService, upper) == 31 * 8);
static_assert(offsetof(XkCaseService, lower) == 32 * 8);

// A converter object: word 4 converts 8-bit text to UTF-16.
struct XkConverter {
    void* w0_3[4];
    // (self, text, count, output, output size in bytes, bytes produced, 0) -> status
    uint32_t (*convert)(XkConverter* self, const char* text, int32_t count, char16_t* out, int32_t out_bytes,
                        int32_t* produced, int32_t zero);
};
static_assert(offsetof(XkConverter, convert) == 4 * 8);

// The transcoding record: the converter stands at +0x60.
struct XkTranscoder {
    uint8_t reserved[0x60];
    XkConverter* converter;
};
static_assert(offsetof(XkTranscoder, converter) == 0x60);

// The host record that slot 11 returns; the 64-bit clock seed reads +0x38.
struct XkHostRecord {
    uint64_t w0_6[7];
    uint64_t varying;   // +0x38 a per-process, per-call varying value
};
static_assert(offsetof(XkHostRecord, varying) == 0x38);

// Block of the system-information service, class 8 selector 0x10000000
// (at least 200 bytes): the clock-seed word stands at +0x28.
constexpr size_t XK_SYSINFO_SIZE = 200;
constexpr size_t XK_SYSINFO_SEED_OFFSET = 0x28;
// Block of class 0x10 selector 0x10200000 (352 bytes): +0x158 points to the
// processor record, whose byte +0x77 bit 0x40 tells whether RDRAND exists
// (valid when the record's first 32-bit field is 0).
constexpr size_t XK_PROCINFO_SIZE = 352;
constexpr size_t XK_PROCINFO_RECORD_OFFSET = 0x158;
constexpr size_t XK_PROCREC_FEATURE_BYTE = 0x77;
constexpr uint8_t XK_PROCREC_RDRAND_BIT = 0x40;
// Selectors of the system-information service.
enum : uint32_t {
    XK_SYSINFO_CLASS_BLOCK = 8,
    XK_SYSINFO_CLASS_MACHINE = 0x10,
    XK_SYSINFO_SEL_BLOCK = 0x10000000u,
    XK_SYSINFO_SEL_PROCESSOR = 0x10200000u,
    XK_SYSINFO_SEL_CLOCK = 0x10800000u,   // two doubles; first minus second is seconds
};

// Value types of the name/value store.
enum : int32_t {
    XKNV_DOUBLE = 2,
    XKNV_INT64 = 3,
    XKNV_TEXT = 4,
};
// Statuses of the name/value store.
enum : uint32_t {
    XKNV_ABSENT = 0x803FC26Au,       // the entry does not exist
    XKNV_WRONG_TYPE = 0x803FC009u,   // the entry has another type
    XKNV_WRONG_TYPE2 = 0x803FC264u,
};

// The toolkit-services record; operations take the record first, except the
// system-information service (slot 33).
struct XkServices {
    void* w0_10[11];
    XkHostRecord* (*host_record)(XkServices* self);                                        // 11
    void* w12;
    uint8_t (*entry_set)(XkServices* self, const char16_t* name, int32_t length);          // 13 nonzero: set
    uint32_t (*nv_get)(XkServices* self, const char16_t* name, int32_t length, int32_t type, void* value,
                       int64_t size, int64_t* stored);                                     // 14 xkNameValueGet
    uint32_t (*nv_set)(XkServices* self, const char16_t* name, int32_t length, int32_t one, int32_t type,
                       const void* value, int64_t size, int64_t zero1, int64_t zero2);     // 15 xkNameValueSet
    void* w16_25[10];
    XkLog* log;                                                                            // 26
    XkCaseService* casemap;                                                                // 27 or null
    void* w28_32[5];
    uint32_t (*sysinfo)(uint32_t cls, void* buffer, uint32_t selector);                    // 33
    void* w34;
    XkTranscoder* transcoder;                                                              // 35
};
static_assert(offsetof(XkServices, host_record) == 11 * 8);
static_assert(offsetof(XkServices, entry_set) == 13 * 8);
static_assert(offsetof(XkServices, nv_get) == 14 * 8);
static_assert(offsetof(XkServices, nv_set) == 15 * 8);
static_assert(offsetof(XkServices, log) == 26 * 8);
static_assert(offsetof(XkServices, casemap) == 27 * 8);
static_assert(offsetof(XkServices, sysinfo) == 33 * 8);
static_assert(offsetof(XkServices, transcoder) == 35 * 8);
