// The records a module hands the host at load time: image information,
// module linkage and the version block. Both modules use these layouts.
#pragma once

#include <cstddef>
#include <cstdint>

#include "hostcall.h"

// The routine a linkage record names: the init routine of an interface
// module, or the handler of a function module.
union linkage_routine {
    int64_t (*init)();
    void* (*handler)(int64_t request);
};
static_assert(sizeof(linkage_routine) == 8);

struct module_linkage {
    uint16_t w0;              // 0
    uint16_t w2;              // 0xFFFF
    uint32_t w4;              // 0x400
    uint32_t w8;              // 0x400
    char name[8];             // module name, blank-padded
    uint32_t w14;             // 0
    linkage_routine routine;  // init routine (rexhost) or handler (function modules)
    uint32_t w20;             // 1
    uint32_t w24;             // 0x25D3
    uint32_t build_stamp;     // the module's own
    uint32_t w2c;             // 0xF
    int64_t (*callback1)();   // returns 1
    int64_t (*callback2)(void*, void*, void*, void*);  // stub of host service group 1 slot 2
    int64_t (*callback3)();   // returns 1
    uint32_t w48;             // 3
};
static_assert(offsetof(module_linkage, name) == 0x0C);
static_assert(offsetof(module_linkage, routine) == 0x18);
static_assert(offsetof(module_linkage, build_stamp) == 0x28);
static_assert(offsetof(module_linkage, callback1) == 0x30);
static_assert(offsetof(module_linkage, callback2) == 0x38);
static_assert(offsetof(module_linkage, callback3) == 0x40);
static_assert(offsetof(module_linkage, w48) == 0x48);

constexpr size_t VERSION_BLOCK_WORDS = 26;

// A word of the version block: a text or a number.
union VersionWord {
    const char* text;
    uint64_t value;
};
static_assert(sizeof(VersionWord) == 8);
constexpr uint32_t IMAGE_MAGIC = 0xB0BDEBEDu;
constexpr uint32_t IMAGE_VERSION = 8;

struct TOV_Image_Information {
    char marker[24];                      // "TOV_Image_Information="
    uint32_t magic;                       // IMAGE_MAGIC
    uint32_t version;                     // IMAGE_VERSION
    char release[6];
    char release_build[20];
    char build_date[30];
    const module_linkage* const* linkage; // -> linkage_list
    const void* version_strings;
    char sequence[8];                     // "001"
    const module_linkage* linkage_list[2];
    VersionWord version_block[VERSION_BLOCK_WORDS];
};
static_assert(offsetof(TOV_Image_Information, magic) == 0x18);
static_assert(offsetof(TOV_Image_Information, version) == 0x1C);
static_assert(offsetof(TOV_Image_Information, release) == 0x20);
static_assert(offsetof(TOV_Image_Information, release_build) == 0x26);
static_assert(offsetof(TOV_Image_Information, build_date) == 0x3A);
static_assert(offsetof(TOV_Image_Information, linkage) == 0x58);
static_assert(offsetof(TOV_Image_Information, version_strings) == 0x60);
static_assert(offsetof(TOV_Image_Information, sequence) == 0x68);
static_assert(offsetof(TOV_Image_Information, linkage_list) == 0x70);
static_assert(offsetof(TOV_Image_Information, version_block) == 0x80);
static_assert(sizeof(TOV_Image_Information) == 0x80 + 208);

// The linkage record's callbacks: 1 and 3 answer 1 (defined in the host
// layer that each module carries, hostcall.cpp); 2 is the call stub of host
// service group 1 slot 2 itself (hostcall.h).
extern "C" int64_t linkage_return_one();

// A module's linkage record: its blank-padded 8-character name, routine and
// build stamp inside the words every module gives alike. Constant data:
// records built with it are constinit.
constexpr module_linkage module_linkage_record(const char (&name)[9], linkage_routine routine, uint32_t build_stamp)
{
    module_linkage l = {
        .w0 = 0,
        .w2 = 0xFFFF,
        .w4 = 0x400,
        .w8 = 0x400,
        .name = {},
        .w14 = 0,
        .routine = routine,
        .w20 = 1,
        .w24 = 0x25D3,
        .build_stamp = build_stamp,
        .w2c = 0xF,
        .callback1 = &linkage_return_one,
        .callback2 = &xkGroup1Slot2,
        .callback3 = &linkage_return_one,
        .w48 = 3,
    };
    for (size_t i = 0; i < sizeof l.name; i++)
        l.name[i] = name[i];
    return l;
}

// A module's image information around its linkage record, its version
// texts, the source path of the version block and the build stamp (the
// block's word 10). self_list is the record's own linkage_list, named in its
// initialiser: the linkage pointer points back into the record.
constexpr TOV_Image_Information image_information_record(const module_linkage* const* self_list,
                                                         const module_linkage* linkage, const char* version_strings,
                                                         const char* source_path, uint32_t build_stamp)
{
    return {
        .marker = "TOV_Image_Information=",
        .magic = IMAGE_MAGIC,
        .version = IMAGE_VERSION,
        .release = "1.0",
        .release_build = "1.0 build 1",
        .build_date = "December 10, 2026",
        .linkage = self_list,
        .version_strings = version_strings,
        .sequence = "001",
        .linkage_list = {linkage, nullptr},
        .version_block = {
            {.text = "1.0 build 1"},
            {.text = source_path},
            {.text = "base"},
            {.text = "ds"},
            {.text = "version"},
            {.text = "::"},
            {.text = "TOV_VERSION_HOTFIX_NUMBER=        "},
            {.text = "VERCON_IMAGE_DESCRIPTION=        "},
            {.text = "X64"},
            {.text = "2026-12-10 00:00:00"},
            {.value = build_stamp},
        },
    };
}

// The exported entries of every module.
typedef const TOV_Image_Information* (*mcn_main_fn)(void* host, void* module);
typedef void (*xkvercn1_fn)(void* dest);
typedef int64_t (*rexhost_init_fn)();
typedef void* (*function_handler_fn)(int64_t request);
