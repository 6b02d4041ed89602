// pack and unpack: the template letters both read (prxpack.def), the
// repeat counts, and the two run-time functions with their BER, uuencoding
// and checksum helpers.
#include <bit>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "prxchar.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

enum pack_kind : uint8_t {
    PK_INVALID,
    PK_STRING,         // a A Z
    PK_BITS,           // b B
    PK_HEX,            // h H
    PK_INT,            // the integer letters
    PK_FLOAT,          // f F: IEEE single
    PK_DOUBLE,         // d D: IEEE double
    PK_POINTER,        // p
    PK_POINTER_BLOCK,  // P
    PK_UTF8,           // U
    PK_BER,            // w
    PK_UUENCODE,       // u
    PK_NUL,            // x
    PK_BACK,           // X
    PK_ABSOLUTE,       // @
    PK_CHECKSUM,       // %
};

enum : uint16_t {
    PF_SIGNED_IN = 0x001,
    PF_SIGNED_OUT = 0x002,
    PF_BE = 0x004,
    PF_BANG = 0x008,
    PF_STAR_ZERO = 0x010,
    PF_FIRST_COUNT = 0x020,
    PF_SUM_INT = 0x040,
    PF_SUM_WIDE = 0x080,
    PF_SUM_FLOAT = 0x100,
};

struct pack_letter {
    uint8_t kind;    // pack_kind; PK_INVALID for a character without a row
    uint8_t width;   // bytes of one numeric field
    uint16_t flags;  // PF_* bits
};

struct pack_letter_table {
    pack_letter row[256];
};

constexpr pack_letter_table build_letter_table()
{
    pack_letter_table t{};
#define PRX_PACK(letter, kind, width, flags) \
    t.row[static_cast<uint8_t>(letter)] = pack_letter{kind, width, static_cast<uint16_t>(flags)};
#include "prxpack.def"
#undef PRX_PACK
    return t;
}

constexpr int32_t count_letter_rows()
{
    int32_t n = 0;
#define PRX_PACK(letter, kind, width, flags) n++;
#include "prxpack.def"
#undef PRX_PACK
    return n;
}

constexpr pack_letter_table letters = build_letter_table();
static_assert(count_letter_rows() == 34);

inline const pack_letter& letter_of(char c) { return letters.row[static_cast<uint8_t>(c)]; }

// The letters that "!" may follow, as the message names them.
constexpr const char* BANG_LETTERS = "sSiIlL";

// The uuencoding alphabet: value 0 is the grave accent, value k the byte 32 + k.
constexpr char uu_char(uint32_t v) { return v ? static_cast<char>(32 + (v & 63)) : '`'; }

// Reads the digits of a repeat count at *p into *count. False when the count
// would pass the 32-bit signed range; the digits are checked before they are
// added, so no count wraps.
bool read_count_digits(const char** p, const char* end, int32_t* count)
{
    uint32_t n = 0;
    while (*p < end && is_decimal_digit(**p)) {
        uint32_t d = static_cast<uint32_t>(**p - '0');
        if (n > (static_cast<uint32_t>(INT32_MAX) - d) / 10)
            return false;
        n = n * 10 + d;
        ++*p;
    }
    *count = static_cast<int32_t>(n);
    return true;
}

// Writes the low width bytes of v in the letter's byte order.
void store_int(char* out, uint64_t v, uint32_t width, bool big_endian)
{
    for (uint32_t i = 0; i < width; i++) {
        uint32_t at = big_endian ? width - 1 - i : i;
        out[at] = static_cast<char>(v & 0xFF);
        v >>= 8;
    }
}

// Reads width bytes in the letter's byte order, sign-extended when signed.
uint64_t load_int(const char* in, uint32_t width, bool big_endian, bool is_signed)
{
    uint64_t v = 0;
    for (uint32_t i = 0; i < width; i++) {
        uint32_t at = big_endian ? i : width - 1 - i;
        v = (v << 8) | static_cast<uint8_t>(in[at]);
    }
    if (is_signed && width < 8) {
        uint64_t sign = 1ull << (width * 8 - 1);
        v = (v ^ sign) - sign;
    }
    return v;
}

// A double narrowed to a single: values beyond the single's range become
// infinities (the conversion itself would be undefined there).
float narrow_to_float(double d)
{
    if (d > FLT_MAX)
        return std::numeric_limits<float>::infinity();
    if (d < -FLT_MAX)
        return -std::numeric_limits<float>::infinity();
    return static_cast<float>(d);
}

// Makes room for n more bytes and a terminator behind the string and
// returns where they go; the caller sets the new length. The result of a
// pack grows by many small pieces: its buffer grows by half again at least,
// so that the pieces cost time in proportion to their bytes.
char* append_area(PERLGCB* gcb, SV* sv, uint64_t n)
{
    uint64_t cur = sv_cur(sv);
    uint64_t need = cur + n + 1;
    if (sv_type(sv) < SVt_PV || sv_len(sv) < need) {
        uint64_t have = sv_type(sv) < SVt_PV ? 0 : sv_len(sv);
        uint64_t grown = have + have / 2;
        sv_grow_buffer(gcb, sv, grown > need ? grown : need);
    }
    return sv_pv(sv) + cur;
}

// Appends n bytes at p. The bytes may be the string's own (a target packed
// into itself): they follow the buffer when it moves.
void append(PERLGCB* gcb, SV* sv, const char* p, uint64_t n)
{
    const char* start = sv_type(sv) >= SVt_PV ? sv_pv(sv) : nullptr;
    bool own = start && p >= start && p <= start + sv_cur(sv);
    uint64_t at = own ? static_cast<uint64_t>(p - start) : 0;
    append_area(gcb, sv, n);
    sv_append_bytes(gcb, sv, own ? sv_pv(sv) + at : p, n);
}

// Appends n copies of byte.
void append_fill(PERLGCB* gcb, SV* sv, char byte, uint64_t n)
{
    char* out = append_area(gcb, sv, n);
    std::memset(out, byte, n);
    sv_cur(sv) += n;
    out[n] = 0;
}

// ---- addresses handed out by p and P ---------------------------------------------

}  // namespace

// The string addresses that pack's "p" and "P" stored, each with the value
// whose buffer it was. unpack honours an address only while that value is
// alive and its buffer still starts there, and reads no further than the
// value's length; any other address is not read. Open addressing on the
// address, in the interpreter's pool; its destruction frees the table.
// Entries whose value is gone are swept out whenever the table would fill
// past half.
struct pack_address_table {
    struct entry {
        uintptr_t address;  // 0 for an empty slot
        SV* sv;             // the value the address came from (not counted)
    };
    uint64_t capacity;  // slots, a power of two
    uint64_t count;     // slots in use
    entry* slot;        // the slots, in the same block right after this head
};

namespace {

uint64_t address_hash(uintptr_t a)
{
    uint64_t h = static_cast<uint64_t>(a) * 0x9E3779B97F4A7C15ull;
    return h ^ (h >> 29);
}

// The value's string still starts at address: its head is alive (SV heads
// stay in their arenas while the interpreter lives, so a freed one reads
// safely) and holds a string body whose buffer is there.
bool still_at(const SV* sv, uintptr_t address)
{
    uint32_t type = sv->flags & 0xFF;
    return type != SVt_FREED && sv->refcnt != 0 && type >= SVt_PV && type <= SVt_PVLV && sv->any &&
           reinterpret_cast<uintptr_t>(static_cast<const PV*>(sv->any)->pv) == address;
}

pack_address_table* new_address_table(PERLGCB* gcb, uint64_t capacity)
{
    uint64_t size = sizeof(pack_address_table) + capacity * sizeof(pack_address_table::entry);
    auto* t = static_cast<pack_address_table*>(pool_malloc(gcb, size));
    t->capacity = capacity;
    t->count = 0;
    t->slot = reinterpret_cast<pack_address_table::entry*>(t + 1);
    for (uint64_t i = 0; i < capacity; i++)
        t->slot[i] = {0, nullptr};
    return t;
}

pack_address_table::entry* find_address(pack_address_table* t, uintptr_t address)
{
    uint64_t mask = t->capacity - 1;
    for (uint64_t i = address_hash(address) & mask;; i = (i + 1) & mask)
        if (t->slot[i].address == address || t->slot[i].address == 0)
            return &t->slot[i];
}

// Records that address is the string buffer of sv.
void remember_address(PERLGCB* gcb, uintptr_t address, SV* sv)
{
    pack_address_table* t = gcb->pack_addresses;
    if (!t || (t->count + 1) * 2 > t->capacity) {
        // Sweep into a new table with room for as many again as are alive.
        uint64_t live = 0;
        if (t)
            for (uint64_t i = 0; i < t->capacity; i++)
                live += t->slot[i].address && still_at(t->slot[i].sv, t->slot[i].address);
        uint64_t capacity = 16;
        while (capacity < (live + 1) * 4)
            capacity *= 2;
        pack_address_table* fresh = new_address_table(gcb, capacity);
        if (t) {
            for (uint64_t i = 0; i < t->capacity; i++) {
                const pack_address_table::entry& e = t->slot[i];
                if (e.address && still_at(e.sv, e.address)) {
                    *find_address(fresh, e.address) = e;
                    fresh->count++;
                }
            }
            pool_free(gcb, t);
        }
        gcb->pack_addresses = t = fresh;
    }
    pack_address_table::entry* e = find_address(t, address);
    if (!e->address)
        t->count++;
    *e = {address, sv};
}

// The value whose string pack stored at address and still starts there, or
// null.
SV* value_at_address(PERLGCB* gcb, uintptr_t address)
{
    pack_address_table* t = gcb->pack_addresses;
    if (!t || !address)
        return nullptr;
    pack_address_table::entry* e = find_address(t, address);
    return e->address && still_at(e->sv, address) ? e->sv : nullptr;
}

}  // namespace

void pp_pack_free_addresses(PERLGCB* gcb)
{
    pool_free(gcb, gcb->pack_addresses);
    gcb->pack_addresses = nullptr;
}

namespace {

// ---- long decimal numbers of "w" ---------------------------------------------

// A decimal number too long for an integer: limbs of nine decimal digits,
// least significant first, in pool memory. The BER letter converts between
// such numbers and base-128 digits several digits a pass, so that the
// quadratic cost of the conversion stays small.
struct big_decimal {
    uint32_t* limb;  // each below 1e9
    uint64_t n;      // limbs in use; 0 for the number 0
    uint64_t cap;    // limbs allocated
};

constexpr uint32_t LIMB_BASE = 1000000000u;

void big_push(PERLGCB* gcb, big_decimal* b, uint32_t v)
{
    if (b->n == b->cap) {
        uint64_t cap = b->cap ? b->cap * 2 : 8;
        auto* limb = static_cast<uint32_t*>(pool_malloc(gcb, cap * sizeof(uint32_t)));
        if (b->n)
            std::memcpy(limb, b->limb, b->n * sizeof(uint32_t));
        pool_free(gcb, b->limb);
        b->limb = limb;
        b->cap = cap;
    }
    b->limb[b->n++] = v;
}

// b = b * mul + add, with mul at most 2 to the 28th.
void big_mul_add(PERLGCB* gcb, big_decimal* b, uint32_t mul, uint32_t add)
{
    uint64_t carry = add;
    for (uint64_t i = 0; i < b->n; i++) {
        uint64_t v = static_cast<uint64_t>(b->limb[i]) * mul + carry;
        b->limb[i] = static_cast<uint32_t>(v % LIMB_BASE);
        carry = v / LIMB_BASE;
    }
    while (carry) {
        big_push(gcb, b, static_cast<uint32_t>(carry % LIMB_BASE));
        carry /= LIMB_BASE;
    }
}

// b = b / 2^bits (bits at most 28); returns the remainder.
uint32_t big_shift_down(big_decimal* b, uint32_t bits)
{
    uint64_t rem = 0;
    for (uint64_t i = b->n; i-- > 0;) {
        uint64_t v = rem * LIMB_BASE + b->limb[i];
        b->limb[i] = static_cast<uint32_t>(v >> bits);
        rem = v & ((1u << bits) - 1);
    }
    while (b->n && !b->limb[b->n - 1])
        b->n--;
    return static_cast<uint32_t>(rem);
}

// The number written by n decimal digits.
void big_from_digits(PERLGCB* gcb, big_decimal* b, const char* digits, uint64_t n)
{
    while (n) {
        uint64_t take = n % 9 ? n % 9 : 9;  // the most significant limb first
        uint32_t v = 0;
        for (uint64_t i = 0; i < take; i++)
            v = v * 10 + static_cast<uint32_t>(digits[i] - '0');
        big_mul_add(gcb, b, LIMB_BASE, v);
        digits += take;
        n -= take;
    }
}

// A new value holding the number's decimal digits, without leading zeros.
SV* big_to_value(PERLGCB* gcb, const big_decimal* b)
{
    if (!b->n)
        return sv_new_from_bytes(gcb, "0", 1);
    char head[16];
    int len = std::snprintf(head, sizeof head, "%u", b->limb[b->n - 1]);
    SV* sv = sv_new_undef(gcb, static_cast<uint64_t>(len) + (b->n - 1) * 9 + 1);
    sv_set_bytes(gcb, sv, head, static_cast<uint64_t>(len));
    for (uint64_t i = b->n - 1; i-- > 0;) {
        char part[16];
        std::snprintf(part, sizeof part, "%09u", b->limb[i]);
        sv_append_bytes(gcb, sv, part, 9);
    }
    return sv;
}

// ---- pack ---------------------------------------------------------------------

// Outcomes of the BER writer other than success; each maps to its message.
enum ber_outcome : int32_t {
    BER_OK,
    BER_NEGATIVE,
    BER_NOT_UNSIGNED,
    BER_TOO_LARGE,
    BER_NOT_INTEGER,
};

// The decimal digits of a string that names an unsigned integer: blanks are
// skipped, "+" is accepted before the first digit, digits after a "." are
// dropped. Null for any other character. The digits are a pool block the
// caller frees; *ndigits gets their count.
char* decimal_digits(PERLGCB* gcb, const char* s, uint64_t len, uint64_t* ndigits)
{
    char* out = static_cast<char*>(pool_malloc(gcb, len + 1));
    uint64_t n = 0;
    bool seen_digit = false;
    bool ignore = false;
    for (uint64_t i = 0; i < len; i++) {
        char c = s[i];
        if (c == ' ')
            continue;
        if (c == '+' && !seen_digit)
            continue;
        if (is_decimal_digit(c)) {
            seen_digit = true;
            if (!ignore)
                out[n++] = c;
            continue;
        }
        if (c == '.') {
            ignore = true;
            continue;
        }
        pool_free(gcb, out);
        return nullptr;
    }
    *ndigits = n;
    return out;
}

// Appends the BER compressed form of one value.
ber_outcome append_ber(PERLGCB* gcb, SV* cat, SV* from)
{
    double v = std::floor(pp_double(gcb, from));
    if (v < 0)
        return BER_NEGATIVE;
    if (v <= 4294967295.0) {
        uint64_t u = static_cast<uint64_t>(v);
        char buf[10];
        char* in = buf + sizeof buf;
        do {
            *--in = static_cast<char>((u & 0x7F) | 0x80);
            u >>= 7;
        } while (u);
        buf[sizeof buf - 1] &= 0x7F;
        append(gcb, cat, in, static_cast<uint64_t>(buf + sizeof buf - in));
        return BER_OK;
    }
    if (from->flags & SVp_POK) {
        uint64_t len = 0;
        const char* s = sv_text(gcb, from, &len);
        uint64_t n = 0;
        char* digits = decimal_digits(gcb, s, len, &n);
        if (!digits)
            return BER_NOT_UNSIGNED;
        big_decimal big{nullptr, 0, 0};
        big_from_digits(gcb, &big, digits, n);
        pool_free(gcb, digits);
        // No more base-128 digits than decimal ones (and at least one), four
        // taken off a pass, least significant first.
        char* result = static_cast<char*>(pool_malloc(gcb, n + 4));
        char* in = result + n + 4;
        do {
            uint32_t four = big_shift_down(&big, 28);
            for (int32_t k = 0; k < 4; k++, four >>= 7) {
                *--in = static_cast<char>((four & 0x7F) | 0x80);
                if (!big.n && !(four >> 7))
                    break;
            }
        } while (big.n);
        result[n + 3] &= 0x7F;
        append(gcb, cat, in, static_cast<uint64_t>(result + n + 4 - in));
        pool_free(gcb, result);
        pool_free(gcb, big.limb);
        return BER_OK;
    }
    if (from->flags & SVp_NOK) {
        char buf[16];
        char* in = buf + sizeof buf;
        do {
            double next = std::floor(v / 128);
            if (in - 1 <= buf)
                return BER_TOO_LARGE;
            *--in = static_cast<char>(static_cast<uint32_t>(v - next * 128) | 0x80);
            v = next;
        } while (v > 0);
        buf[sizeof buf - 1] &= 0x7F;
        append(gcb, cat, in, static_cast<uint64_t>(buf + sizeof buf - in));
        return BER_OK;
    }
    return BER_NOT_INTEGER;
}

// Appends one uuencoded line of n (at most 63) bytes.
void append_uu_line(PERLGCB* gcb, SV* cat, const uint8_t* s, uint32_t n)
{
    char line[1 + 84 + 1];
    char* h = line;
    *h++ = uu_char(n);
    for (; n > 2; n -= 3, s += 3) {
        *h++ = uu_char(s[0] >> 2);
        *h++ = uu_char(((s[0] << 4) & 0x30) | (s[1] >> 4));
        *h++ = uu_char(((s[1] << 2) & 0x3C) | (s[2] >> 6));
        *h++ = uu_char(s[2] & 0x3F);
    }
    if (n > 0) {
        uint8_t r = n > 1 ? s[1] : 0;
        *h++ = uu_char(s[0] >> 2);
        *h++ = uu_char(((s[0] << 4) & 0x30) | (r >> 4));
        *h++ = uu_char((r << 2) & 0x3C);
        *h++ = uu_char(0);
    }
    *h++ = '\n';
    append(gcb, cat, line, static_cast<uint64_t>(h - line));
}

// The values of one pack: the operands after the template, then the "no"
// value; a "/" item's length value stands in while it is pending.
struct pack_values {
    int32_t next;      // stack index of the next operand not yet taken
    int32_t last;      // stack index of the last operand
    SV* length_value;  // the pending length of a "/" item, or null
};

SV* peek_value(PERLGCB* gcb, const pack_values* pv)
{
    return pv->next <= pv->last ? gcb->arg_base[pv->next] : &gcb->sv_no;
}

SV* take_value(PERLGCB* gcb, pack_values* pv)
{
    if (pv->length_value)
        return pv->length_value;
    SV* sv = peek_value(gcb, pv);
    if (pv->next <= pv->last)
        pv->next++;
    return sv;
}

// ---- pack's items --------------------------------------------------------------

// An "a", "A" or "Z" field of from's text: count bytes wide, or for "*" the
// text's length ("Z" one more, for its NUL); a short text is padded with
// spaces ("A") or NULs, and "Z" ends the field with a NUL.
void pack_string(PERLGCB* gcb, SV* cat, SV* from, char type, int32_t count, bool star)
{
    uint64_t len = 0;
    const char* s = sv_text(gcb, from, &len);
    uint64_t width = star ? len + (type == 'Z') : static_cast<uint64_t>(count);
    if (len >= width) {
        append(gcb, cat, s, width);
        // A zero-width field writes nothing, so it has no last byte.
        if (type == 'Z' && width > 0)
            sv_pv(cat)[sv_cur(cat) - 1] = 0;
    } else {
        append(gcb, cat, s, len);
        append_fill(gcb, cat, type == 'A' ? ' ' : 0, width - len);
    }
}

// A bit string ("b", "B": the low bit of each character) or hex string
// ("h", "H": a nybble of each character) of from's text, count units long
// or for "*" the whole text; the letter's byte order says which end of a
// byte comes first.
void pack_bits_or_hex(PERLGCB* gcb, SV* cat, SV* from, const pack_letter& l, int32_t count, bool star)
{
    uint64_t len = 0;
    const char* s = sv_text(gcb, from, &len);
    uint64_t units = star ? len : static_cast<uint64_t>(count);
    bool bits = l.kind == PK_BITS;
    uint64_t nbytes = bits ? (units + 7) / 8 : (units + 1) / 2;
    uint64_t used = units < len ? units : len;
    // The source may be the target itself: read it before the growth
    // can move it.
    char* copy = nullptr;
    if (from == cat) {
        copy = static_cast<char*>(pool_malloc(gcb, used + 1));
        xk_copy(s, copy, static_cast<int32_t>(used));
        s = copy;
    }
    char* out = append_area(gcb, cat, nbytes);
    xk_fill(0, out, static_cast<int32_t>(nbytes + 1));
    bool high_first = l.flags & PF_BE;
    for (uint64_t i = 0; i < used; i++) {
        uint8_t c = static_cast<uint8_t>(s[i]);
        if (bits) {
            uint32_t shift = high_first ? 7 - static_cast<uint32_t>(i % 8) : static_cast<uint32_t>(i % 8);
            out[i / 8] = static_cast<char>(out[i / 8] | ((c & 1) << shift));
        } else {
            uint32_t nyb = host_is_alpha(c) ? ((c & 15) + 9) & 15 : c & 15;
            bool high = high_first == (i % 2 == 0);
            out[i / 2] = static_cast<char>(out[i / 2] | (high ? nyb << 4 : nyb));
        }
    }
    sv_cur(cat) += nbytes;
    pool_free(gcb, copy);
}

// count "p" addresses, or for "P" one, of the next values' string buffers;
// each is remembered for unpack, and undef packs a null address.
void pack_pointers(PERLGCB* gcb, SV* cat, pack_values* values, const pack_letter& l, int32_t count)
{
    int32_t n = l.kind == PK_POINTER_BLOCK ? 1 : count;
    for (int32_t i = 0; i < n; i++) {
        SV* from = take_value(gcb, values);
        uint64_t address = 0;
        if (from != &gcb->sv_undef) {
            if (warn_enabled(gcb, WARN_PACK) &&
                ((from->flags & SVs_TEMP) || ((from->flags & SVs_PADTMP) && !(from->flags & SVf_READONLY))))
                category_warning(gcb, WARN_PACK, "Attempt to pack pointer to temporary value");
            uint64_t len = 0;
            const char* s = (from->flags & SV_PUBLIC_OK) ? sv_text(gcb, from, &len) : sv_force_string(gcb, from, &len);
            address = reinterpret_cast<uintptr_t>(s);
            remember_address(gcb, address, from);
        }
        char bytes[8];
        store_int(bytes, address, 8, false);
        append(gcb, cat, bytes, 8);
    }
}

// The uuencoding of from's text, in lines of count bytes (45 when count is
// 2 or less).
void pack_uuencode(PERLGCB* gcb, SV* cat, SV* from, int32_t count)
{
    uint64_t len = 0;
    const char* s = sv_text(gcb, from, &len);
    char* copy = nullptr;
    if (from == cat) {
        copy = static_cast<char*>(pool_malloc(gcb, len + 1));
        xk_copy(s, copy, static_cast<int32_t>(len));
        s = copy;
    }
    sv_grow_buffer(gcb, cat, sv_cur(cat) + len * 4 / 3 + len / 45 * 2 + 8);
    // A line holds 3 to 63 bytes: the length character cannot
    // express more, and fewer than 3 would leave no whole group.
    uint32_t line = count <= 2 ? 45 : (count >= 63 ? 63 : static_cast<uint32_t>(count) / 3 * 3);
    for (uint64_t done = 0; done < len;) {
        uint32_t todo = len - done > line ? line : static_cast<uint32_t>(len - done);
        append_uu_line(gcb, cat, reinterpret_cast<const uint8_t*>(s) + done, todo);
        done += todo;
    }
    pool_free(gcb, copy);
}

// ---- unpack ---------------------------------------------------------------------

// The set bits of each byte value, for the bit-string checksums.
struct bitcount_table_t {
    uint8_t count[256];
};

constexpr bitcount_table_t build_bitcount_table()
{
    bitcount_table_t t{};
    for (uint32_t i = 0; i < 256; i++)
        t.count[i] = static_cast<uint8_t>(std::popcount(i));
    return t;
}

constexpr bitcount_table_t bitcounts = build_bitcount_table();
static_assert(bitcounts.count[0xFF] == 8 && bitcounts.count[0x96] == 4);

// The 6-bit value of each uuencoding character; the space decodes like the
// grave accent, and a character outside the encoding decodes as 0.
struct uudecode_table_t {
    int8_t value[256];
};

constexpr uudecode_table_t build_uudecode_table()
{
    uudecode_table_t t{};
    for (uint32_t v = 0; v < 64; v++)
        t.value[static_cast<uint8_t>(uu_char(v))] = static_cast<int8_t>(v);
    t.value[static_cast<uint8_t>(' ')] = 0;
    return t;
}

constexpr uudecode_table_t uudecode = build_uudecode_table();
static_assert(uudecode.value[static_cast<uint8_t>('`')] == 0 && uudecode.value[static_cast<uint8_t>('M')] == 45);

inline bool is_uu_char(uint8_t c) { return c >= ' ' && c <= '`'; }

// The state of one unpack.
struct unpack_state {
    int32_t base_ix;    // stack index below the first result
    int32_t checksum;   // pending checksum width in bits; 0 none
    uint32_t sum_int;   // integer accumulator, wrapping
    double sum_float;   // floating accumulator
};

void push_result(PERLGCB* gcb, SV* sv)
{
    SV** sp = pp_extend(gcb, gcb->arg_sp, 1);
    *++sp = sv_make_temporary(gcb, sv);
    gcb->arg_sp = sp;
}

int32_t pushed_count(PERLGCB* gcb, const unpack_state* st)
{
    return static_cast<int32_t>(gcb->arg_sp - gcb->arg_base) - st->base_ix;
}

// Adds a value to the accumulator the letter's checksum form names.
void add_to_sum(unpack_state* st, const pack_letter& l, double fv, uint64_t iv)
{
    if ((l.flags & PF_SUM_FLOAT) || ((l.flags & PF_SUM_WIDE) && st->checksum > 32))
        st->sum_float += fv;
    else
        st->sum_int += static_cast<uint32_t>(iv);
}

// Pushes the pending checksum after an item of letter l.
void push_checksum(PERLGCB* gcb, unpack_state* st, const pack_letter& l)
{
    int32_t width = st->checksum;
    st->checksum = 0;
    if ((l.flags & PF_SUM_FLOAT) || ((l.flags & PF_SUM_WIDE) && width > 32)) {
        double modulus = std::ldexp(1.0, width);
        double sum = st->sum_float;
        // Beyond the doubles the modulus is infinite and the sum is the result.
        if (!std::isinf(modulus)) {
            while (sum < 0)
                sum += modulus;
            double whole;
            sum = std::modf(sum / modulus, &whole) * modulus;
        }
        push_result(gcb, sv_new_from_double(gcb, sum));
        return;
    }
    uint32_t sum = st->sum_int;
    if (width < 32)
        sum &= (1u << width) - 1;
    push_result(gcb, sv_new_from_uint(gcb, sum));
}

// ---- unpack's items ------------------------------------------------------------

// An "a", "A" or "Z" field of the n bytes at s: "A" drops trailing spaces
// and NULs, "Z" ends at the first NUL. Under a checksum the bytes are summed
// instead.
void unpack_string(PERLGCB* gcb, unpack_state* st, const char* s, uint64_t n, char type)
{
    if (st->checksum) {
        for (uint64_t i = 0; i < n; i++)
            st->sum_int += static_cast<uint8_t>(s[i]);
        return;
    }
    uint64_t keep = n;
    if (type == 'A') {
        while (keep > 0 && (s[keep - 1] == 0 || is_space(s[keep - 1])))
            keep--;
    } else if (type == 'Z') {
        const void* nul = std::memchr(s, 0, n);
        if (nul)
            keep = static_cast<uint64_t>(static_cast<const char*>(nul) - s);
    }
    push_result(gcb, sv_new_from_bytes(gcb, s, keep));
}

// A bit string ("b", "B") or hex string ("h", "H") of count units from the
// left bytes at s, or for "*" of all of them; under a checksum the set bits
// are counted instead. Returns the bytes read.
uint64_t unpack_bits_or_hex(PERLGCB* gcb, unpack_state* st, const char* s, uint64_t left, const pack_letter& l,
                            int32_t count, bool star)
{
    uint64_t per_byte = l.kind == PK_BITS ? 8 : 2;
    uint64_t n = static_cast<uint64_t>(count);
    if (star || n > left * per_byte)
        n = left * per_byte;
    bool high_first = l.flags & PF_BE;
    const uint8_t* u = reinterpret_cast<const uint8_t*>(s);
    if (l.kind == PK_BITS && st->checksum) {
        uint64_t whole = n / 8;
        for (uint64_t i = 0; i < whole; i++)
            st->sum_int += bitcounts.count[u[i]];
        uint32_t rest = static_cast<uint32_t>(n % 8);
        if (rest) {
            uint32_t bitsv = u[whole];
            for (uint32_t i = 0; i < rest; i++)
                if (bitsv & (high_first ? 0x80u >> i : 1u << i))
                    st->sum_int++;
        }
    } else {
        SV* sv = sv_new_undef(gcb, n + 1);
        char* out = sv_pv(sv);
        for (uint64_t i = 0; i < n; i++) {
            uint8_t byte = u[i / per_byte];
            if (l.kind == PK_BITS) {
                uint32_t shift = high_first ? 7 - static_cast<uint32_t>(i % 8) : static_cast<uint32_t>(i % 8);
                out[i] = static_cast<char>('0' + ((byte >> shift) & 1));
            } else {
                bool high = high_first == (i % 2 == 0);
                out[i] = gcb->hex_digits[high ? byte >> 4 : byte & 15];
            }
        }
        out[n] = 0;
        sv_cur(sv) = n;
        sv->flags |= SVf_POK | SVp_POK;
        push_result(gcb, sv);
    }
    return (n + per_byte - 1) / per_byte;
}

// count fixed-width fields of an integer, floating or "p" letter from the
// left bytes at s, as many as there are whole; under a checksum that
// letter sums, they are summed instead. Returns the bytes read.
uint64_t unpack_fields(PERLGCB* gcb, unpack_state* st, const char* s, uint64_t left, const pack_letter& l,
                       int32_t count)
{
    uint64_t fields = left / l.width;
    uint64_t n = static_cast<uint64_t>(count) > fields ? fields : static_cast<uint64_t>(count);
    bool sums = st->checksum && (l.flags & (PF_SUM_INT | PF_SUM_WIDE | PF_SUM_FLOAT));
    if (!sums)
        gcb->arg_sp = pp_extend(gcb, gcb->arg_sp, static_cast<int32_t>(n));
    for (uint64_t i = 0; i < n; i++, s += l.width) {
        uint64_t raw = load_int(s, l.width, l.flags & PF_BE, l.flags & PF_SIGNED_OUT);
        if (l.kind == PK_INT) {
            bool is_signed = l.flags & PF_SIGNED_OUT;
            if (sums)
                add_to_sum(st, l, is_signed ? static_cast<double>(static_cast<int64_t>(raw)) : static_cast<double>(raw),
                           raw);
            else
                push_result(gcb, is_signed ? sv_new_from_int(gcb, static_cast<int64_t>(raw))
                                           : sv_new_from_uint(gcb, raw));
        } else if (l.kind == PK_POINTER) {
            // The string up to its first NUL, within the value's length.
            SV* from = value_at_address(gcb, static_cast<uintptr_t>(raw));
            if (from) {
                const char* at = sv_pv(from);
                const void* nul = std::memchr(at, 0, sv_cur(from));
                uint64_t len = nul ? static_cast<uint64_t>(static_cast<const char*>(nul) - at) : sv_cur(from);
                push_result(gcb, sv_new_from_bytes(gcb, at, len));
            } else {
                push_result(gcb, sv_new_undef(gcb, 0));
            }
        } else {
            double d = l.kind == PK_FLOAT ? static_cast<double>(std::bit_cast<float>(static_cast<uint32_t>(raw)))
                                          : std::bit_cast<double>(raw);
            if (sums)
                add_to_sum(st, l, d, 0);
            else
                push_result(gcb, sv_new_from_double(gcb, d));
        }
    }
    return n * l.width;
}

// count BER integers from *sp up to end, *sp moved past them. An integer
// past 56 bits goes on as a decimal string. False when the data ends
// inside an integer.
bool unpack_ber(PERLGCB* gcb, const char** sp, const char* end, int32_t count)
{
    const char* s = *sp;
    uint64_t acc = 0;
    uint32_t bytes = 0;
    while (count > 0 && s < end) {
        uint8_t c = static_cast<uint8_t>(*s++);
        acc = (acc << 7) | (c & 0x7F);
        if (!(c & 0x80)) {
            bytes = 0;
            push_result(gcb, sv_new_from_uint(gcb, acc));
            count--;
            acc = 0;
        } else if (++bytes >= 8) {
            // Past 56 bits the integer goes on as a decimal string:
            // up to four further 7-bit groups join it a pass.
            big_decimal big{nullptr, 0, 0};
            for (uint64_t v = acc; v; v /= LIMB_BASE)
                big_push(gcb, &big, static_cast<uint32_t>(v % LIMB_BASE));
            while (s < end) {
                uint32_t mul = 1, add = 0;
                bool ended = false;
                for (int32_t k = 0; k < 4 && s < end && !ended; k++) {
                    uint8_t d = static_cast<uint8_t>(*s++);
                    mul <<= 7;
                    add = (add << 7) | (d & 0x7F);
                    ended = !(d & 0x80);
                }
                big_mul_add(gcb, &big, mul, add);
                if (ended) {
                    bytes = 0;
                    break;
                }
            }
            push_result(gcb, big_to_value(gcb, &big));
            pool_free(gcb, big.limb);
            count--;
            acc = 0;
        }
    }
    *sp = s;
    return !(s >= end && bytes);
}

// The uudecoded bytes of the lines from s up to end, pushed as one value.
// Returns where the lines end.
const char* unpack_uudecode(PERLGCB* gcb, const char* s, const char* end)
{
    const int8_t* map = uudecode.value;
    uint64_t room = static_cast<uint64_t>(end - s) * 3 / 4;
    SV* sv = sv_new_undef(gcb, room);
    if (room) {
        sv_pv(sv)[0] = 0;
        sv->flags |= SVf_POK | SVp_POK;
    }
    const uint8_t* u = reinterpret_cast<const uint8_t*>(s);
    const uint8_t* uend = reinterpret_cast<const uint8_t*>(end);
    while (u < uend && *u > ' ' && *u <= '`') {
        int32_t len = map[*u++] & 077;
        while (len > 0) {
            uint32_t g[4];
            for (uint32_t& v : g)
                v = (u < uend && is_uu_char(*u)) ? static_cast<uint32_t>(map[*u++] & 077) : 0;
            char hunk[3] = {static_cast<char>((g[0] << 2) | (g[1] >> 4)), static_cast<char>((g[1] << 4) | (g[2] >> 2)),
                            static_cast<char>((g[2] << 6) | g[3])};
            sv_append_bytes(gcb, sv, hunk, len > 3 ? 3 : static_cast<uint64_t>(len));
            len -= 3;
        }
        if (u < uend && *u == '\n')
            u++;
        else if (uend - u >= 2 && u[1] == '\n')
            u += 2;
    }
    push_result(gcb, sv);
    return reinterpret_cast<const char*>(u);
}

// The end of the first item of a template, for unpack outside list context:
// past the non-letters and x letters before the first other letter, then
// past that letter and, for the letters that keep their count (or after a
// leading "%"), its digits and "*".
const char* first_item_end(const char* pat, const char* end)
{
    const char* p = pat;
    while (p < end && (!host_is_alpha(static_cast<uint8_t>(*p)) || *p == 'x'))
        p++;
    if (p >= end)
        return end;
    bool keep = (letter_of(*p).flags & PF_FIRST_COUNT) || *pat == '%';
    p++;
    if (keep)
        while (p < end && (is_decimal_digit(*p) || *p == '*'))
            p++;
    return p;
}

}  // namespace

OP* pp_pack(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    int32_t last = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    SV* cat = pp_pad_target(gcb, op);
    SV* pat_sv = gcb->arg_base[mark + 1];
    uint64_t patlen = 0;
    const char* pat = sv_text(gcb, pat_sv, &patlen);
    const char* patend = pat + patlen;
    pack_values values{mark + 2, last, nullptr};
    bool only_space_before = true;
    bool comma_seen = false;

    sv_set_bytes(gcb, cat, "", 0);
    for (const char* p = pat; p < patend;) {
        char type = *p++;
        if (is_space(type))
            continue;
        if (type == 'U' && only_space_before)
            cat->flags |= SVf_UTF8;
        only_space_before = false;
        if (type == '#') {
            while (p < patend && *p != '\n')
                p++;
            continue;
        }
        const pack_letter& l = letter_of(type);
        if (p < patend && *p == '!') {
            if (!(l.flags & PF_BANG))
                return die_error(gcb, "'!' allowed only after types %s", BANG_LETTERS);
            p++;
        }
        int32_t count = 1;
        bool star = false;
        if (p < patend && *p == '*') {
            star = true;
            p++;
            count = (l.flags & PF_STAR_ZERO) ? 0 : values.last - values.next + 1;
            if (count < 0)
                count = 0;
        } else if (p < patend && is_decimal_digit(*p)) {
            if (!read_count_digits(&p, patend, &count))
                return die_error(gcb, "Repeat count in pack overflows");
        }
        values.length_value = nullptr;
        if (p < patend && *p == '/') {
            p++;
            if (patend - p < 2 || (p[0] != 'a' && p[0] != 'A' && p[0] != 'Z') || p[1] != '*')
                return die_error(gcb, "/ must be followed by a*, A* or Z*");
            uint64_t len = 0;
            sv_text(gcb, peek_value(gcb, &values), &len);
            if (p[0] == 'Z')
                len++;
            values.length_value = sv_make_temporary(gcb, sv_new_from_int(gcb, static_cast<int64_t>(len)));
        }

        switch (l.kind) {
        case PK_ABSOLUTE: {
            int64_t diff = static_cast<int64_t>(count) - static_cast<int64_t>(sv_cur(cat));
            if (diff > 0) {
                append_fill(gcb, cat, 0, static_cast<uint64_t>(diff));
            } else if (diff < 0) {
                sv_cur(cat) -= static_cast<uint64_t>(-diff);
                sv_pv(cat)[sv_cur(cat)] = 0;
            }
            break;
        }
        case PK_BACK:
            if (sv_cur(cat) < static_cast<uint64_t>(count))
                return die_error(gcb, "X outside of string");
            sv_cur(cat) -= static_cast<uint64_t>(count);
            sv_pv(cat)[sv_cur(cat)] = 0;
            break;
        case PK_NUL:
            append_fill(gcb, cat, 0, static_cast<uint64_t>(count));
            break;
        case PK_STRING:
            pack_string(gcb, cat, take_value(gcb, &values), type, count, star);
            break;
        case PK_BITS:
        case PK_HEX:
            pack_bits_or_hex(gcb, cat, take_value(gcb, &values), l, count, star);
            break;
        case PK_INT: {
            char* out = append_area(gcb, cat, static_cast<uint64_t>(count) * l.width);
            for (int32_t i = 0; i < count; i++) {
                SV* from = take_value(gcb, &values);
                uint64_t v;
                if (l.flags & PF_SIGNED_IN)
                    v = static_cast<uint64_t>((from->flags & SVf_IOK) && !(from->flags & SVf_IsUV) ? sv_iv(from)
                                                                                                   : sv_to_int(gcb, from));
                else
                    v = (from->flags & SVf_IOK) && (from->flags & SVf_IsUV) ? sv_uv(from) : sv_to_uint(gcb, from);
                // A conversion may run magic that writes the target: find the
                // write position again.
                out = sv_pv(cat) + sv_cur(cat);
                store_int(out, v, l.width, l.flags & PF_BE);
                sv_cur(cat) += l.width;
                sv_pv(cat)[sv_cur(cat)] = 0;
            }
            break;
        }
        case PK_FLOAT:
        case PK_DOUBLE:
            for (int32_t i = 0; i < count; i++) {
                double d = pp_double(gcb, take_value(gcb, &values));
                char bytes[8];
                if (l.kind == PK_FLOAT)
                    store_int(bytes, std::bit_cast<uint32_t>(narrow_to_float(d)), 4, false);
                else
                    store_int(bytes, std::bit_cast<uint64_t>(d), 8, false);
                append(gcb, cat, bytes, l.width);
            }
            break;
        case PK_UTF8:
            for (int32_t i = 0; i < count; i++) {
                SV* from = take_value(gcb, &values);
                uint32_t cp = static_cast<uint32_t>(sv_to_uint(gcb, from));
                uint8_t* out = reinterpret_cast<uint8_t*>(append_area(gcb, cat, 13));
                uint8_t* end = utf8_encode(gcb, out, cp);
                sv_cur(cat) += static_cast<uint64_t>(end - out);
                *end = 0;
            }
            break;
        case PK_POINTER:
        case PK_POINTER_BLOCK:
            pack_pointers(gcb, cat, &values, l, count);
            break;
        case PK_BER:
            for (int32_t i = 0; i < count; i++) {
                switch (append_ber(gcb, cat, take_value(gcb, &values))) {
                case BER_OK:
                    break;
                case BER_NEGATIVE:
                    return die_error(gcb, "Cannot compress negative numbers");
                case BER_NOT_UNSIGNED:
                    return die_error(gcb, "can compress only unsigned integer");
                case BER_TOO_LARGE:
                    return die_error(gcb, "Cannot compress integer");
                case BER_NOT_INTEGER:
                    return die_error(gcb, "Cannot compress non integer");
                }
            }
            break;
        case PK_UUENCODE:
            pack_uuencode(gcb, cat, take_value(gcb, &values), count);
            break;
        case PK_CHECKSUM:
            return die_error(gcb, "%% may only be used in unpack");
        default:
            if (type == ',') {
                if (!comma_seen && warn_enabled(gcb, WARN_PACK))
                    category_warning(gcb, WARN_PACK, "Invalid type in pack: '%c'", type);
                comma_seen = true;
                break;
            }
            return die_error(gcb, "Invalid type in pack: '%c'", type);
        }
    }
    values.length_value = nullptr;
    pp_set_magic(gcb, cat);
    SV** sp = gcb->arg_base + mark;
    *++sp = cat;
    pp_put_sp(gcb, sp);
    return op->op_next;
}

OP* pp_unpack(PERLGCB* gcb)
{
    OP* op = gcb->op;
    SV** sp = pp_sp(gcb);
    SV* data_sv = sp[0];
    SV* pat_sv = sp[-1];
    uint8_t gimme = pp_context(gcb, op);
    uint64_t datalen = 0, patlen = 0;
    const char* strbeg = sv_text(gcb, data_sv, &datalen);
    const char* pat = sv_text(gcb, pat_sv, &patlen);
    const char* strend = strbeg + datalen;
    const char* patend = pat + patlen;
    if (gimme != CTX_LIST)
        patend = first_item_end(pat, patend);

    unpack_state st{static_cast<int32_t>(sp - gcb->arg_base) - 2, 0, 0, 0.0};
    pp_put_sp(gcb, sp - 2);
    const char* s = strbeg;
    bool comma_seen = false;

    for (const char* p = pat; p < patend;) {
        char type = *p++;
        if (is_space(type))
            continue;
        if (type == '#') {
            while (p < patend && *p != '\n')
                p++;
            continue;
        }
    reparse:
        if (p < patend && *p == '!') {
            if (!(letter_of(type).flags & PF_BANG))
                return die_error(gcb, "'!' allowed only after types %s", BANG_LETTERS);
            p++;
        }
        int32_t count;
        bool star = false;
        if (p >= patend) {
            count = 1;
        } else if (*p == '*') {
            star = true;
            p++;
            count = datalen > static_cast<uint64_t>(INT32_MAX) ? INT32_MAX : static_cast<int32_t>(datalen);
        } else if (is_decimal_digit(*p)) {
            if (!read_count_digits(&p, patend, &count))
                return die_error(gcb, "Repeat count in unpack overflows");
        } else {
            count = type != '@';
        }

    redispatch:
        const pack_letter& l = letter_of(type);
        uint64_t left = static_cast<uint64_t>(strend - s);
        switch (l.kind) {
        case PK_CHECKSUM:
            st.checksum = (count == 1 && p[-1] != '1') ? 16 : count;
            st.sum_int = 0;
            st.sum_float = 0.0;
            if (p < patend) {
                type = *p++;
                if (is_space(type) || type == '#') {
                    // The next item is read by the loop with the checksum pending.
                    p--;
                    continue;
                }
                goto reparse;
            }
            break;
        case PK_ABSOLUTE:
            if (static_cast<uint64_t>(count) > datalen)
                return die_error(gcb, "@ outside of string");
            s = strbeg + count;
            break;
        case PK_BACK:
            if (static_cast<uint64_t>(count) > static_cast<uint64_t>(s - strbeg))
                return die_error(gcb, "X outside of string");
            s -= count;
            break;
        case PK_NUL:
            if (static_cast<uint64_t>(count) > left)
                return die_error(gcb, "x outside of string");
            s += count;
            break;
        case PK_STRING: {
            uint64_t n = static_cast<uint64_t>(count) > left ? left : static_cast<uint64_t>(count);
            unpack_string(gcb, &st, s, n, type);
            s += n;
            break;
        }
        case PK_BITS:
        case PK_HEX:
            s += unpack_bits_or_hex(gcb, &st, s, left, l, count, star);
            break;
        case PK_INT:
        case PK_FLOAT:
        case PK_DOUBLE:
        case PK_POINTER:
            s += unpack_fields(gcb, &st, s, left, l, count);
            break;
        case PK_POINTER_BLOCK:
            if (left >= 8) {
                // count bytes, but none past the value's length.
                SV* from = value_at_address(gcb, static_cast<uintptr_t>(load_int(s, 8, false, false)));
                s += 8;
                uint64_t n = static_cast<uint64_t>(count);
                if (from && n > sv_cur(from))
                    n = sv_cur(from);
                push_result(gcb, from ? sv_new_from_bytes(gcb, sv_pv(from), n) : sv_new_undef(gcb, 0));
            }
            break;
        case PK_UTF8: {
            uint64_t n = static_cast<uint64_t>(count) > left ? left : static_cast<uint64_t>(count);
            while (n-- > 0 && s < strend) {
                uint64_t avail = static_cast<uint64_t>(strend - s);
                int64_t clen = 0;
                uint64_t cp = utf8_decode(gcb, reinterpret_cast<const uint8_t*>(s), avail, &clen, 0);
                s += clen <= 0 ? 1 : (static_cast<uint64_t>(clen) > avail ? avail : static_cast<uint64_t>(clen));
                if (st.checksum)
                    add_to_sum(&st, l, static_cast<double>(cp), cp);
                else
                    push_result(gcb, sv_new_from_uint(gcb, cp));
            }
            break;
        }
        case PK_BER:
            if (!unpack_ber(gcb, &s, strend, count))
                return die_error(gcb, "Unterminated compressed integer");
            break;
        case PK_UUENCODE:
            s = unpack_uudecode(gcb, s, strend);
            break;
        default:
            if (type == '/') {
                if (pushed_count(gcb, &st) <= 0)
                    return die_error(gcb, "/ must follow a numeric type");
                type = p < patend ? *p++ : '\0';
                if (p < patend && *p == '*')
                    p++;
                if (p < patend && is_decimal_digit(*p))
                    return die_error(gcb, "/ cannot take a count");
                SV* lenv = *gcb->arg_sp--;
                int64_t n = (lenv->flags & SVf_IOK) ? sv_iv(lenv) : sv_to_int(gcb, lenv);
                // A negative length reads nothing: no letter moves backwards
                // or takes a negative width.
                count = n < 0 ? 0 : (n > INT32_MAX ? INT32_MAX : static_cast<int32_t>(n));
                star = false;
                goto redispatch;
            }
            if (type == ',') {
                if (!comma_seen && warn_enabled(gcb, WARN_UNPACK))
                    category_warning(gcb, WARN_UNPACK, "Invalid type in unpack: '%c'", type);
                comma_seen = true;
                break;
            }
            return die_error(gcb, "Invalid type in unpack: '%c'", type);
        }
        if (st.checksum)
            push_checksum(gcb, &st, letter_of(type));
    }
    if (gimme == CTX_SCALAR && pushed_count(gcb, &st) <= 0) {
        pp_push_one(gcb, gcb->arg_sp, &gcb->sv_undef);
    }
    return op->op_next;
}
