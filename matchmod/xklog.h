// Wrappers over the toolkit-services record that the function-support
// library and the random-number framework use: the log object's write,
// print and message operations, the system-information queries and the
// clock.
#pragma once

#include <cstdint>

#include "matchmod/xkservices.h"

// The toolkit-services record, kept by matchmod's mcn_main from host_vector
// slot 82; null until then.
extern XkServices* g_xk_services;

// Word 4 of the log object: format into a UTF-16 buffer.
int32_t xkHostWrite(XkLog* log, const char16_t* format, int64_t zero, char16_t* buffer, int32_t size,
                    int32_t* length, ...);
// Word 5: print one line at a level (the fourth argument is 0 at every call).
int32_t xkPrintMessage(XkLog* log, int32_t level, const char16_t* format, int64_t zero, ...);
// Word 7: issue a numbered message at a level.
int32_t xkHostMessage(XkLog* log, int32_t level, uint32_t code, ...);
// System information, class 8: a block of at least 200 bytes.
uint32_t xkHostQuery(void* buffer);
// System information, class 0x10: the 352-byte processor block.
uint32_t xkHostQueryProcessor(void* buffer);
// The host clock in seconds.
double xkClockSeconds();
// The log object, or null when the host offers none.
inline XkLog* xk_log() { return g_xk_services ? g_xk_services->log : nullptr; }

// Levels of the log object's prints and messages.
enum : int32_t {
    XK_LEVEL_DUMP = 0,
    XK_LEVEL_INFO = 1,
    XK_LEVEL_NOTE = 2,
    XK_LEVEL_WARNING = 3,
    XK_LEVEL_ERROR = 4,
};
