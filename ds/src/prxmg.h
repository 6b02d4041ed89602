// Magic: the dispatcher over a value's chain of MAGIC records, the rows of
// the method tables, and every magic method the tables name.
#pragma once

#include <cstdint>

#include "prx.h"

// Rows of the method tables, in the order the interpreter keeps its copies.
enum mg_table_row : int32_t {
#define PRX_MGVTBL(row, dump, get, set, len, clear, free) row,
#include "prxmg.def"
#undef PRX_MGVTBL
    VTBL_COUNT
};
static_assert(VTBL_COUNT == MAGIC_VTBL_COUNT);

// Row of a type letter: the row index; MG_ROW_NONE for the letters attached
// without a table ('L', '~', 'c'); MG_ROW_UNKNOWN for a letter magic refuses.
constexpr int32_t MG_ROW_NONE = -1;
constexpr int32_t MG_ROW_UNKNOWN = -2;
int32_t mg_table_row_for_type(char type);
// The dump name of a row ("sv", "env", ...), null for the rows printed by address.
const char* mg_table_dump_name(int32_t row);

// MG_FLAGS bits.
enum : uint8_t {
    MGf_TAINTEDDIR = 0x01,
    MGf_MINMATCH = 0x01,
    MGf_REFCOUNTED = 0x02,
    MGf_GSKIP = 0x04,
};

// The magic bits of a value, and the flags a dispatch saves.
constexpr uint32_t SVs_MAGICAL = SVs_GMG | SVs_SMG | SVs_RMG;
constexpr uint32_t MG_SAVED_FLAGS = SVs_MAGICAL | SVf_READONLY;  // 0x80e000

// Kept on the save stack for one dispatch: what mg_restore_flags puts back.
struct magic_restore_record {
    SV* sv;             // null once restored
    uint32_t flags;     // the value's flags & MG_SAVED_FLAGS; 0 asks for recomputation
    int32_t save_ix;    // save-stack index right after the restore entry was pushed
};
static_assert(sizeof(magic_restore_record) == 16);

// ---- dispatch ---------------------------------------------------------------

// ORs GMG, SMG and RMG into the flags from the chain; never clears a bit.
uint32_t mg_update_flags(PERLGCB* gcb, SV* sv);
int32_t mg_call_get(PERLGCB* gcb, SV* sv);
int32_t mg_call_set(PERLGCB* gcb, SV* sv);
int32_t mg_call_clear(PERLGCB* gcb, SV* sv);
// Length through the first len method, else the string length.
uint32_t mg_value_length(PERLGCB* gcb, SV* sv);
// Highest index through the first len method, else an array's fill;
// "Size magic not implemented" for other values.
int32_t mg_element_count(PERLGCB* gcb, SV* sv);
MAGIC* mg_find_by_type(PERLGCB* gcb, SV* sv, int type);
// Gives a fresh element the element form of the aggregate's upper-case
// magic; returns how many records were attached.
int32_t mg_copy_to_element(PERLGCB* gcb, SV* aggregate, SV* element, const char* key, int32_t keylen);
// Frees one record of sv's chain: calls its free method, frees its owned
// pointer (bytes when MG_LEN >= 0, a value when -2; never for 'g'), releases
// its counted object, frees the record. The caller unlinks it or drops the
// whole chain.
void mg_free_record(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t mg_free_chain(PERLGCB* gcb, SV* sv);
// Scope destructor of a dispatch; its argument is the byte offset of the
// magic_restore_record from the save-stack base.
void mg_restore_flags(PERLGCB* gcb, void* offset);

// ---- the methods --------------------------------------------------------------

int32_t magic_nothing(PERLGCB* gcb, SV* sv, MAGIC* mg);

// Special variables.
int32_t magic_special_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_special_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
uint32_t magic_special_len(PERLGCB* gcb, SV* sv, MAGIC* mg);

// %ENV and %SIG.
int32_t magic_env_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_envelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_envelem_clear(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_sigelem_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_sigelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_sigelem_clear(PERLGCB* gcb, SV* sv, MAGIC* mg);

// Tied aggregates.
int32_t magic_call_tie_method(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_packelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_packelem_clear(PERLGCB* gcb, SV* sv, MAGIC* mg);
uint32_t magic_pack_len(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_pack_clear(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_pack_next_key(PERLGCB* gcb, SV* sv, MAGIC* mg, SV* key);
int32_t magic_pack_exists(PERLGCB* gcb, SV* sv, MAGIC* mg);
// The tie object of a record: its object, or a new temporary reference to
// the value when it has none.
SV* tie_object(PERLGCB* gcb, SV* sv, MAGIC* mg);
// The array code's method call: on a stack level of the magic kind, a mark,
// the object and the arguments, the method called by name inside a scope.
// With result, *result becomes a new copy of the value the method returned,
// or the immortal undefined value when it returned none.
void tie_call_array_method(PERLGCB* gcb, SV* obj, const char* method, int32_t call_flags, SV** args,
                           int32_t nargs, SV** result);

// Lvalues.
int32_t magic_arylen_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_arylen_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_glob_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_glob_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_nkeys_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_nkeys_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_substr_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_substr_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_vec_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_vec_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_pos_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_pos_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_defelem_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_defelem_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
// Makes the real element behind a deferred-element value.
void magic_create_deferred_element(PERLGCB* gcb, SV* sv);

// Bookkeeping.
int32_t magic_dbline_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_isa_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_mglob_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_taint_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_taint_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_bm_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_fm_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_uvar_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_uvar_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_pattern_free(PERLGCB* gcb, SV* sv, MAGIC* mg);
uint32_t magic_matchoffsets_len(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_matchoffsetitem_get(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_matchoffsetitem_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_amagic_set(PERLGCB* gcb, SV* sv, MAGIC* mg);
int32_t magic_killbackrefs(PERLGCB* gcb, SV* sv, MAGIC* mg);

// User callbacks of 'U' magic, held in MG_PTR.
struct magic_uvar_record {
    int32_t (*get)(int64_t index, SV* sv);
    int32_t (*set)(int64_t index, SV* sv);
    int64_t index;
};

// Signals.
uint32_t signal_number_by_name(PERLGCB* gcb, const char* name, int32_t len);
void signal_deliver(int32_t sig);
void signal_unwind_handler_stack(PERLGCB* gcb, void* flags);
