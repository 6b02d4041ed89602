// The source front end: grammar token codes, the lexer's states and expect
// values, and the entry points of the lexer, the source filters and the
// grammar parser.
#pragma once

#include "prx.h"

// ---- tokens -----------------------------------------------------------------

enum token_code : int32_t {
    TOKEN_EOF = 0,
    TOKEN_ERROR = 256,
#define PRX_TOKEN(name, code, value) name = code,
#include "prxtoken.def"
#undef PRX_TOKEN
};
static_assert(DEREF_ARROW == 317 && BAREWORD == 257);

// ---- lexer states and expect values -------------------------------------------

enum : int32_t {
    LEX_KNOWNEXT = 0,      // tokens wait on the pending-token stack
    LEX_FORMLINE = 1,      // the picture part of a format comes next
    LEX_INTERPSTRING = 3,  // string piece: literal text of an interpolated string
    LEX_INTERPENDMAYBE = 4,   // after an interpolated variable: more subscripts may follow
    LEX_INTERPEND = 5,     // an interpolated expression has ended
    LEX_INTERPSTART_EXPR = 6, // at a "$" or "@" inside an interpolated string
    LEX_INTERPPUSH = 7,    // a quoted construct is to be entered
    LEX_INTERPCASEMOD = 8, // at a backslash case modifier
    LEX_INTERPNORMAL = 9,  // the code of an interpolated variable or subscript
    LEX_NORMAL = 10,       // ordinary source text
    LEX_NOTPARSING = 11,   // no parse runs
};

enum : int32_t {
    XOPERATOR = 0,
    XTERM = 1,
    XREF = 2,
    XSTATE = 3,
    XBLOCK = 4,
    XATTRBLOCK = 5,
    XATTRTERM = 6,
    XTERMBLOCK = 7,
};

// ---- lexer ------------------------------------------------------------------

// The token reader: returns a token code and leaves its value in token_value.
int32_t yylex(PERLGCB* gcb);
// Starts lexing text (a "\n;" is appended unless it ends in ";"), saving the
// fields of the enclosing lexing on the save stack.
void lex_context_begin(PERLGCB* gcb, SV* text);
// Ends it; the saved fields come back when the enclosing scope is left.
void lex_context_end(PERLGCB* gcb);
// Reads the next source line into line (through the filters when there are
// any); its text, or null at the end of the input.
char* lex_read_line(PERLGCB* gcb, SV* line, PrxStream stream);
// Counts the line that starts at s and applies a line directive there.
void lex_line_directive(PERLGCB* gcb, char* s);
// The keyword number of a word: positive for a keyword, negative for a
// built-in a user sub may override, 0 for none.
int32_t keyword_lookup(PERLGCB* gcb, const char* word, int32_t length);
// "Use of %s is deprecated" in the deprecated category, when it is enabled.
void warn_deprecated(PERLGCB* gcb, const char* text);
// Reports a compile error with its place in the source and counts it; does
// not return once the count reaches 10.
int32_t compile_error(PERLGCB* gcb, const char* message);
// The same, given as a warning.
int32_t compile_warning(PERLGCB* gcb, const char* message);
// Save-stack destructor: puts back the source stream of an enclosing lexing.
void lex_restore_source(PERLGCB* gcb, void* saved_stream);
// A numeric or version literal at s; *out is its const op, or null when s
// is a "v" word after all. Returns the position after the literal.
char* scan_num(PERLGCB* gcb, char* s, OP** out);

// ---- source filters -----------------------------------------------------------

// A source filter: reads into buf from filter idx; > 0 text read, 0 end, < 0 error.
typedef int32_t (*source_filter_fn)(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);
// Pushes a filter; returns its data value (data, or a new one), or null without a function.
SV* filter_add(PERLGCB* gcb, source_filter_fn fn, SV* data);
// Removes the most recently added filter when it is fn.
void filter_del(PERLGCB* gcb, source_filter_fn fn);
// Reads from filter idx, or from the source stream past the last filter.
int32_t filter_read_input(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen);

// ---- grammar ------------------------------------------------------------------

// Parses the current lexer input: 0 accepted, 1 the parse gave up. The tree
// is left where op_new_program put it; syntax errors went to compile_error.
int32_t grammar_parse(PERLGCB* gcb);
// Save-stack destructor of a parse (its record): frees the parse's stacks
// and puts back the parser fields of the enclosing parse.
void grammar_stack_free(PERLGCB* gcb, void* record);
