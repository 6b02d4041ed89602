// Wrappers over the toolkit-services record: the log object's write, print
// and message operations, the system-information queries and the clock.
#include <cstring>

#include "matchmod/xklog.h"

constinit XkServices* g_xk_services = nullptr;

int32_t xkHostWrite(XkLog* log, const char16_t* format, int64_t zero, char16_t* buffer, int32_t size,
                    int32_t* length, ...)
{
    va_list ap;
    va_start(ap, length);
    int32_t status = log->write(log, format, zero, buffer, size, length, ap);
    va_end(ap);
    return status;
}

int32_t xkPrintMessage(XkLog* log, int32_t level, const char16_t* format, int64_t zero, ...)
{
    va_list ap;
    va_start(ap, zero);
    int32_t status = log->print(log, level, format, zero, ap);
    va_end(ap);
    return status;
}

int32_t xkHostMessage(XkLog* log, int32_t level, uint32_t code, ...)
{
    va_list ap;
    va_start(ap, code);
    int32_t status = log->message(log, level, code, ap);
    va_end(ap);
    return status;
}

namespace {

constexpr uint32_t NO_SERVICE = 0x803FC002u;

bool offered() { return g_xk_services && g_xk_services->sysinfo; }

}  // namespace

uint32_t xkHostQuery(void* buffer)
{
    if (!offered())
        return NO_SERVICE;
    return g_xk_services->sysinfo(XK_SYSINFO_CLASS_BLOCK, buffer, XK_SYSINFO_SEL_BLOCK);
}

uint32_t xkHostQueryProcessor(void* buffer)
{
    if (!offered())
        return NO_SERVICE;
    return g_xk_services->sysinfo(XK_SYSINFO_CLASS_MACHINE, buffer, XK_SYSINFO_SEL_PROCESSOR);
}

double xkClockSeconds()
{
    double block[2] = {0, 0};
    if (!offered())
        return 0;
    g_xk_services->sysinfo(XK_SYSINFO_CLASS_MACHINE, block, XK_SYSINFO_SEL_CLOCK);
    return block[0] - block[1];
}
