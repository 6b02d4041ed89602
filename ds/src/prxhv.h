// Hashes and the shared-key string table.
#pragma once

#include "prx.h"

SV** hv_fetch_str(PERLGCB* gcb, HV* hv, const char* key, int32_t klen, int32_t lval);
void hv_free_storage(PERLGCB* gcb, HV* hv);

inline xpvhv* hv_body(HV* hv) { return static_cast<xpvhv*>(hv->any); }
