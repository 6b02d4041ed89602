// The magic dispatcher: flag computation, the get, set, len and clear walks
// with their saved flags, look-up by type letter, element magic and freeing.
#include "prxmg.h"

namespace {

constexpr const char* dump_names[MAGIC_TABLE_COUNT] = {
#define PRX_MGVTBL(row, dump, get, set, len, clear, free) dump,
#include "prxmg.def"
#undef PRX_MGVTBL
};

}  // namespace

int32_t mg_table_row_for_type(char type)
{
    switch (type) {
    case '\0': return MGVT_SV;
    case 'E': return MGVT_ENV;
    case 'e': return MGVT_ENVELEM;
    case 'S': return MGVT_SIG;
    case 's': return MGVT_SIGELEM;
    case 'P': return MGVT_PACK;
    case 'p':
    case 'q': return MGVT_PACKELEM;
    case 'l': return MGVT_DBLINE;
    case 'I': return MGVT_ISA;
    case 'i': return MGVT_ISAITEM;
    case '#': return MGVT_ARYLEN;
    case '*': return MGVT_GLOB;
    case 'g': return MGVT_MGLOB;
    case 'k': return MGVT_NKEYS;
    case 't': return MGVT_TAINT;
    case 'x': return MGVT_SUBSTR;
    case 'v': return MGVT_VEC;
    case '.': return MGVT_POS;
    case 'B': return MGVT_BM;
    case 'f': return MGVT_FM;
    case 'U': return MGVT_UVAR;
    case 'y': return MGVT_DEFELEM;
    case 'r': return MGVT_PATTERN;
    case 'D': return MGVT_MATCHOFFSETS;
    case 'd': return MGVT_MATCHOFFSETITEM;
    case 'A': return MGVT_AMAGIC;
    case 'a': return MGVT_AMAGICELEM;
    case '<': return MGVT_BACKREF;
    case 'L':
    case '~':
    case 'c': return MG_ROW_NONE;
    default: return MG_ROW_UNKNOWN;
    }
}

const char* mg_table_dump_name(int32_t row)
{
    return row >= 0 && row < MAGIC_TABLE_COUNT ? dump_names[row] : nullptr;
}
