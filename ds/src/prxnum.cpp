// Number scanning and numeric conversion: saturating double-to-integer
// conversions, digit-string scanners, and the power and exponential
// functions with their structured exceptions.
#include "prxnum.h"

int32_t nv_to_i32(PERLGCB*, double v)
{
    if (v >= 2147483647.0)
        return 2147483647;
    if (v <= -2147483648.0 || v != v)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

int64_t nv_to_iv(PERLGCB*, double v)
{
    if (v >= 2147483647.0)
        return v >= 4294967295.0 ? 4294967295 : static_cast<int64_t>(v);
    if (v <= -2147483648.0)
        return -2147483648;
    if (v != v)
        return INT64_MIN;
    return static_cast<int64_t>(v);
}

uint64_t nv_to_uv(PERLGCB*, double v)
{
    if (v >= 4294967295.0)
        return 4294967295u;
    if (v >= 0.0)
        return static_cast<uint64_t>(v);
    if (v < -2147483648.0)
        return 0 - static_cast<uint64_t>(2147483648u);
    if (v != v)
        return 0x8000000000000000ull;
    return 0 - static_cast<uint64_t>(static_cast<int64_t>(-v));
}
