// Formats at run time: form_parse compiles a picture into a program of
// 16-bit format codes kept behind the picture's text, and pp_formline runs
// that program, appending the filled-in lines to the format target.
#include <cstring>

#include "prxchar.h"
#include "prxpool.h"
#include "prxpp.h"
#include "prxutf8.h"

using namespace prxchar;

namespace {

// The format codes; form_parse and pp_formline must agree on them. Codes
// marked with an argument are followed by one argument word.
enum form_code : uint16_t {
    FORM_END = 0,
    FORM_LINE_START = 1,
    FORM_LITERAL = 2,     // count of picture bytes to copy
    FORM_SKIP = 3,        // count of picture bytes to skip
    FORM_FETCH = 4,       // field size
    FORM_CHECK_LINE = 5,
    FORM_CHECK_CHOP = 6,
    FORM_PAD_BEFORE = 7,
    FORM_PAD_HALF = 8,
    FORM_ITEM = 9,
    FORM_CHOP = 10,
    FORM_LINE_GLOB = 11,
    FORM_NUMBER = 12,     // flags: 512 "^" field, 256 + decimals
    FORM_NEWLINE = 13,
    FORM_BLANK_LINE = 14, // nonzero for a repeating line
    FORM_MORE = 15,
};

// Flags of form_number.
constexpr uint16_t NUMBER_CHOP = 512;
constexpr uint16_t NUMBER_DECIMALS = 256;

// The break characters of "^" fields when the interpreter has none set.
constexpr const char* DEFAULT_CHOP_SET = " \n-";

// The program being built; it grows as codes are emitted.
struct code_buffer {
    uint16_t* codes;  // pool block
    uint32_t count;   // codes emitted
    uint32_t size;    // capacity in codes
};

void emit(PERLGCB* gcb, code_buffer* cb, uint32_t word)
{
    if (cb->count == cb->size) {
        cb->size = cb->size * 2;
        cb->codes = static_cast<uint16_t*>(pool_realloc(gcb, cb->codes, cb->size * sizeof(uint16_t)));
    }
    cb->codes[cb->count++] = static_cast<uint16_t>(word);
}

// Offset of the program behind a picture of cur bytes: the first 2-byte
// boundary strictly after the text.
inline uint64_t program_offset(uint64_t cur) { return cur + 2 - cur % 2; }

// The output of one formline: a write position in the format target, whose
// buffer may move whenever it grows.
struct form_output {
    SV* target;
    uint64_t t;  // write position
};

inline char* out_at(form_output* o) { return sv_pv(o->target) + o->t; }

// Room for n more bytes and a terminator behind the write position.
void ensure_room(PERLGCB* gcb, form_output* o, uint64_t n)
{
    if (o->t + n + 1 > sv_len(o->target))
        sv_grow_buffer(gcb, o->target, o->t + n + 1 + (o->t + n) / 2);
}

void put_spaces(PERLGCB* gcb, form_output* o, int64_t n)
{
    if (n <= 0)
        return;
    ensure_room(gcb, o, static_cast<uint64_t>(n));
    xk_fill(' ', out_at(o), static_cast<int32_t>(n));
    o->t += static_cast<uint64_t>(n);
}

}  // namespace

void form_parse(PERLGCB* gcb, SV* sv)
{
    uint64_t len = 0;
    char* s = sv_force_string(gcb, sv, &len);
    if (len == 0)
        fatal_error(gcb, "Null picture in formline");
    code_buffer cb{static_cast<uint16_t*>(pool_malloc(gcb, (len * 3 + 10) * sizeof(uint16_t))), 0,
                   static_cast<uint32_t>(len * 3 + 10)};
    // The byte at i, the text's terminating NUL standing at len.
    auto at = [&](uint64_t i) -> char { return i < len ? s[i] : '\0'; };

    uint64_t base = 0;           // start of the pending literal text
    int64_t skipspaces = 0;      // spaces, tabs and tildes just read
    bool noblank = false, repeat = false, postspace = false;
    uint32_t linepc = cb.count;  // the line's form_line_start
    emit(gcb, &cb, FORM_LINE_START);

    uint64_t i = 0;  // the next byte to read
    while (i <= len) {
        char c = at(i++);
        switch (c) {
        default:
            skipspaces = 0;
            continue;
        case '~':
            if (at(i) == '~') {
                repeat = true;
                s[i] = ' ';
            }
            noblank = true;
            s[i - 1] = ' ';
            [[fallthrough]];
        case ' ':
        case '\t':
            skipspaces++;
            continue;
        case '\n':
        case '\0': {
            skipspaces++;
            int64_t arg = static_cast<int64_t>(i - base) - skipspaces;
            if (arg > 0) {
                if (postspace)
                    emit(gcb, &cb, FORM_PAD_BEFORE);
                emit(gcb, &cb, FORM_LITERAL);
                emit(gcb, &cb, static_cast<uint32_t>(arg));
            }
            postspace = false;
            if (i <= len)
                skipspaces--;
            if (skipspaces > 0) {
                emit(gcb, &cb, FORM_SKIP);
                emit(gcb, &cb, static_cast<uint32_t>(skipspaces));
            }
            skipspaces = 0;
            if (i <= len)
                emit(gcb, &cb, FORM_NEWLINE);
            if (noblank) {
                emit(gcb, &cb, FORM_BLANK_LINE);
                // A repeating line's argument: the words from its
                // form_line_start to just after the argument.
                emit(gcb, &cb, repeat ? cb.count - linepc + 1 : 0);
            }
            if (i < len) {
                linepc = cb.count;
                emit(gcb, &cb, FORM_LINE_START);
                noblank = repeat = false;
                base = i;
            } else {
                i++;
            }
            continue;
        }
        case '@':
        case '^': {
            bool ischop = c == '^';
            if (postspace) {
                emit(gcb, &cb, FORM_PAD_BEFORE);
                postspace = false;
            }
            uint64_t arg = i - base - 1;
            if (arg) {
                emit(gcb, &cb, FORM_LITERAL);
                emit(gcb, &cb, static_cast<uint32_t>(arg));
            }
            base = i - 1;
            emit(gcb, &cb, FORM_FETCH);
            if (at(i) == '*') {
                i++;
                // The fetch skips the "@*" itself, so that the picture text
                // after it stays in step with the program.
                emit(gcb, &cb, 2);
                emit(gcb, &cb, FORM_LINE_GLOB);
            } else if (at(i) == '#' || (at(i) == '.' && at(i + 1) == '#')) {
                uint32_t flags = ischop ? NUMBER_CHOP : 0;
                while (at(i) == '#')
                    i++;
                if (at(i) == '.') {
                    uint64_t f = ++i;
                    while (at(i) == '#')
                        i++;
                    flags |= NUMBER_DECIMALS + static_cast<uint32_t>(i - f);
                }
                emit(gcb, &cb, static_cast<uint32_t>(i - base));
                emit(gcb, &cb, FORM_NUMBER);
                emit(gcb, &cb, flags);
            } else {
                uint32_t prespace = 0;
                bool ismore = false;
                if (at(i) == '>') {
                    while (at(++i) == '>') {
                    }
                    prespace = FORM_PAD_BEFORE;
                } else if (at(i) == '|') {
                    while (at(++i) == '|') {
                    }
                    prespace = FORM_PAD_HALF;
                    postspace = true;
                } else {
                    if (at(i) == '<')
                        postspace = true;
                    while (at(i) == '<')
                        i++;
                }
                if (at(i) == '.' && at(i + 1) == '.' && at(i + 2) == '.') {
                    i += 3;
                    ismore = true;
                }
                emit(gcb, &cb, static_cast<uint32_t>(i - base));
                emit(gcb, &cb, ischop ? FORM_CHECK_CHOP : FORM_CHECK_LINE);
                if (prespace)
                    emit(gcb, &cb, prespace);
                emit(gcb, &cb, FORM_ITEM);
                if (ismore)
                    emit(gcb, &cb, FORM_MORE);
                if (ischop)
                    emit(gcb, &cb, FORM_CHOP);
            }
            base = i;
            skipspaces = 0;
            continue;
        }
        }
    }
    emit(gcb, &cb, FORM_END);

    uint64_t cur = sv_cur(sv);
    uint64_t off = program_offset(cur);
    char* pv = sv_grow_buffer(gcb, sv, off + 2 * static_cast<uint64_t>(cb.count) + 4);
    std::memcpy(pv + off, cb.codes, 2 * static_cast<uint64_t>(cb.count));
    pool_free(gcb, cb.codes);
    sv_add_magic(gcb, sv, nullptr, 'f', nullptr, 0);
    sv->flags |= SVf_COMPILED;
}

namespace {

// The field being filled and the line being built, as the format codes
// leave them for the codes after.
struct form_state {
    SV* sv;                  // the value of the current field
    const char* item;        // the measured item: sv's text
    uint64_t item_len;       // the whole value's length in bytes
    int64_t itemsize;        // what of the item goes in: characters when item_is_utf, else bytes
    int64_t fieldsize;       // the field's width still to fill
    const char* chophere;    // where a "^" field's value is cut after its line
    uint64_t linemark;       // output position where the current line began
    int32_t lines;           // lines output so far by this formline
    bool gotsome;            // the current line holds something that is not blank
    bool item_is_utf;        // the item has multi-byte characters
};

// The format target in use: the body target, or the top-of-page target
// while a top-of-page format runs; made a string and a format body. *tlen
// is its length.
SV* format_target(PERLGCB* gcb, uint64_t* tlen)
{
    if (!gcb->format_target) {
        if (!gcb->format_body_target)
            gcb->format_body_target = sv_new_from_bytes(gcb, "", 0);
        gcb->format_target = gcb->format_body_target;
    }
    SV* target = gcb->format_target;
    sv_force_string(gcb, target, tlen);
    if (sv_type(target) < SVt_PVFM)
        sv_upgrade_body(gcb, target, SVt_PVFM);
    return target;
}

// Measures the field's value: how much of it fits the field, up to a
// newline for a plain field (FORM_CHECK_LINE), and for a "^" field
// (FORM_CHECK_CHOP) up to a carriage return, or when it does not fit, up to
// the last break character of chop_set within the field, where the value
// will be cut.
void measure_item(PERLGCB* gcb, form_state* fs, uint16_t code, const char* chop_set, bool chopspace)
{
    SV* sv = fs->sv;
    const char* item = fs->item = sv_text(gcb, sv, &fs->item_len);
    const char* s = item;
    fs->item_is_utf = false;
    int64_t itembytes = static_cast<int64_t>(fs->item_len);
    int64_t chars = itembytes;
    if (pp_utf8_mode(gcb, sv))
        chars = static_cast<int64_t>(sv_char_length(gcb, sv));
    if (chars != itembytes)
        fs->item_is_utf = true;
    bool fits = chars <= fs->fieldsize;
    if (!fits) {
        itembytes = fs->fieldsize;
        if (fs->item_is_utf) {
            int32_t o0 = 0, n = static_cast<int32_t>(fs->fieldsize);
            sv_pos_char_to_byte(gcb, sv, &o0, &n);
            itembytes = n;
        }
    }
    const char* send = item + itembytes;
    fs->chophere = send;
    if (code == FORM_CHECK_LINE) {
        while (s < send) {
            uint8_t c = static_cast<uint8_t>(*s);
            if (c >= 32)
                fs->gotsome = true;
            else if (c == '\n')
                break;
            s++;
        }
        fs->itemsize = s - item;
    } else if (fits) {
        fs->itemsize = itembytes;
        while (s < send) {
            if (*s == '\r') {
                fs->itemsize = s - item;
                break;
            }
            if (static_cast<uint8_t>(*s++) >= 32)
                fs->gotsome = true;
        }
    } else {
        const char* end = item + fs->item_len;
        while (s < send || (s == send && s < end && is_space(static_cast<uint8_t>(*s)))) {
            uint8_t c = static_cast<uint8_t>(*s);
            if (is_space(c)) {
                if (chopspace)
                    fs->chophere = s;
                if (c == '\r')
                    break;
            } else {
                if (c >= 32)
                    fs->gotsome = true;
                if (c && std::strchr(chop_set, c))
                    fs->chophere = s + 1;
            }
            s++;
        }
        fs->itemsize = fs->chophere - item;
    }
    if (fs->item_is_utf) {
        int32_t n = static_cast<int32_t>(fs->itemsize);
        sv_pos_b2u(gcb, sv, &n);
        fs->itemsize = n;
    }
}

// Copies the measured item into the field, control characters as spaces.
void put_item(PERLGCB* gcb, form_output* o, const form_state* fs)
{
    const uint8_t* s = reinterpret_cast<const uint8_t*>(fs->item);
    const uint8_t* end = s + fs->item_len;
    for (int64_t n = fs->itemsize; n > 0 && s < end; n--) {
        if (fs->item_is_utf && *s >= 0x80) {
            uint64_t skip = utf8_skip_table[*s];
            if (skip > static_cast<uint64_t>(end - s))
                skip = static_cast<uint64_t>(end - s);
            ensure_room(gcb, o, skip);
            xk_copy(s, out_at(o), static_cast<int32_t>(skip));
            o->t += skip;
            s += skip;
        } else {
            ensure_room(gcb, o, 1);
            *out_at(o) = *s < 32 ? ' ' : static_cast<char>(*s);
            o->t++;
            s++;
        }
    }
}

// A "@*" field: the whole value, lines and all, but a final newline; each
// inner newline counts a line.
void put_line_glob(PERLGCB* gcb, form_output* o, form_state* fs, uint64_t fudge)
{
    const char* item = fs->item = sv_text(gcb, fs->sv, &fs->item_len);
    fs->item_is_utf = false;
    uint64_t n = fs->item_len;
    if (!n)
        return;
    fs->gotsome = true;
    for (uint64_t k = 0; k < fs->item_len; k++) {
        if (item[k] == '\n') {
            if (k + 1 == fs->item_len)
                n--;
            else
                fs->lines++;
        }
    }
    // The value may be the target itself: copy it through a
    // block of its own.
    char* copy = static_cast<char*>(pool_malloc(gcb, n + 1));
    xk_copy(item, copy, static_cast<int32_t>(n));
    ensure_room(gcb, o, n + fudge);
    xk_copy(copy, out_at(o), static_cast<int32_t>(n));
    o->t += n;
    pool_free(gcb, copy);
}

// A numeric field: the value right-aligned in the field's width, with the
// decimals flags asks for; a "^" field of an undefined value is blank.
void put_number(PERLGCB* gcb, form_output* o, form_state* fs, uint16_t flags)
{
    if ((flags & NUMBER_CHOP) && !sv_ok(fs->sv)) {
        put_spaces(gcb, o, fs->fieldsize);
        return;
    }
    fs->gotsome = true;
    double value = pp_double(gcb, fs->sv);
    const char* text = (flags & NUMBER_DECIMALS) ? format_message(gcb, "%#*.*f", static_cast<int32_t>(fs->fieldsize),
                                                                  static_cast<int32_t>(flags & 255), value)
                                                 : format_message(gcb, "%*.0f", static_cast<int32_t>(fs->fieldsize), value);
    // Only the first field-size characters of a wider number stay.
    uint64_t n = std::strlen(text);
    uint64_t width = static_cast<uint64_t>(fs->fieldsize);
    ensure_room(gcb, o, width);
    xk_copy(text, out_at(o), static_cast<int32_t>(n < width ? n : width));
    if (n < width)
        xk_fill(' ', out_at(o) + n, static_cast<int32_t>(width - n));
    o->t += width;
}

// "..." at the field's end when a "^" field's value goes on past its cut:
// the field is padded out first, and the dots replace the spaces before.
void put_more_mark(PERLGCB* gcb, form_output* o, form_state* fs, bool chopspace)
{
    const char* s = fs->chophere;
    const char* send = fs->item + fs->item_len;
    if (chopspace)
        while (s < send && is_space(static_cast<uint8_t>(*s)))
            s++;
    if (s >= send)
        return;
    int64_t arg = fs->fieldsize - fs->itemsize;
    if (arg) {
        fs->fieldsize -= arg;
        put_spaces(gcb, o, arg);
    }
    ensure_room(gcb, o, 3);
    char* b = sv_pv(o->target);
    uint64_t at = o->t >= 3 ? o->t - 3 : 0;
    if (o->t >= 3 && std::memcmp(b + at, "   ", 3) == 0)
        while (at > 0 && is_space(static_cast<uint8_t>(b[at - 1])))
            at--;
    std::memcpy(b + at, "...", 3);
    if (at + 3 > o->t)
        o->t = at + 3;
}

}  // namespace

OP* pp_formline(PERLGCB* gcb)
{
    OP* op = gcb->op;
    int32_t mark = pop_mark(gcb);
    int32_t last = static_cast<int32_t>(gcb->arg_sp - gcb->arg_base);
    int32_t next_value = mark + 2;
    SV* form = gcb->arg_base[mark + 1];

    if (!(form->flags & SV_MAGIC_FLAGS) || !(form->flags & SVf_COMPILED)) {
        if (form->flags & SVf_READONLY) {
            form->flags &= ~SVf_READONLY;
            form_parse(gcb, form);
            form->flags |= SVf_READONLY;
        } else {
            form_parse(gcb, form);
        }
    }
    const char* chop_set = gcb->chop_set ? gcb->chop_set : DEFAULT_CHOP_SET;
    bool chopspace = std::strchr(chop_set, ' ') != nullptr;
    bool bytes_only = pp_bytes_hint(gcb);

    uint64_t tlen = 0;
    SV* target = format_target(gcb, &tlen);
    int32_t& target_lines = static_cast<PVFM*>(target->any)->lines;
    uint64_t form_len = sv_cur(form);
    uint64_t fudge = form_len * (bytes_only ? 1 : 3) + 1;
    sv_grow_buffer(gcb, target, tlen + fudge + 1);
    form_output o{target, tlen};

    const char* f = sv_pv(form);
    const char* program = f + program_offset(form_len);
    uint32_t pc = 0;
    auto next_word = [&]() -> uint16_t {
        uint16_t w;
        std::memcpy(&w, program + 2 * static_cast<uint64_t>(pc++), sizeof w);
        return w;
    };

    form_state fs{&gcb->sv_no, nullptr, 0, 0, 0, nullptr, 0, 0, false, false};
    for (;;) {
        uint16_t code = next_word();
        switch (code) {
        case FORM_LINE_START:
            fs.linemark = o.t;
            fs.lines++;
            fs.gotsome = false;
            break;
        case FORM_LITERAL: {
            uint16_t n = next_word();
            ensure_room(gcb, &o, n);
            xk_copy(f, out_at(&o), n);
            o.t += n;
            f += n;
            break;
        }
        case FORM_SKIP:
            f += next_word();
            break;
        case FORM_FETCH: {
            uint16_t n = next_word();
            f += n;
            fs.fieldsize = n;
            if (next_value <= last) {
                fs.sv = gcb->arg_base[next_value++];
            } else {
                fs.sv = &gcb->sv_no;
                if (warn_enabled(gcb, WARN_SYNTAX))
                    category_warning(gcb, WARN_SYNTAX, "Not enough format arguments");
            }
            break;
        }
        case FORM_CHECK_LINE:
        case FORM_CHECK_CHOP:
            measure_item(gcb, &fs, code, chop_set, chopspace);
            break;
        case FORM_PAD_BEFORE: {
            int64_t arg = fs.fieldsize - fs.itemsize;
            if (arg) {
                fs.fieldsize -= arg;
                put_spaces(gcb, &o, arg);
            }
            break;
        }
        case FORM_PAD_HALF: {
            int64_t arg = fs.fieldsize - fs.itemsize;
            if (arg) {
                arg /= 2;
                fs.fieldsize -= arg;
                put_spaces(gcb, &o, arg);
            }
            break;
        }
        case FORM_ITEM:
            put_item(gcb, &o, &fs);
            break;
        case FORM_CHOP: {
            const char* s = fs.chophere;
            const char* end = fs.item + fs.item_len;
            if (chopspace)
                while (s < end && is_space(static_cast<uint8_t>(*s)))
                    s++;
            // Nothing used leaves the value as it is (the "no" value of a
            // missing argument cannot be written).
            if (s != fs.item)
                sv_chop_front(gcb, fs.sv, s);
            break;
        }
        case FORM_LINE_GLOB:
            put_line_glob(gcb, &o, &fs, fudge);
            break;
        case FORM_NUMBER:
            put_number(gcb, &o, &fs, next_word());
            break;
        case FORM_NEWLINE: {
            f++;
            char* b = sv_pv(target);
            while (o.t > fs.linemark && b[o.t - 1] == ' ')
                o.t--;
            ensure_room(gcb, &o, 1);
            *out_at(&o) = '\n';
            o.t++;
            break;
        }
        case FORM_BLANK_LINE: {
            uint16_t arg = next_word();
            if (fs.gotsome) {
                if (arg) {
                    char* b = sv_pv(target);
                    b[o.t] = 0;
                    sv_cur(target) = o.t;
                    fs.lines += target_lines;
                    // From the 200th line on, a repeating line that gives the
                    // line before it again makes no headway. The count goes on
                    // from the target's, which a write that died left behind,
                    // so it may pass 200 between two checks: each line past it
                    // is checked, or such a write would repeat forever.
                    if (fs.lines >= 200) {
                        uint64_t n = o.t - fs.linemark;
                        if (fs.linemark >= n && std::memcmp(b + fs.linemark, b + fs.linemark - n, n) == 0)
                            return die_error(gcb, "Runaway format");
                    }
                    target_lines = fs.lines;
                    pp_put_sp(gcb, gcb->arg_base + mark);
                    return op_first_kid(op);
                }
            } else {
                o.t = fs.linemark;
                fs.lines--;
            }
            break;
        }
        case FORM_MORE:
            put_more_mark(gcb, &o, &fs, chopspace);
            break;
        case FORM_END: {
            sv_pv(target)[o.t] = 0;
            sv_cur(target) = o.t;
            target_lines += fs.lines;
            SV** sp = gcb->arg_base + mark;
            *++sp = &gcb->sv_yes;
            pp_put_sp(gcb, sp);
            return op->op_next;
        }
        default:
            break;
        }
    }
}
