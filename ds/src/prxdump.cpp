// Debug dumps of op trees: the indented line printer, the lines that name
// globs and hashes, one block of lines per op with its kids, the pattern
// block of pattern ops, and the entries that dump a sub, a format, a
// package's subs or the whole program.
#include "prxdump.h"

#include <cstdarg>
#include <cstring>

#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxop.h"
#include "prxre.h"
#include "prxrun.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

// The match-once bit of a pattern op's flag word (m?...?).
constexpr uint16_t PMf_ONCE_BIT = 0x0002;

// The debug stream of every dump entry without a stream argument.
PrxStream debug_stream() { return static_cast<PrxStream>(prx_return_one()); }

void dump_line_va(PERLGCB* gcb, int32_t level, PrxStream stream, const char* fmt, va_list* args)
{
    prx_fprintf(stream, "%*s", static_cast<int32_t>(static_cast<uint32_t>(gcb->dump_indent) * static_cast<uint32_t>(level)),
                "");
    prx_vfprintf(stream, fmt, args);
}

// Appends ",NAME" to the text for each set bit of the table.
struct bit_name {
    uint8_t bit;
    const char* name;
};
template <size_t N>
void add_names(PERLGCB* gcb, SV* text, uint8_t bits, const bit_name (&names)[N])
{
    for (const bit_name& b : names)
        if (bits & b.bit) {
            sv_append_cstring(gcb, text, ",");
            sv_append_cstring(gcb, text, b.name);
        }
}

void add_name(PERLGCB* gcb, SV* text, const char* name)
{
    sv_append_cstring(gcb, text, ",");
    sv_append_cstring(gcb, text, name);
}

// The FLAGS names in their fixed order; the want field always names itself.
void flag_names(PERLGCB* gcb, SV* text, uint8_t flags)
{
    static constexpr const char* wants[4] = {"UNKNOWN", "VOID", "SCALAR", "LIST"};
    static constexpr bit_name names[] = {{OPf_KIDS, "KIDS"}, {OPf_PARENS, "PARENS"}, {OPf_STACKED, "STACKED"},
                                         {OPf_REF, "REF"},   {OPf_MOD, "MOD"},       {OPf_SPECIAL, "SPECIAL"}};
    add_name(gcb, text, wants[flags & OPf_WANT]);
    add_names(gcb, text, flags, names);
}

void deref_name(PERLGCB* gcb, SV* text, uint8_t priv)
{
    switch (priv & OPpDEREF) {
    case OPpDEREF_AV:
        add_name(gcb, text, "AV");
        break;
    case OPpDEREF_HV:
        add_name(gcb, text, "HV");
        break;
    case OPpDEREF_SV:
        add_name(gcb, text, "SV");
        break;
    default:
        break;
    }
}

// The PRIVATE names by op type.
void private_names(PERLGCB* gcb, SV* text, OP* o)
{
    uint8_t p = o->op_private;
    uint32_t type = o->op_type;
    if (gcb->op_args_table[type] & OA_TARGLEX)
        add_names(gcb, text, p, {{OPpTARGET_MY, "TARGET_MY"}});
    switch (type) {
    case OP_CONST:
        add_names(gcb, text, p, {{OPpCONST_BARE, "BARE"}, {OPpCONST_STRICT, "STRICT"}});
        break;
    case OP_AELEM:
    case OP_HELEM:
        deref_name(gcb, text, p);
        add_names(gcb, text, p, {{OPpLVAL_DEFER, "LVAL_DEFER"}});
        break;
    case OP_GVSV:
    case OP_RV2GV:
    case OP_RV2SV:
    case OP_RV2AV:
    case OP_RV2HV:
        deref_name(gcb, text, p);
        add_names(gcb, text, p, {{OPpHINT_STRICT_REFS, "STRICT_REFS"}, {OPpOUR_INTRO, "OUR_INTRO"}});
        break;
    case OP_ENTERSUB:
        add_names(gcb, text, p,
                  {{OPpENTERSUB_AMPER, "AMPER"}, {OPpENTERSUB_DB, "DB"}, {OPpENTERSUB_HASTARG, "HASTARG"},
                   {OPpHINT_STRICT_REFS, "STRICT_REFS"}, {OPpOUR_INTRO, "OUR_INTRO"}});
        break;
    case OP_RV2CV:
        add_names(gcb, text, p, {{OPpLVAL_INTRO, "INTRO"}});
        break;
    case OP_TRANS:
        add_names(gcb, text, p,
                  {{OPpTRANS_SQUASH, "SQUASH"}, {OPpTRANS_DELETE, "DELETE"}, {OPpTRANS_COMPLEMENT, "COMPLEMENT"}});
        break;
    case OP_SASSIGN:
        add_names(gcb, text, p, {{OPpASSIGN_BACKWARDS, "BACKWARDS"}});
        break;
    case OP_AASSIGN:
        add_names(gcb, text, p, {{OPpASSIGN_COMMON, "COMMON"}, {OPpASSIGN_HASH, "HASH"}});
        break;
    case OP_REPEAT:
        add_names(gcb, text, p, {{OPpREPEAT_DOLIST, "DOLIST"}});
        break;
    case OP_FLIP:
    case OP_FLOP:
        add_names(gcb, text, p, {{OPpFLIP_LINENUM, "LINENUM"}});
        break;
    default:
        break;
    }
    if (o->op_flags & OPf_MOD)
        add_names(gcb, text, p, {{OPpLVAL_INTRO, "INTRO"}});
}

// The names collected so far (the value stays undefined until the first).
bool has_names(SV* text) { return (text->flags & SVf_POK) && sv_cur(text) != 0; }

// "NAME = (A,B)\n": the text after its leading comma.
void names_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, SV* text)
{
    const char* p = has_names(text) ? sv_pv(text) + 1 : "";
    dump_indented_line(gcb, level, stream, "%s = (%s)\n", label, p);
}

void glob_line(PERLGCB* gcb, int32_t level, PrxStream stream, GV* gv)
{
    if (!gv) {
        dump_indented_line(gcb, level, stream, "GV = NULL\n");
        return;
    }
    scope_enter(gcb);
    SV* name = sv_new_undef(gcb, 0);
    save_push_release_value(gcb, name);
    gv_qualified_name_with_main(gcb, name, gv, nullptr);
    uint64_t len = 0;
    const char* text = (name->flags & SVf_POK) ? sv_pv(name) : sv_to_string(gcb, name, &len);
    dump_indented_line(gcb, level, stream, "GV = %s\n", text);
    scope_leave(gcb);
}

void jump_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, OP* target)
{
    dump_indented_line(gcb, level, stream, "%s", label);
    if (target)
        prx_fprintf(stream, "%d\n", static_cast<int32_t>(target->op_seq));
    else
        prx_fprintf(stream, "DONE\n");
}

const char* package_name(HV* stash) { return stash ? hv_body(stash)->name : nullptr; }

}  // namespace

// "label = 0x<address>", then the name between double quotes after a tab.
static void short_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, const void* addr,
                            const char* name)
{
    dump_indented_line(gcb, level, stream, "%s = 0x%lx", label, reinterpret_cast<unsigned long>(addr));
    if (name)
        prx_fprintf(stream, "\t\"%s\"\n", name);
    else
        prx_fputc('\n', stream);
}

void dump_indented_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    dump_line_va(gcb, level, stream, fmt, &args);
    va_end(args);
}

void dump_glob_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, GV* gv)
{
    dump_indented_line(gcb, level, stream, "%s = 0x%lx", label, reinterpret_cast<unsigned long>(gv));
    const char* name = gv ? gv_body(gv)->name : nullptr;
    if (!name) {
        prx_fputc('\n', stream);
        return;
    }
    prx_fputs("\t\"", stream);
    if (const char* pkg = package_name(gv_body(gv)->gvstash))
        prx_fprintf(stream, "%s\" :: \"", pkg);
    prx_fprintf(stream, "%s\"\n", name);
}

void dump_glob_short_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, GV* gv)
{
    short_name_line(gcb, level, stream, label, gv, gv ? gv_body(gv)->name : nullptr);
}

void dump_hash_name_line(PERLGCB* gcb, int32_t level, PrxStream stream, const char* label, HV* hv)
{
    short_name_line(gcb, level, stream, label, hv, hv ? hv_body(hv)->name : nullptr);
}

void dump_op_tree(PERLGCB* gcb, int32_t level, PrxStream stream, OP* o)
{
    stack_check(gcb);
    int32_t inner = level + 1;
    dump_indented_line(gcb, level, stream, "{\n");
    if (o->op_seq)
        prx_fprintf(stream, "%-4d", static_cast<int32_t>(o->op_seq));
    else
        prx_fprintf(stream, "    ");
    prx_fprintf(stream, "%*sTYPE = %s  ===> ",
                static_cast<int32_t>(static_cast<uint32_t>(gcb->dump_indent) * static_cast<uint32_t>(inner) - 4u), "",
                gcb->op_name_table[o->op_type]);
    if (!o->op_next)
        prx_fprintf(stream, "DONE\n");
    else if (o->op_seq)
        prx_fprintf(stream, "%d\n", static_cast<int32_t>(o->op_next->op_seq));
    else
        prx_fprintf(stream, "(%d)\n", static_cast<int32_t>(o->op_next->op_seq));
    if (o->op_targ) {
        if (o->op_type == OP_NULL)
            dump_indented_line(gcb, inner, stream, "  (was %s)\n", gcb->op_name_table[o->op_targ]);
        else
            dump_indented_line(gcb, inner, stream, "TARG = %ld\n", static_cast<long>(static_cast<int32_t>(o->op_targ)));
    }
    if (o->op_flags) {
        SV* text = sv_new_from_bytes(gcb, nullptr, 0);
        flag_names(gcb, text, o->op_flags);
        names_line(gcb, inner, stream, "FLAGS", text);
        sv_release(gcb, text);
    }
    if (o->op_private) {
        SV* text = sv_new_from_bytes(gcb, nullptr, 0);
        private_names(gcb, text, o);
        if (has_names(text))
            names_line(gcb, inner, stream, "PRIVATE", text);
        sv_release(gcb, text);
    }
    switch (o->op_type) {
    case OP_CONST:
    case OP_METHOD_NAMED:
        dump_indented_line(gcb, inner, stream, "SV = %s\n", "");
        break;
    case OP_GVSV:
    case OP_GV:
    case OP_AELEMFAST:
        glob_line(gcb, inner, stream, sv_as<GV>(op_value_sv(o)));
        break;
    case OP_PUSHRE:
    case OP_MATCH:
    case OP_QR:
    case OP_SUBST:
        dump_pattern_op(gcb, inner, stream, o);
        break;
    case OP_NEXTSTATE:
    case OP_DBSTATE:
    case OP_SETSTATE: {
        COP* cop = reinterpret_cast<COP*>(o);
        if (cop->cop_line)
            dump_indented_line(gcb, inner, stream, "LINE = %d\n", static_cast<int32_t>(cop->cop_line));
        if (const char* pkg = package_name(cop->cop_stash))
            dump_indented_line(gcb, inner, stream, "PACKAGE = \"%s\"\n", pkg);
        if (cop->cop_label)
            dump_indented_line(gcb, inner, stream, "LABEL = \"%s\"\n", cop->cop_label);
        break;
    }
    case OP_ENTERLOOP: {
        op_loop* lp = reinterpret_cast<op_loop*>(o);
        jump_line(gcb, inner, stream, "REDO ===> ", lp->op_redoop);
        jump_line(gcb, inner, stream, "NEXT ===> ", lp->op_nextop);
        jump_line(gcb, inner, stream, "LAST ===> ", lp->op_lastop);
        break;
    }
    case OP_GREPWHILE:
    case OP_MAPWHILE:
    case OP_RANGE:
    case OP_AND:
    case OP_OR:
    case OP_COND_EXPR:
        jump_line(gcb, inner, stream, "OTHER ===> ", reinterpret_cast<op_logical*>(o)->op_other);
        break;
    case OP_LEAVESUB:
    case OP_LEAVESUBLV:
    case OP_LEAVE:
    case OP_SCOPE:
    case OP_LEAVEWRITE:
    case OP_LEAVEEVAL:
        if (o->op_private & OPpREFCOUNTED)
            dump_indented_line(gcb, inner, stream, "REFCNT = %lu\n", static_cast<unsigned long>(o->op_targ));
        break;
    default:
        break;
    }
    if (op_has_kids(o))
        for (OP* kid = op_first_kid(o); kid; kid = kid->op_sibling)
            dump_op_tree(gcb, inner, stream, kid);
    dump_indented_line(gcb, level, stream, "}\n");
}

void dump_pattern_op(PERLGCB* gcb, int32_t level, PrxStream stream, OP* o)
{
    if (!o) {
        dump_indented_line(gcb, level, stream, "{}\n");
        return;
    }
    op_pattern* pm = reinterpret_cast<op_pattern*>(o);
    int32_t inner = level + 1;
    dump_indented_line(gcb, level, stream, "{\n");
    char delim = (pm->op_pmflags & PMf_ONCE_BIT) ? '?' : '/';
    re_compiled* rx = pm->op_pmregexp;
    if (rx)
        dump_indented_line(gcb, inner, stream, "PMf_PRE %c%s%c%s\n", delim, rx->pattern_text, delim,
                           (o->op_private & 0x40) ? " (RUNTIME)" : "");
    else
        dump_indented_line(gcb, inner, stream, "PMf_PRE (RUNTIME)\n");
    if (o->op_type != OP_PUSHRE && pm->op_pmreplroot) {
        dump_indented_line(gcb, inner, stream, "PMf_REPL = ");
        dump_op_tree_debug(gcb, pm->op_pmreplroot);
    }
    SV* check = rx && rx->substrings ? rx->substrings[RE_SUBSTR_CHECK].substr : nullptr;
    if (pm->op_pmflags || check) {
        SV* text = sv_new_from_bytes(gcb, nullptr, 0);
        add_names(gcb, text, pm->op_pmdynflags, {{0x01, "USED"}, {0x02, "TAINTED"}});
        if (pm->op_pmflags & PMf_ONCE_BIT)
            add_name(gcb, text, "ONCE");
        if (check && !(rx->analysis_flags & REA_NOSCAN))
            add_name(gcb, text, "SCANFIRST");
        if (check && (rx->analysis_flags & REA_CHECK_ALL))
            add_name(gcb, text, "ALL");
        static constexpr struct {
            uint16_t bit;
            const char* name;
        } names[] = {{0x0010, "SKIPWHITE"}, {0x0040, "CONST"},    {0x0080, "KEEP"}, {0x0100, "GLOBAL"},
                     {0x0200, "CONTINUE"},  {0x0001, "RETAINT"}, {0x0400, "EVAL"}};
        for (const auto& n : names)
            if (pm->op_pmflags & n.bit)
                add_name(gcb, text, n.name);
        names_line(gcb, inner, stream, "PMFLAGS", text);
        sv_release(gcb, text);
    }
    dump_indented_line(gcb, level, stream, "}\n");
}

void dump_op_tree_debug(PERLGCB* gcb, OP* o) { dump_op_tree(gcb, 0, debug_stream(), o); }

void dump_pattern_op_debug(PERLGCB* gcb, OP* o) { dump_pattern_op(gcb, 0, debug_stream(), o); }

void dump_eval_tree(PERLGCB* gcb) { dump_op_tree_debug(gcb, gcb->eval_root); }

namespace {

// "\nSUB name = " or "\nFORMAT name = " with the glob's full name.
void named_head(PERLGCB* gcb, const char* what, GV* gv)
{
    SV* name = sv_new_temporary(gcb);
    gv_qualified_name_with_main(gcb, name, gv, nullptr);
    dump_indented_line(gcb, 0, debug_stream(), "\n%s %s = ", what, sv_pv(name));
}

}  // namespace

void dump_named_sub(PERLGCB* gcb, GV* gv)
{
    named_head(gcb, "SUB", gv);
    CV* cv = gv_gp(gv)->gp_cv;
    PVCV* body = static_cast<PVCV*>(cv->any);
    if (body->xsub)
        dump_indented_line(gcb, 0, debug_stream(), "(xsub 0x%lx %d)\n", reinterpret_cast<unsigned long>(body->xsub),
                           static_cast<int32_t>(body->xsubany));
    else if (body->root)
        dump_op_tree_debug(gcb, body->root);
    else
        dump_indented_line(gcb, 0, debug_stream(), "<undef>\n");
}

void dump_named_format(PERLGCB* gcb, GV* gv)
{
    named_head(gcb, "FORMAT", gv);
    CV* form = gv_gp(gv)->gp_form;
    PVFM* body = static_cast<PVFM*>(form->any);
    if (body->root)
        dump_op_tree_debug(gcb, body->root);
    else
        dump_indented_line(gcb, 0, debug_stream(), "<undef>\n");
}

void dump_package_subs(PERLGCB* gcb, HV* stash)
{
    stack_check(gcb);
    PVHV* body = hv_body(stash);
    if (!body->array)
        return;
    for (uint64_t i = 0; i <= body->max; i++) {
        for (hash_entry* he = body->array[i]; he; he = he->next) {
            SV* sv = hv_entry_value(gcb, stash, he);
            if (!sv_is_glob(sv))
                continue;
            GV* gv = sv_as<GV>(sv);
            GP* gp = gv_gp(gv);
            if (!gp)
                continue;
            if (gp->gp_cv && gp->gp_cvgen == 0)
                dump_named_sub(gcb, gv);
            if (gp->gp_form)
                dump_named_format(gcb, gv);
            int32_t klen = 0;
            const char* key = hv_entry_key(gcb, he, &klen);
            HV* nested = gp->gp_hv;
            if (klen > 0 && key[klen - 1] == ':' && nested && hv_body(nested)->name && nested != gcb->main_stash)
                dump_package_subs(gcb, nested);
        }
    }
}

void dump_program(PERLGCB* gcb)
{
    prx_setvbuf(debug_stream(), nullptr, 0x40, 0);
    if (gcb->main_root)
        dump_op_tree_debug(gcb, gcb->main_root);
    dump_package_subs(gcb, gcb->main_stash);
}
