// Method resolution: depth-first through @ISA, then UNIVERSAL, with a cache
// of hits and misses in the glob of the method's name that one generation
// number invalidates; qualified and SUPER method names; AUTOLOAD.
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxscope.h"
#include "prxsv.h"

namespace {

constexpr uint16_t CVf_ANON = 0x04;

// The next level of a search: deeper from 0 upward, or from -1 downward
// when the search creates nothing.
int32_t deeper(int32_t level) { return level >= 0 ? level + 1 : level - 1; }

bool has_body(CV* cv)
{
    PVCV* b = static_cast<PVCV*>(cv->any);
    return b->root || b->xsub;
}

// The @ISA array of a stash, or null.
AV* isa_of(PERLGCB* gcb, HV* stash)
{
    SV** gvp = hv_fetch_str(gcb, stash, "ISA", 3, 0);
    if (!gvp || *gvp == &gcb->sv_undef || !sv_is_glob(*gvp))
        return nullptr;
    GP* gp = gv_gp(sv_as<GV>(*gvp));
    return gp ? gp->gp_av : nullptr;
}

// A package named P::SUPER inherits what P inherits: its @ISA is P's array.
AV* super_isa(PERLGCB* gcb, HV* stash)
{
    const char* packname = hv_body(stash)->name;
    uint64_t packlen = packname ? std::strlen(packname) : 0;
    if (packlen < 7 || std::strcmp(packname + packlen - 7, "::SUPER") != 0)
        return nullptr;
    HV* basestash = gv_stash_by_name_len(gcb, packname, static_cast<uint32_t>(packlen - 7), 1);
    AV* av = isa_of(gcb, basestash);
    if (!av)
        return nullptr;
    SV** gvp = hv_fetch_str(gcb, stash, "ISA", 3, 1);
    if (!gvp || !*gvp)
        fatal_error(gcb, "Cannot create %s::ISA", packname);
    GV* gv = sv_as<GV>(*gvp);
    if (!sv_is_glob(as_sv(gv)))
        gv_convert_to_glob(gcb, gv, stash, "ISA", 3, 1);
    GP* gp = gv_gp(gv);
    sv_release(gcb, as_sv(gp->gp_av));
    gp->gp_av = sv_as<AV>(sv_refinc(as_sv(av)));
    return av;
}

}  // namespace

GV* gv_method_search(PERLGCB* gcb, HV* stash, const char* name, uint32_t len, int32_t level)
{
    if (!stash)
        return nullptr;
    if (level > 100 || level < -100)
        fatal_error(gcb, "Recursive inheritance detected while looking for method '%s' in package '%s'", name,
                    hv_body(stash)->name);
    GV* topgv = nullptr;
    SV** gvp = hv_fetch_str(gcb, stash, name, static_cast<int32_t>(len), level >= 0);
    if (gvp) {
        topgv = sv_as<GV>(*gvp);
        if (!sv_is_glob(as_sv(topgv)))
            gv_convert_to_glob(gcb, topgv, stash, name, static_cast<int32_t>(len), 1);
        GP* gp = gv_gp(topgv);
        if (CV* cv = gp->gp_cv) {
            if (!gp->gp_cvgen || gp->gp_cvgen == gcb->method_cache_generation)
                return topgv;
            sv_release(gcb, as_sv(cv));
            gp->gp_cv = nullptr;
            gp->gp_cvgen = 0;
        } else if (gp->gp_cvgen == gcb->method_cache_generation) {
            return nullptr;
        }
    }

    GV* gv = nullptr;
    AV* av = isa_of(gcb, stash);
    if (!av || !av_body(av)->magic)
        if (AV* super = super_isa(gcb, stash))
            av = super;
    if (av) {
        int32_t items = av_body(av)->fill + 1;
        for (int32_t i = 0; i < items && !gv; i++) {
            SV* sv = av_body(av)->array[i];
            HV* basestash = gv_stash_by_value(gcb, sv, 0);
            if (!basestash) {
                if (warn_enabled(gcb, WARN_MISC)) {
                    uint64_t n = 0;
                    const char* pkg = sv_text(gcb, sv, &n);
                    category_warning(gcb, WARN_MISC, "Can't locate package %s for @%s::ISA", pkg,
                                     hv_body(stash)->name);
                }
                continue;
            }
            gv = gv_method_search(gcb, basestash, name, len, deeper(level));
        }
    }
    if (!gv && (level == 0 || level == -1)) {
        if (HV* lastchance = gv_stash_by_name_len(gcb, "UNIVERSAL", 9, 0))
            gv = gv_method_search(gcb, lastchance, name, len, deeper(level));
        if (!gv) {
            if (topgv && gv_gp(topgv)->gp_refcnt == 1)
                gv_gp(topgv)->gp_cvgen = gcb->method_cache_generation;
            return nullptr;
        }
    }
    if (!gv)
        return nullptr;
    // A hit: cached in the top glob unless it is an alias or the sub is a stub.
    if (topgv && gv_gp(topgv)->gp_refcnt == 1) {
        CV* cv = gv_gp(gv)->gp_cv;
        if (cv && has_body(cv)) {
            GP* gp = gv_gp(topgv);
            if (gp->gp_cv)
                sv_release(gcb, as_sv(gp->gp_cv));
            gp->gp_cv = sv_as<CV>(sv_refinc(as_sv(cv)));
            gp->gp_cvgen = gcb->method_cache_generation;
        }
    }
    return gv;
}

GV* gv_find_method_autoload_flag(PERLGCB* gcb, HV* stash, const char* name, int32_t autoload)
{
    const char* nend = name;
    const char* nsplit = nullptr;
    for (; *nend; nend++) {
        if (*nend == '\'')
            nsplit = nend;
        else if (nend[0] == ':' && nend[1] == ':')
            nsplit = ++nend;
    }
    if (nsplit) {
        const char* origname = name;
        name = nsplit + 1;
        if (*nsplit == ':')
            --nsplit;
        uint32_t pkglen = static_cast<uint32_t>(nsplit - origname);
        if (pkglen == 5 && std::strncmp(origname, "SUPER", 5) == 0) {
            // SUPER is looked up from the running statement's package.
            HV* cur = gcb->current_statement ? gcb->current_statement->cop_stash : nullptr;
            const char* curname = cur && hv_body(cur)->name ? hv_body(cur)->name : "";
            SV* tmp = sv_make_temporary(gcb, sv_new_from_bytes(gcb, curname, std::strlen(curname)));
            sv_append_bytes(gcb, tmp, "::SUPER", 7);
            stash = gv_stash_by_value(gcb, tmp, 1);
        } else {
            stash = gv_stash_by_name_len(gcb, origname, pkglen, 1);
        }
    }
    uint32_t len = static_cast<uint32_t>(nend - name);
    GV* gv = gv_method_search(gcb, stash, name, len, 0);
    if (!gv) {
        if (std::strcmp(name, "import") == 0 || std::strcmp(name, "unimport") == 0)
            return sv_as<GV>(&gcb->sv_yes);
        if (autoload)
            return gv_find_autoload(gcb, stash, name, len, 0);
        return nullptr;
    }
    if (autoload) {
        CV* cv = gv_gp(gv)->gp_cv;
        if (!has_body(cv)) {
            GV* stubgv = gv;
            PVCV* cb = static_cast<PVCV*>(cv->any);
            if (!(cb->cvflags & CVf_ANON) && cb->gv && gv_gp(cb->gv)->gp_cv == cv)
                stubgv = cb->gv;
            PVGV* sb = gv_body(stubgv);
            if (GV* autogv = gv_find_autoload(gcb, sb->gvstash, sb->name, static_cast<uint32_t>(sb->namelen), 1))
                gv = autogv;
        }
    }
    return gv;
}

GV* gv_find_method(PERLGCB* gcb, HV* stash, const char* name)
{
    return gv_find_method_autoload_flag(gcb, stash, name, 1);
}

GV* gv_find_autoload(PERLGCB* gcb, HV* stash, const char* name, uint32_t len, int32_t method)
{
    static const char autoload[] = "AUTOLOAD";
    constexpr uint32_t autolen = 8;
    if (len == autolen && std::strncmp(name, autoload, autolen) == 0)
        return nullptr;
    GV* gv = gv_method_search(gcb, stash, autoload, autolen, 0);
    if (!gv)
        return nullptr;
    CV* cv = gv_gp(gv)->gp_cv;
    if (!cv || !static_cast<PVCV*>(cv->any)->root)
        return nullptr;
    if (!method && warn_enabled(gcb, WARN_DEPRECATED) &&
        (gv_gp(gv)->gp_cvgen || gv_body(gv)->gvstash != stash))
        category_warning(gcb, WARN_DEPRECATED, "Use of inherited AUTOLOAD for non-method %s::%.*s() is deprecated",
                         hv_body(stash)->name, static_cast<int>(len), name);
    // $AUTOLOAD of the package that holds the AUTOLOAD sub names the sub asked for.
    HV* varstash = gv_body(static_cast<PVCV*>(cv->any)->gv)->gvstash;
    GV* vargv = sv_as<GV>(*hv_fetch_str(gcb, varstash, autoload, autolen, 1));
    scope_enter(gcb);
    if (!sv_is_glob(as_sv(vargv)))
        gv_convert_to_glob(gcb, vargv, varstash, autoload, autolen, 0);
    scope_leave(gcb);
    SV* varsv = gv_gp(vargv)->gp_sv;
    sv_set_cstring(gcb, varsv, hv_body(stash)->name);
    sv_append_bytes(gcb, varsv, "::", 2);
    sv_append_bytes(gcb, varsv, name, len);
    if (gcb->tainting)
        sv_mark_tainted(gcb, varsv);
    return gv;
}
