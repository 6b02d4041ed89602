// The numeric built-ins: atan2, sin, cos, exp, log, sqrt, int, abs, rand,
// srand, hex and oct, with the overload step of the math functions and the
// seeding of rand's generator.
#include <cmath>

#include "prxgv.h"
#include "prxlibc.h"
#include "prxnum.h"
#include "prxpp.h"

namespace {

// The number of operands the op was compiled with.
inline int32_t op_arg_count(const OP* op) { return op->op_private & 15; }

// Sets the target to a double with set magic and puts it in place of the top.
OP* set_double_result(PERLGCB* gcb, OP* op, double v)
{
    SV* targ = pp_pad_target(gcb, op);
    sv_set_double(gcb, targ, v);
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

enum math_fn { MATH_SIN, MATH_COS, MATH_EXP, MATH_LOG, MATH_SQRT };

OP* unary_math(PERLGCB* gcb, math_fn fn, int32_t method)
{
    OP* op = gcb->op;
    if (pp_unary_overload(gcb, op, pp_sp(gcb), method, pp_pad_target(gcb, op)))
        return op->op_next;
    double v = pp_double(gcb, *pp_sp(gcb));
    switch (fn) {
    case MATH_SIN:
        v = std::sin(v);
        break;
    case MATH_COS:
        v = std::cos(v);
        break;
    case MATH_EXP:
        v = prx_exp(v);
        break;
    case MATH_LOG:
        if (v <= 0.0)
            return die_error(gcb, "Can't take log of %g", v);
        v = std::log(v);
        break;
    case MATH_SQRT:
        if (v < 0.0)
            return die_error(gcb, "Can't take sqrt of %g", v);
        v = std::sqrt(v);
        break;
    }
    return set_double_result(gcb, op, v);
}

// Whether a value holds only an integer: pIOK without pNOK and pPOK. Get
// magic runs first, so that a magical value's flags describe its value.
bool integer_only(PERLGCB* gcb, SV* sv)
{
    pp_get_magic(gcb, sv);
    return (sv->flags & (SVp_IOK | SVp_NOK | SVp_POK)) == SVp_IOK;
}

// rand's seed when none is given: four bytes of the system's random device
// or, failing that (always here: the read is refused), a mix of the time,
// the process id and two addresses, in wrapping 32-bit arithmetic.
uint32_t seed_procedure(PERLGCB* gcb)
{
    uint32_t seed = 0;
    int32_t fd = prx_open("/dev/urandom", 0);
    if (fd != -1) {
        if (prx_read(fd, &seed, sizeof seed) != static_cast<int64_t>(sizeof seed))
            seed = 0;
        prx_return_zero(fd);
        if (seed)
            return seed;
    }
    int32_t t = prx_time(nullptr);
    uint32_t pid = static_cast<uint32_t>(prx_return_zero());
    uint32_t stack_address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(gcb->arg_sp));
    uint32_t local_address = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&t));
    return 25747u * static_cast<uint32_t>(t) + 269u * pid + 20639u * stack_address + 26107u * local_address;
}

}  // namespace

OP* pp_sin(PERLGCB* gcb) { return unary_math(gcb, MATH_SIN, AMG_SIN); }
OP* pp_cos(PERLGCB* gcb) { return unary_math(gcb, MATH_COS, AMG_COS); }
OP* pp_exp(PERLGCB* gcb) { return unary_math(gcb, MATH_EXP, AMG_EXP); }
OP* pp_log(PERLGCB* gcb) { return unary_math(gcb, MATH_LOG, AMG_LOG); }
OP* pp_sqrt(PERLGCB* gcb) { return unary_math(gcb, MATH_SQRT, AMG_SQRT); }

OP* pp_atan2(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (pp_binary_overload(gcb, op, pp_sp(gcb), AMG_ATAN2, pp_pad_target(gcb, op)))
        return op->op_next;
    SV** sp = pp_sp(gcb);
    SV* left = sp[-1];
    double right = pp_double(gcb, sp[0]);
    double v = std::atan2(pp_double(gcb, left), right);
    pp_put_sp(gcb, pp_sp(gcb) - 1);
    return set_double_result(gcb, op, v);
}

OP* pp_int(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (integer_only(gcb, sv)) {
        if (sv->flags & SVf_IsUV)
            sv_set_uint(gcb, targ, sv_uv(sv));
        else
            sv_set_int(gcb, targ, sv_iv(sv));
    } else {
        double v = std::trunc(pp_double(gcb, sv));
        int64_t iv = nv_to_iv(gcb, v);
        if (static_cast<double>(iv) == v)
            sv_set_int(gcb, targ, iv);
        else
            sv_set_double(gcb, targ, v);
    }
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_abs(PERLGCB* gcb)
{
    OP* op = gcb->op;
    if (pp_unary_overload(gcb, op, pp_sp(gcb), AMG_ABS, pp_pad_target(gcb, op)))
        return op->op_next;
    SV* sv = *pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (integer_only(gcb, sv) && ((sv->flags & SVf_IsUV) || sv_iv(sv) != INT64_MIN)) {
        if (sv->flags & SVf_IsUV)
            sv_set_uint(gcb, targ, sv_uv(sv));
        else
            sv_set_int(gcb, targ, sv_iv(sv) < 0 ? -sv_iv(sv) : sv_iv(sv));
    } else {
        sv_set_double(gcb, targ, std::fabs(pp_double(gcb, sv)));
    }
    pp_set_magic(gcb, targ);
    *pp_sp(gcb) = targ;
    return op->op_next;
}

OP* pp_rand(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    double limit = 1.0;
    if (op_arg_count(op) >= 1) {
        limit = pp_double(gcb, *sp);
        sp = pp_sp(gcb) - 1;
        pp_put_sp(gcb, sp);
    }
    if (limit == 0.0)
        limit = 1.0;
    if (!gcb->srand_called) {
        prx_srand(seed_procedure(gcb));
        gcb->srand_called = 1;
    }
    double value = limit * (prx_rand() * (1.0 / 32768));
    SV* targ = pp_pad_target(gcb, op);
    sv_set_double(gcb, targ, value);
    pp_set_magic(gcb, targ);
    pp_push_one(gcb, pp_sp(gcb), targ);
    return op->op_next;
}

OP* pp_srand(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    uint32_t seed;
    if (op_arg_count(op) >= 1) {
        SV* sv = *sp;
        seed = static_cast<uint32_t>((sv->flags & SVf_IOK) && (sv->flags & SVf_IsUV) ? sv_uv(sv) : sv_to_uint(gcb, sv));
        sp = pp_sp(gcb) - 1;
    } else {
        seed = seed_procedure(gcb);
    }
    prx_srand(seed);
    gcb->srand_called = 1;
    pp_push_one(gcb, sp, &gcb->sv_yes);
    return op->op_next;
}

OP* pp_hex(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint64_t len = 0;
    const char* s = sv_text(gcb, *pp_sp(gcb), &len);
    uint64_t used = 1;
    return set_double_result(gcb, op, scan_hexadecimal(gcb, s, len, &used));
}

OP* pp_oct(PERLGCB* gcb)
{
    OP* op = gcb->op;
    uint64_t len = 0;
    const char* s = sv_text(gcb, *pp_sp(gcb), &len);
    while (len && host_is_space(static_cast<uint8_t>(*s))) {
        s++;
        len--;
    }
    if (len && *s == '0') {
        s++;
        len--;
    }
    uint64_t used = 1;
    double v;
    if (len && *s == 'x')
        v = scan_hexadecimal(gcb, s + 1, len - 1, &used);
    else if (len && *s == 'b')
        v = scan_binary(gcb, s + 1, len - 1, &used);
    else
        v = scan_octal(gcb, s, len, &used);
    return set_double_result(gcb, op, v);
}
