// The built-in methods every class inherits (UNIVERSAL::isa, can and
// VERSION) with the inheritance search and its per-package cache, and the
// attributes built-ins for code references.
#pragma once

#include "prx.h"

// Registers UNIVERSAL::isa, UNIVERSAL::can and UNIVERSAL::VERSION.
void universal_boot(PERLGCB* gcb);
// Whether stash is, or inherits from, the class name: the interpreter's yes
// or no value, or its undefined value for no stash.
SV* isa_search(PERLGCB* gcb, HV* stash, const char* name, int32_t len, int32_t level);

// The built-ins themselves, called with the arguments above the top mark.
void universal_isa(PERLGCB* gcb, CV* cv);
void universal_can(PERLGCB* gcb, CV* cv);
void universal_version(PERLGCB* gcb, CV* cv);
// Registered by nothing in this system.
void attributes_modify_attrs(PERLGCB* gcb, CV* cv);
void attributes_fetch_attrs(PERLGCB* gcb, CV* cv);
void attributes_guess_stash(PERLGCB* gcb, CV* cv);
void attributes_reftype(PERLGCB* gcb, CV* cv);
