// The interpreter's scalar values: heads and bodies, reference counting,
// setters and assignment, conversions, the string buffer, UTF-8 values,
// formatted output, magic attachment, constructors, temporaries, references
// and taint.
#pragma once

#include <cstdarg>

#include "prx.h"

// ---- flag groups ------------------------------------------------------------

// The value flags every setter clears before it stores.
constexpr uint32_t SV_VALUE_FLAGS = SVf_IOK | SVf_NOK | SVf_POK | SVf_ROK | SVp_IOK | SVp_NOK | SVp_POK |
                                    SVf_OVERLOAD | SVf_UTF8 | SVf_IsUV;
// A value with none of these is modified without the modify check.
constexpr uint32_t SV_THINK_FIRST = SVf_READONLY | SVf_ROK | SVf_FAKE | SVf_UTF8;
// Magic summary bits.
constexpr uint32_t SV_MAGIC_FLAGS = SVs_GMG | SVs_SMG | SVs_RMG;
// The private value flags; each is its public flag shifted left by 8.
constexpr uint32_t SV_PRIVATE_OK = SVp_IOK | SVp_NOK | SVp_POK;
constexpr uint32_t SV_PUBLIC_OK = SVf_IOK | SVf_NOK | SVf_POK;

// ---- body access ------------------------------------------------------------
//
// Bodies of types 4 to 9 and 12 to 15 share the string, number, magic and
// stash fields at the same offsets; an integer-only (double-only) body pointer
// is set so that sv_iv (sv_nv) reaches its cell. A reference keeps its
// referent in the place of the string pointer.

inline PVMG* sv_body(SV* sv) { return static_cast<PVMG*>(sv->any); }
inline char*& sv_pv(SV* sv) { return static_cast<PV*>(sv->any)->pv; }
inline uint64_t& sv_cur(SV* sv) { return static_cast<PV*>(sv->any)->cur; }
inline uint64_t& sv_len(SV* sv) { return static_cast<PV*>(sv->any)->len; }
inline int64_t& sv_iv(SV* sv) { return static_cast<PVIV*>(sv->any)->iv; }
inline uint64_t sv_uv(SV* sv) { return static_cast<uint64_t>(static_cast<PVIV*>(sv->any)->iv); }
inline double& sv_nv(SV* sv) { return static_cast<PVNV*>(sv->any)->nv; }
inline SV*& sv_rv(SV* sv) { return *static_cast<SV**>(sv->any); }  // the first word of every body
inline MAGIC*& sv_magic_chain(SV* sv) { return static_cast<PVMG*>(sv->any)->magic; }
inline HV*& sv_stash(SV* sv) { return static_cast<PVMG*>(sv->any)->stash; }
inline SV* sv_refinc(SV* sv)
{
    if (sv)
        sv->refcnt++;
    return sv;
}
// Any of the defined flags.
inline bool sv_ok(const SV* sv) { return (sv->flags & SVf_OK_ANY) != 0; }
inline bool sv_is_immortal(PERLGCB* gcb, const SV* sv)
{
    return sv == &gcb->sv_undef || sv == &gcb->sv_yes || sv == &gcb->sv_no;
}
// The text of a value: its buffer when POK, else the conversion.
char* sv_to_string(PERLGCB* gcb, SV* sv, uint64_t* len);
inline char* sv_text(PERLGCB* gcb, SV* sv, uint64_t* len)
{
    if (sv->flags & SVf_POK) {
        *len = sv_cur(sv);
        return sv_pv(sv);
    }
    return sv_to_string(gcb, sv, len);
}

// ---- heads, bodies and arenas -----------------------------------------------

SV* sv_new_head(PERLGCB* gcb);
SV* sv_new_undef(PERLGCB* gcb, uint64_t size);
int32_t sv_upgrade_body(PERLGCB* gcb, SV* sv, uint32_t type);
void sv_arena_add_block(PERLGCB* gcb, void* block, uint32_t size, uint32_t flags);
void sv_release_object_refs(PERLGCB* gcb);
int32_t sv_release_all(PERLGCB* gcb);
void sv_arena_free_all(PERLGCB* gcb);
void sv_dump_live_values(PERLGCB* gcb);

// ---- reference counting and destruction (sv_release is in prx.h) -------------

void sv_destroy_contents(PERLGCB* gcb, SV* sv);
void del_backref(PERLGCB* gcb, SV* sv);
void sv_drop_reference(PERLGCB* gcb, SV* sv);
void sv_release_object_ref(PERLGCB* gcb, SV* sv);
void sv_replace(PERLGCB* gcb, SV* sv, SV* nsv);

// ---- assignment and setters -------------------------------------------------

void sv_make_modifiable(PERLGCB* gcb, SV* sv);
void sv_glob_to_plain(PERLGCB* gcb, SV* sv);
void sv_assign(PERLGCB* gcb, SV* dst, SV* src);
void sv_set_int(PERLGCB* gcb, SV* sv, int64_t value);
void sv_set_int_with_magic(PERLGCB* gcb, SV* sv, int64_t value);
void sv_set_uint(PERLGCB* gcb, SV* sv, uint64_t value);
void sv_set_uint_with_magic(PERLGCB* gcb, SV* sv, uint64_t value);
void sv_set_double(PERLGCB* gcb, SV* sv, double value);
void sv_set_double_with_magic(PERLGCB* gcb, SV* sv, double value);
void sv_set_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_set_bytes_with_magic(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_set_cstring(PERLGCB* gcb, SV* sv, const char* ptr);
void sv_set_cstring_with_magic(PERLGCB* gcb, SV* sv, const char* ptr);
void sv_adopt_buffer(PERLGCB* gcb, SV* sv, char* ptr, uint64_t len);
void sv_adopt_buffer_with_magic(PERLGCB* gcb, SV* sv, char* ptr, uint64_t len);
void sv_set_int_text(PERLGCB* gcb, SV* sv, int64_t value);
void sv_set_int_text_with_magic(PERLGCB* gcb, SV* sv, int64_t value);

// ---- string conversion ------------------------------------------------------
//
// Callers test POK first and read the buffer themselves (sv_text).

char* sv_to_string_no_length(PERLGCB* gcb, SV* sv);
char* sv_to_string_entry(PERLGCB* gcb, SV* sv, uint64_t* len);
char* sv_to_string_entry_b(PERLGCB* gcb, SV* sv, uint64_t* len);
char* sv_force_string(PERLGCB* gcb, SV* sv, uint64_t* len);

// ---- numeric conversion, truth and increment --------------------------------

// Number classes of sv_number_class.
enum : uint32_t {
    NUMCLASS_INT = 0x01,       // leading digits suit the text-to-integer conversion
    NUMCLASS_DOUBLE = 0x02,    // needs the text-to-double conversion
    NUMCLASS_NOT_INT = 0x04,   // decimal point, exponent or more than 19 digits
    NUMCLASS_NEG = 0x08,       // leading minus
    NUMCLASS_INF = 0x10,       // an infinity
};
int64_t sv_to_int(PERLGCB* gcb, SV* sv);
uint64_t sv_to_uint(PERLGCB* gcb, SV* sv);
double sv_to_double(PERLGCB* gcb, SV* sv);
uint32_t sv_number_class(PERLGCB* gcb, SV* sv);
bool sv_is_true(PERLGCB* gcb, SV* sv);
void sv_increment(PERLGCB* gcb, SV* sv);
void sv_decrement(PERLGCB* gcb, SV* sv);
int64_t sv_int_value(PERLGCB* gcb, SV* sv);
uint64_t sv_uint_value(PERLGCB* gcb, SV* sv);
double sv_double_value(PERLGCB* gcb, SV* sv);

// ---- string buffer and comparison -------------------------------------------

char* sv_grow_buffer(PERLGCB* gcb, SV* sv, uint64_t size);
// The size to grow a string to that is built up piece by piece (appends,
// insertions, vec): what it needs, and once the value owns a buffer at
// least half as much again, so that each byte is copied a bounded number
// of times however many pieces come. sv_grow_buffer itself takes sizes as
// they are asked.
inline uint64_t sv_growth_size(SV* sv, uint64_t need)
{
    uint64_t owned = sv_type(sv) >= SVt_PV ? sv_len(sv) : 0;
    uint64_t grown = owned + owned / 2;
    return owned && grown > need ? grown : need;
}
int32_t sv_undo_offset(PERLGCB* gcb, SV* sv);
void sv_chop_front(PERLGCB* gcb, SV* sv, const char* new_start);
void sv_insert(PERLGCB* gcb, SV* sv, uint64_t offset, uint64_t len, const char* little, uint64_t littlelen);
void sv_append_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len);
void sv_append_cstring(PERLGCB* gcb, SV* sv, const char* ptr);
void sv_append_sv(PERLGCB* gcb, SV* dst, SV* src);
void sv_append_sv_with_magic(PERLGCB* gcb, SV* dst, SV* src);
void sv_pos_char_to_byte(PERLGCB* gcb, SV* sv, int32_t* offset, int32_t* len);
int32_t sv_strings_equal(PERLGCB* gcb, SV* a, SV* b);
int32_t sv_compare_strings(PERLGCB* gcb, SV* a, SV* b);

// ---- UTF-8 values -----------------------------------------------------------

bool sv_convert_to_bytes(PERLGCB* gcb, SV* sv, int32_t fail_ok);
void sv_convert_to_utf8(PERLGCB* gcb, SV* sv);
void sv_encode_utf8(PERLGCB* gcb, SV* sv);
bool sv_mark_utf8_if_valid(PERLGCB* gcb, SV* sv);
uint64_t sv_byte_length(PERLGCB* gcb, SV* sv);
uint64_t sv_char_length(PERLGCB* gcb, SV* sv);
void sv_pos_b2u(PERLGCB* gcb, SV* sv, int32_t* offset);

// ---- formatted output -------------------------------------------------------
//
// Arguments come from the list (args not null) or from the array of values.

void sv_format_append(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                      int32_t svmax);
void sv_format_set(PERLGCB* gcb, SV* sv, const char* pat, uint64_t patlen, va_list* args, SV** svargs,
                   int32_t svmax);
// Sets sv to the expansion of the pattern value's text over the values; the
// pattern's literal text is UTF-8 when the pattern value is.
void sv_format_values(PERLGCB* gcb, SV* sv, SV* pattern, SV** svargs, int32_t svmax);
void sv_append_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);
void sv_set_formatted(PERLGCB* gcb, SV* sv, const char* pat, ...);
SV* sv_new_formatted(PERLGCB* gcb, const char* pat, ...);
SV* sv_new_formatted_va(PERLGCB* gcb, const char* pat, va_list* args);
SV* sv_new_formatted_no_interp(const char* pat, ...);

// ---- magic attachment -------------------------------------------------------

void sv_add_magic(PERLGCB* gcb, SV* sv, SV* obj, int how, const char* name, int32_t namlen);
int32_t sv_remove_magic(PERLGCB* gcb, SV* sv, int type);

// ---- constructors, temporaries and references -------------------------------

SV* sv_new_from_cstring(PERLGCB* gcb, const char* ptr, uint64_t len);
SV* sv_new_from_bytes(PERLGCB* gcb, const char* ptr, uint64_t len);
SV* sv_new_from_double(PERLGCB* gcb, double value);
SV* sv_new_from_int(PERLGCB* gcb, int64_t value);
SV* sv_new_from_uint(PERLGCB* gcb, uint64_t value);
SV* sv_new_reference(PERLGCB* gcb, SV* referent);
SV* sv_new_reference_adopting(PERLGCB* gcb, SV* referent);
SV* sv_new_copy(PERLGCB* gcb, SV* src);
SV* sv_new_temporary(PERLGCB* gcb);
SV* sv_new_temporary_copy(PERLGCB* gcb, SV* src);
SV* sv_make_temporary(PERLGCB* gcb, SV* sv);
SV* sv_make_ref_to_new(PERLGCB* gcb, SV* rv, const char* classname);
SV* sv_bless_referent(PERLGCB* gcb, SV* rv, HV* stash);
const char* sv_referent_type_name(PERLGCB* gcb, SV* sv, int32_t ob);
int32_t sv_is_object_ref(PERLGCB* gcb, SV* sv);

// ---- taint ------------------------------------------------------------------

void sv_mark_tainted(PERLGCB* gcb, SV* sv);
bool sv_is_tainted(PERLGCB* gcb, SV* sv);
void sv_clear_taint(PERLGCB* gcb, SV* sv);
void taint_check_dependency(PERLGCB* gcb, const char* f, const char* s);
void taint_check_environment(PERLGCB* gcb);

// ---- record reading, reset, code conversion and the accessor entries ----------

char* sv_read_record(PERLGCB* gcb, SV* sv, PrxStream stream, int32_t append);
void sv_reset_by_letters(PERLGCB* gcb, const char* letters, HV* stash);
CV* sv_to_code(PERLGCB* gcb, SV* sv, HV** stash_out, GV** gv_out, int32_t create);
// The numeric value of a version string from the ordinals of its
// characters (the source front end's number scanner).
double sv_version_number(PERLGCB* gcb, SV* sv);
void warn_uninitialized(PERLGCB* gcb);
char* sv_string_value(PERLGCB* gcb, SV* sv);
char* sv_string_value_b(PERLGCB* gcb, SV* sv);
char* sv_string_value_len(PERLGCB* gcb, SV* sv, uint64_t* len);
char* sv_string_value_len_b(PERLGCB* gcb, SV* sv, uint64_t* len);
char* sv_string_value_len_c(PERLGCB* gcb, SV* sv, uint64_t* len);
char* sv_utf8_string_value(PERLGCB* gcb, SV* sv);
char* sv_utf8_string_value_len(PERLGCB* gcb, SV* sv, uint64_t* len);
