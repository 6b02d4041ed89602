// Interpolated text: how a scanned quote construct is delivered, entering and
// leaving its body (the sub-lexer), the escapes of its constant runs, and the
// constant-overload handlers that literals pass through.
#include <cstring>

#include "host/hostif.h"
#include "prxcall.h"
#include "prxchar.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlexint.h"
#include "prxmsg.h"
#include "prxnum.h"
#include "prxpool.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"
#include "prxuni.h"
#include "prxutf8.h"

using namespace prxchar;

// ---- constant overloading ------------------------------------------------------

SV* lex_overload_constant(PERLGCB* gcb, const char* text, int32_t len, const char* key, SV* value, SV* text_value,
                          const char* type)
{
    GV* hints = gv_hints_glob(gcb);
    HV* table = hints && gv_gp(hints) ? gv_gp(hints)->gp_hv : nullptr;
    const char* type_name = type ? type : "undef";  // as the messages name the type
    if (!table || !(gcb->compile_hints & HINT_LOCALIZE_HH)) {
        const char* why = std::strcmp(key, "charnames") == 0 ? "(possibly a missing \"use charnames ...\")" : "";
        compile_error(gcb, format_message(gcb, "Constant(%s) unknown: %s", type_name, why));
        return value;
    }
    SV** handler = hv_fetch_str(gcb, table, key, static_cast<int32_t>(std::strlen(key)), 0);
    if (!handler || !*handler || !sv_ok(*handler)) {
        compile_error(gcb, format_message(gcb, "Constant(%s): %s%s%s", type_name, "$^H{", key, "} is not defined"));
        return value;
    }
    // The handler's result replaces the literal: the literal's value goes to
    // the temporaries, the result comes back with a reference of its own.
    sv_make_temporary(gcb, value);
    if (!text_value && text)
        text_value = sv_make_temporary(gcb, sv_new_from_bytes(gcb, text, static_cast<uint64_t>(len)));
    SV* type_value = type && text_value ? sv_make_temporary(gcb, sv_new_from_cstring(gcb, type, 0)) : &gcb->sv_undef;

    stack_level_push(gcb, SI_OVERLOAD);
    scope_enter(gcb);
    save_push_i32(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;
    SV** sp = gcb->arg_sp;
    push_mark(gcb, sp);
    sp = arg_stack_room(gcb, sp, 3);
    if (text_value)
        *++sp = text_value;
    *++sp = value;
    if (text_value)
        *++sp = type_value;
    gcb->arg_sp = sp;
    int32_t count = interp_call_value(gcb, sv_as<CV>(*handler), gcb->in_eval ? 0 : CALL_EVAL);
    SV* res;
    SV* err = gcb->error_glob && gv_gp(gcb->error_glob) ? gv_gp(gcb->error_glob)->gp_sv : nullptr;
    if (!gcb->in_eval && err && sv_is_true(gcb, err)) {
        sv_append_cstring(gcb, err, "Propagated");
        uint64_t elen = 0;
        compile_error(gcb, sv_text(gcb, err, &elen));
        if (count)
            gcb->arg_sp--;
        res = sv_refinc(value);
    } else {
        res = sv_refinc(count ? *gcb->arg_sp-- : &gcb->sv_undef);
    }
    tmps_free_to_floor(gcb);
    scope_leave(gcb);
    stack_level_pop(gcb);
    if (!sv_ok(res))
        compile_error(gcb, format_message(gcb, "Constant(%s): %s%s%s", type_name, "Call to &{$^H{", key,
                                          "}} did not return a defined value"));
    return res;
}

SV* lex_single_quoted(PERLGCB* gcb, SV* sv)
{
    SV* literal = sv;
    if ((sv->flags & SVf_POK) && sv_len(sv) && !(sv_type(sv) >= SVt_PVIV && sv_iv(sv) == -1)) {
        char* s = sv_pv(sv);
        char* send = s + sv_cur(sv);
        while (s < send && *s != '\\')
            s++;
        if (s < send) {
            if (gcb->compile_hints & HINT_NEW_STRING)
                literal = sv_make_temporary(gcb, sv_new_from_bytes(gcb, sv_pv(sv), sv_cur(sv)));
            char* d = s;
            while (s < send) {
                if (*s == '\\' && s + 1 < send && s[1] == '\\')
                    s++;
                *d++ = *s++;
            }
            *d = 0;
            sv_cur(sv) = static_cast<uint64_t>(d - sv_pv(sv));
        }
    }
    if (gcb->compile_hints & HINT_NEW_STRING)
        return lex_overload_constant(gcb, nullptr, 0, "q", sv, literal, "q");
    return sv;
}

// ---- entering and leaving interpolated text ----------------------------------------

int32_t lex_quote_start(PERLGCB* gcb)
{
    int32_t type = gcb->token_value.ival;
    if (type == OP_NULL) {
        gcb->token_value.op = gcb->scanned_op;
        gcb->scanned_op = nullptr;
        return TERM_OP;
    }
    if (type == OP_CONST || type == OP_READLINE) {
        SV* sv = lex_single_quoted(gcb, gcb->quote_body);
        if (sv_type(sv) == SVt_PVIV) {
            uint64_t len = 0;
            const char* p = sv_text(gcb, sv, &len);
            SV* plain = sv_new_from_bytes(gcb, p, len);
            if (sv->flags & SVf_UTF8)
                plain->flags |= SVf_UTF8;
            sv_release(gcb, sv);
            sv = plain;
        }
        gcb->token_value.op = op_new_value(gcb, type, 0, sv);
        gcb->quote_body = nullptr;
        return TERM_OP;
    }
    gcb->lex_sub_mode = gcb->lex_state;
    gcb->lex_sub_what = type;
    gcb->lex_sub_op = gcb->scanned_op;
    gcb->lex_state = LEX_INTERPPUSH;
    gcb->expect = XTERM;
    if (gcb->scanned_op) {
        gcb->token_value.op = gcb->scanned_op;
        gcb->scanned_op = nullptr;
        return PATTERN_OP;
    }
    return FUNC_PAREN;
}

namespace {

// Makes text the line buffer with every position at its start; the value is
// released when the current scope is left.
void lex_from_value(PERLGCB* gcb, SV* text)
{
    gcb->line_buffer = text;
    uint64_t len = 0;
    char* s = sv_text(gcb, text, &len);
    gcb->scan_pos = gcb->prev_token_pos = gcb->prev_prev_token_pos = gcb->line_start = s;
    gcb->buffer_end = s + len;
    gcb->last_unary_pos = gcb->last_list_op_pos = nullptr;
    save_push_release_value(gcb, text);
}

}  // namespace

int32_t lex_interpolation_begin(PERLGCB* gcb)
{
    scope_enter(gcb);
    gcb->lex_state = gcb->lex_sub_mode;
    lex_save_text_state(gcb);

    SV* body = gcb->quote_body;
    gcb->quote_body = nullptr;
    lex_from_value(gcb, body);

    gcb->join_pending = 0;
    gcb->bracket_depth = 0;
    gcb->bracket_stack = static_cast<char*>(pool_malloc(gcb, LEX_BRACKET_STACK));
    gcb->case_modifier_stack = static_cast<char*>(pool_malloc(gcb, LEX_CASE_STACK));
    gcb->case_modifier_count = 0;
    gcb->case_modifier_stack[0] = 0;
    gcb->piece_count = 0;
    gcb->lex_state = LEX_INTERPSTRING;
    lex_current_line(gcb) = static_cast<uint16_t>(gcb->multi_start_line);
    gcb->quote_op_kind = gcb->lex_sub_what;
    int32_t kind = gcb->quote_op_kind;
    gcb->in_pattern = kind == OP_MATCH || kind == OP_QR || kind == OP_SUBST ? gcb->lex_sub_op : nullptr;
    // The outer text stays known only to the code of an s///e (for its
    // here-documents); every other construct, and what follows it, has none.
    SV* repl = gcb->replacement_text;
    if (kind != OP_SUBST || !repl || !(repl->flags & SVf_EVALED))
        gcb->outer_pos = gcb->outer_end = nullptr;
    return '(';
}

int32_t lex_empty_piece(PERLGCB* gcb)
{
    gcb->piece_count = 1;
    SV* sv = sv_new_from_bytes(gcb, "", 0);
    if (gcb->line_buffer->flags & SVf_UTF8)
        sv->flags |= SVf_UTF8;
    gcb->expect = XOPERATOR;
    gcb->token_value.op = op_new_value(gcb, OP_CONST, 0, sv);
    return TERM_OP;
}

int32_t lex_interpolation_end(PERLGCB* gcb)
{
    if (!gcb->piece_count++)
        return lex_empty_piece(gcb);
    if (gcb->case_modifier_count) {
        gcb->lex_state = LEX_INTERPCASEMOD;
        return yylex(gcb);
    }
    if (gcb->replacement_text && (gcb->quote_op_kind == OP_SUBST || gcb->quote_op_kind == OP_TRANS)) {
        SV* repl = gcb->replacement_text;
        gcb->in_pattern = nullptr;
        lex_from_value(gcb, repl);
        gcb->join_pending = 0;
        gcb->bracket_depth = 0;
        gcb->case_modifier_count = 0;
        gcb->case_modifier_stack[0] = 0;
        gcb->piece_count = 0;
        if (repl->flags & SVf_EVALED) {
            // replacement_text stays set: the reader clears it when the
            // code ends, which is how it knows this was an evaluated one.
            gcb->lex_state = LEX_INTERPNORMAL;
            gcb->piece_count = 1;
        } else {
            gcb->lex_state = LEX_INTERPSTRING;
            gcb->replacement_text = nullptr;
        }
        return ',';
    }
    scope_leave(gcb);
    uint64_t len = 0;
    char* s = sv_text(gcb, gcb->line_buffer, &len);
    gcb->buffer_end = s + len;
    gcb->expect = XOPERATOR;
    gcb->lex_sub_what = 0;
    return ')';
}

// ---- escapes ------------------------------------------------------------------------

namespace {

// Escapes a pattern keeps as written for the pattern compiler.
constexpr char pattern_escapes[] = "\\.^$@AGZdDwWsSbBpPXC+*?|()-nrtfeaxcz0123456789[{]} \t\n\r\f\v#";

// The output of a constant run: a value whose buffer grows on demand; the
// stored length is n (the value's own length is set at the end).
struct Out {
    PERLGCB* gcb;
    SV* sv;
    uint64_t n;

    char* room(uint64_t extra)
    {
        if (n + extra + 1 > sv_len(sv))
            sv_grow_buffer(gcb, sv, n + extra + 1 + (n >> 1));
        return sv_pv(sv) + n;
    }
    void put(char c)
    {
        room(1)[0] = c;
        n++;
    }
    void put_bytes(const char* p, uint64_t len)
    {
        std::memcpy(room(len), p, len);
        n += len;
    }
    void put_utf8(uint64_t uv)
    {
        uint8_t* d = reinterpret_cast<uint8_t*>(room(16));
        n += static_cast<uint64_t>(utf8_encode(gcb, d, uv) - d);
    }
    // Re-encodes what is stored so far as UTF-8: each byte of 0x80 or above
    // becomes two bytes.
    void upgrade()
    {
        uint64_t high = 0;
        for (uint64_t i = 0; i < n; i++)
            high += static_cast<uint8_t>(sv_pv(sv)[i]) >= 0x80;
        if (!high)
            return;
        room(high);
        uint8_t* p = reinterpret_cast<uint8_t*>(sv_pv(sv));
        uint64_t from = n, to = n + high;
        while (from > 0) {
            uint8_t c = p[--from];
            if (c >= 0x80) {
                p[--to] = static_cast<uint8_t>(0x80 | (c & 0x3F));
                p[--to] = static_cast<uint8_t>(0xC0 | (c >> 6));
            } else {
                p[--to] = c;
            }
        }
        n += high;
    }
};

// A word byte at s for the interpolation tests: letter, digit or "_", or a
// UTF-8 word character in UTF-8 source.
bool word_at(PERLGCB* gcb, const char* s)
{
    uint8_t c = static_cast<uint8_t>(*s);
    if (c >= 0x80 && lex_utf8_source(gcb))
        return utf8_is_word(gcb, reinterpret_cast<const uint8_t*>(s)) != 0;
    return host_is_word(c);
}

const char* find_byte(const char* s, const char* send, char c)
{
    const void* p = std::memchr(s, c, static_cast<size_t>(send - s));
    return static_cast<const char*>(p);
}

}  // namespace

char* scan_escapes(PERLGCB* gcb, char* start)
{
    char* send = gcb->buffer_end;
    char* s = start;
    const int32_t what = gcb->quote_op_kind;
    const bool trans = what == OP_TRANS;
    OP* const pat = gcb->in_pattern;
    const char* leave = pat ? pattern_escapes : "";
    OP* const sub_op = gcb->lex_sub_op;

    Out out{gcb, sv_new_undef(gcb, static_cast<uint64_t>(send - s) + 1), 0};
    bool utf8_in = lex_utf8_source(gcb);
    if (trans && sub_op)
        utf8_in = sub_op->op_private & (gcb->replacement_text ? OPpTRANS_FROM_UTF : OPpTRANS_TO_UTF);
    bool utf8_out = false;
    bool dorange = false;
    // The UTF-8 flag of the list being scanned, on the transliteration op.
    auto mark_list_utf8 = [&] {
        if (trans && sub_op)
            sub_op->op_private |= gcb->replacement_text ? OPpTRANS_FROM_UTF : OPpTRANS_TO_UTF;
    };
    auto insert_number = [&](uint64_t uv, bool wide_form) {
        if (uv < 0x80) {
            out.put(static_cast<char>(uv));
            return;
        }
        if (!utf8_out && (wide_form || uv > 255)) {
            out.upgrade();
            utf8_out = true;
        }
        if (utf8_out) {
            out.put_utf8(uv);
            mark_list_utf8();
        } else {
            out.put(static_cast<char>(uv));
        }
    };

    while (s < send || dorange) {
        if (trans) {
            if (dorange) {
                // The start and end bytes are the last two stored; the range
                // replaces them.
                if (out.n >= 2) {
                    uint8_t min = static_cast<uint8_t>(sv_pv(out.sv)[out.n - 2]);
                    uint8_t max = static_cast<uint8_t>(sv_pv(out.sv)[out.n - 1]);
                    out.n -= 2;
                    out.room(256);
                    for (uint32_t i = min; i <= max; i++)
                        out.put(static_cast<char>(i));
                }
                dorange = false;
                continue;
            }
            if (*s == '-' && s + 1 < send && s != start) {
                // Once the list holds UTF-8 the stored ends are encoded
                // characters: the range is left to the op-tree compiler.
                if (utf8_in || utf8_out) {
                    out.put(static_cast<char>(0xFF));
                    s++;
                    continue;
                }
                dorange = true;
                s++;
            }
        } else if (*s == '(' && pat && s + 1 < send && s[1] == '?') {
            if (s + 2 < send && s[2] == '#') {
                while (s < send && *s != ')')
                    out.put(*s++);
            } else if (s + 2 < send &&
                       (s[2] == '{' || ((s[2] == 'p' || s[2] == '?') && s + 3 < send && s[3] == '{'))) {
                int32_t count = 1;
                char* p = s + (s[2] == '{' ? 3 : 4);
                while (count && p < send) {
                    char c = *p;
                    if (c == '\\' && p + 1 < send)
                        p++;
                    else if (c == '{')
                        count++;
                    else if (c == '}')
                        count--;
                    p++;
                }
                if (p >= send || *p != ')') {
                    p--;  // leaves one byte for the scan to go on with
                    compile_error(gcb, "Sequence (?{...}) not terminated or not {}-balanced");
                }
                while (s < p)
                    out.put(*s++);
            }
        } else if (*s == '#' && pat && (op_as_pattern(pat)->op_pmflags & PMf_EXTENDED)) {
            while (s + 1 < send && *s != '\n')
                out.put(*s++);
        } else if (*s == '@' && s + 1 < send && s[1] && (word_at(gcb, s + 1) || std::strchr(":'{$", s[1]))) {
            break;
        } else if (*s == '$') {
            if (!pat)
                break;
            if (s + 1 < send && !std::strchr("()| \n\t", s[1]))
                break;
        }
        if (s >= send)
            break;

        if (*s == '\\' && s + 1 < send) {
            s++;
            if (*leave && std::strchr(leave, *s)) {
                out.put('\\');
                out.put(*s++);
                continue;
            }
            if (what == OP_SUBST && !pat && is_digit(*s) && *s != '0' && !(s + 1 < send && is_digit(s[1]))) {
                if (warn_enabled(gcb, WARN_SYNTAX))
                    category_warning(gcb, WARN_SYNTAX, "\\%c better written as $%c", *s, *s);
                *--s = '$';
                break;
            }
            if (!trans && std::strchr("lLuUEQ", *s)) {
                --s;
                break;
            }
            switch (*s) {
            case '-':
                if (trans) {
                    out.put(*s++);
                    continue;
                }
                [[fallthrough]];
            default:
                if (host_is_alpha(static_cast<uint8_t>(*s)) && warn_enabled(gcb, WARN_MISC))
                    category_warning(gcb, WARN_MISC, "Unrecognized escape \\%c passed through", *s);
                out.put(*s++);
                continue;
            case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
                uint64_t len = 0;
                uint64_t max = static_cast<uint64_t>(send - s) < 3 ? static_cast<uint64_t>(send - s) : 3;
                uint64_t uv = static_cast<uint64_t>(scan_octal(gcb, s, max, &len));
                s += len;
                insert_number(uv, false);
                continue;
            }
            case 'x': {
                ++s;
                if (s < send && *s == '{') {
                    const char* e = find_byte(s, send, '}');
                    if (!e) {
                        compile_error(gcb, "Missing right brace on \\x{}");
                        s++;  // the text goes on after the brace, inserting nothing
                        continue;
                    }
                    // A code point is an unsigned integer of the interpreter:
                    // a bigger number stops at 0xFFFFFFFF.
                    uint64_t len = 1;
                    uint64_t uv = nv_to_uv(gcb, scan_hexadecimal(gcb, s + 1, static_cast<uint64_t>(e - s - 1), &len));
                    s = const_cast<char*>(e) + 1;
                    insert_number(uv, true);
                } else {
                    uint64_t len = 0;
                    uint64_t max = static_cast<uint64_t>(send - s) < 2 ? static_cast<uint64_t>(send - s) : 2;
                    uint64_t uv = static_cast<uint64_t>(scan_hexadecimal(gcb, s, max, &len));
                    s += len;
                    insert_number(uv, false);
                }
                continue;
            }
            case 'N': {
                ++s;
                if (s >= send || *s != '{') {
                    compile_error(gcb, "Missing braces on \\N{}");
                    continue;
                }
                const char* e = find_byte(s, send, '}');
                if (!e) {
                    compile_error(gcb, "Missing right brace on \\N{}");
                    continue;  // the brace is read as text
                }
                SV* res = sv_new_from_bytes(gcb, s + 1, static_cast<uint64_t>(e - s - 1));
                res = lex_overload_constant(gcb, nullptr, 0, "charnames", res, nullptr, "\\N{...}");
                if (utf8_out)
                    sv_convert_to_utf8(gcb, res);
                uint64_t len = 0;
                const char* str = sv_text(gcb, res, &len);
                if (!utf8_out && (res->flags & SVf_UTF8)) {
                    out.upgrade();
                    utf8_out = true;
                }
                out.put_bytes(str, len);
                sv_release(gcb, res);
                s = const_cast<char*>(e) + 1;
                continue;
            }
            case 'c': {
                s++;
                uint8_t c = s < send ? static_cast<uint8_t>(*s++) : 0;
                out.put(static_cast<char>(g_host_vector->upper[c] ^ 0x40));
                continue;
            }
            case 'b': out.put('\b'); break;
            case 'n': out.put('\n'); break;
            case 'r': out.put('\r'); break;
            case 'f': out.put('\f'); break;
            case 't': out.put('\t'); break;
            case 'e': out.put('\033'); break;
            case 'a': out.put('\007'); break;
            }
            s++;
            continue;
        }

        uint8_t c = static_cast<uint8_t>(*s);
        if (c >= 0x80 && (utf8_out || utf8_in)) {
            int64_t len = 1;
            uint64_t uv = c;
            if (utf8_in && utf8_check_char(gcb, reinterpret_cast<const uint8_t*>(s)) > 0 &&
                static_cast<int64_t>(utf8_skip_of(c)) <= send - s)
                uv = utf8_decode(gcb, reinterpret_cast<const uint8_t*>(s), static_cast<uint64_t>(send - s), &len, 0);
            if (len < 1)
                len = 1;
            s += len;
            if (!utf8_out) {
                out.upgrade();
                utf8_out = true;
            }
            out.put_utf8(uv);
            mark_list_utf8();
        } else {
            out.put(*s++);
        }
    }

    SV* sv = out.sv;
    out.room(0)[0] = 0;
    sv_cur(sv) = out.n;
    sv->flags |= SVf_POK | SVp_POK;
    if (utf8_out)
        sv->flags |= SVf_UTF8;
    if (s <= gcb->scan_pos) {
        sv_release(gcb, sv);
        return s;
    }
    if (gcb->compile_hints & (pat ? HINT_NEW_RE : HINT_NEW_STRING)) {
        const char* type = trans ? "tr" : (what == OP_SUBST && !pat) ? "s" : "qq";
        sv = lex_overload_constant(gcb, start, static_cast<int32_t>(s - start), pat ? "qr" : "q", sv, nullptr, type);
    }
    gcb->token_value.op = op_new_value(gcb, OP_CONST, 0, sv);
    return s;
}
