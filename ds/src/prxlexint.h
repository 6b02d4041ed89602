// The lexer's internal interface: routines that the token reader and the
// scanners call across their files. Nothing outside the front end includes it.
#pragma once

#include "prxlex.h"
#include "prxop.h"

// ---- token reader (dispatch, punctuation, words, white space, guesses) ------


// ---- scanners, lexer context, filters, interpolation and compile errors -----

