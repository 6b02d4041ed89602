// The lexer's internal interface: routines that the token reader and the
// scanners call across their files. Nothing outside the front end includes it.
#pragma once

#include "prxlex.h"
#include "prxop.h"

// ---- token reader (dispatch, punctuation, words, white space, guesses) ------

// Warning categories the reader issues in (beside those of prxmsg.h).
enum : int32_t {
    LEX_WARN_CHMOD = 1,
    LEX_WARN_AMBIGUOUS = 28,
    LEX_WARN_BAREWORD = 29,
    LEX_WARN_DEPRECATED = 30,
    LEX_WARN_PRECEDENCE = 33,
    LEX_WARN_QW = 36,
    LEX_WARN_RESERVED = 37,
    LEX_WARN_SEMICOLON = 38,
    LEX_WARN_UMASK = 40,
};

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


// ---- scanners, lexer context, filters, interpolation and compile errors -----

