// Debug dumps of values and of their magic chains: the quoted display of a
// byte string, the one-line description of a value, and the multi-line dump
// of a value's head, flags and body fields, following the values it refers
// to down to a nesting limit.
#include "prxdump.h"

#include <cstring>
#include <initializer_list>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxlibc.h"
#include "prxmg.h"
#include "prxop.h"
#include "prxpad.h"
#include "prxsv.h"

namespace {

// The debug stream of the entries without a stream argument.
PrxStream debug_stream() { return static_cast<PrxStream>(prx_return_one()); }

// A byte is printable when the host's class table gives it any of the
// letter, digit, punctuation or blank classes.
bool printable(uint8_t c) { return (host_cclass(c) & 0x37) != 0; }

// The dump formats read "%lx" and "%ld" as 32-bit numbers.
uint32_t hex(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }
uint32_t hexu(uint64_t v) { return static_cast<uint32_t>(v); }
int32_t dec(int64_t v) { return static_cast<int32_t>(v); }

// Code-value flags the dump names beside those of prxpad.h.
constexpr uint16_t CVf_NODEBUG = 0x20;
constexpr uint16_t CVf_METHOD = 0x40;
// Glob flag of a glob that lives in a pad.
constexpr uint8_t GVf_IN_PAD = 0x08;

struct flag_name {
    uint32_t bit;
    const char* name;
};

void add_flags(PERLGCB* gcb, SV* d, uint32_t flags, std::initializer_list<flag_name> names)
{
    for (const flag_name& n : names)
        if (flags & n.bit) {
            sv_append_cstring(gcb, d, n.name);
            sv_append_bytes(gcb, d, ",", 1);
        }
}

// The text of the FLAGS line, in its fixed order.
void flags_text(PERLGCB* gcb, SV* d, SV* sv)
{
    uint32_t flags = sv->flags;
    uint32_t type = sv_type(sv);
    add_flags(gcb, d, flags,
              {{SVs_PADBUSY, "PADBUSY"}, {SVs_PADTMP, "PADTMP"}, {SVs_PADMY, "PADMY"}, {SVs_TEMP, "TEMP"},
               {SVs_OBJECT, "OBJECT"}, {SVs_GMG, "GMG"}, {SVs_SMG, "SMG"}, {SVs_RMG, "RMG"}, {SVf_IOK, "IOK"},
               {SVf_NOK, "NOK"}, {SVf_POK, "POK"}});
    if (flags & SVf_ROK) {
        sv_append_cstring(gcb, d, "ROK,");
        if (flags & SVf_WEAKREF)
            sv_append_cstring(gcb, d, "WEAKREF,");
    }
    add_flags(gcb, d, flags,
              {{SVf_OOK, "OOK"}, {SVf_FAKE, "FAKE"}, {SVf_READONLY, "READONLY"}, {SVf_OVERLOAD, "OVERLOAD"},
               {SVp_IOK, "pIOK"}, {SVp_NOK, "pNOK"}, {SVp_POK, "pPOK"}, {SVp_SCREAM, "SCREAM"}});
    switch (type) {
    case SVt_PVBM:
        add_flags(gcb, d, flags, {{SVf_TAIL, "TAIL"}, {SVf_VALID, "VALID"}});
        return;
    case SVt_PVHV:
        add_flags(gcb, d, flags, {{SVf_SHAREKEYS, "SHAREKEYS"}, {SVf_LAZYDEL, "LAZYDEL"}});
        return;
    case SVt_PVCV:
    case SVt_PVFM: {
        uint16_t cvflags = static_cast<PVCV*>(sv->any)->cvflags;
        add_flags(gcb, d, cvflags,
                  {{CVf_ANON, "ANON"}, {CVf_UNIQUE, "UNIQUE"}, {CVf_CLONE, "CLONE"}, {CVf_CLONED, "CLONED"},
                   {CVf_NODEBUG, "NODEBUG"}});
        add_flags(gcb, d, flags, {{SVf_COMPILED, "COMPILED"}});
        add_flags(gcb, d, cvflags, {{CVf_LVALUE, "LVALUE"}, {CVf_METHOD, "METHOD"}});
        return;
    }
    case SVt_PVGV: {
        uint8_t gvflags = gv_body(sv_as<GV>(sv))->gvflags;
        add_flags(gcb, d, gvflags,
                  {{GVf_INTRO, "INTRO"}, {GVf_MULTI, "MULTI"}, {GVf_ASSUMECV, "ASSUMECV"}, {GVf_IN_PAD, "IN_PAD"}});
        if (gvflags & GVf_IMPORT) {
            sv_append_cstring(gcb, d, "IMPORT");
            if ((gvflags & GVf_IMPORT) == GVf_IMPORT) {
                sv_append_cstring(gcb, d, "ALL,");
            } else {
                sv_append_cstring(gcb, d, "(");
                if (gvflags & GVf_IMPORT_SV)
                    sv_append_cstring(gcb, d, " SV");
                if (gvflags & GVf_IMPORT_AV)
                    sv_append_cstring(gcb, d, " AV");
                if (gvflags & GVf_IMPORT_HV)
                    sv_append_cstring(gcb, d, " HV");
                if (gvflags & GVf_IMPORT_CV)
                    sv_append_cstring(gcb, d, " CV");
                sv_append_cstring(gcb, d, " ),");
            }
        }
        break;
    }
    default:
        break;
    }
    add_flags(gcb, d, flags, {{SVf_EVALED, "EVALED"}});
    // With ROK the bit is the weak-reference mark, named above.
    if ((flags & SVf_IsUV) && !(flags & SVf_ROK))
        sv_append_cstring(gcb, d, "IsUV,");
    if (flags & SVf_UTF8)
        sv_append_cstring(gcb, d, "UTF8");
}

constexpr const char* TYPE_LINES[16] = {"NULL%s\n", "IV%s\n",   "NV%s\n",   "RV%s\n",   "PV%s\n",   "PVIV%s\n",
                                        "PVNV%s\n", "PVMG%s\n", "PVBM%s\n", "PVLV%s\n", "PVAV%s\n", "PVHV%s\n",
                                        "PVCV%s\n", "PVGV%s\n", "PVFM%s\n", "PVIO%s\n"};

void dump_array(PERLGCB* gcb, int32_t level, PrxStream stream, AV* av, int32_t nest, int32_t maxnest, int32_t dumpops,
                uint64_t limit)
{
    PVAV* b = av_body(av);
    dump_indented_line(gcb, level, stream, "  ARRAY = 0x%lx", hex(b->array));
    if (b->array != b->alloc) {
        prx_fprintf(stream, " (offset=%ld)\n", dec(b->array - b->alloc));
        dump_indented_line(gcb, level, stream, "  ALLOC = 0x%lx\n", hex(b->alloc));
    } else {
        prx_fputc('\n', stream);
    }
    dump_indented_line(gcb, level, stream, "  FILL = %ld\n", b->fill);
    dump_indented_line(gcb, level, stream, "  MAX = %ld\n", b->max);
    dump_indented_line(gcb, level, stream, "  ARYLEN = 0x%lx\n", hex(b->arylen));
    SV* names = sv_new_from_bytes(gcb, nullptr, 0);
    add_flags(gcb, names, b->avflags, {{AVf_REAL, "REAL"}, {AVf_REIFY, "REIFY"}, {AVf_REUSED, "REUSED"}});
    if (sv_cur(names) && sv_pv(names)[sv_cur(names) - 1] == ',')
        sv_pv(names)[--sv_cur(names)] = 0;
    dump_indented_line(gcb, level, stream, "  FLAGS = (%s)\n", sv_pv(names));
    sv_release(gcb, names);
    int32_t high = av_highest_index(gcb, av);
    if (nest < maxnest && high >= 0) {
        for (int32_t i = 0; i < maxnest && i <= high; i++) {
            dump_indented_line(gcb, level + 1, stream, "Elt No. %ld\n", i);
            SV** elt = av_fetch_element(gcb, av, i, 0);
            if (elt)
                dump_value_full(gcb, level + 1, stream, *elt, nest + 1, maxnest, dumpops, limit);
        }
    }
}

void dump_hash(PERLGCB* gcb, int32_t level, PrxStream stream, HV* hv, int32_t nest, int32_t maxnest, int32_t dumpops,
               uint64_t limit)
{
    PVHV* b = hv_body(hv);
    dump_indented_line(gcb, level, stream, "  ARRAY = 0x%lx", hex(b->array));
    if (b->array && b->keys) {
        // How long the bucket chains are, and how far that is from an
        // even spread of the keys.
        constexpr int32_t FREQ_MAX = 199;
        int32_t freq[FREQ_MAX + 1] = {};
        int32_t longest = 0;
        prx_fputs("  (", stream);
        for (uint64_t i = 0; i <= b->max; i++) {
            int32_t count = 0;
            for (hash_entry* he = b->array[i]; he; he = he->next)
                if (count < FREQ_MAX)
                    count++;
            freq[count]++;
            if (longest < count)
                longest = count;
        }
        for (int32_t i = 0; i <= longest; i++) {
            if (!freq[i])
                continue;
            prx_fprintf(stream, "%d%s:%d", i, i == FREQ_MAX ? "+" : "", freq[i]);
            if (i != longest)
                prx_fputs(", ", stream);
        }
        prx_fputc(')', stream);
        double sum = 0;
        for (int32_t i = longest; i > 0; i--)
            sum += static_cast<double>(freq[i]) * i * i;
        uint64_t keys = static_cast<uint64_t>(b->keys);
        double pow2 = 2;
        while ((keys >>= 1) != 0)
            pow2 *= 2;
        double expected = static_cast<double>(b->keys);
        expected += expected * expected / pow2;
        prx_fputc('\n', stream);
        dump_indented_line(gcb, level, stream, "  hash quality = %.1f%%", expected / sum * 100);
    }
    prx_fputc('\n', stream);
    dump_indented_line(gcb, level, stream, "  KEYS = %ld\n", dec(b->keys));
    dump_indented_line(gcb, level, stream, "  FILL = %ld\n", dec(static_cast<int64_t>(b->fill)));
    dump_indented_line(gcb, level, stream, "  MAX = %ld\n", dec(static_cast<int64_t>(b->max)));
    dump_indented_line(gcb, level, stream, "  RITER = %ld\n", b->riter);
    dump_indented_line(gcb, level, stream, "  EITER = 0x%lx\n", hex(b->eiter));
    if (b->pmroot)
        dump_indented_line(gcb, level, stream, "  PMROOT = 0x%lx\n", hex(b->pmroot));
    if (b->name)
        dump_indented_line(gcb, level, stream, "  NAME = \"%s\"\n", b->name);
    if (nest < maxnest && !b->eiter) {
        // The walk uses the hash's own iterator and starts it again at the
        // end, leaving the hash as it was.
        SV* key = sv_new_from_bytes(gcb, nullptr, 0);
        int32_t count = maxnest - nest;
        hv_iter_start(gcb, hv);
        hash_entry* he;
        while (count-- > 0 && (he = hv_iter_advance(gcb, hv)) != nullptr) {
            int32_t klen = 0;
            const char* k = hv_entry_key(gcb, he, &klen);
            SV* value = hv_entry_value(gcb, hv, he);
            dump_indented_line(gcb, level + 1, stream, "Elt %s HASH = 0x%lx\n",
                               dump_quote_string(gcb, key, k, static_cast<uint64_t>(klen < 0 ? 0 : klen), 0, limit),
                               he->key->hash);
            dump_value_full(gcb, level + 1, stream, value, nest + 1, maxnest, dumpops, limit);
        }
        hv_iter_start(gcb, hv);
        sv_release(gcb, key);
    }
}

// The name the OUTSIDE line gives a code value.
const char* outside_name(PERLGCB* gcb, CV* cv)
{
    if (!cv)
        return "null";
    PVCV* b = cv_body(cv);
    if (b->cvflags & CVf_ANON)
        return "ANON";
    if (cv == gcb->main_cv)
        return "MAIN";
    if (b->cvflags & CVf_UNIQUE)
        return "UNIQUE";
    if (b->gv && gv_body(b->gv)->name)
        return gv_body(b->gv)->name;
    return "UNDEFINED";
}

void dump_code(PERLGCB* gcb, int32_t level, PrxStream stream, SV* sv, int32_t nest, int32_t maxnest, int32_t dumpops,
               uint64_t limit)
{
    bool is_format = sv_type(sv) == SVt_PVFM;
    PVCV* b = static_cast<PVCV*>(sv->any);
    if (!is_format && (sv->flags & SVf_POK))
        dump_indented_line(gcb, level, stream, "  PROTOTYPE = \"%s\"\n", sv_pv(sv));
    dump_hash_name_line(gcb, level, stream, "  COMP_STASH", b->comp_stash);
    if (b->start)
        dump_indented_line(gcb, level, stream, "  START = 0x%lx ===> %ld\n", hex(b->start),
                           static_cast<int32_t>(b->start->op_seq));
    dump_indented_line(gcb, level, stream, "  ROOT = 0x%lx\n", hex(b->root));
    if (b->root && dumpops)
        dump_op_tree(gcb, level + 1, stream, b->root);
    dump_indented_line(gcb, level, stream, "  XSUB = 0x%lx\n", hex(b->xsub));
    dump_indented_line(gcb, level, stream, "  XSUBANY = %ld\n", dec(b->xsubany));
    dump_glob_name_line(gcb, level, stream, "  GVGV::GV", b->gv);
    dump_indented_line(gcb, level, stream, "  FILE = \"%s\"\n", b->file);
    dump_indented_line(gcb, level, stream, "  DEPTH = %ld\n", b->depth);
    dump_indented_line(gcb, level, stream, "  FLAGS = 0x%lx\n", static_cast<uint32_t>(b->cvflags));
    if (is_format)
        dump_indented_line(gcb, level, stream, "  LINES = %ld\n", static_cast<PVFM*>(sv->any)->lines);
    dump_indented_line(gcb, level, stream, "  PADLIST = 0x%lx\n", hex(b->padlist));
    if (nest < maxnest && b->padlist) {
        SV** namesp = av_fetch_element(gcb, b->padlist, 0, 0);
        SV** padp = av_fetch_element(gcb, b->padlist, 1, 0);
        AV* names = namesp && *namesp ? sv_as<AV>(*namesp) : nullptr;
        AV* pad = padp && *padp ? sv_as<AV>(*padp) : nullptr;
        int32_t high = names ? ((as_sv(names)->flags & SVs_RMG) ? av_highest_index(gcb, names) : av_body(names)->fill)
                             : -1;
        for (int32_t ix = 1; ix <= high; ix++) {
            SV* name = av_body(names)->array[ix];
            if (!name || !(name->flags & SVf_POK))
                continue;
            SV* entry = pad && ix <= av_body(pad)->fill ? av_body(pad)->array[ix] : nullptr;
            // A name's scope: valid-from in its number, valid-to in its integer.
            double from = sv_type(name) >= SVt_PVNV ? sv_nv(name) : 0.0;
            int64_t to = sv_type(name) >= SVt_PVIV ? sv_iv(name) : 0;
            dump_indented_line(gcb, level, stream, "%5d. 0x%lx (%s\"%s\" %ld-%ld)\n", ix, hex(entry),
                               (name->flags & SVf_FAKE) ? "FAKE " : "", sv_pv(name), static_cast<int32_t>(from), dec(to));
        }
    }
    CV* outside = b->outside;
    dump_indented_line(gcb, level, stream, "  OUTSIDE = 0x%lx (%s)\n", hex(outside), outside_name(gcb, outside));
    if (nest < maxnest && (b->cvflags & (CVf_CLONE | CVf_CLONED)))
        dump_value_full(gcb, level + 1, stream, as_sv(outside), nest + 1, maxnest, dumpops, limit);
}

void dump_glob(PERLGCB* gcb, int32_t level, PrxStream stream, GV* gv)
{
    PVGV* b = gv_body(gv);
    dump_indented_line(gcb, level, stream, "  NAME = \"%s\"\n", b->name);
    dump_indented_line(gcb, level, stream, "  NAMELEN = %ld\n", dec(static_cast<int64_t>(b->namelen)));
    dump_hash_name_line(gcb, level, stream, "  GvSTASH", b->gvstash);
    dump_indented_line(gcb, level, stream, "  GP = 0x%lx\n", hex(b->gp));
    GP* gp = b->gp;
    if (!gp)
        return;
    dump_indented_line(gcb, level, stream, "    SV = 0x%lx\n", hex(gp->gp_sv));
    dump_indented_line(gcb, level, stream, "    REFCNT = %ld\n", static_cast<int32_t>(gp->gp_refcnt));
    dump_indented_line(gcb, level, stream, "    IO = 0x%lx\n", hex(gp->gp_io));
    dump_indented_line(gcb, level, stream, "    FORM = 0x%lx  \n", hex(gp->gp_form));
    dump_indented_line(gcb, level, stream, "    AV = 0x%lx\n", hex(gp->gp_av));
    dump_indented_line(gcb, level, stream, "    HV = 0x%lx\n", hex(gp->gp_hv));
    dump_indented_line(gcb, level, stream, "    CV = 0x%lx\n", hex(gp->gp_cv));
    dump_indented_line(gcb, level, stream, "    CVGEN = 0x%lx\n", gp->gp_cvgen);
    dump_indented_line(gcb, level, stream, "    GPFLAGS = 0x%lx\n", gp->gp_flags);
    dump_indented_line(gcb, level, stream, "    LINE = %ld\n", static_cast<int32_t>(gp->gp_line));
    dump_indented_line(gcb, level, stream, "    FILE = \"%s\"\n", gp->gp_file);
    dump_indented_line(gcb, level, stream, "    FLAGS = 0x%lx\n", static_cast<uint32_t>(b->gvflags));
    dump_glob_short_name_line(gcb, level, stream, "    EGV", gp->gp_egv);
}

void dump_handle(PERLGCB* gcb, int32_t level, PrxStream stream, IO* io)
{
    PVIO* b = io_body(io);
    dump_indented_line(gcb, level, stream, "  IFP = 0x%lx\n", hexu(static_cast<uint64_t>(b->ifp)));
    dump_indented_line(gcb, level, stream, "  OFP = 0x%lx\n", hexu(static_cast<uint64_t>(b->ofp)));
    dump_indented_line(gcb, level, stream, "  DIRP = 0x%lx\n", hex(b->dirp));
    dump_indented_line(gcb, level, stream, "  LINES = %ld\n", b->lines);
    dump_indented_line(gcb, level, stream, "  PAGE = %ld\n", b->page);
    dump_indented_line(gcb, level, stream, "  PAGE_LEN = %ld\n", b->page_len);
    dump_indented_line(gcb, level, stream, "  LINES_LEFT = %ld\n", b->lines_left);
    if (b->top_name)
        dump_indented_line(gcb, level, stream, "  TOP_NAME = \"%s\"\n", b->top_name);
    dump_glob_short_name_line(gcb, level, stream, "  TOP_GV", b->top_gv);
    if (b->fmt_name)
        dump_indented_line(gcb, level, stream, "  FMT_NAME = \"%s\"\n", b->fmt_name);
    dump_glob_short_name_line(gcb, level, stream, "  FMT_GV", b->fmt_gv);
    if (b->bottom_name)
        dump_indented_line(gcb, level, stream, "  BOTTOM_NAME = \"%s\"\n", b->bottom_name);
    dump_glob_short_name_line(gcb, level, stream, "  BOTTOM_GV", b->bottom_gv);
    dump_indented_line(gcb, level, stream, "  SUBPROCESS = %ld\n", static_cast<int32_t>(b->subprocess));
    uint8_t type = static_cast<uint8_t>(b->type);
    if (printable(type))
        dump_indented_line(gcb, level, stream, "  TYPE = '%c'\n", static_cast<int32_t>(type));
    else
        dump_indented_line(gcb, level, stream, "  TYPE = '\\%o'\n", static_cast<uint32_t>(type));
    dump_indented_line(gcb, level, stream, "  FLAGS = 0x%lx\n", static_cast<uint32_t>(b->ioflags));
}

}  // namespace

const char* dump_quote_string(PERLGCB* gcb, SV* dest, const char* bytes, uint64_t cur, uint64_t len, uint64_t limit)
{
    const uint8_t* p = reinterpret_cast<const uint8_t*>(bytes);
    bool nul_terminated = len > cur && p && p[cur] == 0;
    bool truncated = false;
    sv_set_bytes(gcb, dest, "\"", 1);
    for (uint64_t i = 0; i < cur; i++) {
        if (limit && sv_cur(dest) >= limit) {
            truncated = true;
            break;
        }
        uint8_t c = p[i];
        if (printable(c)) {
            switch (c) {
            case '\t':
                sv_append_bytes(gcb, dest, "\\t", 2);
                break;
            case '\n':
                sv_append_bytes(gcb, dest, "\\n", 2);
                break;
            case '\r':
                sv_append_bytes(gcb, dest, "\\r", 2);
                break;
            case '\f':
                sv_append_bytes(gcb, dest, "\\f", 2);
                break;
            case '"':
                sv_append_bytes(gcb, dest, "\\\"", 2);
                break;
            case '\\':
                sv_append_bytes(gcb, dest, "\\\\", 2);
                break;
            default:
                sv_append_bytes(gcb, dest, bytes + i, 1);
                break;
            }
        } else if (i + 1 < cur && host_is_digit(p[i + 1])) {
            // Three digits, so that the digit after it is not read as part
            // of the number.
            sv_append_formatted(gcb, dest, "\\%03o", static_cast<uint32_t>(c));
        } else {
            sv_append_formatted(gcb, dest, "\\%o", static_cast<uint32_t>(c));
        }
    }
    sv_append_bytes(gcb, dest, "\"", 1);
    if (truncated)
        sv_append_bytes(gcb, dest, "...", 3);
    if (nul_terminated)
        sv_append_bytes(gcb, dest, "\\0", 2);
    return sv_pv(dest);
}

const char* dump_value_brief(PERLGCB* gcb, SV* sv)
{
    SV* t = sv_new_temporary(gcb);
    sv_set_bytes(gcb, t, "", 0);
    int32_t unref = 0;
    for (;;) {
        if (!sv) {
            sv_append_cstring(gcb, t, "VOID");
            break;
        }
        if (reinterpret_cast<uintptr_t>(sv) == 0x55555555u || sv_type(sv) == 'U') {
            sv_append_cstring(gcb, t, "WILD");
            break;
        }
        uint32_t flags = sv->flags;
        if (sv_is_immortal(gcb, sv)) {
            // An immortal in its state as made is named alone.
            constexpr uint32_t ANY_VALUE = 0x72FF000;
            constexpr uint32_t ANY_REF_OR_MAGIC = 0x28F000;
            constexpr uint32_t CONSTANT = 0x6860000;
            bool pristine;
            if (sv == &gcb->sv_undef) {
                sv_append_cstring(gcb, t, "SV_UNDEF");
                pristine = !(flags & ANY_VALUE) && (flags & SVf_READONLY);
            } else if (sv == &gcb->sv_no) {
                sv_append_cstring(gcb, t, "SV_NO");
                pristine = !(flags & ANY_REF_OR_MAGIC) && (flags & CONSTANT) == CONSTANT && sv_cur(sv) == 0 &&
                           sv_nv(sv) == 0.0;
            } else {
                sv_append_cstring(gcb, t, "SV_YES");
                pristine = !(flags & ANY_REF_OR_MAGIC) && (flags & CONSTANT) == CONSTANT && sv_cur(sv) == 1 &&
                           sv_pv(sv) && sv_pv(sv)[0] == '1' && sv_nv(sv) == 1.0;
            }
            if (pristine)
                break;
            sv_append_cstring(gcb, t, ":");
        } else if (sv->refcnt == 0) {
            sv_append_cstring(gcb, t, "(");
            unref++;
        }
        if (flags & SVf_ROK) {
            sv_append_cstring(gcb, t, "\\");
            if (sv_cur(t) + static_cast<uint64_t>(unref) > 10) {
                sv_cur(t) = static_cast<uint64_t>(unref) + 3;
                sv_pv(t)[sv_cur(t)] = 0;
                sv_append_cstring(gcb, t, "...");
                break;
            }
            sv = sv_rv(sv);
            continue;
        }
        uint32_t type = sv_type(sv);
        static constexpr const char* WORDS[16] = {"UNDEF", "IV", "NV", "RV", "PV", "PVIV", "PVNV", "PVMG",
                                                  "BM",    "PVLV", "AV", "HV", "CV", "GV", "FM",  "IO"};
        if (type > SVt_PVIO) {
            sv_append_cstring(gcb, t, "FREED");
            break;
        }
        if (type == SVt_NULL) {
            sv_append_cstring(gcb, t, "UNDEF");
            break;
        }
        if (type == SVt_PVCV) {
            GV* gv = cv_body(sv_as<CV>(sv))->gv;
            if (gv)
                sv_append_formatted(gcb, t, "CV(%s)", gv_body(gv)->name);
            else
                sv_append_cstring(gcb, t, "CV()");
            break;
        }
        sv_append_cstring(gcb, t, WORDS[type]);
        if (flags & SVp_POK) {
            if (!sv_pv(sv)) {
                sv_append_cstring(gcb, t, "(null)");
            } else {
                SV* tmp = sv_new_from_bytes(gcb, nullptr, 0);
                sv_append_cstring(gcb, t, "(");
                if (flags & SVf_OOK) {
                    uint64_t offset = static_cast<uint64_t>(sv_iv(sv));
                    sv_append_formatted(gcb, t, "[%s]",
                                        dump_quote_string(gcb, tmp, sv_pv(sv) - offset, offset, 0, 127));
                }
                sv_append_formatted(gcb, t, "%s)", dump_quote_string(gcb, tmp, sv_pv(sv), sv_cur(sv), sv_len(sv), 127));
                sv_release(gcb, tmp);
            }
        } else if (flags & SVp_NOK) {
            sv_append_formatted(gcb, t, "(%g)", sv_nv(sv));
        } else if (flags & SVp_IOK) {
            if (flags & SVf_IsUV)
                sv_append_formatted(gcb, t, "(%lu)", static_cast<uint32_t>(sv_uv(sv)));
            else
                sv_append_formatted(gcb, t, "(%ld)", dec(sv_iv(sv)));
        } else {
            sv_append_cstring(gcb, t, "()");
        }
        break;
    }
    while (unref-- > 0)
        sv_append_cstring(gcb, t, ")");
    return sv_pv(t);
}

void dump_value_full(PERLGCB* gcb, int32_t level, PrxStream stream, SV* sv, int32_t nest, int32_t maxnest,
                     int32_t dumpops, uint64_t limit)
{
    if (!sv) {
        dump_indented_line(gcb, level, stream, "SV = 0\n");
        return;
    }
    uint32_t flags = sv->flags;
    uint32_t type = sv_type(sv);
    int32_t indent = static_cast<int32_t>(static_cast<uint32_t>(gcb->dump_indent) * static_cast<uint32_t>(level));
    // The flags text; released on every way out.
    SV* d = sv_new_formatted(gcb, "(0x%lx) at 0x%lx\n%*s  REFCNT = %ld\n%*s  FLAGS = (", hex(sv->any), hex(sv),
                             indent, "", dec(sv->refcnt), indent, "");
    flags_text(gcb, d, sv);
    if (sv_cur(d) && sv_pv(d)[sv_cur(d) - 1] == ',')
        sv_pv(d)[--sv_cur(d)] = 0;
    sv_append_cstring(gcb, d, ")");

    dump_indented_line(gcb, level, stream, "SV = ");
    if (type > SVt_PVIO) {
        prx_fprintf(stream, "UNKNOWN(0x%lx) %s\n", type, sv_pv(d));
        sv_release(gcb, d);
        return;
    }
    prx_fprintf(stream, TYPE_LINES[type], sv_pv(d));
    sv_release(gcb, d);
    if (type == SVt_NULL)
        return;

    if (type == SVt_IV || type >= SVt_PVIV) {
        if (flags & SVf_IsUV)
            dump_indented_line(gcb, level, stream, "  UV = %lu", static_cast<uint32_t>(sv_uv(sv)));
        else
            dump_indented_line(gcb, level, stream, "  IV = %ld", dec(sv_iv(sv)));
        if (flags & SVf_OOK)
            prx_fputs("  (OFFSET)", stream);
        prx_fputc('\n', stream);
    }
    if (type == SVt_NV || type >= SVt_PVNV)
        dump_indented_line(gcb, level, stream, "  NV = %.*g\n", 15, sv_nv(sv));
    if (flags & SVf_ROK) {
        dump_indented_line(gcb, level, stream, "  RV = 0x%lx\n", hex(sv_rv(sv)));
        if (nest < maxnest)
            dump_value_full(gcb, level + 1, stream, sv_rv(sv), nest + 1, maxnest, dumpops, limit);
        return;
    }
    if (type < SVt_PV)
        return;
    if (type <= SVt_PVLV) {
        if (sv_pv(sv)) {
            SV* shown = sv_new_from_bytes(gcb, nullptr, 0);
            dump_indented_line(gcb, level, stream, "  PV = 0x%lx ", hex(sv_pv(sv)));
            if (flags & SVf_OOK) {
                uint64_t offset = static_cast<uint64_t>(sv_iv(sv));
                prx_fprintf(stream, "( %s . ) ", dump_quote_string(gcb, shown, sv_pv(sv) - offset, offset, 0, limit));
            }
            prx_fprintf(stream, "%s\n", dump_quote_string(gcb, shown, sv_pv(sv), sv_cur(sv), sv_len(sv), limit));
            sv_release(gcb, shown);
            dump_indented_line(gcb, level, stream, "  CUR = %ld\n", dec(static_cast<int64_t>(sv_cur(sv))));
            dump_indented_line(gcb, level, stream, "  LEN = %ld\n", dec(static_cast<int64_t>(sv_len(sv))));
        } else {
            dump_indented_line(gcb, level, stream, "  PV = 0\n");
        }
    }
    if (type >= SVt_PVMG) {
        if (MAGIC* chain = sv_magic_chain(sv))
            dump_magic_chain(gcb, level, stream, chain, nest, maxnest, dumpops, limit);
        if (HV* stash = sv_stash(sv))
            dump_hash_name_line(gcb, level, stream, "  STASH", stash);
    }
    switch (type) {
    case SVt_PVLV: {
        PVLV* b = static_cast<PVLV*>(sv->any);
        dump_indented_line(gcb, level, stream, "  TYPE = %c\n", static_cast<int32_t>(b->type));
        dump_indented_line(gcb, level, stream, "  TARGOFF = %ld\n", dec(static_cast<int64_t>(b->targoff)));
        dump_indented_line(gcb, level, stream, "  TARGLEN = %ld\n", dec(static_cast<int64_t>(b->targlen)));
        dump_indented_line(gcb, level, stream, "  TARG = 0x%lx\n", hex(b->targ));
        // The target is shown whatever the nesting limit says.
        dump_value_full(gcb, level, stream, b->targ, nest + 1, maxnest, dumpops, limit);
        break;
    }
    case SVt_PVAV:
        dump_array(gcb, level, stream, sv_as<AV>(sv), nest, maxnest, dumpops, limit);
        break;
    case SVt_PVHV:
        dump_hash(gcb, level, stream, sv_as<HV>(sv), nest, maxnest, dumpops, limit);
        break;
    case SVt_PVCV:
    case SVt_PVFM:
        dump_code(gcb, level, stream, sv, nest, maxnest, dumpops, limit);
        break;
    case SVt_PVGV:
        dump_glob(gcb, level, stream, sv_as<GV>(sv));
        break;
    case SVt_PVIO:
        dump_handle(gcb, level, stream, sv_as<IO>(sv));
        break;
    default:
        break;
    }
}

void dump_value(PERLGCB* gcb, SV* sv) { dump_value_full(gcb, 0, debug_stream(), sv, 0, 0, 0, 0); }

void dump_magic_chain(PERLGCB* gcb, int32_t level, PrxStream stream, MAGIC* mg, int32_t nest, int32_t maxnest,
                      int32_t dumpops, uint64_t limit)
{
    for (; mg; mg = mg->next) {
        dump_indented_line(gcb, level, stream, "  MAGIC = 0x%lx\n", hex(mg));
        if (!mg->virt) {
            dump_indented_line(gcb, level, stream, "    MG_VIRTUAL = 0\n");
        } else {
            // Only this interpreter's own tables have names.
            const char* name = nullptr;
            for (int32_t row = 0; row < MAGIC_VTBL_COUNT; row++)
                if (mg->virt == &gcb->magic_vtbl[row]) {
                    name = mg_table_dump_name(row);
                    break;
                }
            if (name)
                dump_indented_line(gcb, level, stream, "    MG_VIRTUAL = &PL_vtbl_%s\n", name);
            else
                dump_indented_line(gcb, level, stream, "    MG_VIRTUAL = 0x%lx\n", hex(mg->virt));
        }
        if (mg->priv)
            dump_indented_line(gcb, level, stream, "    MG_PRIVATE = %d\n", static_cast<int32_t>(mg->priv));
        uint8_t type = static_cast<uint8_t>(mg->type);
        if (printable(type))
            dump_indented_line(gcb, level, stream, "    MG_TYPE = '%c'\n", static_cast<int32_t>(type));
        else
            dump_indented_line(gcb, level, stream, "    MG_TYPE = '\\%o'\n", static_cast<uint32_t>(type));
        if (mg->mgflags) {
            dump_indented_line(gcb, level, stream, "    MG_FLAGS = 0x%02X\n", static_cast<uint32_t>(mg->mgflags));
            if (mg->mgflags & 0x01)
                dump_indented_line(gcb, level, stream, "      TAINTEDDIR\n");
            if (mg->mgflags & 0x02)
                dump_indented_line(gcb, level, stream, "      REFCOUNTED\n");
            if (mg->mgflags & 0x04)
                dump_indented_line(gcb, level, stream, "      GSKIP\n");
            if (mg->mgflags & 0x01)
                dump_indented_line(gcb, level, stream, "      MINMATCH\n");
        }
        if (mg->obj) {
            dump_indented_line(gcb, level, stream, "    MG_OBJ = 0x%lx\n", hex(mg->obj));
            if (mg->mgflags & 0x02)
                dump_value_full(gcb, level + 2, stream, mg->obj, nest + 1, maxnest, dumpops, limit);
        }
        if (mg->len)
            dump_indented_line(gcb, level, stream, "    MG_LEN = %ld\n", mg->len);
        if (mg->ptr) {
            dump_indented_line(gcb, level, stream, "    MG_PTR = 0x%lx", hex(mg->ptr));
            if (mg->len >= 0) {
                // Allocated size 0: the display never claims a NUL after it.
                SV* shown = sv_new_from_bytes(gcb, nullptr, 0);
                prx_fprintf(stream, " %s",
                            dump_quote_string(gcb, shown, mg->ptr, static_cast<uint64_t>(mg->len), 0, limit));
                sv_release(gcb, shown);
                prx_fputc('\n', stream);
            } else if (mg->len == -2) {
                prx_fputs(" => HEf_SVKEY\n", stream);
                dump_value_full(gcb, level + 2, stream, reinterpret_cast<SV*>(mg->ptr), nest + 1, maxnest, dumpops,
                                limit);
                continue;
            } else {
                prx_fputs(" ???? - please notify VANTLE", stream);
                prx_fputc('\n', stream);
            }
        }
    }
}

void dump_magic_chain_debug(PERLGCB* gcb, MAGIC* mg) { dump_magic_chain(gcb, 0, debug_stream(), mg, 0, 0, 0, 0); }
