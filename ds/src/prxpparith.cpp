// Run-time functions of the operators: exponentiation, multiplication,
// division, modulus, repetition, subtraction, shifts, numeric and string
// comparisons, bitwise operators, negation, not, complement and the integer
// variants.
#include <cmath>
#include <cstring>

#include "prxgv.h"
#include "prxio.h"
#include "prxnum.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

const char div_zero[] = "Illegal division by zero";
const char mod_zero[] = "Illegal modulus zero";
// PRIVATE bit of the shift, bitwise and complement ops: integer arithmetic.
constexpr uint8_t INTEGER_HINT = 0x01;

bool stacked(const OP* op) { return (op->op_flags & OPf_STACKED) != 0; }

// The assignment form of an undefined, unmagical left operand counts as 0
// without a conversion (and so without a warning).
bool left_is_zero(const OP* op, const SV* left)
{
    return stacked(op) && !(left->flags & (SVf_OK_ANY | SVs_GMG));
}

// The target replaces both operands of a binary op, after its set magic.
OP* put_binary(PERLGCB* gcb, SV** sp, SV* targ)
{
    pp_set_magic(gcb, targ);
    *--sp = targ;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* put_double(PERLGCB* gcb, SV** sp, SV* targ, double v)
{
    sv_set_double(gcb, targ, v);
    return put_binary(gcb, sp, targ);
}

OP* put_int(PERLGCB* gcb, SV** sp, SV* targ, int64_t v)
{
    sv_set_int(gcb, targ, v);
    return put_binary(gcb, sp, targ);
}

OP* put_uint(PERLGCB* gcb, SV** sp, SV* targ, uint64_t v)
{
    sv_set_uint(gcb, targ, v);
    return put_binary(gcb, sp, targ);
}

// Yes or no replaces both operands.
OP* put_bool(PERLGCB* gcb, SV** sp, bool b)
{
    *--sp = pp_bool(gcb, b);
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

// The target replaces the operand of a unary op, after its set magic.
OP* put_unary(PERLGCB* gcb, SV** sp, SV* targ)
{
    pp_set_magic(gcb, targ);
    *sp = targ;
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

uint64_t wrap_mul(uint64_t a, uint64_t b) { return a * b; }

// ---- the shared bodies of the op families -----------------------------------

enum class Num { Pow, Mul, Div, Sub };

OP* double_op(PERLGCB* gcb, Num kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, method, targ))
        return op->op_next;
    SV* right = sp[0];
    SV* left = sp[-1];
    double r = pp_double(gcb, right);
    if (kind == Num::Div && r == 0.0)
        return die_error(gcb, div_zero);
    double l = kind == Num::Sub && left_is_zero(op, left) ? 0.0 : pp_double(gcb, left);
    double v = 0.0;
    switch (kind) {
    case Num::Pow: v = prx_pow(l, r); break;
    case Num::Mul: v = l * r; break;
    case Num::Div: v = l / r; break;
    case Num::Sub: v = l - r; break;
    }
    return put_double(gcb, sp, targ, v);
}

enum class Cmp { Lt, Gt, Le, Ge, Ne, Eq };

bool compare(Cmp kind, int c)
{
    switch (kind) {
    case Cmp::Lt: return c < 0;
    case Cmp::Gt: return c > 0;
    case Cmp::Le: return c <= 0;
    case Cmp::Ge: return c >= 0;
    case Cmp::Eq: return c == 0;
    case Cmp::Ne: return c != 0;
    }
    return false;
}

// NaN answers false for every test but != through the IEEE comparisons.
OP* numeric_compare(PERLGCB* gcb, Cmp kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (pp_binary_overload(gcb, op, sp, method, nullptr))
        return op->op_next;
    double r = pp_double(gcb, sp[0]);
    double l = pp_double(gcb, sp[-1]);
    bool b = false;
    switch (kind) {
    case Cmp::Lt: b = l < r; break;
    case Cmp::Gt: b = l > r; break;
    case Cmp::Le: b = l <= r; break;
    case Cmp::Ge: b = l >= r; break;
    case Cmp::Ne: b = l != r; break;
    case Cmp::Eq: b = l == r; break;
    }
    return put_bool(gcb, sp, b);
}

OP* integer_compare(PERLGCB* gcb, Cmp kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (pp_binary_overload(gcb, op, sp, method, nullptr))
        return op->op_next;
    int64_t r = pp_int(gcb, sp[0]);
    int64_t l = pp_int(gcb, sp[-1]);
    return put_bool(gcb, sp, compare(kind, l < r ? -1 : l > r ? 1 : 0));
}

OP* string_compare(PERLGCB* gcb, Cmp kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    if (pp_binary_overload(gcb, op, sp, method, nullptr))
        return op->op_next;
    SV* left = sp[-1];
    SV* right = sp[0];
    bool b;
    if (kind == Cmp::Eq || kind == Cmp::Ne)
        b = (sv_strings_equal(gcb, left, right) != 0) == (kind == Cmp::Eq);
    else
        b = compare(kind, sv_compare_strings(gcb, left, right));
    return put_bool(gcb, sp, b);
}

enum class Bit { And, Xor, Or };

OP* bit_op(PERLGCB* gcb, Bit kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, method, targ))
        return op->op_next;
    SV* left = sp[-1];
    SV* right = sp[0];
    if ((left->flags | right->flags) & (SVp_IOK | SVp_NOK)) {
        bool zero_left = kind != Bit::And && left_is_zero(op, left);
        if (op->op_private & INTEGER_HINT) {
            uint64_t r = static_cast<uint64_t>(pp_int(gcb, right));
            uint64_t l = zero_left ? 0 : static_cast<uint64_t>(pp_int(gcb, left));
            uint64_t v = kind == Bit::And ? (l & r) : kind == Bit::Xor ? (l ^ r) : (l | r);
            return put_int(gcb, sp, targ, static_cast<int64_t>(v));
        }
        uint64_t r = pp_uint(gcb, right);
        uint64_t l = zero_left ? 0 : pp_uint(gcb, left);
        uint64_t v = kind == Bit::And ? (l & r) : kind == Bit::Xor ? (l ^ r) : (l | r);
        return put_uint(gcb, sp, targ, v);
    }
    do_string_bitop(gcb, op->op_type, targ, left, right);
    return put_binary(gcb, sp, targ);
}

// The complement of a byte string in place, a machine word at a time in
// the middle.
void complement_bytes(uint8_t* s, uint64_t len)
{
    while (len && (reinterpret_cast<uintptr_t>(s) & 7)) {
        *s = static_cast<uint8_t>(~*s);
        s++;
        len--;
    }
    for (; len >= 8; s += 8, len -= 8) {
        uint64_t w;
        std::memcpy(&w, s, 8);
        w = ~w;
        std::memcpy(s, &w, 8);
    }
    for (; len; s++, len--)
        *s = static_cast<uint8_t>(~*s);
}

// The complement of a UTF-8 string: each code point's 64-bit complement,
// as bytes when no character was above 0xFF, else re-encoded. Returns
// false on a malformed character (the target is left as it was).
bool complement_utf8(PERLGCB* gcb, SV* targ)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_pv(targ));
    uint64_t len = sv_cur(targ);
    const uint8_t* end = s + len;
    uint64_t nchars = 0, nwide = 0, needed = 0;
    for (const uint8_t* p = s; p < end;) {
        int64_t clen = 0;
        uint64_t c = utf8_decode(gcb, p, static_cast<uint64_t>(end - p), &clen, UTF8_ALLOW_ANY);
        if (clen <= 0)
            return false;
        p += clen;
        nchars++;
        if (c > 0xFF)
            nwide++;
        needed += utf8_encoded_length(~c);
    }
    uint64_t size = (nwide ? needed : nchars) + 1;
    uint8_t* buf = static_cast<uint8_t*>(pool_malloc(gcb, size));
    std::memset(buf, 0, size);
    uint8_t* d = buf;
    for (const uint8_t* p = s; p < end;) {
        int64_t clen = 0;
        uint64_t c = utf8_decode(gcb, p, static_cast<uint64_t>(end - p), &clen, UTF8_ALLOW_ANYUV);
        p += clen;
        if (nwide)
            d = utf8_encode(gcb, d, ~c);
        else
            *d++ = static_cast<uint8_t>(~c);
    }
    sv_set_bytes(gcb, targ, reinterpret_cast<const char*>(buf), static_cast<uint64_t>(d - buf));
    if (nwide)
        targ->flags |= SVf_UTF8;
    pool_free(gcb, buf);
    return true;
}

}  // namespace

// ---- overload steps shared with the other op families ------------------------

// Only a target that stands for the answer receives it: assigning a
// temporary answer takes its buffer, which would leave the answer empty.
static SV* overload_answer(PERLGCB* gcb, OP* op, SV* targ, SV* res)
{
    if (targ && (stacked(op) || (targ->flags & SVs_PADMY))) {
        sv_assign(gcb, targ, res);
        pp_set_magic(gcb, targ);
        return targ;
    }
    return res;
}

bool pp_binary_overload_call(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ)
{
    SV* left = sp[-1];
    SV* right = sp[0];
    pp_put_sp(gcb, sp);
    SV* res = overload_call_operator(gcb, left, right, method, targ && stacked(op) ? AMGf_assign : 0);
    if (!res)
        return false;
    sp = pp_sp(gcb) - 1;
    *sp = overload_answer(gcb, op, targ, res);
    pp_put_sp(gcb, sp);
    return true;
}

bool pp_unary_overload_call(PERLGCB* gcb, OP* op, SV** sp, int32_t method, SV* targ)
{
    SV* sv = *sp;
    pp_put_sp(gcb, sp);
    SV* res = overload_call_operator(gcb, sv, &gcb->sv_undef, method, AMGf_unary | AMGf_noright);
    if (!res)
        return false;
    sp = pp_sp(gcb);
    *sp = overload_answer(gcb, op, targ, res);
    pp_put_sp(gcb, sp);
    return true;
}

// ---- arithmetic -------------------------------------------------------------

OP* pp_pow(PERLGCB* gcb) { return double_op(gcb, Num::Pow, AMG_POW); }
OP* pp_multiply(PERLGCB* gcb) { return double_op(gcb, Num::Mul, AMG_MULTIPLY); }
OP* pp_divide(PERLGCB* gcb) { return double_op(gcb, Num::Div, AMG_DIVIDE); }
OP* pp_subtract(PERLGCB* gcb) { return double_op(gcb, Num::Sub, AMG_SUBTRACT); }

// The sign of the result follows the right operand. Integers keep an
// unsigned magnitude and a sign; doubles up to 4294967295 are truncated to
// the integer path, larger ones rounded to whole numbers for fmod.
OP* pp_modulo(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_MODULO, targ))
        return op->op_next;
    SV* right = sp[0];
    SV* left = sp[-1];
    auto plain_int = [](const SV* sv) {
        return (sv->flags & (SVf_IOK | SVf_IsUV | SVf_NOK | SVf_POK)) == SVf_IOK;
    };
    bool use_double = false;
    bool right_neg, left_neg;
    uint64_t ri = 0, li = 0;
    double rd = 0.0, ld = 0.0;
    if (plain_int(right)) {
        int64_t v = sv_iv(right);
        right_neg = v < 0;
        ri = right_neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    } else {
        double d = pp_double(gcb, right);
        right_neg = d < 0;
        rd = std::fabs(d);
        use_double = true;
    }
    if (!use_double && plain_int(left)) {
        int64_t v = sv_iv(left);
        left_neg = v < 0;
        li = left_neg ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
    } else {
        double d = pp_double(gcb, left);
        left_neg = d < 0;
        ld = left_neg ? -d : d;
        if (!use_double) {
            rd = static_cast<double>(ri);
            use_double = true;
        }
    }
    if (use_double && ld <= 4294967295.0 && rd <= 4294967295.0) {
        li = static_cast<uint64_t>(ld);
        ri = static_cast<uint64_t>(rd);
        use_double = false;
    }
    if (use_double) {
        ld = std::floor(ld + 0.5);
        rd = std::floor(rd + 0.5);
        if (rd == 0.0)
            return die_error(gcb, mod_zero);
        double ans = std::fmod(ld, rd);
        if (left_neg != right_neg && ans != 0.0)
            ans = rd - ans;
        return put_double(gcb, sp, targ, right_neg ? -ans : ans);
    }
    if (ri == 0)
        return die_error(gcb, mod_zero);
    uint64_t ans = li % ri;
    if (left_neg != right_neg && ans)
        ans = ri - ans;
    // ans < ri <= 2^63 when the right operand is negative.
    if (right_neg)
        return put_int(gcb, sp, targ, -static_cast<int64_t>(ans));
    return put_uint(gcb, sp, targ, ans);
}

// String repetition, or list repetition of the marked list. Sizes beyond
// the 32-bit range are refused before anything is allocated.
OP* pp_repeat(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_REPEAT, targ))
        return op->op_next;
    int64_t count = pp_int(gcb, *sp);
    sp--;
    if ((op->op_private & OPpREPEAT_DOLIST) && pp_wants_list(gcb, op)) {
        int32_t mark = pop_mark(gcb);
        SV** first = gcb->arg_base + mark + 1;
        int64_t items = sp - first + 1;
        if (count < 1) {
            pp_put_sp(gcb, gcb->arg_base + mark);
            return op->op_next;
        }
        if (count == 1 || items == 0) {
            pp_put_sp(gcb, sp);
            return op->op_next;
        }
        if (items * count > INT32_MAX) {
            pp_put_sp(gcb, sp);
            return die_error(gcb, "Out of memory during list extend");
        }
        int32_t total = static_cast<int32_t>(items * count);
        for (SV** p = first; p <= sp; p++)
            (*p)->flags &= ~SVs_TEMP;
        sp = pp_extend(gcb, sp, total - static_cast<int32_t>(items));
        first = gcb->arg_base + mark + 1;
        SV** dst = first + items;
        for (int64_t i = 1; i < count; i++, dst += items)
            std::memcpy(dst, first, static_cast<size_t>(items) * sizeof(SV*));
        pp_put_sp(gcb, first + total - 1);
        return op->op_next;
    }
    SV* left = *sp;
    if (left != targ)
        sv_assign(gcb, targ, left);
    uint64_t len = 0;
    sv_force_string(gcb, targ, &len);
    bool utf8 = (targ->flags & SVf_UTF8) && !pp_bytes_hint(gcb);
    if (count > 1) {
        if (len && (len > INT32_MAX || static_cast<uint64_t>(count) > INT32_MAX / len)) {
            pp_put_sp(gcb, sp);
            return die_error(gcb, "Out of memory during string extend");
        }
        uint64_t total = len * static_cast<uint64_t>(count);
        char* pv = sv_grow_buffer(gcb, targ, total + 1);
        if (len)
            mem_fill_repeated(gcb, pv + len, pv, static_cast<int32_t>(len), static_cast<int32_t>(count - 1));
        sv_cur(targ) = total;
        pv[total] = 0;
    } else if (count < 1) {
        sv_cur(targ) = 0;
        sv_pv(targ)[0] = 0;
    }
    targ->flags = (targ->flags & ~SV_VALUE_FLAGS) | SVf_POK | SVp_POK | (utf8 ? SVf_UTF8 : 0u);
    pp_set_magic(gcb, targ);
    *sp = targ;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

// ---- shifts -------------------------------------------------------------------

static OP* shift_op(PERLGCB* gcb, bool left_shift)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, left_shift ? AMG_LEFT_SHIFT : AMG_RIGHT_SHIFT, targ))
        return op->op_next;
    uint32_t n = static_cast<uint32_t>(pp_int(gcb, sp[0])) & 63;
    if (op->op_private & INTEGER_HINT) {
        int64_t v = pp_int(gcb, sp[-1]);
        int64_t r = left_shift ? static_cast<int64_t>(static_cast<uint64_t>(v) << n) : v >> n;
        return put_int(gcb, sp, targ, r);
    }
    uint64_t v = pp_uint(gcb, sp[-1]);
    return put_uint(gcb, sp, targ, left_shift ? v << n : v >> n);
}

OP* pp_left_shift(PERLGCB* gcb) { return shift_op(gcb, true); }
OP* pp_right_shift(PERLGCB* gcb) { return shift_op(gcb, false); }

// ---- comparisons --------------------------------------------------------------

// <=> and its integer form: -1, 0 or 1 in the target. The float form
// answers undef (not the target) when either operand is NaN.
static OP* three_way_compare(PERLGCB* gcb, bool integer)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (pp_binary_overload(gcb, op, sp, AMG_NCMP, targ))
        return op->op_next;
    if (integer) {
        int64_t r = pp_int(gcb, sp[0]);
        int64_t l = pp_int(gcb, sp[-1]);
        return put_int(gcb, sp, targ, l > r ? 1 : l < r ? -1 : 0);
    }
    double r = pp_double(gcb, sp[0]);
    double l = pp_double(gcb, sp[-1]);
    if (std::isnan(l) || std::isnan(r)) {
        *--sp = &gcb->sv_undef;
        pp_put_sp(gcb, sp);
        return op->op_next;
    }
    return put_int(gcb, sp, targ, l > r ? 1 : l < r ? -1 : 0);
}

OP* pp_lt(PERLGCB* gcb) { return numeric_compare(gcb, Cmp::Lt, AMG_LT); }
OP* pp_gt(PERLGCB* gcb) { return numeric_compare(gcb, Cmp::Gt, AMG_GT); }
OP* pp_le(PERLGCB* gcb) { return numeric_compare(gcb, Cmp::Le, AMG_LE); }
OP* pp_ge(PERLGCB* gcb) { return numeric_compare(gcb, Cmp::Ge, AMG_GE); }
OP* pp_ne(PERLGCB* gcb) { return numeric_compare(gcb, Cmp::Ne, AMG_NE); }

OP* pp_ncmp(PERLGCB* gcb) { return three_way_compare(gcb, false); }

OP* pp_i_lt(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Lt, AMG_LT); }
OP* pp_i_gt(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Gt, AMG_GT); }
OP* pp_i_le(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Le, AMG_LE); }
OP* pp_i_ge(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Ge, AMG_GE); }
OP* pp_i_eq(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Eq, AMG_EQ); }
OP* pp_i_ne(PERLGCB* gcb) { return integer_compare(gcb, Cmp::Ne, AMG_NE); }

OP* pp_i_ncmp(PERLGCB* gcb) { return three_way_compare(gcb, true); }

// The locale hint (PRIVATE 0x40) makes no difference: always byte order.
OP* pp_slt(PERLGCB* gcb) { return string_compare(gcb, Cmp::Lt, AMG_SLT); }
OP* pp_sgt(PERLGCB* gcb) { return string_compare(gcb, Cmp::Gt, AMG_SGT); }
OP* pp_sle(PERLGCB* gcb) { return string_compare(gcb, Cmp::Le, AMG_SLE); }
OP* pp_sge(PERLGCB* gcb) { return string_compare(gcb, Cmp::Ge, AMG_SGE); }
OP* pp_seq(PERLGCB* gcb) { return string_compare(gcb, Cmp::Eq, AMG_SEQ); }
OP* pp_sne(PERLGCB* gcb) { return string_compare(gcb, Cmp::Ne, AMG_SNE); }

OP* pp_scmp(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (pp_binary_overload(gcb, op, sp, AMG_SCMP, targ))
        return op->op_next;
    return put_int(gcb, sp, targ, sv_compare_strings(gcb, sp[-1], sp[0]));
}

// ---- bitwise operators ----------------------------------------------------------

OP* pp_bit_and(PERLGCB* gcb) { return bit_op(gcb, Bit::And, AMG_BIT_AND); }
OP* pp_bit_xor(PERLGCB* gcb) { return bit_op(gcb, Bit::Xor, AMG_BIT_XOR); }
OP* pp_bit_or(PERLGCB* gcb) { return bit_op(gcb, Bit::Or, AMG_BIT_OR); }

// ---- unary operators --------------------------------------------------------------

// The 32-bit limits decide the integer path; the most negative 64-bit
// integer, whose negation does not fit, takes the double path.
OP* pp_negate(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (pp_unary_overload(gcb, op, sp, AMG_NEG, targ))
        return op->op_next;
    SV* sv = *sp;
    pp_get_magic(gcb, sv);
    uint32_t f = sv->flags;
    if ((f & SVp_IOK) && !(f & (SVp_NOK | SVp_POK))) {
        if (f & SVf_IsUV) {
            if (sv_uv(sv) <= 2147483647u) {
                sv_set_int(gcb, targ, -static_cast<int64_t>(sv_uv(sv)));
                return put_unary(gcb, sp, targ);
            }
        } else if (sv_iv(sv) != -2147483648LL && sv_iv(sv) != INT64_MIN) {
            sv_set_int(gcb, targ, -sv_iv(sv));
            return put_unary(gcb, sp, targ);
        }
        sv_set_double(gcb, targ, -pp_double(gcb, sv));
        return put_unary(gcb, sp, targ);
    }
    if (f & (SVp_IOK | SVp_NOK)) {
        sv_set_double(gcb, targ, -pp_double(gcb, sv));
        return put_unary(gcb, sp, targ);
    }
    if (f & SVp_POK) {
        uint64_t len = 0;
        const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, sv, &len));
        uint8_t c = len ? s[0] : 0;
        bool ident = host_is_alpha(c) || c == '_';
        if (!ident && (sv->flags & SVf_UTF8) && !pp_bytes_hint(gcb) && c >= 0xC0 && c <= 0xFD)
            ident = utf8_is_ident_start(gcb, s) != 0;
        if (ident) {
            if (targ == sv) {
                sv_insert(gcb, targ, 0, 0, "-", 1);
            } else {
                sv_set_bytes(gcb, targ, "-", 1);
                sv_append_sv(gcb, targ, sv);
            }
        } else if (len && (c == '+' || c == '-')) {
            if (targ != sv)
                sv_assign(gcb, targ, sv);
            uint64_t tlen = 0;
            char* t = sv_force_string(gcb, targ, &tlen);
            t[0] = c == '-' ? '+' : '-';
            targ->flags &= ~(SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK | SVf_IsUV);
        } else {
            sv_set_double(gcb, targ, -pp_double(gcb, sv));
        }
        return put_unary(gcb, sp, targ);
    }
    sv_set_double(gcb, targ, -pp_double(gcb, sv));
    return put_unary(gcb, sp, targ);
}

OP* pp_not(PERLGCB* gcb)
{
    SV** sp = pp_sp(gcb);
    if (!pp_unary_overload(gcb, gcb->op, sp, AMG_NOT, nullptr))
        *sp = pp_bool(gcb, !pp_truth(gcb, *sp));
    pp_put_sp(gcb, sp);
    return gcb->op->op_next;
}

OP* pp_complement(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (pp_unary_overload(gcb, op, sp, AMG_COMPLEMENT, targ))
        return op->op_next;
    SV* sv = *sp;
    if (sv->flags & (SVp_IOK | SVp_NOK)) {
        if (op->op_private & INTEGER_HINT)
            sv_set_int(gcb, targ, static_cast<int64_t>(~static_cast<uint64_t>(pp_int(gcb, sv))));
        else
            sv_set_uint(gcb, targ, ~pp_uint(gcb, sv));
        return put_unary(gcb, sp, targ);
    }
    if (targ != sv)
        sv_assign(gcb, targ, sv);
    uint64_t len = 0;
    char* s = sv_force_string(gcb, targ, &len);
    if (targ->flags & SVf_UTF8) {
        if (!complement_utf8(gcb, targ))
            return die_error(gcb, "Malformed UTF-8 character");
    } else {
        complement_bytes(reinterpret_cast<uint8_t*>(s), len);
    }
    *sp = targ;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

// ---- the integer variants -----------------------------------------------------------

enum class IntOp { Mul, Add, Sub };

static OP* integer_op(PERLGCB* gcb, IntOp kind, int32_t method)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, method, targ))
        return op->op_next;
    uint64_t r = static_cast<uint64_t>(pp_int(gcb, sp[0]));
    uint64_t l = kind != IntOp::Mul && left_is_zero(op, sp[-1]) ? 0 : static_cast<uint64_t>(pp_int(gcb, sp[-1]));
    uint64_t v = kind == IntOp::Mul ? wrap_mul(l, r) : kind == IntOp::Add ? l + r : l - r;
    return put_int(gcb, sp, targ, static_cast<int64_t>(v));
}

OP* pp_i_multiply(PERLGCB* gcb) { return integer_op(gcb, IntOp::Mul, AMG_MULTIPLY); }
OP* pp_i_add(PERLGCB* gcb) { return integer_op(gcb, IntOp::Add, AMG_ADD); }
OP* pp_i_subtract(PERLGCB* gcb) { return integer_op(gcb, IntOp::Sub, AMG_SUBTRACT); }

// Truncating division; the most negative integer divided by -1 gives
// itself (the wrapped quotient) instead of trapping.
OP* pp_i_divide(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_DIVIDE, targ))
        return op->op_next;
    int64_t r = pp_int(gcb, sp[0]);
    if (r == 0)
        return die_error(gcb, div_zero);
    int64_t l = pp_int(gcb, sp[-1]);
    int64_t q = r == -1 ? static_cast<int64_t>(0 - static_cast<uint64_t>(l)) : l / r;
    return put_int(gcb, sp, targ, q);
}

// The remainder takes the left operand's sign; anything modulo -1 is 0.
OP* pp_i_modulo(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_binary_target(gcb, op, sp);
    if (pp_binary_overload(gcb, op, sp, AMG_MODULO, targ))
        return op->op_next;
    int64_t r = pp_int(gcb, sp[0]);
    int64_t l = pp_int(gcb, sp[-1]);
    if (r == 0)
        return die_error(gcb, mod_zero);
    return put_int(gcb, sp, targ, r == -1 ? 0 : l % r);
}

OP* pp_i_negate(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* targ = pp_pad_target(gcb, op);
    if (pp_unary_overload(gcb, op, sp, AMG_NEG, targ))
        return op->op_next;
    sv_set_int(gcb, targ, static_cast<int64_t>(0 - static_cast<uint64_t>(pp_int(gcb, *sp))));
    return put_unary(gcb, sp, targ);
}
