// Bracket classes of the pattern compiler: the byte class with its bitmap,
// POSIX class names, the check for POSIX syntax outside a class, and the
// UTF-8 class built on a swash.
//
// Both class parsers run twice over the same text, like the rest of the
// compiler: a size pass (re_size_only) that only counts units, and an emit
// pass that writes them. A parser must reach the same decisions in both, so
// everything that changes the node's size (the class word) is decided from
// the text alone; warnings and the node's contents belong to the emit pass.
//
// A byte class is an ANYOF node of 9 units: the node unit with its flags
// (RE_CLASS_*), then a 256-bit bitmap, one bit per byte value. A class with
// a named class under locale is 10 units: the 32-bit POSIX-class word
// follows the bitmap (flag RE_CLASS_NAMED), as its members depend on the
// locale of the match and cannot be put in the bitmap at compile time.
#include <cstdio>
#include <cstring>

#include "prxmsg.h"
#include "prxnum.h"
#include "prxpool.h"
#include "prxregcomp.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

namespace {

constexpr int32_t NO_CLASS = -1;  // the item is no named class

struct PosixName {
    const char* name;
    int32_t len;
    int32_t cc;
};
// The bracket words, in class-number order: cc is the even number of the
// class and cc + 1 its negation [:^word:]. A class no word names (\s) has
// an empty one, never matched.
constexpr PosixName posix_names[] = {
#define RE_POSIX(name, shown, shown_negated, word, property) {word, sizeof word - 1, RE_CC_##name},
#include "prxregposix.def"
#undef RE_POSIX
};
static_assert(sizeof posix_names / sizeof posix_names[0] == RE_CC_COUNT / 2);

// An escaped letter that stands for itself in a class; at is after it.
// Other escaped characters (punctuation) stand for themselves silently.
void warn_unrecognized(PERLGCB* gcb, uint32_t value, const char* at)
{
    if (!re_size_only(gcb) && (host_cclass(value) & HC_ALPHA) && re_warn_enabled(gcb)) {
        char msg[80];
        std::snprintf(msg, sizeof msg, "Unrecognized escape \\%c in character class passed through",
                      static_cast<char>(value));
        re_warn_at(gcb, at, msg);
    }
}

// Value of an escape inside a class; p is just after the backslash and
// moves past the escape. Sets *named to a class number for \w and its kin.
// In a UTF-8 class (utf8) \p{Name} and \P{Name} are members of their own:
// they go into the listing straight away and *is_wide_prop says so; the
// returned value means nothing then. The byte class passes no listing.
uint32_t class_escape(PERLGCB* gcb, const char** pp, int32_t* named, bool utf8, bool* is_wide_prop, SV* listing)
{
    const char* p = *pp;
    const char* end = gcb->re_xend;
    uint32_t value = static_cast<uint8_t>(*p++);
    *named = NO_CLASS;
    switch (value) {
    case 'w': *named = RE_CC_WORD; break;
    case 'W': *named = RE_CC_NWORD; break;
    case 's': *named = RE_CC_SPACE; break;
    case 'S': *named = RE_CC_NSPACE; break;
    case 'd': *named = RE_CC_DIGIT; break;
    case 'D': *named = RE_CC_NDIGIT; break;
    case 'p':
    case 'P':
        if (utf8) {
            // \pL names the property by one letter, \p{Name} by a name.
            const char* name = p;
            int32_t n = 1;
            if (p < end && *p == '{') {
                const char* e = p + 1;
                while (e < end && *e != '}')
                    e++;
                if (e >= end) {
                    gcb->re_parse = p + 1;
                    re_fail_at(gcb, gcb->re_parse, "Missing right brace on \\p{}");
                }
                name = p + 1;
                n = static_cast<int32_t>(e - name);
                p = e + 1;
            } else if (p < end)
                p++;
            else
                n = 0;
            if (listing)
                sv_append_formatted(gcb, listing, value == 'p' ? "+utf8::%.*s\n" : "!utf8::%.*s\n",
                                    static_cast<int>(n), name);
            *is_wide_prop = true;
            break;
        }
        // In a byte class \p and \P are letters like any other.
        warn_unrecognized(gcb, value, p);
        break;
    // Inside a class \b is the backspace: no boundary can be a member.
    case 'n': value = '\n'; break;
    case 'r': value = '\r'; break;
    case 't': value = '\t'; break;
    case 'f': value = '\f'; break;
    case 'b': value = 8; break;
    case 'e': value = 27; break;
    case 'a': value = 7; break;
    case 'x':
        // \x{...} takes any number of hex digits, \xHH at most two.
        if (p < end && *p == '{') {
            const char* e = p + 1;
            while (e < end && *e != '}')
                e++;
            if (e >= end)
                re_fail_at(gcb, p + 1, "Missing right brace on \\x{}");
            uint64_t consumed = 0;
            double v = e > p + 1 ? scan_hexadecimal(gcb, p + 1, static_cast<uint64_t>(e - p - 1), &consumed) : 0;
            // A code point is an unsigned integer of the interpreter: a bigger
            // number stops at 0xFFFFFFFF.
            uint64_t big = nv_to_uv(gcb, v);
            if (big > 0xFF && !utf8) {
                char msg[120];
                std::snprintf(msg, sizeof msg, "Code point 0x%llX in \\x{} is too large for a byte pattern",
                              static_cast<unsigned long long>(big));
                re_fail_formatted(gcb, e + 1, "Code point 0x%lX in \\x{} is too large for a byte pattern", msg);
            }
            value = static_cast<uint32_t>(big);  // a byte class holds it below 0x100 here
            p = e + 1;
        } else {
            uint64_t avail = end - p < 2 ? static_cast<uint64_t>(end - p) : 2;
            uint64_t consumed = 0;
            value = avail ? static_cast<uint32_t>(scan_hexadecimal(gcb, p, avail, &consumed)) : 0;
            p += consumed;
        }
        break;
    case 'c': {
        // \cX: the control character of X, by X's upper case with bit 0x40
        // flipped (\c? is DEL).
        uint8_t c = p < end ? static_cast<uint8_t>(*p++) : 0;
        value = static_cast<uint8_t>(g_host_vector->upper[c] ^ 64);
        break;
    }
    case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
        // Up to three octal digits; a class has no back references.
        --p;
        uint64_t avail = end - p < 3 ? static_cast<uint64_t>(end - p) : 3;
        uint64_t consumed = 0;
        value = static_cast<uint32_t>(scan_octal(gcb, p, avail, &consumed));
        p += consumed;
        break;
    }
    default:
        if (utf8 && value >= 0xC0 && value <= 0xFD) {
            // An escaped character of a UTF-8 class stands for itself whole.
            int64_t consumed = 0;
            value = static_cast<uint32_t>(utf8_decode(gcb, reinterpret_cast<const uint8_t*>(p - 1),
                                                      static_cast<uint64_t>(end - (p - 1)), &consumed, 0));
            if (consumed > 1)
                p += consumed - 1;
            break;
        }
        warn_unrecognized(gcb, value, p);
        break;
    }
    *pp = p;
    return value;
}

// "False [] range" (tmpl gives the wording): a named class at one end of a
// range, so no range is made. Quotes the item from range_begin to the parse
// position, at most 500 bytes. Emit pass only, and only with the warning on.
void warn_false_range(PERLGCB* gcb, const char* range_begin, const char* tmpl)
{
    if (re_size_only(gcb) || !re_warn_enabled(gcb))
        return;
    char msg[600];
    int32_t n = static_cast<int32_t>(gcb->re_parse - range_begin);
    if (n > 500)
        n = 500;
    std::snprintf(msg, sizeof msg, tmpl, static_cast<int>(n), static_cast<int>(n), range_begin);
    re_warn_at(gcb, gcb->re_parse, msg);
}

// A range whose right end lies below its left end; the message quotes the
// range as written. Fails in both passes: the size pass must not go on
// with a class that the emit pass would reject.
[[noreturn]] void fail_invalid_range(PERLGCB* gcb, const char* range_begin)
{
    char msg[600];
    int32_t n = static_cast<int32_t>(gcb->re_parse - range_begin);
    if (n > 500)
        n = 500;
    std::snprintf(msg, sizeof msg, "Invalid [] range \"%*.*s\"", static_cast<int>(n), static_cast<int>(n), range_begin);
    re_fail_formatted(gcb, gcb->re_parse, "Invalid [] range \"%*.*s\"", msg);
}

// Whether the class goes on with a '-' that opens a range: one that is
// neither the class's last character nor at the end of the text.
bool at_range_dash(PERLGCB* gcb, const char* end)
{
    return gcb->re_parse + 1 < end && *gcb->re_parse == '-' && gcb->re_parse[1] != ']';
}

// The range bookkeeping after a member value: the end of a range must not
// lie below its start, and the range closes; a member followed by a range
// dash (taken) opens one and answers true, as it waits for the range's end.
bool range_opens(PERLGCB* gcb, const char* end, uint32_t value, const char* range_begin, bool* range,
                 uint32_t* prev_value)
{
    if (*range) {
        if (*prev_value > value)
            fail_invalid_range(gcb, range_begin);
        *range = false;
        return false;
    }
    *prev_value = value;
    if (!at_range_dash(gcb, end))
        return false;
    gcb->re_parse++;
    *range = true;
    return true;
}

}  // namespace

// At a "[" inside a class: [:name:] or [:^name:] gives the class number
// (the parse position moves past it); any other text gives NO_CLASS with
// the position where it was, and "[" is then an ordinary member. [.x.] and
// [=x=] are reserved: an error in the emit pass; the size pass reads them
// as ordinary members and leaves the report to the emit pass.
int32_t re_parse_posix_class(PERLGCB* gcb, int32_t value)
{
    const char* end = gcb->re_xend;
    const char* s = gcb->re_parse;
    if (value != '[' || s + 1 >= end || (*s != ':' && *s != '=' && *s != '.'))
        return NO_CLASS;
    char c = *s;
    const char* t = s + 1;
    while (t < end && *t != c)
        t++;
    if (t >= end || t + 1 >= end || t[1] != ']')
        return NO_CLASS;
    // Past the closing ":]"; the reserved forms and the size pass may put
    // the position back.
    gcb->re_parse = t + 2;
    if (c != ':') {
        if (re_size_only(gcb)) {
            gcb->re_parse = s;
            return NO_CLASS;
        }
        char msg[80];
        std::snprintf(msg, sizeof msg, "POSIX syntax [%c %c] is reserved for future extensions", c, c);
        re_fail_formatted(gcb, gcb->re_parse, "POSIX syntax [%c %c] is reserved for future extensions", msg);
    }
    // An unknown name is an error, not a member list: [:foo:] is never
    // taken for the members ":", "f" and "o".
    const char* name = s + 1;
    bool complement = name < t && *name == '^';
    if (complement)
        name++;
    int32_t n = static_cast<int32_t>(t - name);
    for (const PosixName& pn : posix_names)
        if (pn.len && pn.len == n && std::memcmp(pn.name, name, static_cast<size_t>(n)) == 0)
            return pn.cc + (complement ? 1 : 0);
    char msg[600];
    int32_t qn = static_cast<int32_t>(t - s - 1);
    std::snprintf(msg, sizeof msg, "POSIX class [:%.*s:] unknown", static_cast<int>(qn > 500 ? 500 : qn), s + 1);
    re_fail_formatted(gcb, gcb->re_parse, "POSIX class [:%.*s:] unknown", msg);
}

// At the start of a class: a class written as [:word:] alone is almost
// surely a POSIX class missing its outer brackets. It stays a class of its
// characters, with a warning; [.x.] and [=x=] are reserved and fail.
void re_check_posix_syntax(PERLGCB* gcb)
{
    const char* p = gcb->re_parse;
    const char* end = gcb->re_xend;
    if (p >= end || (*p != ':' && *p != '.' && *p != '='))
        return;
    // Only a word between the delimiters looks like a class name; anything
    // else is an ordinary class that happens to start with ":".
    char c = *p;
    const char* s = p + 1;
    while (s < end && host_is_word(static_cast<uint8_t>(*s)))
        s++;
    if (s + 1 < end && *s == c && s[1] == ']') {
        char msg[80];
        std::snprintf(msg, sizeof msg, "POSIX syntax [%c %c] belongs inside character classes", c, c);
        re_warn_at(gcb, s + 2, msg);
        if (c != ':') {
            std::snprintf(msg, sizeof msg, "POSIX syntax [%c %c] is reserved for future extensions", c, c);
            re_fail_formatted(gcb, s + 2, "POSIX syntax [%c %c] is reserved for future extensions", msg);
        }
    }
}

// The byte class, with the parse position on its first character; returns
// with it on the closing "]" (or the text end, which the caller reports).
re_program_node* re_parse_class(PERLGCB* gcb)
{
    re_program_node* ret = re_emit_node(gcb, RE_ANYOF);
    re_class_node* cls = nullptr;  // the node being written; null in the size pass
    if (re_size_only(gcb))
        gcb->re_size += RE_BITMAP_UNITS;
    else {
        cls = reinterpret_cast<re_class_node*>(ret);
        cls->flags = 0;
        std::memset(cls->bitmap, 0, sizeof cls->bitmap);
        gcb->re_emit += RE_BITMAP_UNITS;
        if (gcb->re_cflags & PMf_FOLD)
            cls->flags |= RE_CLASS_FOLD;
        if (gcb->re_cflags & PMf_LOCALE)
            cls->flags |= RE_CLASS_LOCALE;
    }
    const char* end = gcb->re_xend;
    // A negated class counts toward the pattern's complexity ("naughty")
    // score, which decides whether the start finder may drop a check
    // substring that does not pay.
    if (gcb->re_parse < end && *gcb->re_parse == '^') {
        re_naughty_add(gcb, 1);
        gcb->re_parse++;
        if (cls)
            cls->flags |= RE_CLASS_INVERT;
    }
    if (!re_size_only(gcb) && re_warn_enabled(gcb))
        re_check_posix_syntax(gcb);

    // range: a left end and "-" were read, prev_value holds the left end;
    // range_begin is where the current item (or the open range) began, for
    // the messages that quote it.
    bool need_class = false;
    bool range = false;
    uint32_t prev_value = 0;
    const char* range_begin = gcb->re_parse;
    // A "]" first in the class is a member, not its end.
    bool first = true;
    while (gcb->re_parse < end && (first || *gcb->re_parse != ']')) {
        first = false;
        int32_t named = NO_CLASS;
        if (!range)
            range_begin = gcb->re_parse;
        uint32_t value = static_cast<uint8_t>(*gcb->re_parse++);
        if (value == '[')
            named = re_parse_posix_class(gcb, static_cast<int32_t>(value));
        else if (value == '\\') {
            // A backslash last in the text: the class is unterminated, which
            // the caller reports.
            if (gcb->re_parse >= end)
                break;
            bool wide = false;
            const char* p = gcb->re_parse;
            value = class_escape(gcb, &p, &named, false, &wide, nullptr);
            gcb->re_parse = p;
        }
        if (named != NO_CLASS) {
            // Only under locale do named classes stay symbolic (the class word
            // and RE_CLASS_NAMED); otherwise their bytes go into the bitmap.
            // The class word is one more unit: counted in the size pass, and
            // cleared when the emit pass first needs it.
            if (!need_class && (gcb->re_cflags & PMf_LOCALE)) {
                need_class = true;
                if (re_size_only(gcb))
                    gcb->re_size += 1;
                else {
                    std::memset(cls->classes, 0, sizeof cls->classes);
                    cls->flags |= RE_CLASS_NAMED;
                    gcb->re_emit += 1;
                }
            }
            if (range) {
                // a-\d: no true range; a and "-" are members, and \d below.
                warn_false_range(gcb, range_begin, "False [] range \"%*.*s\"");
                if (cls) {
                    re_bitmap_set(cls->bitmap, static_cast<uint8_t>(prev_value));
                    re_bitmap_set(cls->bitmap, '-');
                }
                range = false;
            }
            if (cls) {
                if (gcb->re_cflags & PMf_LOCALE)
                    cls->classes[named >> 3] |= static_cast<uint8_t>(1u << (named & 7));
                else
                    for (uint32_t c = 0; c < 256; c++)
                        if (re_named_class_holds(named, c, false))
                            re_bitmap_set(cls->bitmap, static_cast<uint8_t>(c));
            }
            // \w- : the "-" is a member of its own.
            if (at_range_dash(gcb, end)) {
                gcb->re_parse++;
                warn_false_range(gcb, range_begin, "False [] range \"%*.*s\"");
                if (cls)
                    re_bitmap_set(cls->bitmap, '-');
            }
            continue;
        }
        // A plain member, or the right end of a range: prev_value is the
        // left end, or the member itself when no range was open.
        if (range_opens(gcb, end, value, range_begin, &range, &prev_value))
            continue;
        if (cls)
            for (uint32_t c = prev_value; c <= value && c < 256; c++)
                re_bitmap_set(cls->bitmap, static_cast<uint8_t>(c));
        range = false;
    }
    if (range && cls) {
        // A range left open at the end of the text: its left end and "-".
        re_bitmap_set(cls->bitmap, static_cast<uint8_t>(prev_value));
        re_bitmap_set(cls->bitmap, '-');
    }
    // Without locale the flags can be folded into the bitmap now, so that
    // the matcher tests one bit: first the case partners, then the
    // inversion. Under locale both wait for the match, where the locale's
    // case and classes are known.
    if (cls) {
        uint8_t f = cls->flags & ~RE_CLASS_INVERT;
        if (f == RE_CLASS_FOLD) {
            // Fold at compile time: every member's case partner is a member.
            const uint8_t* fold = gcb->fold_table;
            uint8_t extra[32] = {};
            for (uint32_t c = 0; c < 256; c++)
                if (re_bitmap_test(cls->bitmap, static_cast<uint8_t>(c)))
                    re_bitmap_set(extra, fold[c]);
            for (int i = 0; i < 32; i++)
                cls->bitmap[i] |= extra[i];
            cls->flags &= ~RE_CLASS_FOLD;
        }
        // Inverted alone: the complement is the class; with locale or named
        // classes the matcher inverts its own answer.
        if (cls->flags == RE_CLASS_INVERT) {
            for (int i = 0; i < 32; i++)
                cls->bitmap[i] = static_cast<uint8_t>(~cls->bitmap[i]);
            cls->flags = 0;
        }
    }
    return ret;
}

// The UTF-8 class. Its members are not put in a bitmap but written out as
// a listing text, one line a member: "%04lx" for a code point, "%04lx\t%04lx"
// for a range, "+utf8::Name" or "!utf8::Name" for a property or its
// complement. The listing becomes a swash (the Unicode tables' lookup
// object) kept in the pattern's data array; the ANYOFUTF8 node's argument
// holds the class flags in its low half and the data index in its high
// half. The size pass writes no listing (listing stays null).
re_program_node* re_parse_class_utf8(PERLGCB* gcb)
{
    const char* end = gcb->re_xend;
    uint16_t flags = 0;
    // The listing is a temporary: the temps stack releases it, also when an
    // error unwinds the compile before the swash is made.
    SV* listing = nullptr;
    if (!re_size_only(gcb))
        listing = sv_make_temporary(gcb, sv_new_from_bytes(gcb, "# comment\n", 10));
    if (gcb->re_parse < end && *gcb->re_parse == '^') {
        re_naughty_add(gcb, 1);
        gcb->re_parse++;
        flags |= RE_CLASS_INVERT;
    }
    if (gcb->re_cflags & PMf_FOLD)
        flags |= RE_CLASS_FOLD;
    if (gcb->re_cflags & PMf_LOCALE)
        flags |= RE_CLASS_LOCALE;

    // The property of each named class, by its even class number / 2.
    static const char* const props[RE_CC_COUNT / 2] = {
#define RE_POSIX(name, shown, shown_negated, word, property) property,
#include "prxregposix.def"
#undef RE_POSIX
    };
    // The item loop keeps the byte class's range state (see there).
    bool range = false;
    uint32_t prev_value = 0;
    const char* range_begin = gcb->re_parse;
    bool first = true;
    while (gcb->re_parse < end && (first || *gcb->re_parse != ']')) {
        first = false;
        int32_t named = NO_CLASS;
        bool wide_prop = false;
        if (!range)
            range_begin = gcb->re_parse;
        // One character of the pattern text; a malformed byte counts alone.
        int64_t consumed = 0;
        uint32_t value = static_cast<uint32_t>(utf8_decode(gcb, reinterpret_cast<const uint8_t*>(gcb->re_parse),
                                                           static_cast<uint64_t>(end - gcb->re_parse), &consumed, 0));
        gcb->re_parse += consumed ? consumed : 1;
        if (value == '[')
            named = re_parse_posix_class(gcb, static_cast<int32_t>(value));
        else if (value == '\\') {
            if (gcb->re_parse >= end)
                break;
            const char* p = gcb->re_parse;
            value = class_escape(gcb, &p, &named, true, &wide_prop, listing);
            gcb->re_parse = p;
        }
        // \p{...} is already in the listing; it cannot end a range.
        if (wide_prop) {
            if (range)
                fail_invalid_range(gcb, range_begin);
            continue;
        }
        // A named class is always symbolic here: its property line. As in
        // the byte class, a range it ends or begins is no range, and its
        // left end and "-" (002D) become members.
        if (named != NO_CLASS) {
            if (range) {
                warn_false_range(gcb, range_begin, "False [] brange \"%*.*s\"");
                if (listing)
                    sv_append_formatted(gcb, listing, "%04lx\n%04lx\n", static_cast<uint32_t>(prev_value),
                                        static_cast<uint32_t>('-'));
                range = false;
            }
            if (listing)
                sv_append_formatted(gcb, listing, "%cutf8::%s\n", (named & 1) ? '!' : '+', props[named >> 1]);
            if (at_range_dash(gcb, end)) {
                gcb->re_parse++;
                warn_false_range(gcb, range_begin, "False [] range \"%*.*s\"");
                if (listing)
                    sv_append_cstring(gcb, listing, "002D\n");
            }
            continue;
        }
        if (range_opens(gcb, end, value, range_begin, &range, &prev_value))
            continue;
        if (listing) {
            if (prev_value == value)
                sv_append_formatted(gcb, listing, "%04lx\n", static_cast<uint32_t>(value));
            else
                sv_append_formatted(gcb, listing, "%04lx\t%04lx\n", static_cast<uint32_t>(prev_value),
                                    static_cast<uint32_t>(value));
        }
        range = false;
    }
    // A range left open at the end of the text: its left end and "-".
    if (range && listing)
        sv_append_formatted(gcb, listing, "%04lx\n002D\n", static_cast<uint32_t>(prev_value));

    // The swash is made once, in the emit pass, and owned by the data
    // array (code 's'): freeing the pattern releases it.
    re_program_node* ret = re_emit_arg_node(gcb, RE_ANYOFUTF8, 0);
    if (!re_size_only(gcb)) {
        SV* swash = swash_new(gcb, "utf8", "", listing, 1, 0);
        uint32_t n = re_data_append(gcb, 1, "s");
        gcb->re_rx->data->data[n] = swash;
        re_set_arg(ret, static_cast<uint32_t>(flags) | (n << 16));
    }
    return ret;
}
