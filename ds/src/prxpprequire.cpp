// require and do FILE: version checks, the search of @INC (directories and
// code hooks) and the compile of the file found as an eval; the source
// filter that feeds a file's text from a sub a hook returned; and the
// compile of a code text for the pattern compiler.
#include <cstring>
#include <initializer_list>

#include "prxav.h"
#include "prxcall.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlex.h"
#include "prxlibc.h"
#include "prxpad.h"
#include "prxpp.h"
#include "prxutf8.h"

namespace {

// The version this interpreter is: 5.6.1.
constexpr uint64_t PERL_REVISION = 5;
constexpr uint64_t PERL_VERSION = 6;
constexpr uint64_t PERL_SUBVERSION = 1;

// A double's integer part as a version number: 0 below 0 (and for NaN),
// saturated above.
uint64_t version_part(double d)
{
    if (!(d > 0.0))
        return 0;
    if (d >= 18446744073709551615.0)
        return UINT64_MAX;
    return static_cast<uint64_t>(d);
}

// The message's 32-bit numbers, as its "%lu" conversions read them.
uint32_t low32(uint64_t v) { return static_cast<uint32_t>(v); }

OP* push_result(PERLGCB* gcb, SV* sv)
{
    pp_push_one(gcb, pp_sp(gcb), sv);
    return gcb->op->op_next;
}
OP* push_yes(PERLGCB* gcb) { return push_result(gcb, &gcb->sv_yes); }

// require v5.6.1: the characters of the string are the numbers.
OP* version_string_check(PERLGCB* gcb, SV* sv)
{
    uint64_t v[3] = {0, 0, 0};
    const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_pv(sv));
    const uint8_t* end = s + sv_cur(sv);
    for (int32_t i = 0; i < 3 && s < end; i++) {
        int64_t len = 0;
        v[i] = utf8_decode(gcb, s, static_cast<uint64_t>(end - s), &len, 0);
        s += len > 0 ? len : 1;
    }
    if (PERL_REVISION < v[0] ||
        (PERL_REVISION == v[0] && (PERL_VERSION < v[1] || (PERL_VERSION == v[1] && PERL_SUBVERSION < v[2]))))
        return die_error(gcb, "Perl v%lu.%lu.%lu required--this is only v%d.%d.%d, stopped", low32(v[0]),
                         low32(v[1]), low32(v[2]), 5, 6, 1);
    return push_yes(gcb);
}

// require 5.006_001: revision, then thousandths for version and subversion.
OP* version_number_check(PERLGCB* gcb, SV* sv)
{
    double n = pp_double(gcb, sv);
    if (n <= 5.00600199)
        return push_yes(gcb);
    uint64_t rev = version_part(n);
    double nver = (n - static_cast<double>(rev)) * 1000.0;
    uint64_t ver = version_part(nver + 0.0009);
    double nsver = (nver - static_cast<double>(ver)) * 1000.0;
    uint64_t sver = version_part(nsver + 0.0009);
    // "use 5.6" means v5.600.0: name the version meant.
    if (sver == 0 && (rev > 5 || (rev == 5 && ver > 99)))
        return die_error(gcb,
                         "Perl v%lu.%lu.%lu required--this is only v%d.%d.%d, stopped (did you mean v%lu.%lu.0?)",
                         low32(rev), low32(ver), low32(sver), 5, 6, 1, low32(rev), low32(ver / 100));
    return die_error(gcb, "Perl v%lu.%lu.%lu required--this is only v%d.%d.%d, stopped", low32(rev), low32(ver),
                     low32(sver), 5, 6, 1);
}

// Opens a file to compile. The host gives the interpreter no file system:
// no name opens, and the answer is no stream.
PrxStream open_source_file(const char* name)
{
    (void)name;
    return 0;
}

// The null device: an empty source, for a hook that supplies its text
// through a filter sub alone.
PrxStream open_null_device() { return static_cast<PrxStream>(prx_return_one("/dev/null", "r")); }

bool ends_in_pm(const char* name, uint64_t len)
{
    return len > 3 && xk_padcmp64(name + len - 3, 3, ".pm", 3) == 0;
}

// Opens name, or its compiled form (name + "c") for a .pm name when that
// stats and is not older than the plain file.
PrxStream open_module(PERLGCB* gcb, const char* name, uint64_t len)
{
    if (!ends_in_pm(name, len))
        return open_source_file(name);
    SV* pmc = sv_new_temporary(gcb);
    sv_set_bytes(gcb, pmc, name, len);
    sv_append_bytes(gcb, pmc, "c", 1);
    prx_statbuf pmcstat{};
    if (prx_stat(sv_pv(pmc), &pmcstat) < 0)
        return open_source_file(name);
    prx_statbuf pmstat{};
    if (prx_stat(name, &pmstat) < 0 || pmstat.mtime < pmcstat.mtime)
        return open_source_file(sv_pv(pmc));
    return open_source_file(name);
}

bool is_path(const char* s)
{
    return s[0] == '/' || (s[0] == '.' && (s[1] == '/' || (s[1] == '.' && s[2] == '/')));
}

// What a hook gave: the stream to read and the filter parts.
struct hook_result {
    PrxStream stream;
    int32_t has_file;     // the stream is read before the filter sub runs
    SV* child;            // glob of a piped handle, one reference
    SV* state;            // the filter sub's state, one reference
    SV* sub;              // the filter sub (a code reference), one reference
};

void release_hook(PERLGCB* gcb, hook_result& h)
{
    h.has_file = 0;
    for (SV** p : {&h.child, &h.state, &h.sub}) {
        if (*p)
            sv_release(gcb, *p);
        *p = nullptr;
    }
}

// Calls an @INC hook with itself and the name; reads a handle, a filter sub
// and its state from what it returns.
void call_hook(PERLGCB* gcb, SV* entry, SV* loader, SV* namesv, hook_result& h)
{
    pp_scope_with_temps(gcb);
    SV** sp = pp_sp(gcb);
    int32_t base = static_cast<int32_t>(sp - gcb->arg_base);
    push_mark(gcb, sp);
    sp = pp_extend(gcb, sp, 2);
    *++sp = entry;
    *++sp = namesv;
    pp_put_sp(gcb, sp);
    int32_t count;
    if (sv_is_object_ref(gcb, loader))
        count = interp_call_method_by_name(gcb, "INC", CALL_LIST);
    else
        count = interp_call_value(gcb, sv_as<CV>(loader), CALL_LIST);
    SV** results = pp_sp(gcb) - count + 1;
    int32_t i = 0;
    if (count > 0) {
        SV* arg = results[i++];
        if ((arg->flags & SVf_ROK) && sv_is_glob(sv_rv(arg)))
            arg = sv_rv(arg);
        if (sv_is_glob(arg)) {
            GV* gv = sv_as<GV>(arg);
            IO* io = gv_gp(gv) ? gv_gp(gv)->gp_io : nullptr;
            h.has_file++;
            if (io) {
                PVIO* b = io_body(io);
                h.stream = b->ifp;
                if (b->type == '|') {
                    // The child's glob lives as long as the filter reads it.
                    h.child = sv_refinc(arg);
                } else {
                    // The stream now belongs to the require.
                    if (b->ofp && b->ofp != b->ifp)
                        prx_return_zero(b->ofp);
                    b->ifp = 0;
                    b->ofp = 0;
                }
            }
            if (i < count)
                arg = results[i++];
        }
        if ((arg->flags & SVf_ROK) && sv_type(sv_rv(arg)) == SVt_PVCV) {
            h.sub = sv_refinc(arg);
            if (i < count)
                h.state = sv_refinc(results[i]);
            if (!h.stream)
                h.stream = open_null_device();
        }
    }
    // The results go; the stack is the require's again.
    pp_put_sp(gcb, gcb->arg_base + base);
    tmps_free_to_floor(gcb);
    scope_leave(gcb);
}

// "Can't locate" after a search of @INC: the name, the hints, and the
// directories searched.
SV* locate_message(PERLGCB* gcb, const char* name, AV* inc)
{
    SV* msg = sv_new_temporary(gcb);
    sv_set_cstring(gcb, msg, name);
    sv_append_bytes(gcb, msg, " in @INC", 8);
    if (std::strstr(sv_pv(msg), ".h "))
        sv_append_cstring(gcb, msg, " (change .h to .ph maybe?)");
    if (std::strstr(sv_pv(msg), ".ph "))
        sv_append_cstring(gcb, msg, " (did you run h2ph?)");
    sv_append_cstring(gcb, msg, " (@INC contains:");
    int32_t fill = av_highest_index(gcb, inc);
    for (int32_t i = 0; i <= fill; i++) {
        SV** svp = av_fetch_element(gcb, inc, i, 1);
        uint64_t len = 0;
        const char* dir = svp && *svp ? sv_text(gcb, *svp, &len) : "";
        sv_append_bytes(gcb, msg, " ", 1);
        sv_append_bytes(gcb, msg, dir, len);
    }
    sv_append_bytes(gcb, msg, ")", 1);
    return msg;
}

// The warnings a required file starts with: all or none by the global
// switch, else the standard setting.
SV* required_warnings(PERLGCB* gcb)
{
    if (gcb->warn_switch & G_WARN_ALL_ON)
        return reinterpret_cast<SV*>(WARNINGS_ALL);
    if (gcb->warn_switch & G_WARN_ALL_OFF)
        return reinterpret_cast<SV*>(WARNINGS_NONE);
    return reinterpret_cast<SV*>(WARNINGS_STD);
}

void save_hints_and_clear(PERLGCB* gcb)
{
    scope_save_compile_hints(gcb);
    gcb->compile_hints = 0;
}

// Points the compile-time statement at the file glob of name; the old one
// comes back when the current scope ends.
void set_compiling_file(PERLGCB* gcb, const char* name)
{
    COP* comp = gcb->compiling_statement;
    save_push_value_ptr_by_ref(gcb, reinterpret_cast<SV**>(&comp->cop_filegv));
    GV* filegv = gv_fetch_file_glob(gcb, name);
    comp->cop_filegv = sv_as<GV>(sv_refinc(as_sv(filegv)));
}

// The body shared by require and do FILE; the op type decides.
OP* require_or_do(PERLGCB* gcb)
{
    OP* op = gcb->op;
    bool is_require = op->op_type == OP_REQUIRE;
    SV** sp = pp_sp(gcb);
    SV* sv = *sp--;
    pp_put_sp(gcb, sp);
    // A version: a version string (string and number both), or a plain
    // number. A number that also holds a string is a file name.
    if (sv->flags & (SVf_IOK | SVf_NOK | SVp_IOK | SVp_NOK)) {
        if ((sv->flags & SVf_POK) && (sv->flags & SVf_NOK))
            return version_string_check(gcb, sv);
        if (!(sv->flags & (SVf_POK | SVp_POK)))
            return version_number_check(gcb, sv);
    }

    uint64_t len = 0;
    const char* text = sv_text(gcb, sv, &len);
    if (!text || len == 0 || !*text)
        return die_error(gcb, "Null filename used");
    // The name's own copy: the value may change under the hooks.
    SV* namesv = sv_new_temporary(gcb);
    sv_set_bytes(gcb, namesv, text, len);
    const char* name = sv_pv(namesv);
    len = std::strlen(name);
    if (gcb->tainting)
        taint_check_dependency(gcb, nullptr, "require");

    GV* incgv = gv_ensure_hash(gcb, gv_ensure_array(gcb, gv_fetch_by_name(gcb, "INC", GV_ADD, SVt_PVHV)));
    HV* inc_hash = gv_gp(incgv)->gp_hv;
    if (is_require) {
        SV** svp = hv_fetch_str(gcb, inc_hash, name, static_cast<int32_t>(len), 0);
        if (svp && *svp && *svp != &gcb->sv_undef)
            return push_yes(gcb);
    }

    hook_result hook{};
    PrxStream stream = 0;
    SV* tryname = nullptr;
    bool searched = false;
    if (is_path(name)) {
        stream = open_module(gcb, name, len);
    } else {
        searched = true;
        tryname = sv_new_temporary(gcb);
        AV* inc = gv_gp(incgv)->gp_av;
        for (int32_t i = 0; i <= av_highest_index(gcb, inc); i++) {
            SV** svp = av_fetch_element(gcb, inc, i, 1);
            SV* dirsv = svp ? *svp : nullptr;
            if (!dirsv)
                continue;
            if (dirsv->flags & SVf_ROK) {
                SV* loader = dirsv;
                if (sv_type(sv_rv(loader)) == SVt_PVAV) {
                    SV** first = av_fetch_element(gcb, sv_as<AV>(sv_rv(loader)), 0, 1);
                    loader = first && *first ? *first : &gcb->sv_undef;
                }
                sv_set_formatted(gcb, tryname, "/loader/0x%lx/%s", low32(reinterpret_cast<uintptr_t>(loader->any)),
                                 name);
                call_hook(gcb, dirsv, loader, namesv, hook);
                if (hook.stream) {
                    stream = hook.stream;
                    break;
                }
                release_hook(gcb, hook);
            } else {
                uint64_t dlen = 0;
                const char* dir = sv_text(gcb, dirsv, &dlen);
                sv_set_formatted(gcb, tryname, "%s/%s", dir, name);
                if (gcb->tainting)
                    taint_check_dependency(gcb, nullptr, "require");
                stream = open_module(gcb, sv_pv(tryname), sv_cur(tryname));
                if (stream)
                    break;
            }
        }
    }

    const char* compiling = name;
    if (stream && tryname) {
        compiling = sv_pv(tryname);
        if (compiling[0] == '.' && compiling[1] == '/')
            compiling += 2;
    }
    set_compiling_file(gcb, compiling);
    if (!stream) {
        if (is_require)
            return die_error(gcb, "Can't locate %s",
                             searched ? sv_pv(locate_message(gcb, name, gv_gp(incgv)->gp_av)) : name);
        return push_result(gcb, &gcb->sv_undef);
    }
    gcb->errno_cell = 0;

    // Stored before the compile, so that a require of the same name from
    // inside the file finds it.
    hv_store_str(gcb, inc_hash, name, static_cast<int32_t>(len), sv_new_from_cstring(gcb, compiling, 0), 0);

    pp_scope_with_temps(gcb);
    lex_context_begin(gcb, sv_new_temporary(gcb));
    save_push_value_ptr_by_ref(gcb, reinterpret_cast<SV**>(&gcb->source_filters));
    gcb->source_filters = nullptr;
    gcb->source_handle = stream;
    save_hints_and_clear(gcb);
    COP* comp = gcb->compiling_statement;
    save_push_generic_ptr(gcb, reinterpret_cast<void**>(&comp->cop_warnings));
    comp->cop_warnings = required_warnings(gcb);

    if (hook.sub || hook.child) {
        SV* data = filter_add(gcb, filter_run_sub, nullptr);
        PVIO* b = io_body(sv_as<IO>(data));
        b->lines = hook.has_file;
        // The filter's data value owns these references from now on.
        b->fmt_gv = sv_as<GV>(hook.child);
        b->top_gv = sv_as<GV>(hook.state);
        b->bottom_gv = sv_as<GV>(hook.sub);
    }

    return_stack_push(gcb, op->op_next);
    cx_frame* cx = cx_push_block(gcb, CXt_EVAL, pp_sp(gcb), CTX_SCALAR);
    cx_push_eval(gcb, cx, op->op_type, sv_new_from_cstring(gcb, name, 0));
    save_push_i16(gcb, reinterpret_cast<int16_t*>(&comp->cop_line));
    comp->cop_line = 0;

    OP* start = eval_compile(gcb, CTX_SCALAR, nullptr);
    if (gcb->top_env && gcb->top_env->must_catch) {
        eval_catch(gcb, start);
        return nullptr;
    }
    return start;
}

}  // namespace

OP* pp_require(PERLGCB* gcb) { return require_or_do(gcb); }
OP* pp_dofile(PERLGCB* gcb) { return require_or_do(gcb); }

int32_t filter_run_sub(PERLGCB* gcb, int32_t idx, SV* buf, int32_t maxlen)
{
    SV** slot = gcb->source_filters ? av_fetch_element(gcb, gcb->source_filters, idx, 0) : nullptr;
    if (!slot || !*slot || sv_type(*slot) != SVt_PVIO)
        return -1;
    PVIO* b = io_body(sv_as<IO>(*slot));
    SV* sub = as_sv(b->bottom_gv);
    SV* state = as_sv(b->top_gv);
    int32_t status = 0;
    bool finished = false;
    if (b->lines) {
        status = filter_read_input(gcb, idx + 1, buf, maxlen);
        if (!sub) {
            if (status > 0)
                return status;
            finished = true;
        } else if (status < 0) {
            finished = true;
        }
    }
    if (!finished && sub) {
        // The sub sees the buffer as $_, the length asked for and its state;
        // what it returns is the status.
        scope_enter(gcb);
        GV* defgv = gcb->default_glob ? gcb->default_glob : gv_fetch_by_name(gcb, "_", GV_ADD, SVt_PV);
        save_push_value_ptr(gcb, &gv_gp(defgv)->gp_sv);
        save_push_int(gcb, &gcb->temps_floor);
        gcb->temps_floor = gcb->temps_ix;
        gv_gp(defgv)->gp_sv = buf;
        SV** sp = pp_sp(gcb);
        int32_t base = static_cast<int32_t>(sp - gcb->arg_base);
        push_mark(gcb, sp);
        sp = pp_extend(gcb, sp, 2);
        *++sp = sv_make_temporary(gcb, sv_new_from_int(gcb, maxlen));
        if (state)
            *++sp = state;
        pp_put_sp(gcb, sp);
        int32_t count = interp_call_value(gcb, sv_as<CV>(sub), 0);
        status = 0;
        if (count > 0) {
            SV* out = *pp_sp(gcb);
            if (sv_ok(out))
                status = static_cast<int32_t>(pp_int(gcb, out));
        }
        pp_put_sp(gcb, gcb->arg_base + base);
        tmps_free_to_floor(gcb);
        scope_leave(gcb);
        if (status > 0)
            return status;
    }
    // The end of this file's text: the filter lets go of its parts and
    // removes itself, which frees its data value.
    b->lines = 0;
    for (GV** p : {&b->fmt_gv, &b->top_gv, &b->bottom_gv}) {
        if (*p)
            sv_release(gcb, as_sv(*p));
        *p = nullptr;
    }
    filter_del(gcb, filter_run_sub);
    return status;
}

OP* eval_compile_code(PERLGCB* gcb, SV* text, OP** start_out, const char* code, AV** pad_out)
{
    SV** sp = pp_sp(gcb);
    scope_enter(gcb);
    lex_context_begin(gcb, text);
    save_push_int(gcb, &gcb->temps_floor);
    gcb->temps_floor = gcb->temps_ix;
    COP* comp = gcb->compiling_statement;
    COP* cop = gcb->current_statement;
    bool at_compile = cop == comp;
    if (at_compile) {
        save_push_hash_ptr(gcb, &comp->cop_stash);
        comp->cop_stash = gcb->current_package;
    }

    SV* name = sv_new_temporary(gcb);
    uint32_t seq = ++gcb->eval_count;
    if ((gcb->debugger_flags & 0x100) && cop && cop->cop_line != 0 && cop->cop_line != 65535) {
        const char* file = gv_statement_file(gcb, cop);
        sv_set_formatted(gcb, name, "_<(%.10seval %lu)[%s:%ld]", code, seq, file ? file : "",
                         static_cast<int32_t>(cop->cop_line));
    } else {
        sv_set_formatted(gcb, name, "_<(%.10s_eval %lu)", code, seq);
    }
    set_compiling_file(gcb, sv_pv(name) + 2);
    save_push_i16(gcb, reinterpret_cast<int16_t*>(&comp->cop_line));
    comp->cop_line = 1;
    // The entry owns the key copy; the glob goes when the scope closes.
    int32_t keylen = static_cast<int32_t>(sv_cur(name));
    save_push_delete(gcb, gcb->main_stash, pool_strndup(gcb, sv_pv(name), keylen), keylen);

    save_hints_and_clear(gcb);
    save_push_op(gcb);
    // The compile reads the current op's type and flags: a string eval's,
    // without the keep-error flag.
    OP entereval{};
    entereval.op_type = OP_ENTEREVAL;
    entereval.op_static = 1;
    gcb->op = &entereval;
    cx_frame* cx = cx_push_block(gcb, at_compile ? CXt_EVAL : (CXt_EVAL | CXp_REAL), sp, CTX_SCALAR);
    cx_push_eval(gcb, cx, OP_ENTEREVAL, nullptr);
    OP* root = nullptr;
    // A failed compile does not come back: it dies with "Compilation
    // failed in regexp".
    OP* start = eval_compile(gcb, CTX_SCALAR, &root);

    cx = cx_pop_block(gcb);
    pp_put_sp(gcb, gcb->arg_base + cx->blk.oldsp);
    gcb->last_match_op = cx->blk.oldpm;
    cx_pop_eval(gcb, cx);
    *start_out = root;
    root->op_type = OP_NULL;
    root->op_ppaddr = gcb->op_run_function_table[OP_NULL];
    lex_context_end(gcb);
    *pad_out = sv_as<AV>(sv_refinc(as_sv(gcb->comppad)));
    scope_leave(gcb);
    if (at_compile)
        comp->op.op_private = static_cast<uint8_t>(gcb->compile_hints);
    return start;
}
