// The lexer's internal interface: routines that the token reader and the
// scanners call across their files. Nothing outside the front end includes it.
#pragma once

#include "prxlex.h"
#include "prxop.h"

// ---- token reader (dispatch, punctuation, words, white space, guesses) ------

// Keyword groups (the group column of prxkeyword.def).
enum : uint8_t {
    KWG_OWN = 0,   // a case of its own
    KWG_LOP1 = 1,  // list operator; its operands begin as a term
    KWG_LOP2 = 2,  // list operator; its operands begin as a reference
    KWG_UNI = 3,   // named unary operator
    KWG_FUN0 = 4,  // built-in without operands
};

// Keyword numbers, without their sign.
enum keyword_id : int32_t {
#define PRX_KEYWORD(id, word, number, group, op) id = (number) < 0 ? -(number) : (number),
#define PRX_KEYWORD_SYNONYM(word, id)
#include "prxkeyword.def"
#undef PRX_KEYWORD
#undef PRX_KEYWORD_SYNONYM
    KEY_MAX = 251,
};

// One keyword: its word, signed number, group and op.
struct keyword_entry {
    const char* word;
    int16_t number;
    uint8_t group;
    uint16_t op;
};
// The entry of keyword number n (1 to 251), or null for a gap.
const keyword_entry* keyword_entry_of(int32_t n);

// What a case of the reader answers when no token is ready: scanning goes
// on at scan_pos.
constexpr int32_t LEX_RESCAN = -1;

// Pushes a BAREWORD const op of the word at s (after white space) unless
// keyword checking is asked and the word is a keyword; with METHOD_NAME it
// also sets expect from what follows. Returns the position after what it took.
char* lex_push_word(PERLGCB* gcb, char* s, int32_t token, int32_t check_keyword, int32_t allow_package,
                    int32_t allow_tick);
// ASSIGN_OP when "=" stands at scan_pos (taking it), else token.
int32_t lex_operator_or_assign(PERLGCB* gcb, int32_t token);
// A list operator of op type `type`: FUNC_PAREN when "(" follows s, else LIST_OP.
int32_t lex_list_operator(PERLGCB* gcb, int32_t type, int32_t expect, char* s);
// "Warning: Use of "%s" without parens is ambiguous" after a named unary operator.
void lex_check_unary_parens(PERLGCB* gcb);
// Lowers statement_line to the current line.
void lex_lower_statement_line(PERLGCB* gcb);

// Token returns of the reader's cases: each leaves scan_pos at s and
// answers the token. lex_token keeps expect; lex_operator sets XTERM;
// lex_term lowers the statement line and sets XOPERATOR; lex_expecting sets
// the given value.
int32_t lex_token(PERLGCB* gcb, char* s, int32_t token);
int32_t lex_operator(PERLGCB* gcb, char* s, int32_t token);
int32_t lex_term(PERLGCB* gcb, char* s, int32_t token);
int32_t lex_expecting(PERLGCB* gcb, char* s, int32_t token, int32_t expect);
// An operator whose value is an op type; expect XTERM. The assignable form
// gives ASSIGN_OP when "=" follows.
int32_t lex_valued_operator(PERLGCB* gcb, char* s, int32_t token, int32_t type);
int32_t lex_assignable_operator(PERLGCB* gcb, char* s, int32_t token, int32_t type);
// A quote-like construct scanned up to s: statement line lowered, expect
// XOPERATOR, and the token of the quoted-construct start.
int32_t lex_quoted_term(PERLGCB* gcb, char* s);
// Queues a token with an op or an integer as its value.
void lex_queue_op(PERLGCB* gcb, int32_t token, OP* op);
void lex_queue_int(PERLGCB* gcb, int32_t token, int32_t value);

// Guesses and diagnostics (prxlexguess.cpp).
// 0, or METHOD_NAME / METHOD_NAME_PAREN with the class or object queued.
int32_t lex_guess_method_call(PERLGCB* gcb, char* s, GV* gv);
// The checks after print, printf and sort ("No comma allowed after %s").
void lex_forbid_comma(PERLGCB* gcb, char* s, const char* word, const char* what);
// "%s found where operator expected", with its hint; s the position or null.
void lex_operator_expected(PERLGCB* gcb, const char* what, char* s);
void warn_commaless_list(PERLGCB* gcb);

// Cases of the normal scan kept in their own files.
// A word at s (prxlexword.cpp): its token, or LEX_RESCAN.
int32_t lex_word(PERLGCB* gcb, char* s);
// The closing curly bracket at s, or the byte that stands for it at a
// format's end (its "." line); its token.
int32_t lex_close_curly(PERLGCB* gcb, char* s);
// The same with s just past the bracket, or at the end of the text where a
// cut-off format stands for it.
int32_t lex_close_curly_after(PERLGCB* gcb, char* s);
// The end-of-file case (prxlexspace.cpp): ";" or LEX_RESCAN.
int32_t lex_end_of_file(PERLGCB* gcb, char* s);
// The NUL byte at s: 0 at the end of the input, else LEX_RESCAN.
int32_t lex_nul_byte(PERLGCB* gcb, char* s);
// "#" or a newline at s in the normal scan: LEX_RESCAN, or a token.
int32_t lex_comment_or_newline(PERLGCB* gcb, char* s);


// ---- scanners, lexer context, filters, interpolation and compile errors -----

// Sizes of the per-context stacks that lex_context_begin and
// lex_interpolation_begin allocate. Either may be grown with pool_realloc:
// leaving the scope frees whichever block the field then holds.
constexpr int32_t LEX_BRACKET_STACK = 120;
constexpr int32_t LEX_CASE_STACK = 12;
// Bracket-stack entry of a subscript opened inside a braced variable name.
constexpr char LEX_BRACKET_IN_NAME = static_cast<char>(0x80);
// Opens a bracket whose "}" or "]" restores the expectation entry (or
// LEX_BRACKET_IN_NAME); the stack grows as needed.
void lex_bracket_push(PERLGCB* gcb, char entry);

// Compile hints of constant overloading beside HINT_NEW_RE: integer, float,
// binary (hexadecimal, octal, binary) and string literals.
constexpr uint32_t HINT_NEW_INTEGER = 0x1000;
constexpr uint32_t HINT_NEW_FLOAT = 0x2000;
constexpr uint32_t HINT_NEW_BINARY = 0x4000;
constexpr uint32_t HINT_NEW_STRING = 0x8000;

// Transliteration PRIVATE bits of the lists' UTF-8 state.
constexpr uint8_t OPpTRANS_FROM_UTF = 0x01;
constexpr uint8_t OPpTRANS_TO_UTF = 0x02;

// The line counter of the lexer: the current statement's 16-bit line.
inline uint16_t& lex_current_line(PERLGCB* gcb) { return gcb->current_statement->cop_line; }
// The current statement carries the bytes hint.
inline bool lex_bytes_hint(PERLGCB* gcb)
{
    return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES);
}
// The source is UTF-8: the utf8 hint outside the bytes hint.
inline bool lex_utf8_source(PERLGCB* gcb) { return (gcb->compile_hints & HINT_UTF8) && !lex_bytes_hint(gcb); }

// Stores a copy of a source line in the current file's line array when the
// debugger keeps source lines (outside the debugger's own package).
void lex_keep_debugger_line(PERLGCB* gcb, const char* text, uint64_t len);
// "Can't find string terminator ..." for a terminator text.
[[noreturn]] void lex_missing_terminator_text(PERLGCB* gcb, const char* text);

// Lexer context and line reading (prxlexctx.cpp). The text placed before a
// program when the debugger is on: a new temporary value, empty when it is off.
SV* debugger_preamble(PERLGCB* gcb);

// Source filters and script encoding (prxlexfilter.cpp). Looks at the byte-
// order mark of a script's first line at s; returns where lexing continues.
char* lex_check_bom(PERLGCB* gcb, char* s);
// The UTF-16 source filters that lex_check_bom installs.
int32_t utf16be_source_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);
int32_t utf16le_source_filter(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);

// Numbers (prxlexscan.cpp). Queues the optional version after a word that
// takes one (BAREWORD, its value the const op or null); returns the position after it.
char* lex_push_version(PERLGCB* gcb, char* s);

// Delimited texts (prxlexscan.cpp). Reads the text delimited at start (white
// space and comments may come first) into quote_body, or replacement_text
// when quote_body is taken; the position after the closing delimiter, or
// null when the text ends first.
char* scan_delimited(PERLGCB* gcb, char* start, int32_t keep_backslashes, int32_t keep_delimiters);
// "Can't find string terminator ..." for close_delim.
[[noreturn]] void lex_missing_terminator(PERLGCB* gcb);

// Pattern, substitution and transliteration scanners (prxlexscan.cpp). Each
// leaves its op in scanned_op, its texts in quote_body / replacement_text and
// the op type in token_value; returns the position after the option letters.
char* scan_pattern(PERLGCB* gcb, char* s, int32_t type);
char* scan_substitution(PERLGCB* gcb, char* s);
char* scan_transliteration(PERLGCB* gcb, char* s);

// Here-documents, the input operator and formats (prxlexquote.cpp).
char* scan_here_document(PERLGCB* gcb, char* s);
char* scan_input_operator(PERLGCB* gcb, char* s);
char* scan_format(PERLGCB* gcb, char* s);

// Escapes of interpolated text (prxlexquote.cpp): the constant run at s
// becomes a const op in token_value; returns where the run ends.
char* scan_escapes(PERLGCB* gcb, char* s);

// Names (prxlexquote.cpp). Copies a word (with package separators when
// allowed) into buf of size bytes, NUL-terminated; the position after it.
char* scan_name_chars(PERLGCB* gcb, char* s, char* buf, int32_t size, int32_t allow_package, int32_t* len);
// The name after the sigil at s into buf; buf empty when there is none.
char* scan_variable_name(PERLGCB* gcb, char* s, char* end, char* buf, int32_t size, int32_t check_unary);
// Queues name as a BAREWORD const op (entered symbol) and creates its global:
// kind '$' a scalar, '@' an array, '%' a hash, anything else a glob.
void lex_push_identifier(PERLGCB* gcb, const char* name, int32_t kind);
// The package a name typed in source stands for, or null.
HV* lex_find_package(PERLGCB* gcb, const char* name, int32_t len);

// Saves for the current scope the state of the text being read, which a new
// text replaces: a string eval's (lex_context_begin) and a sub-lexed
// construct's body (lex_interpolation_begin) alike (prxlexctx.cpp).
void lex_save_text_state(PERLGCB* gcb);

// Entering and leaving interpolated text (prxlexquote.cpp). token_value holds
// the construct's op type when lex_quote_start is called.
int32_t lex_quote_start(PERLGCB* gcb);
int32_t lex_interpolation_begin(PERLGCB* gcb);
int32_t lex_interpolation_end(PERLGCB* gcb);
// Delivers an empty string as the one piece of an interpolated text or a case
// modifier group that holds none: a TERM_OP, with one piece counted.
int32_t lex_empty_piece(PERLGCB* gcb);

// Constant overloading (prxlexquote.cpp): the value that replaces a literal.
// text/len the literal's source (or null), key the hint-hash key, value the
// literal's value (its reference goes to the result), text_value the source
// as a value (or null), type the handler's third argument (or null).
SV* lex_overload_constant(PERLGCB* gcb, const char* text, int32_t len, const char* key, SV* value, SV* text_value,
                          const char* type);
// A single-quoted body: backslash pairs reduced to one backslash, then the
// "q" handler under the string-overloading hint. Takes over sv's reference;
// returns the value to use.
SV* lex_single_quoted(PERLGCB* gcb, SV* sv);

// Token-reader routines that the scanners call (built with the reader).
// Skips white space and comments, reading further lines where a handle allows.
char* lex_skip_whitespace(PERLGCB* gcb, char* s);
// Whether the text at s continues an interpolated variable.
bool lex_guess_subscript(PERLGCB* gcb, char* s);

