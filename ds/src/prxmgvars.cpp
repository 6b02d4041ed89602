// Special-variable magic: the punctuation and control-character variables
// read interpreter state before each read and write it after each store,
// by the first character of their name (and the whole name for the
// control-W ones); length() of the match variables without the string.
#include <cstring>

#include "prxcall.h"
#include "prxgv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxproc.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr int32_t LEX_NOTPARSING = 11;
constexpr int32_t EVAL_INREQUIRE = 0x08;
constexpr uint32_t DEBUG_TOP_FLAG = 0x80000000u;

// Delayed id changes of a list assignment.
enum : int32_t {
    DM_RUID = 0x01,
    DM_EUID = 0x02,
    DM_RGID = 0x10,
    DM_EGID = 0x20,
};

SV* warnings_marker(uintptr_t m) { return reinterpret_cast<SV*>(m); }
bool special_warnings(SV* w)
{
    return w == warnings_marker(WARNINGS_STD) || w == warnings_marker(WARNINGS_ALL) ||
           w == warnings_marker(WARNINGS_NONE);
}

int64_t int_of(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_IOK) ? sv_iv(sv) : sv_to_int(gcb, sv); }

bool in_bytes(PERLGCB* gcb) { return gcb->current_statement && (gcb->current_statement->op.op_private & HINT_BYTES); }

const char* text_of(PERLGCB* gcb, SV* sv, uint64_t* len) { return sv_text(gcb, sv, len); }

// The last successful match's compiled pattern, and its op.
op_pattern* last_pm(PERLGCB* gcb) { return reinterpret_cast<op_pattern*>(gcb->last_match_op); }
re_compiled* last_match(PERLGCB* gcb) { return last_pm(gcb) ? last_pm(gcb)->op_pmregexp : nullptr; }

bool utf8_match(PERLGCB* gcb) { return (last_pm(gcb)->op_pmdynflags & PMdf_UTF8) && !in_bytes(gcb); }

IO* default_output(PERLGCB* gcb)
{
    GV* gv = gcb->default_output_glob;
    return gv && gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;
}

// The name of a glob's effective glob.
const char* effective_name(GV* gv)
{
    GV* egv = gv_gp(gv) && gv_gp(gv)->gp_egv ? gv_gp(gv)->gp_egv : gv;
    return gv_body(egv)->name;
}

// Sets the text of a match variable from the subject copy.
void set_match_text(PERLGCB* gcb, SV* sv, re_compiled* rx, const char* s, int32_t len)
{
    int32_t was_tainted = 0;
    if (gcb->tainting) {
        was_tainted = gcb->tainted;
        gcb->tainted = 0;
    }
    sv_set_bytes(gcb, sv, s, static_cast<uint64_t>(len));
    if (utf8_match(gcb))
        sv->flags |= SVf_UTF8;
    else
        sv->flags &= ~SVf_UTF8;
    if (gcb->tainting)
        gcb->tainted = was_tainted || (rx->analysis_flags & 0x80000) ? 1 : 0;
}

// $1.., $&, $+: the text of a group, undef when it did not take part.
void get_group(PERLGCB* gcb, SV* sv, re_compiled* rx, uint32_t paren)
{
    int32_t s1, t1;
    if (paren <= rx->group_count && (s1 = rx->start_offsets[paren]) != -1 && (t1 = rx->end_offsets[paren]) != -1) {
        if (t1 - s1 >= 0) {
            if (rx->subject_copy)
                set_match_text(gcb, sv, rx, rx->subject_copy + s1, t1 - s1);
            return;
        }
    }
    sv_assign(gcb, sv, &gcb->sv_undef);
}

// Length of the UTF-8 sequence a byte starts (the interpreter's extended
// forms of 1 to 7 and 13 bytes); continuation bytes count 1.
int32_t utf8_skip(uint8_t b)
{
    return b < 0xC0 ? 1 : b < 0xE0 ? 2 : b < 0xF0 ? 3 : b < 0xF8 ? 4 : b < 0xFC ? 5 : b < 0xFE ? 6 : b == 0xFE ? 7 : 13;
}

// Characters (or bytes) of a subject range.
uint32_t match_length(PERLGCB* gcb, re_compiled* rx, int32_t s1, int32_t t1)
{
    int32_t i = t1 - s1;
    if (i > 0 && utf8_match(gcb) && rx->subject_copy) {
        const uint8_t* s = reinterpret_cast<const uint8_t*>(rx->subject_copy) + s1;
        const uint8_t* send = reinterpret_cast<const uint8_t*>(rx->subject_copy) + t1;
        i = 0;
        while (s < send) {
            s += utf8_skip(*s);
            i++;
        }
    }
    return i >= 0 ? static_cast<uint32_t>(i) : 0;
}

uint32_t group_length(PERLGCB* gcb, re_compiled* rx, uint32_t paren)
{
    int32_t s1, t1;
    if (paren <= rx->group_count && (s1 = rx->start_offsets[paren]) != -1 && (t1 = rx->end_offsets[paren]) != -1)
        return match_length(gcb, rx, s1, t1);
    return 0;
}

// $^E and $!: the number, and the error text when there is one.
void get_errno(PERLGCB* gcb, SV* sv)
{
    int32_t saved = gcb->errno_cell;
    sv_set_double(gcb, sv, static_cast<double>(gcb->errno_cell));
    sv_set_cstring(gcb, sv, gcb->errno_cell ? prx_strerror(gcb->errno_cell) : "");
    gcb->errno_cell = saved;
    sv->flags |= SVf_NOK | SVp_NOK;
}

char* copy_of(PERLGCB* gcb, SV* sv)
{
    uint64_t len = 0;
    const char* s = text_of(gcb, sv, &len);
    return pool_strndup(gcb, s, static_cast<int32_t>(len));
}

// An id store: delayed during a list assignment; else the set-id stub when
// the id equals its partner, or the not-implemented error.
void set_id(PERLGCB* gcb, int32_t* id, int32_t partner, int32_t delay_bit, bool group, const char* refusal)
{
    if (gcb->delayed_ids) {
        gcb->delayed_ids |= delay_bit;
        return;
    }
    if (*id == partner) {
        if (group)
            prx_setgid(*id);
        else
            prx_setuid(*id);
    } else {
        *id = prx_getid();
        fatal_error(gcb, "%s", refusal);
    }
    *id = prx_getid();
    if (gcb->uid && (gcb->euid != gcb->uid || gcb->egid != gcb->gid))
        gcb->tainting = 1;
}

void set_warning_bits(PERLGCB* gcb, SV* sv)
{
    if (gcb->warn_switch & G_WARN_ALL_MASK)
        return;
    if (!(sv->flags & SVf_POK) && gcb->localizing) {
        static const char none[WARN_BITS_SIZE] = {};
        sv_set_bytes(gcb, sv, none, WARN_BITS_SIZE);
        gcb->compiling_statement->cop_warnings = warnings_marker(WARNINGS_NONE);
        return;
    }
    uint64_t len = 0;
    const char* ptr = text_of(gcb, sv, &len);
    int accumulate = 0;
    int any_fatals = 0;
    for (uint64_t i = 0; i < len; i++) {
        accumulate |= static_cast<uint8_t>(ptr[i]);
        any_fatals |= static_cast<uint8_t>(ptr[i]) & 0xAA;
    }
    if (!accumulate) {
        gcb->compiling_statement->cop_warnings = warnings_marker(WARNINGS_NONE);
    } else if ((static_cast<uint8_t>(ptr[0]) & 1) && !any_fatals) {
        gcb->compiling_statement->cop_warnings = warnings_marker(WARNINGS_ALL);
        gcb->warn_switch |= G_WARN_ONCE;
    } else {
        SV*& w = gcb->compiling_statement->cop_warnings;
        if (special_warnings(w))
            w = sv_new_copy(gcb, sv);
        else
            sv_assign(gcb, w, sv);
        uint64_t wlen = 0;
        const char* bits = text_of(gcb, w, &wlen);
        if (wlen > 3 && (static_cast<uint8_t>(bits[3]) & 0x04))  // bit 26: the once category
            gcb->warn_switch |= G_WARN_ONCE;
    }
}

// $0: the new name is written over the start-up arguments, within their
// span (computed the first time).
void set_program_name(PERLGCB* gcb, SV* sv)
{
    if (!gcb->startup_argv || !gcb->startup_argv[0])
        return;
    if (gcb->startup_arg_span == 0) {
        char* s = gcb->startup_argv[0];
        s += std::strlen(s);
        for (int32_t i = 1; i < gcb->startup_argc; i++) {
            if (gcb->startup_argv[i] != s + 1)
                break;
            ++s;
            s += std::strlen(s);
        }
        if (gcb->startup_environ && gcb->startup_environ[0] == s + 1) {
            env_set(gcb, "NoNe  SuCh", nullptr);
            for (int32_t i = 0; gcb->startup_environ[i]; i++) {
                if (gcb->startup_environ[i] != s + 1)
                    break;
                ++s;
                s += std::strlen(s);
            }
        }
        gcb->startup_arg_span = static_cast<int32_t>(s - gcb->startup_argv[0]);
    }
    uint64_t len = 0;
    const char* s = sv_force_string(gcb, sv, &len);
    int64_t i = static_cast<int64_t>(len);
    char* argv0 = gcb->startup_argv[0];
    if (i >= gcb->startup_arg_span) {
        i = gcb->startup_arg_span;
        std::memcpy(argv0, s, static_cast<size_t>(i));
        argv0[i] = 0;
    } else {
        std::memcpy(argv0, s, static_cast<size_t>(i));
        char* p = argv0 + i;
        *p++ = 0;
        while (++i < gcb->startup_arg_span)
            *p++ = ' ';
        for (int32_t k = 1; k < gcb->startup_argc; k++)
            gcb->startup_argv[k] = nullptr;
    }
}

}  // namespace

int32_t magic_special_get(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    const char* name = mg->ptr;
    re_compiled* rx;
    switch (name[0]) {
    case '\001':  // ^A
        sv_assign(gcb, sv, gcb->format_body_target ? gcb->format_body_target : &gcb->sv_undef);
        break;
    case '\003':  // ^C
        sv_set_int(gcb, sv, gcb->compile_only);
        break;
    case '\004':  // ^D
        sv_set_int(gcb, sv, gcb->debug_flags & 0x7FFF);
        break;
    case '\005':  // ^E
        get_errno(gcb, sv);
        break;
    case '\006':  // ^F
        sv_set_int(gcb, sv, gcb->max_system_fd);
        break;
    case '\010':  // ^H
        sv_set_int(gcb, sv, static_cast<int64_t>(gcb->compile_hints));
        break;
    case '\011':  // ^I
        if (gcb->inplace)
            sv_set_cstring(gcb, sv, gcb->inplace);
        else
            sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '\017':  // ^O
        sv_set_cstring(gcb, sv, gcb->osname);
        break;
    case '\020':  // ^P
        sv_set_int(gcb, sv, gcb->debugger_flags);
        break;
    case '\023':  // ^S
        if (gcb->lex_state != LEX_NOTPARSING)
            sv->flags &= ~(SVf_OK_ANY | SVf_OVERLOAD | SVf_IsUV);
        else if (gcb->in_eval)
            sv_set_int(gcb, sv, gcb->in_eval & ~EVAL_INREQUIRE);
        break;
    case '\024':  // ^T
        sv_set_int(gcb, sv, gcb->start_time);
        break;
    case '\027':  // ^W, ${^WARNING_BITS}, ${^WIDE_SYSTEM_CALLS}
        if (name[1] == 0) {
            sv_set_int(gcb, sv, (gcb->warn_switch & G_WARN_ON) ? 1 : 0);
        } else if (std::strcmp(name, "\027ARNING_BITS") == 0) {
            SV* w = gcb->compiling_statement->cop_warnings;
            if (w == warnings_marker(WARNINGS_NONE) || w == warnings_marker(WARNINGS_STD)) {
                static const char none[WARN_BITS_SIZE] = {};
                sv_set_bytes(gcb, sv, none, WARN_BITS_SIZE);
            } else if (w == warnings_marker(WARNINGS_ALL)) {
                static const char all[WARN_BITS_SIZE] = {0x55, 0x55, 0x55, 0x55, 0x55, 0x55,
                                                         0x55, 0x55, 0x55, 0x55, 0x55, 0x55};
                sv_set_bytes(gcb, sv, all, WARN_BITS_SIZE);
            } else {
                sv_assign(gcb, sv, w);
            }
            sv->flags &= ~(SVf_OK_ANY | SVf_OVERLOAD | SVf_IsUV);
            sv->flags |= SVf_POK | SVp_POK;
        } else if (std::strcmp(name, "\027IDE_SYSTEM_CALLS") == 0) {
            sv_set_int(gcb, sv, gcb->wide_system_calls);
        }
        break;
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': case '&':
        if ((rx = last_match(gcb))) {
            get_group(gcb, sv, rx, static_cast<uint32_t>(prx_atoi(name)));
            break;
        }
        sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '+':
        if ((rx = last_match(gcb)) && rx->last_group) {
            get_group(gcb, sv, rx, rx->last_group);
            break;
        }
        sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '`':
        if ((rx = last_match(gcb)) && rx->subject_copy && rx->start_offsets[0] != -1) {
            set_match_text(gcb, sv, rx, rx->subject_copy, rx->start_offsets[0]);
            break;
        }
        sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '\'':
        if ((rx = last_match(gcb)) && rx->subject_copy && rx->end_offsets[0] != -1) {
            set_match_text(gcb, sv, rx, rx->subject_copy + rx->end_offsets[0], rx->subject_copy_length - rx->end_offsets[0]);
            break;
        }
        sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '.': {
        GV* gv = gcb->last_input_glob;
        if (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_io)
            sv_set_int(gcb, sv, io_body(gv_gp(gv)->gp_io)->lines);
        break;
    }
    case '?':
        sv_set_int(gcb, sv, gcb->child_status);
        break;
    case '^':
        if (IO* io = default_output(gcb)) {
            if (io_body(io)->top_name) {
                sv_set_cstring(gcb, sv, io_body(io)->top_name);
            } else {
                sv_set_cstring(gcb, sv, effective_name(gcb->default_output_glob));
                sv_append_cstring(gcb, sv, "_TOP");
            }
        }
        break;
    case '~':
        if (IO* io = default_output(gcb)) {
            const char* s = io_body(io)->fmt_name;
            sv_set_cstring(gcb, sv, s ? s : effective_name(gcb->default_output_glob));
        }
        break;
    case '=':
        if (IO* io = default_output(gcb))
            sv_set_int(gcb, sv, io_body(io)->page_len);
        break;
    case '-':
        if (IO* io = default_output(gcb))
            sv_set_int(gcb, sv, io_body(io)->lines_left);
        break;
    case '%':
        if (IO* io = default_output(gcb))
            sv_set_int(gcb, sv, io_body(io)->page);
        break;
    case '[': {
        // The array base of the running interpreter's current statement.
        PERLGCB* running = interp_of_current_task();
        if (!running)
            running = gcb;
        sv_set_int(gcb, sv, running->current_statement ? running->current_statement->cop_arybase : 0);
        break;
    }
    case '|': {
        IO* io = default_output(gcb);
        sv_set_int(gcb, sv, io && (io_body(io)->ioflags & IOf_FLUSH) ? 1 : 0);
        break;
    }
    case ',':
        sv_set_bytes(gcb, sv, gcb->output_field_sep ? gcb->output_field_sep : "", gcb->output_field_sep_len);
        break;
    case '\\':
        if (gcb->output_record_sep)
            sv_set_bytes(gcb, sv, gcb->output_record_sep, gcb->output_record_sep_len);
        else
            sv_assign(gcb, sv, &gcb->sv_undef);
        break;
    case '#':
        sv_set_cstring(gcb, sv, gcb->number_format);
        break;
    case '!':
        get_errno(gcb, sv);
        break;
    case '<':
        sv_set_int(gcb, sv, gcb->uid);
        break;
    case '>':
        sv_set_int(gcb, sv, gcb->euid);
        break;
    case '(':
        sv_set_int(gcb, sv, gcb->gid);
        sv->flags |= SVf_IOK | SVp_IOK;
        break;
    case ')':
        sv_set_int(gcb, sv, gcb->egid);
        sv->flags |= SVf_IOK | SVp_IOK;
        break;
    default:
        break;
    }
    return 0;
}

uint32_t magic_special_len(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    const char* name = mg->ptr;
    re_compiled* rx;
    switch (name[0]) {
    case '1': case '2': case '3': case '4': case '5': case '6': case '7': case '8': case '9': case '&':
        if ((rx = last_match(gcb)))
            return group_length(gcb, rx, static_cast<uint32_t>(prx_atoi(name)));
        return 0;
    case '+':
        if ((rx = last_match(gcb)) && rx->last_group)
            return group_length(gcb, rx, rx->last_group);
        return 0;
    case '`':
        if ((rx = last_match(gcb)) && rx->start_offsets[0] != -1)
            return rx->start_offsets[0] > 0 ? match_length(gcb, rx, 0, rx->start_offsets[0]) : 0;
        return 0;
    case '\'':
        if ((rx = last_match(gcb)) && rx->end_offsets[0] != -1)
            return rx->subject_copy_length - rx->end_offsets[0] > 0 ? match_length(gcb, rx, rx->end_offsets[0], rx->subject_copy_length) : 0;
        return 0;
    case ',':
        return static_cast<uint32_t>(gcb->output_field_sep_len);
    case '\\':
        return static_cast<uint32_t>(gcb->output_record_sep_len);
    default:
        break;
    }
    magic_special_get(gcb, sv, mg);
    if (!(sv->flags & SVf_POK) && (sv->flags & (SVf_IOK | SVf_NOK))) {
        uint64_t n = 0;
        sv_to_string(gcb, sv, &n);
    }
    return (sv->flags & SVf_POK) ? static_cast<uint32_t>(sv_cur(sv)) : 0;
}

int32_t magic_special_set(PERLGCB* gcb, SV* sv, MAGIC* mg)
{
    const char* name = mg->ptr;
    uint64_t len = 0;
    switch (name[0]) {
    case '\001':  // ^A
        if (gcb->format_body_target)
            sv_assign(gcb, gcb->format_body_target, sv);
        break;
    case '\003':  // ^C
        gcb->compile_only = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '\004':  // ^D
        gcb->debug_flags = static_cast<uint32_t>(int_of(gcb, sv)) | DEBUG_TOP_FLAG;
        break;
    case '\005':  // ^E
        gcb->errno_cell = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '\006':  // ^F
        gcb->max_system_fd = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '\010':  // ^H
        gcb->compile_hints = static_cast<uint32_t>(int_of(gcb, sv));
        break;
    case '\011':  // ^I
        pool_free(gcb, gcb->inplace);
        gcb->inplace = (sv->flags & SVf_OK_ANY) ? copy_of(gcb, sv) : nullptr;
        break;
    case '\017':  // ^O
        pool_free(gcb, gcb->osname);
        gcb->osname = (sv->flags & SVf_OK_ANY) ? copy_of(gcb, sv) : nullptr;
        break;
    case '\020':  // ^P
        gcb->debugger_flags = static_cast<uint32_t>(int_of(gcb, sv));
        if (gcb->debugger_flags && !gcb->db_single)
            interp_setup_debugger(gcb);
        break;
    case '\024':  // ^T
        gcb->start_time = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '\027':  // ^W, ${^WARNING_BITS}, ${^WIDE_SYSTEM_CALLS}
        if (name[1] == 0) {
            if (!(gcb->warn_switch & G_WARN_ALL_MASK))
                gcb->warn_switch = (gcb->warn_switch & ~G_WARN_ON) | (int_of(gcb, sv) ? static_cast<uint32_t>(G_WARN_ON) : 0u);
        } else if (std::strcmp(name, "\027ARNING_BITS") == 0) {
            set_warning_bits(gcb, sv);
        } else if (std::strcmp(name, "\027IDE_SYSTEM_CALLS") == 0) {
            gcb->wide_system_calls = sv_is_true(gcb, sv) ? 1 : 0;
        }
        break;
    case '.':
        if (gcb->localizing) {
            if (gcb->localizing == 1)
                save_push_value_ptr(gcb, reinterpret_cast<SV**>(&gcb->last_input_glob));
        } else if (sv->flags & SVf_OK_ANY) {
            GV* gv = gcb->last_input_glob;
            if (gv && sv_is_glob(as_sv(gv)) && gv_gp(gv) && gv_gp(gv)->gp_io)
                io_body(gv_gp(gv)->gp_io)->lines = static_cast<int32_t>(int_of(gcb, sv));
        }
        break;
    case '^':
    case '~':
        if (IO* io = default_output(gcb)) {
            PVIO* b = io_body(io);
            char*& slot = name[0] == '^' ? b->top_name : b->fmt_name;
            pool_free(gcb, slot);
            slot = copy_of(gcb, sv);
            GV* fmt = gv_fetch_by_name(gcb, slot, GV_ADD, SVt_PVFM);
            (name[0] == '^' ? b->top_gv : b->fmt_gv) = fmt;
        }
        break;
    case '=':
        if (IO* io = default_output(gcb))
            io_body(io)->page_len = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '-':
        if (IO* io = default_output(gcb)) {
            int64_t n = int_of(gcb, sv);
            io_body(io)->lines_left = n < 0 ? 0 : static_cast<int32_t>(n);
        }
        break;
    case '%':
        if (IO* io = default_output(gcb))
            io_body(io)->page = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '|':
        if (IO* io = default_output(gcb)) {
            PVIO* b = io_body(io);
            if (int_of(gcb, sv) == 0) {
                b->ioflags &= ~IOf_FLUSH;
            } else if (!(b->ioflags & IOf_FLUSH)) {
                if (b->ofp)
                    prx_return_zero(b->ofp);  // flushing the stream does nothing here
                b->ioflags |= IOf_FLUSH;
            }
        }
        break;
    case '*':
        gcb->multiline = int_of(gcb, sv) != 0 ? 1 : 0;
        break;
    case '/':
        sv_release(gcb, gcb->newline_rs);
        gcb->newline_rs = sv_new_copy(gcb, sv);
        sv_release(gcb, gcb->rs);
        gcb->rs = sv_refinc(gcb->newline_rs);
        break;
    case '\\':
        pool_free(gcb, gcb->output_record_sep);
        if ((sv->flags & SVf_OK_ANY) || (sv->flags & SVs_GMG)) {
            const char* s = text_of(gcb, sv, &len);
            gcb->output_record_sep = pool_strndup(gcb, s, static_cast<int32_t>(len));
            gcb->output_record_sep_len = len;
        } else {
            gcb->output_record_sep = nullptr;
            gcb->output_record_sep_len = 0;
        }
        break;
    case ',': {
        pool_free(gcb, gcb->output_field_sep);
        const char* s = text_of(gcb, sv, &len);
        gcb->output_field_sep = pool_strndup(gcb, s, static_cast<int32_t>(len));
        gcb->output_field_sep_len = len;
        break;
    }
    case '#':
        pool_free(gcb, gcb->number_format);
        gcb->number_format = copy_of(gcb, sv);
        break;
    case '[':
        gcb->compiling_statement->cop_arybase = static_cast<int32_t>(int_of(gcb, sv));
        break;
    case '?': {
        int32_t status = static_cast<int32_t>(int_of(gcb, sv));
        gcb->child_status = status == -1 ? -1 : (status & 0xFFFF);
        break;
    }
    case '!':
        gcb->errno_cell = static_cast<int32_t>((sv->flags & SVf_IOK) ? sv_iv(sv)
                                               : (sv->flags & SVf_OK_ANY) ? sv_to_int(gcb, sv)
                                                                          : 0);
        break;
    case '<':
        gcb->uid = static_cast<int32_t>(int_of(gcb, sv));
        set_id(gcb, &gcb->uid, gcb->euid, DM_RUID, false, "setruid() not implemented");
        break;
    case '>':
        gcb->euid = static_cast<int32_t>(int_of(gcb, sv));
        set_id(gcb, &gcb->euid, gcb->uid, DM_EUID, false, "seteuid() not implemented");
        break;
    case '(':
        gcb->gid = static_cast<int32_t>(int_of(gcb, sv));
        set_id(gcb, &gcb->gid, gcb->egid, DM_RGID, true, "setrgid() not implemented");
        break;
    case ')':
        gcb->egid = static_cast<int32_t>(int_of(gcb, sv));
        set_id(gcb, &gcb->egid, gcb->gid, DM_EGID, true, "setegid() not implemented");
        break;
    case ':':
        gcb->chop_set = sv_force_string(gcb, sv, &len);
        break;
    case '0':
        set_program_name(gcb, sv);
        break;
    default:
        break;
    }
    return 0;
}
