// Taint marks on values and the checks of the current expression and of
// the environment.
#include "prxgv.h"
#include "prxhv.h"
#include "prxmg.h"
#include "prxsvint.h"

namespace {

// Reports an insecure use: fatal unless the unsafe flag is set, then a
// warning in the taint category when enabled. The reason names the cause of
// taint mode.
void report(PERLGCB* gcb, const char* f, const char* s)
{
    const char* reason = gcb->uid != gcb->euid   ? " while running setuid"
                         : gcb->gid != gcb->egid ? " while running setgid"
                                                 : " while running with -T switch";
    if (!gcb->unsafe)
        fatal_error(gcb, f, s, reason);
    if (warn_enabled(gcb, WARN_TAINT))
        category_warning(gcb, WARN_TAINT, f, s, reason);
}

MAGIC* taint_record(PERLGCB* gcb, SV* sv)
{
    if (sv_type(sv) < SVt_PVMG || !sv_magic_chain(sv))
        return nullptr;
    return mg_find_by_type(gcb, sv, 't');
}

bool magical_and_tainted(PERLGCB* gcb, SV* sv)
{
    return (sv->flags & SV_MAGIC_FLAGS) && sv_is_tainted(gcb, sv);
}

}  // namespace

void sv_mark_tainted(PERLGCB* gcb, SV* sv)
{
    if ((sv->flags & SVf_READONLY) && !in_compile_statement(gcb))
        croak_readonly(gcb);
    if ((sv->flags & SV_MAGIC_FLAGS) || sv_type(sv) >= SVt_PVMG) {
        if (MAGIC* mg = taint_record(gcb, sv)) {
            mg->len |= 1;
            return;
        }
    } else {
        sv_upgrade_body(gcb, sv, SVt_PVMG);
    }
    MAGIC* mg = static_cast<MAGIC*>(pool_malloc(gcb, sizeof(MAGIC)));
    std::memset(mg, 0, sizeof *mg);
    mg->next = sv_magic_chain(sv);
    sv_magic_chain(sv) = mg;
    mg->type = 't';
    mg->virt = &gcb->magic_vtbl[PL_vtbl_taint];
    mg->len = 1;
    mg_update_flags(gcb, sv);
    if (sv->flags & SVs_GMG)
        sv->flags &= ~SV_PUBLIC_OK;
}

bool sv_is_tainted(PERLGCB* gcb, SV* sv)
{
    MAGIC* mg = taint_record(gcb, sv);
    return mg && ((mg->len & 1) || ((mg->len & 2) && mg->obj == sv));
}

void sv_clear_taint(PERLGCB* gcb, SV* sv)
{
    if (MAGIC* mg = taint_record(gcb, sv))
        mg->len &= ~1;
}

void taint_check_dependency(PERLGCB* gcb, const char* f, const char* s)
{
    if (!gcb->tainted)
        return;
    report(gcb, f ? f : "Insecure dependency in %s%s", s);
}

void taint_check_environment(PERLGCB* gcb)
{
    if (!gcb->env_glob)
        return;
    GV* gv = gv_ensure_hash(gcb, gcb->env_glob);
    HV* env = gv_gp(gv)->gp_hv;
    if (SV** svp = hv_fetch_str(gcb, env, "PATH", 4, 0); svp && *svp) {
        SV* path = *svp;
        if (magical_and_tainted(gcb, path)) {
            gcb->tainted = 1;
            report(gcb, "Insecure %s%s", "$ENV{PATH}");
        }
        MAGIC* mg = sv_type(path) >= SVt_PVMG && sv_magic_chain(path) ? mg_find_by_type(gcb, path, 'e') : nullptr;
        if (mg && (mg->mgflags & MGf_TAINTEDDIR)) {
            gcb->tainted = 1;
            report(gcb, "Insecure directory in %s%s", "$ENV{PATH}");
        }
    }
    if (SV** svp = hv_fetch_str(gcb, env, "TERM", 4, 0); svp && *svp && magical_and_tainted(gcb, *svp)) {
        int32_t was_tainted = gcb->tainted;
        uint64_t len;
        const uint8_t* s = reinterpret_cast<const uint8_t*>(sv_text(gcb, *svp, &len));
        gcb->tainted = was_tainted;
        for (uint64_t i = 0; i < len; i++) {
            uint8_t c = s[i];
            if (!host_is_alnum(c) && c != '_' && c != '-' && c != ':') {
                gcb->tainted = 1;
                report(gcb, "Insecure $ENV{%s}%s", "TERM");
                break;
            }
        }
    }
    static constexpr const char* names[] = {"IFS", "CDPATH", "ENV", "BASH_ENV"};
    for (const char* name : names) {
        SV** svp = hv_fetch_str(gcb, env, name, static_cast<int32_t>(std::strlen(name)), 0);
        if (svp && *svp && *svp != &gcb->sv_undef && magical_and_tainted(gcb, *svp)) {
            gcb->tainted = 1;
            report(gcb, "Insecure $ENV{%s}%s", name);
        }
    }
}
