// UNIVERSAL::isa, can and VERSION with the inheritance search and its
// per-package cache, and the attributes built-ins for code references.
#include "prxuniversal.h"

#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxrun.h"
#include "prxsv.h"

namespace {

constexpr char CACHE_NAME[] = "::ISA::CACHE::";
constexpr int32_t CACHE_NAME_LEN = sizeof CACHE_NAME - 1;

// Code flags the attributes built-ins read and write.
constexpr uint16_t CODE_METHOD = 0x40;
constexpr uint16_t CODE_LOCKED = 0x80;
constexpr uint16_t CODE_LVALUE = 0x100;

// Names compare as blank-padded texts over their whole length.
bool names_equal(const char* a, const char* b)
{
    return xk_padcmp64(a, static_cast<int64_t>(std::strlen(a)), b, static_cast<int64_t>(std::strlen(b))) == 0;
}

inline const char* stash_name(HV* stash) { return hv_body(stash)->name; }

// The glob stored under key in stash, when the entry is a glob.
GV* stash_glob(PERLGCB* gcb, HV* stash, const char* key, int32_t klen)
{
    SV** svp = hv_fetch_str(gcb, stash, key, klen, 0);
    if (!svp || !*svp || *svp == &gcb->sv_undef || sv_type(*svp) != SVt_PVGV)
        return nullptr;
    return sv_as<GV>(*svp);
}

inline GP* gp_of(GV* gv) { return gv_gp(gv); }

const char* text_of(PERLGCB* gcb, SV* sv)
{
    uint64_t len = 0;
    return sv_text(gcb, sv, &len);
}

// A defined reference, or a string of at least one byte, after get magic.
bool usable_invocant(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
    if (!sv_ok(sv))
        return false;
    return (sv->flags & SVf_ROK) || ((sv->flags & SVf_POK) && sv_cur(sv) > 0);
}

double number_of(PERLGCB* gcb, SV* sv) { return (sv->flags & SVf_NOK) ? sv_nv(sv) : sv_to_double(gcb, sv); }

// Whether a version text is a plain number: scanning from its last byte
// back over digits, '.' and '_', no other byte is met before the first.
bool plain_version_text(PERLGCB* gcb, const char* s, uint64_t len)
{
    while (len) {
        --len;
        uint8_t c = static_cast<uint8_t>(s[len]);
        if (!host_is_digit(c) && c != '.' && c != '_')
            return len == 0;
    }
    (void)gcb;
    return true;
}

}  // namespace

SV* isa_search(PERLGCB* gcb, HV* stash, const char* name, int32_t len, int32_t level)
{
    if (!stash)
        return &gcb->sv_undef;
    if (names_equal(stash_name(stash), name))
        return &gcb->sv_yes;
    if (level > 100)
        fatal_error(gcb, "Recursive inheritance detected in package '%s'", stash_name(stash));

    GV* cache = stash_glob(gcb, stash, CACHE_NAME, CACHE_NAME_LEN);
    HV* cache_hv = nullptr;
    SV* cache_gen = nullptr;
    if (cache && gp_of(cache)) {
        cache_gen = gp_of(cache)->gp_sv;
        cache_hv = gp_of(cache)->gp_hv;
        if (cache_gen && cache_hv) {
            if (sv_to_int(gcb, cache_gen) == static_cast<int64_t>(gcb->method_cache_generation)) {
                SV** svp = hv_fetch_str(gcb, cache_hv, name, len, 0);
                if (svp && *svp && *svp != &gcb->sv_undef)
                    return *svp;
            } else {
                // Stale: some method or code slot changed since.
                hv_remove_all(gcb, cache_hv);
                sv_set_int(gcb, cache_gen, gcb->method_cache_generation);
            }
        } else {
            cache_hv = nullptr;
            cache_gen = nullptr;
        }
    }

    GV* isa = stash_glob(gcb, stash, "ISA", 3);
    AV* av = isa && gp_of(isa) ? gp_of(isa)->gp_av : nullptr;
    if (av) {
        if (!cache_hv || !cache_gen) {
            SV** svp = hv_fetch_str(gcb, stash, CACHE_NAME, CACHE_NAME_LEN, 1);
            SV* gsv = *svp;
            if (sv_type(gsv) != SVt_PVGV)
                gv_convert_to_glob(gcb, sv_as<GV>(gsv), stash, CACHE_NAME, CACHE_NAME_LEN, 1);
            GV* gv = sv_as<GV>(gsv);
            if (!gp_of(gv)->gp_hv)
                gv_ensure_hash(gcb, gv);
            cache_hv = gp_of(gv)->gp_hv;
            // A scalar the glob already has is left as it is: the next
            // lookup may find it stale and rebuild the cache.
            if (!gp_of(gv)->gp_sv)
                gp_of(gv)->gp_sv = sv_new_from_int(gcb, gcb->method_cache_generation);
        }
        PVAV* body = av_body(av);
        for (int32_t i = 0; i <= body->fill; i++) {
            SV* elem = av_body(av)->array[i];
            if (!elem)
                continue;
            HV* base = gv_stash_by_value(gcb, elem, 0);
            if (!base) {
                if (warn_enabled(gcb, WARN_MISC))
                    category_warning(gcb, WARN_SYNTAX, "Can't locate package %s for @%s::ISA", text_of(gcb, elem),
                                     stash_name(stash));
                continue;
            }
            if (isa_search(gcb, base, name, len, level + 1) == &gcb->sv_yes) {
                hv_store_str(gcb, cache_hv, name, len, &gcb->sv_yes, 0);
                return &gcb->sv_yes;
            }
        }
        hv_store_str(gcb, cache_hv, name, len, names_equal(name, "UNIVERSAL") ? &gcb->sv_yes : &gcb->sv_no, 0);
    }
    return names_equal(name, "UNIVERSAL") ? &gcb->sv_yes : &gcb->sv_no;
}

void universal_isa(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    if (f.items != 2)
        fatal_error(gcb, "Usage: UNIVERSAL::isa(reference, kind)");
    SV* sv = xs_arg(gcb, f, 0);
    if (!usable_invocant(gcb, sv)) {
        xs_arg(gcb, f, 0) = &gcb->sv_undef;
        xs_return(gcb, f, 1);
        return;
    }
    uint64_t len = 0;
    const char* name = sv_text(gcb, xs_arg(gcb, f, 1), &len);
    if (sv->flags & SVs_GMG)
        mg_call_get(gcb, sv);
    bool yes = false;
    HV* stash = nullptr;
    if (sv->flags & SVf_ROK) {
        SV* ref = sv_rv(sv);
        yes = names_equal(sv_referent_type_name(gcb, ref, 0), name);
        if (ref->flags & SVs_OBJECT)
            stash = sv_stash(ref);
    } else {
        stash = gv_stash_by_value(gcb, sv, 0);
    }
    if (!yes && stash)
        yes = isa_search(gcb, stash, name, static_cast<int32_t>(len), 0) == &gcb->sv_yes;
    xs_arg(gcb, f, 0) = yes ? &gcb->sv_yes : &gcb->sv_no;
    xs_return(gcb, f, 1);
}

void universal_can(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    if (f.items != 2)
        fatal_error(gcb, "Usage: UNIVERSAL::can(object-ref, method)");
    SV* sv = xs_arg(gcb, f, 0);
    SV* result = &gcb->sv_undef;
    if (usable_invocant(gcb, sv)) {
        const char* name = text_of(gcb, xs_arg(gcb, f, 1));
        HV* stash = nullptr;
        if (sv->flags & SVf_ROK) {
            SV* ref = sv_rv(sv);
            if (ref->flags & SVs_OBJECT)
                stash = sv_stash(ref);
        } else {
            stash = gv_stash_by_value(gcb, sv, 0);
        }
        if (stash) {
            GV* gv = gv_find_method_autoload_flag(gcb, stash, name, 0);
            if (gv && sv_type(as_sv(gv)) == SVt_PVGV && gp_of(gv) && gp_of(gv)->gp_cv)
                result = sv_make_temporary(gcb, sv_new_reference(gcb, as_sv(gp_of(gv)->gp_cv)));
        }
    }
    xs_arg(gcb, f, 0) = result;
    xs_return(gcb, f, 1);
}

void universal_version(PERLGCB* gcb, CV*)
{
    xs_frame f = xs_begin(gcb);
    SV* sv = xs_arg(gcb, f, 0);
    HV* pkg;
    if (sv->flags & SVf_ROK) {
        SV* ref = sv_rv(sv);
        if (!(ref->flags & SVs_OBJECT))
            fatal_error(gcb, "Cannot find version of an unblessed reference");
        pkg = sv_stash(ref);
    } else {
        pkg = gv_stash_by_value(gcb, sv, 0);
    }
    // Without a package the messages name the argument's own text.
    const char* pkgname = pkg ? stash_name(pkg) : text_of(gcb, sv);

    SV* version = &gcb->sv_undef;
    GV* gv = pkg ? stash_glob(gcb, pkg, "VERSION", 7) : nullptr;
    if (gv && gp_of(gv) && gp_of(gv)->gp_sv && sv_ok(gp_of(gv)->gp_sv))
        version = sv_new_temporary_copy(gcb, gp_of(gv)->gp_sv);

    if (f.items > 1) {
        SV* req = xs_arg(gcb, f, 1);
        if (version == &gcb->sv_undef)
            fatal_error(gcb, "%s does not define $%s::VERSION--version check failed", pkgname, pkgname);
        bool req_vstring = (req->flags & SVf_NOK) && (req->flags & SVf_POK);
        if (!(version->flags & (SVf_IOK | SVf_NOK)) && (version->flags & SVf_POK) && sv_cur(version) > 0 &&
            !plain_version_text(gcb, sv_pv(version), sv_cur(version))) {
            if (req_vstring) {
                if (sv_compare_strings(gcb, req, version) == 1)
                    fatal_error(gcb, "%s v%vd required--this is only v%vd", pkgname, req, version);
                xs_arg(gcb, f, 0) = version;
                xs_return(gcb, f, 1);
                return;
            }
            double n = sv_version_number(gcb, version);
            if (sv_type(version) < SVt_PVNV)
                sv_upgrade_body(gcb, version, SVt_PVNV);
            sv_nv(version) = n;
            version->flags &= ~(SVf_POK | SVp_POK);
            version->flags |= SVf_NOK | SVp_NOK;
        }
        if (req_vstring)
            req = sv_make_temporary(gcb, sv_new_from_double(gcb, number_of(gcb, req)));
        if (number_of(gcb, req) > number_of(gcb, version))
            fatal_error(gcb, "%s version %s required--this is only version %s", pkgname, text_of(gcb, req),
                        text_of(gcb, version));
    }
    xs_arg(gcb, f, 0) = version;
    xs_return(gcb, f, 1);
}

void universal_boot(PERLGCB* gcb)
{
    static constexpr char file[] = "ds/src/prxuniversal";
    sub_define_xs(gcb, "UNIVERSAL::isa", universal_isa, file);
    sub_define_xs(gcb, "UNIVERSAL::can", universal_can, file);
    sub_define_xs(gcb, "UNIVERSAL::VERSION", universal_version, file);
}

// ---- attributes ---------------------------------------------------------------

namespace {

// The referent of a defined reference argument, or the usage message.
SV* referent_or_usage(PERLGCB* gcb, SV* rv, const char* usage)
{
    if (!sv_ok(rv) || !(rv->flags & SVf_ROK))
        fatal_error(gcb, "%s", usage);
    return sv_rv(rv);
}

inline uint16_t& code_flags(SV* cv) { return static_cast<PVCV*>(cv->any)->cvflags; }

// The name of the package of a glob's effective glob, when it has one.
const char* glob_package_name(GV* gv)
{
    if (!gv_gp(gv))
        return nullptr;
    GV* egv = gv_gp(gv)->gp_egv ? gv_gp(gv)->gp_egv : gv;
    HV* stash = gv_body(egv)->gvstash;
    return stash ? hv_body(stash)->name : nullptr;
}

}  // namespace

void attributes_modify_attrs(PERLGCB* gcb, CV*)
{
    static const char usage[] = "Usage: attributes::_modify_attrs $reference, @attributes";
    xs_frame f = xs_begin(gcb);
    if (f.items < 1)
        fatal_error(gcb, "%s", usage);
    SV* sv = referent_or_usage(gcb, xs_arg(gcb, f, 0), usage);
    int32_t nret = 0;
    for (int32_t i = 1; i < f.items; i++) {
        SV* attr = xs_arg(gcb, f, i);
        if (!attr)
            break;
        uint64_t len = 0;
        const char* name = sv_text(gcb, attr, &len);
        bool negated = len > 0 && name[0] == '-';
        if (negated) {
            name++;
            len--;
        }
        if (sv_type(sv) == SVt_PVCV && len == 6) {
            uint16_t bit = 0;
            if (std::memcmp(name, "lvalue", 6) == 0)
                bit = CODE_LVALUE;
            else if (std::memcmp(name, "locked", 6) == 0)
                bit = CODE_LOCKED;
            else if (std::memcmp(name, "method", 6) == 0)
                bit = CODE_METHOD;
            if (bit) {
                if (negated)
                    code_flags(sv) &= static_cast<uint16_t>(~bit);
                else
                    code_flags(sv) |= bit;
                continue;
            }
        }
        xs_arg(gcb, f, nret++) = attr;
    }
    xs_return(gcb, f, nret);
}

void attributes_fetch_attrs(PERLGCB* gcb, CV*)
{
    static const char usage[] = "Usage: attributes::_fetch_attrs $reference";
    xs_frame f = xs_begin(gcb);
    if (f.items != 1)
        fatal_error(gcb, "%s", usage);
    SV* sv = referent_or_usage(gcb, xs_arg(gcb, f, 0), usage);
    int32_t nret = 0;
    if (sv_type(sv) == SVt_PVCV) {
        static const struct {
            uint16_t bit;
            const char* name;
        } names[] = {{CODE_LOCKED, "locked"}, {CODE_LVALUE, "lvalue"}, {CODE_METHOD, "method"}};
        SV** sp = arg_stack_room(gcb, gcb->arg_base + f.ax - 1, 3);
        gcb->arg_sp = sp;
        for (const auto& n : names) {
            if (code_flags(sv) & n.bit)
                xs_arg(gcb, f, nret++) = sv_make_temporary(gcb, sv_new_from_cstring(gcb, n.name, 0));
        }
    }
    xs_return(gcb, f, nret);
}

void attributes_guess_stash(PERLGCB* gcb, CV*)
{
    static const char usage[] = "Usage: attributes::_guess_stash $reference";
    xs_frame f = xs_begin(gcb);
    if (f.items != 1)
        fatal_error(gcb, "%s", usage);
    SV* sv = referent_or_usage(gcb, xs_arg(gcb, f, 0), usage);
    const char* name = nullptr;
    if (sv->flags & SVs_OBJECT) {
        name = hv_body(sv_stash(sv))->name;
    } else if (sv_type(sv) == SVt_PVCV) {
        PVCV* body = static_cast<PVCV*>(sv->any);
        GV* gv = body->gv;
        if (gv && sv_type(as_sv(gv)) == SVt_PVGV && gv_body(gv)->gvstash)
            name = hv_body(gv_body(gv)->gvstash)->name;
        if (!name && body->comp_stash)
            name = hv_body(body->comp_stash)->name;
    } else if (sv_type(sv) == SVt_PVGV) {
        name = glob_package_name(sv_as<GV>(sv));
    } else if (sv_type(sv) == SVt_PVMG && (sv->flags & SVf_FAKE) && (sv->flags & SVs_RMG)) {
        // A glob copy: its '*' magic holds the glob.
        MAGIC* mg = mg_find_by_type(gcb, sv, '*');
        if (mg && mg->obj && sv_type(mg->obj) == SVt_PVGV)
            name = glob_package_name(sv_as<GV>(mg->obj));
    }
    SV* result = sv_new_temporary(gcb);
    if (name)
        sv_set_cstring(gcb, result, name);
    xs_arg(gcb, f, 0) = result;
    xs_return(gcb, f, 1);
}

void attributes_reftype(PERLGCB* gcb, CV*)
{
    static const char usage[] = "Usage: attributes::reftype $reference";
    xs_frame f = xs_begin(gcb);
    if (f.items != 1)
        fatal_error(gcb, "%s", usage);
    SV* rv = xs_arg(gcb, f, 0);
    if (rv->flags & SVs_GMG)
        mg_call_get(gcb, rv);
    SV* sv = referent_or_usage(gcb, rv, usage);
    xs_arg(gcb, f, 0) = sv_make_temporary(gcb, sv_new_from_cstring(gcb, sv_referent_type_name(gcb, sv, 0), 0));
    xs_return(gcb, f, 1);
}
