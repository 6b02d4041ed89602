// The string accessors of the programming interface: the value's own buffer
// when it is a string, else the string conversion. Several names share one
// behaviour.
#include "prxsv.h"

char* sv_string_value(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVf_POK)
        return sv_pv(sv);
    return sv_to_string_no_length(gcb, sv);
}

char* sv_string_value_b(PERLGCB* gcb, SV* sv) { return sv_string_value(gcb, sv); }

char* sv_string_value_len(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (sv->flags & SVf_POK) {
        *len = sv_cur(sv);
        return sv_pv(sv);
    }
    return sv_to_string(gcb, sv, len);
}

char* sv_string_value_len_b(PERLGCB* gcb, SV* sv, uint64_t* len) { return sv_string_value_len(gcb, sv, len); }

char* sv_string_value_len_c(PERLGCB* gcb, SV* sv, uint64_t* len) { return sv_string_value_len(gcb, sv, len); }

char* sv_utf8_string_value(PERLGCB* gcb, SV* sv)
{
    sv_convert_to_utf8(gcb, sv);
    return sv_string_value(gcb, sv);
}

char* sv_utf8_string_value_len(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    sv_convert_to_utf8(gcb, sv);
    return sv_string_value_len(gcb, sv, len);
}
