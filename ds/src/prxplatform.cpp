// The platform layer's structured exceptions: a raise is recorded and
// returns, as a continuable exception does when nobody handles it.
#include "prxnum.h"

constinit PlatformExceptions g_platform_exceptions = {0, 0};

void platform_raise_exception(uint32_t code, uint32_t, uint32_t, const uint64_t*)
{
    g_platform_exceptions.last_code = code;
    g_platform_exceptions.count++;
}
