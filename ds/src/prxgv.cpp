// Globs and their shared bodies: turning a value into a glob, counting glob
// bodies, filling slots on demand, generated globs and new I/O handles, and
// the output stream of a handle.
#include <cstdio>
#include <cstring>

#include "prxav.h"
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxmsg.h"
#include "prxop.h"
#include "prxpool.h"
#include "prxscope.h"
#include "prxsv.h"

// The method-cache generation and the main stash are this family's; a second
// field under another name would let the caches go stale unseen.
template <class G>
constexpr bool second_method_generation = requires(G g) { g.sub_generation; };
template <class G>
constexpr bool second_overload_generation = requires(G g) { g.amagic_generation; };
template <class G>
constexpr bool second_main_stash = requires(G g) { g.defstash; };
static_assert(!second_method_generation<PERLGCB>, "the method-cache generation is method_cache_generation");
static_assert(!second_overload_generation<PERLGCB>, "the overload generation is overload_generation");
static_assert(!second_main_stash<PERLGCB>, "the main stash is main_stash");

const char* gv_statement_file(PERLGCB*, COP* cop)
{
    if (!cop || !cop->cop_filegv)
        return nullptr;
    GP* gp = gv_gp(cop->cop_filegv);
    SV* sv = gp ? gp->gp_sv : nullptr;
    return sv && (sv->flags & SVf_POK) ? sv_pv(sv) : nullptr;
}

void gv_convert_to_glob(PERLGCB* gcb, GV* gv, HV* stash, const char* name, int32_t len, int32_t multi)
{
    SV* sv = as_sv(gv);
    bool had_body = sv_type(sv) != SVt_NULL;
    char* proto = had_body && (sv->flags & SVf_POK) ? sv_pv(sv) : nullptr;
    // The glob body comes first: a value that is a glob always has one, also
    // when an allocation fails on the way and the failure unwinds.
    GP* gp = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
    std::memset(gp, 0, sizeof *gp);
    gp->gp_refcnt = 1;
    gp->gp_sv = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, sv, SVt_PVGV);
    PVGV* b = gv_body(gv);
    if (b->len) {
        if (proto) {
            b->pv = nullptr;
            b->len = 0;
            b->cur = 0;
            sv->flags &= ~(SVf_POK | SVp_POK);
        } else {
            pool_free(gcb, b->pv);
            b->pv = nullptr;
            b->len = 0;
        }
    }
    b->gp = gp;
    gp->gp_line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
    const char* file = gv_statement_file(gcb, gcb->current_statement);
    gp->gp_file = file ? file : "";
    gp->gp_cvgen = 0;
    gp->gp_egv = gv;
    sv_add_magic(gcb, sv, sv, '*', nullptr, 0);
    b->gvstash = sv_as<HV>(sv_refinc(as_sv(stash)));
    b->name = pool_strndup(gcb, name, len);
    b->namelen = static_cast<uint64_t>(len);
    if (had_body || multi)
        b->gvflags |= GVf_MULTI;
    if (!had_body)
        return;
    // A sub declaration stored in the stash before the name was first used
    // as a glob: the glob gets an empty sub, with the declared prototype.
    sv->flags &= ~(SVf_IOK | SVp_IOK | SVf_IsUV);
    scope_enter(gcb);
    start_sub_compile(gcb, 0, 0);
    // The glob's own reference: the compilation's goes with the scope.
    gp->gp_cv = sv_as<CV>(sv_refinc(as_sv(gcb->compile_cv)));
    scope_leave(gcb);
    gcb->method_cache_generation++;
    PVCV* cb = static_cast<PVCV*>(gp->gp_cv->any);
    cb->gv = gv;
    cb->file = const_cast<char*>(gv_statement_file(gcb, gcb->current_statement));
    cb->comp_stash = gcb->current_package;
    if (proto) {
        sv_set_cstring(gcb, as_sv(gp->gp_cv), proto);
        pool_free(gcb, proto);
    }
}

GP* gp_retain(PERLGCB* gcb, GP* gp)
{
    if (!gp)
        return nullptr;
    gp->gp_refcnt++;
    if (gp->gp_cv) {
        if (gp->gp_cvgen) {
            // A cache entry is not carried into an alias.
            sv_release(gcb, as_sv(gp->gp_cv));
            gp->gp_cv = nullptr;
            gp->gp_cvgen = 0;
        } else {
            gcb->method_cache_generation++;
        }
    }
    return gp;
}

void gp_release(PERLGCB* gcb, GV* gv)
{
    GP* gp = gv_gp(gv);
    if (!gp)
        return;
    if (gp->gp_refcnt == 0) {
        if (warn_enabled_default(gcb, WARN_INTERNAL))
            category_warning(gcb, WARN_INTERNAL, "Attempt to free unreferenced glob pointers");
        return;
    }
    if (gp->gp_cv)
        gcb->method_cache_generation++;
    if (--gp->gp_refcnt > 0) {
        if (gp->gp_egv == gv)
            gp->gp_egv = nullptr;
        return;
    }
    sv_release(gcb, gp->gp_sv);
    sv_release(gcb, as_sv(gp->gp_av));
    sv_release(gcb, as_sv(gp->gp_hv));
    sv_release(gcb, as_sv(gp->gp_io));
    sv_release(gcb, as_sv(gp->gp_cv));
    sv_release(gcb, as_sv(gp->gp_form));
    pool_free(gcb, gp);
    gv_gp(gv) = nullptr;
}

void gv_add_slot_for_kind(PERLGCB* gcb, GV* gv, uint32_t kind)
{
    GP* gp = gv_gp(gv);
    switch (kind) {
    case SVt_PVIO:
        if (!gp->gp_io)
            gp->gp_io = io_new_body(gcb);
        break;
    case SVt_PVAV:
        if (!gp->gp_av)
            gp->gp_av = av_new_empty(gcb);
        break;
    case SVt_PVHV:
        if (!gp->gp_hv)
            gp->gp_hv = hv_new_empty(gcb);
        break;
    default:
        break;
    }
}

GV* gv_ensure_array(PERLGCB* gcb, GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)))
        fatal_error(gcb, "Bad symbol for array");
    gv_add_slot_for_kind(gcb, gv, SVt_PVAV);
    return gv;
}

GV* gv_ensure_hash(PERLGCB* gcb, GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)))
        fatal_error(gcb, "Bad symbol for hash");
    gv_add_slot_for_kind(gcb, gv, SVt_PVHV);
    return gv;
}

GV* gv_ensure_handle(PERLGCB* gcb, GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)))
        fatal_error(gcb, "Bad symbol for filehandle");
    gv_add_slot_for_kind(gcb, gv, SVt_PVIO);
    return gv;
}

IO* io_new_body(PERLGCB* gcb)
{
    SV* io = sv_new_undef(gcb, 0);
    sv_upgrade_body(gcb, io, SVt_PVIO);
    io->refcnt = 1;
    io->flags |= SVs_OBJECT;
    // Blessed into FileHandle when that package has symbols, else IO::Handle.
    GV* iogv = gv_fetch_by_name(gcb, "FileHandle::", 0, SVt_PVHV);
    if (!(iogv && gv_gp(iogv)->gp_hv && hv_body(gv_gp(iogv)->gp_hv)->array))
        iogv = gv_fetch_by_name(gcb, "IO::Handle::", GV_ADD, SVt_PVHV);
    sv_stash(io) = sv_as<HV>(sv_refinc(as_sv(gv_gp(iogv)->gp_hv)));
    return sv_as<IO>(io);
}

GV* gv_new_generated(PERLGCB* gcb, const char* package)
{
    uint64_t size = std::strlen(package) + 32;
    char* name = static_cast<char*>(pool_malloc(gcb, size));
    std::snprintf(name, size, "%s::_GEN_%u", package, gcb->gensym_counter++);
    GV* gv = gv_fetch_by_name(gcb, name, GV_ADD, SVt_PVGV);
    pool_free(gcb, name);
    return gv;
}

PrxStream io_output_stream_of(PERLGCB*, GV* gv)
{
    if (!gv || !sv_is_glob(as_sv(gv)) || !gv_gp(gv) || !gv_gp(gv)->gp_io)
        return 0;
    return io_body(gv_gp(gv)->gp_io)->ofp;
}
