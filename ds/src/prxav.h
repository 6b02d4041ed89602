// Arrays.
#pragma once

#include "prx.h"

void av_free_storage(PERLGCB* gcb, AV* av);

inline xpvav* av_body(AV* av) { return static_cast<xpvav*>(av->any); }
