// The magic dispatcher: flag computation, the get, set, len and clear walks
// with their saved flags, look-up by type letter, element magic and freeing.
#include "prxmg.h"

namespace {

constexpr const char* dump_names[MAGIC_VTBL_COUNT] = {
#define PRX_MGVTBL(row, dump, get, set, len, clear, free) dump,
#include "prxmg.def"
#undef PRX_MGVTBL
};

}  // namespace

int32_t mg_table_row_for_type(char type)
{
    switch (type) {
    case '\0': return VTBL_SV;
    case 'E': return VTBL_ENV;
    case 'e': return VTBL_ENVELEM;
    case 'S': return VTBL_SIG;
    case 's': return VTBL_SIGELEM;
    case 'P': return VTBL_PACK;
    case 'p':
    case 'q': return VTBL_PACKELEM;
    case 'l': return VTBL_DBLINE;
    case 'I': return VTBL_ISA;
    case 'i': return VTBL_ISAITEM;
    case '#': return VTBL_ARYLEN;
    case '*': return VTBL_GLOB;
    case 'g': return VTBL_MGLOB;
    case 'k': return VTBL_NKEYS;
    case 't': return VTBL_TAINT;
    case 'x': return VTBL_SUBSTR;
    case 'v': return VTBL_VEC;
    case '.': return VTBL_POS;
    case 'B': return VTBL_BM;
    case 'f': return VTBL_FM;
    case 'U': return VTBL_UVAR;
    case 'y': return VTBL_DEFELEM;
    case 'r': return VTBL_PATTERN;
    case 'D': return VTBL_MATCHOFFSETS;
    case 'd': return VTBL_MATCHOFFSETITEM;
    case 'A': return VTBL_AMAGIC;
    case 'a': return VTBL_AMAGICELEM;
    case '<': return VTBL_BACKREF;
    case 'L':
    case '~':
    case 'c': return MG_ROW_NONE;
    default: return MG_ROW_UNKNOWN;
    }
}

const char* mg_table_dump_name(int32_t row)
{
    return row >= 0 && row < MAGIC_VTBL_COUNT ? dump_names[row] : nullptr;
}
