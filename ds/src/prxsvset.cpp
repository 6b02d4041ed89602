// Giving a value new contents: the modify check, the setters of a native
// datum, scalar assignment with glob assignment and the assignment of a
// reference to a glob.
#include "prxgv.h"
#include "prxmg.h"
#include "prxscope.h"
#include "prxsvint.h"

namespace {

// The upgrade rules of the setters.
// Arrays, hashes, code, globs, formats and handles take no number: the
// integer setters name the op by its description, the double setters by its
// name.
bool takes_no_number(uint32_t type) { return type >= SVt_PVAV && type <= SVt_PVIO; }

void upgrade_for_int(PERLGCB* gcb, SV* sv)
{
    uint32_t type = sv_type(sv);
    if (takes_no_number(type)) {
        const char* desc = current_op_desc(gcb);
        fatal_error(gcb, "Can't coerce %s to integer in %s", sv_type_word(type, false), desc ? desc : "null operation");
    }
    switch (type) {
    case SVt_NULL:
        sv_upgrade_body(gcb, sv, SVt_IV);
        break;
    case SVt_NV:
        sv_upgrade_body(gcb, sv, SVt_PVNV);
        break;
    case SVt_RV:
    case SVt_PV:
        sv_upgrade_body(gcb, sv, SVt_PVIV);
        break;
    default:
        break;
    }
}

void upgrade_for_double(PERLGCB* gcb, SV* sv)
{
    uint32_t type = sv_type(sv);
    if (takes_no_number(type)) {
        const char* name = current_op_name(gcb);
        fatal_error(gcb, "Can't coerce %s to number in %s", sv_type_word(type, false), name ? name : "null");
    }
    switch (type) {
    case SVt_NULL:
    case SVt_IV:
        sv_upgrade_body(gcb, sv, SVt_NV);
        break;
    case SVt_RV:
    case SVt_PV:
    case SVt_PVIV:
        sv_upgrade_body(gcb, sv, SVt_PVNV);
        break;
    default:
        break;
    }
}

void upgrade_for_string(PERLGCB* gcb, SV* sv)
{
    if (sv_type(sv) < SVt_PV)
        sv_upgrade_body(gcb, sv, SVt_PV);
}

void store_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len, uint64_t moved)
{
    if (sv_type(sv) >= SVt_PV && sv_pv(sv) && ptr >= sv_pv(sv) && ptr <= sv_pv(sv) + sv_cur(sv)) {
        // The bytes are the value's own: they follow the buffer if it moves.
        uint64_t rel = static_cast<uint64_t>(ptr - sv_pv(sv));
        if (sv_len(sv) < len + 1)
            sv_grow_buffer(gcb, sv, len + 1);
        ptr = sv_pv(sv) + rel;
    } else if (sv_len(sv) < len + 1) {
        sv_grow_buffer(gcb, sv, len + 1);
    }
    char* pv = sv_pv(sv);
    xk_move(ptr, pv, static_cast<int32_t>(moved));
    pv[len] = 0;
    sv_cur(sv) = len;
    clear_value_flags(sv);
    sv->flags |= SVf_POK | SVp_POK;
}

// The text setters: no text leaves the value undefined; of a text, moved
// bytes are copied (the length, or one more with the terminating NUL).
void set_text(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len, uint64_t moved)
{
    modify_check(gcb, sv);
    if (!ptr) {
        clear_value_flags(sv);
        undo_offset(gcb, sv);
        return;
    }
    upgrade_for_string(gcb, sv);
    store_bytes(gcb, sv, ptr, len, moved);
    taint_step(gcb, sv);
}

void set_magic(PERLGCB* gcb, SV* sv)
{
    if (sv->flags & SVs_SMG)
        mg_call_set(gcb, sv);
}

// The package of the current statement differs from the glob's own.
bool foreign_package(PERLGCB* gcb, GV* gv)
{
    HV* pkg = gcb->current_statement ? gcb->current_statement->cop_stash : nullptr;
    return pkg != gv_body(gv)->gvstash;
}

void mark_imported_all(PERLGCB* gcb, GV* gv)
{
    PVGV* b = gv_body(gv);
    if ((b->gvflags & GVf_IMPORT) != GVf_IMPORT && foreign_package(gcb, gv))
        b->gvflags |= GVf_IMPORT;
}

void mark_imported(PERLGCB* gcb, GV* gv, uint8_t bit)
{
    PVGV* b = gv_body(gv);
    if (!(b->gvflags & bit) && foreign_package(gcb, gv))
        b->gvflags |= bit;
}

// Whether the running sort comparator is the code value's body.
bool is_active_sort_sub(PERLGCB* gcb, CV* cv)
{
    return gcb->current_level && gcb->current_level->si_type == SI_SORT && cv &&
           static_cast<PVCV*>(cv->any)->start == gcb->sort_op;
}

void taint_from(PERLGCB* gcb, SV* dst, SV* src)
{
    if (gcb->tainting && gcb->tainted && (src->flags & SV_MAGIC_FLAGS) && sv_is_tainted(gcb, src))
        sv_mark_tainted(gcb, dst);
}

// Glob assignment: dst becomes an alias of the source glob's body; a value
// that was not a glob becomes a glob copy (FAKE).
void assign_glob(PERLGCB* gcb, SV* dst, SV* src)
{
    GV* d = sv_as<GV>(dst);
    PVGV* s = gv_body(sv_as<GV>(src));
    if (sv_type(dst) != SVt_PVGV) {
        const char* name = s->name;
        uint64_t namelen = s->namelen;
        sv_upgrade_body(gcb, dst, SVt_PVGV);
        sv_add_magic(gcb, dst, dst, '*', nullptr, 0);
        PVGV* b = gv_body(d);
        b->gvstash = sv_as<HV>(sv_refinc(as_sv(s->gvstash)));
        b->name = pool_strndup(gcb, name, static_cast<int32_t>(namelen));
        b->namelen = namelen;
        dst->flags |= SVf_FAKE;
    } else if (GP* gp = gv_gp(d); gp && is_active_sort_sub(gcb, gp->gp_cv)) {
        fatal_error(gcb, "Can't redefine active sort subroutine %s", gv_body(d)->name);
    }
    clear_value_flags(dst);
    undo_offset(gcb, dst);
    gv_body(d)->gvflags &= ~GVf_INTRO;
    gp_release(gcb, d);
    gv_gp(d) = gp_retain(gcb, s->gp);
    taint_from(gcb, dst, src);
    mark_imported_all(gcb, d);
    gv_body(d)->gvflags |= GVf_MULTI;
}

// Puts x into a slot of a glob body. Under local the slot's value is saved
// for the scope and none is returned; otherwise the old value is returned
// for the caller to release.
template <class T>
SV* replace_slot(PERLGCB* gcb, T** slot, SV* x, bool intro)
{
    SV* old = nullptr;
    if (intro)
        save_push_value_ptr(gcb, reinterpret_cast<SV**>(slot));
    else
        old = as_sv(*slot);
    *slot = sv_as<T>(x);
    return old;
}

// A reference assigned to a glob: the referent goes into the slot of its kind.
void assign_ref_to_glob(PERLGCB* gcb, SV* dst, SV* src)
{
    GV* d = sv_as<GV>(dst);
    SV* x = sv_refinc(sv_rv(src));
    bool intro = gv_body(d)->gvflags & GVf_INTRO;
    if (intro) {
        gp_release(gcb, d);
        gv_body(d)->gvflags &= ~GVf_INTRO;
        GP* fresh = static_cast<GP*>(pool_malloc(gcb, sizeof(GP)));
        std::memset(fresh, 0, sizeof *fresh);
        gv_gp(d) = gp_retain(gcb, fresh);
        fresh->gp_sv = sv_new_head(gcb);
        fresh->gp_line = gcb->current_statement ? gcb->current_statement->cop_line : 0;
        fresh->gp_egv = d;
    }
    gv_body(d)->gvflags |= GVf_MULTI;
    GP* gp = gv_gp(d);
    SV* old = nullptr;
    switch (sv_type(x)) {
    case SVt_PVAV:
        old = replace_slot(gcb, &gp->gp_av, x, intro);
        mark_imported(gcb, d, GVf_IMPORT_AV);
        break;
    case SVt_PVHV:
        old = replace_slot(gcb, &gp->gp_hv, x, intro);
        mark_imported(gcb, d, GVf_IMPORT_HV);
        break;
    case SVt_PVCV: {
        CV* xcv = sv_as<CV>(x);
        if (intro) {
            if (gp->gp_cvgen && gp->gp_cv != xcv) {
                CV* cached = gp->gp_cv;
                gp->gp_cv = nullptr;
                gp->gp_cvgen = 0;
                sv_release(gcb, as_sv(cached));
                gcb->method_cache_generation++;
            }
            save_push_value_ptr(gcb, reinterpret_cast<SV**>(&gp->gp_cv));
        } else {
            old = as_sv(gp->gp_cv);
        }
        if (gp->gp_cv != xcv) {
            CV* w = gp->gp_cv;
            if (w) {
                PVCV* wb = static_cast<PVCV*>(w->any);
                if (!gp->gp_cvgen && (wb->root || wb->xsub)) {
                    SV* k = cv_const_value(gcb, w);
                    bool changed = true;
                    if (k)
                        changed = sv_compare_strings(
                                      gcb, k, op_const_value(gcb, static_cast<PVCV*>(xcv->any)->start, nullptr)) != 0;
                    if (is_active_sort_sub(gcb, w))
                        fatal_error(gcb, "Can't redefine active sort subroutine %s", gv_body(d)->name);
                    if ((changed || k) && warn_enabled(gcb, WARN_REDEFINE)) {
                        GV* named = gp->gp_egv ? gp->gp_egv : d;
                        category_warning(gcb, WARN_REDEFINE,
                                         k ? "Constant subroutine %s redefined" : "Subroutine %s redefined",
                                         gv_body(named)->name);
                    }
                }
                cv_check_prototype(gcb, w, d, (x->flags & SVf_POK) ? sv_pv(x) : nullptr);
            }
            gp->gp_cv = xcv;
            gp->gp_cvgen = 0;
            gv_body(d)->gvflags |= GVf_ASSUMECV;
            gcb->method_cache_generation++;
        }
        mark_imported(gcb, d, GVf_IMPORT_CV);
        break;
    }
    case SVt_PVIO:
        old = replace_slot(gcb, &gp->gp_io, x, intro);
        break;
    default:
        old = replace_slot(gcb, &gp->gp_sv, x, intro);
        mark_imported(gcb, d, GVf_IMPORT_SV);
        break;
    }
    if (intro)
        save_push_release_value(gcb, x);
    else
        sv_release(gcb, old);
    taint_from(gcb, dst, src);
}

void copy_int_from(PERLGCB* gcb, SV* dst, uint32_t sflags, SV* src)
{
    undo_offset(gcb, dst);
    dst->flags |= SVf_IOK | SVp_IOK;
    sv_iv(dst) = sv_iv(src);
    if (sflags & SVf_IsUV)
        dst->flags |= SVf_IsUV;
}

}  // namespace

void croak_readonly(PERLGCB* gcb) { fatal_error(gcb, "Modification of a read-only value attempted"); }

void sv_make_modifiable(PERLGCB* gcb, SV* sv)
{
    if (!(sv->flags & SV_THINK_FIRST))
        return;
    if ((sv->flags & SVf_READONLY) && !in_compile_statement(gcb))
        croak_readonly(gcb);
    if (sv->flags & SVf_ROK)
        sv_drop_reference(gcb, sv);
    else if ((sv->flags & SVf_FAKE) && sv_type(sv) == SVt_PVGV)
        sv_glob_to_plain(gcb, sv);
}

void sv_glob_to_plain(PERLGCB* gcb, SV* sv)
{
    GV* gv = sv_as<GV>(sv);
    sv->flags &= ~SVf_FAKE;
    if (gv_gp(gv))
        gp_release(gcb, gv);
    PVGV* b = gv_body(gv);
    if (b->gvstash) {
        HV* stash = b->gvstash;
        b->gvstash = nullptr;
        sv_release(gcb, as_sv(stash));
    }
    sv_remove_magic(gcb, sv, '*');
    b = gv_body(gv);
    pool_free(gcb, b->name);
    b->name = nullptr;
    b->gvflags &= ~GVf_MULTI;
    PVMG* mg = static_cast<PVMG*>(body_take(gcb, SVt_PVMG));
    *mg = PVMG{b->pv, b->cur, b->len, b->iv, b->nv, b->magic, b->stash};
    pool_free(gcb, b);
    sv->any = mg;
    sv->flags = (sv->flags & ~0xFFu) | SVt_PVMG;
}

void sv_set_int(PERLGCB* gcb, SV* sv, int64_t value)
{
    modify_check(gcb, sv);
    upgrade_for_int(gcb, sv);
    clear_value_flags(sv);
    undo_offset(gcb, sv);
    sv->flags |= SVf_IOK | SVp_IOK;
    sv_iv(sv) = value;
    taint_step(gcb, sv);
}

void sv_set_uint(PERLGCB* gcb, SV* sv, uint64_t value)
{
    sv_set_int(gcb, sv, 0);
    sv->flags |= SVf_IsUV;
    sv_iv(sv) = static_cast<int64_t>(value);
}

void sv_set_double(PERLGCB* gcb, SV* sv, double value)
{
    modify_check(gcb, sv);
    upgrade_for_double(gcb, sv);
    sv_nv(sv) = value;
    clear_value_flags(sv);
    undo_offset(gcb, sv);
    sv->flags |= SVf_NOK | SVp_NOK;
    taint_step(gcb, sv);
}

void sv_set_bytes(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len)
{
    set_text(gcb, sv, ptr, len, len);
}

void sv_set_cstring(PERLGCB* gcb, SV* sv, const char* ptr)
{
    uint64_t len = ptr ? static_cast<uint32_t>(static_cast<int32_t>(std::strlen(ptr))) : 0;
    set_text(gcb, sv, ptr, len, len + 1);
}

void sv_adopt_buffer(PERLGCB* gcb, SV* sv, char* ptr, uint64_t len)
{
    modify_check(gcb, sv);
    upgrade_for_string(gcb, sv);
    if (!ptr) {
        clear_value_flags(sv);
        undo_offset(gcb, sv);
        return;
    }
    undo_offset(gcb, sv);
    if (sv_pv(sv) && sv_len(sv) != 0)
        pool_free(gcb, sv_pv(sv));
    ptr = static_cast<char*>(pool_realloc(gcb, ptr, len + 1));
    sv_pv(sv) = ptr;
    sv_cur(sv) = len;
    sv_len(sv) = len + 1;
    ptr[len] = 0;
    clear_value_flags(sv);
    sv->flags |= SVf_POK | SVp_POK;
    taint_step(gcb, sv);
}

void sv_set_int_text(PERLGCB* gcb, SV* sv, int64_t value)
{
    char buf[24];
    char* end = buf + sizeof buf;
    char* p = end;
    uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
    do {
        *--p = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    if (value < 0)
        *--p = '-';
    sv_set_bytes(gcb, sv, p, static_cast<uint64_t>(end - p));
}

void sv_set_int_with_magic(PERLGCB* gcb, SV* sv, int64_t value)
{
    sv_set_int(gcb, sv, value);
    set_magic(gcb, sv);
}
void sv_set_uint_with_magic(PERLGCB* gcb, SV* sv, uint64_t value)
{
    sv_set_uint(gcb, sv, value);
    set_magic(gcb, sv);
}
void sv_set_double_with_magic(PERLGCB* gcb, SV* sv, double value)
{
    sv_set_double(gcb, sv, value);
    set_magic(gcb, sv);
}
void sv_set_bytes_with_magic(PERLGCB* gcb, SV* sv, const char* ptr, uint64_t len)
{
    sv_set_bytes(gcb, sv, ptr, len);
    set_magic(gcb, sv);
}
void sv_set_cstring_with_magic(PERLGCB* gcb, SV* sv, const char* ptr)
{
    sv_set_cstring(gcb, sv, ptr);
    set_magic(gcb, sv);
}
void sv_adopt_buffer_with_magic(PERLGCB* gcb, SV* sv, char* ptr, uint64_t len)
{
    sv_adopt_buffer(gcb, sv, ptr, len);
    set_magic(gcb, sv);
}
void sv_set_int_text_with_magic(PERLGCB* gcb, SV* sv, int64_t value)
{
    sv_set_int_text(gcb, sv, value);
    set_magic(gcb, sv);
}

void sv_assign(PERLGCB* gcb, SV* dst, SV* src)
{
    if (dst == src)
        return;
    modify_check(gcb, dst);
    if (!src)
        src = &gcb->sv_undef;
    const uint32_t dtype = sv_type(dst);
    dst->flags &= ~SVf_OVERLOAD;
    uint32_t stype = sv_type(src);
    uint32_t sflags;
    switch (stype) {
    case SVt_NULL:
        goto undefined;
    case SVt_IV:
        if (!(src->flags & SVf_IOK))
            goto undefined;
        if (dtype == SVt_NULL)
            sv_upgrade_body(gcb, dst, SVt_IV);
        else if (dtype == SVt_NV)
            sv_upgrade_body(gcb, dst, SVt_PVNV);
        else if (dtype == SVt_RV || dtype == SVt_PV)
            sv_upgrade_body(gcb, dst, SVt_PVIV);
        clear_value_flags(dst);
        copy_int_from(gcb, dst, src->flags, src);
        goto taint;
    case SVt_NV:
        if (!(src->flags & SVf_NOK))
            goto undefined;
        if (dtype == SVt_NULL || dtype == SVt_IV)
            sv_upgrade_body(gcb, dst, SVt_NV);
        else if (dtype == SVt_RV || dtype == SVt_PV || dtype == SVt_PVIV)
            sv_upgrade_body(gcb, dst, SVt_PVNV);
        sv_nv(dst) = sv_nv(src);
        clear_value_flags(dst);
        undo_offset(gcb, dst);
        dst->flags |= SVf_NOK | SVp_NOK;
        goto taint;
    case SVt_RV:
        if (dtype < SVt_RV)
            sv_upgrade_body(gcb, dst, SVt_RV);
        if (dtype == SVt_PVGV && (src->flags & SVf_ROK) && sv_rv(src) && sv_type(sv_rv(src)) == SVt_PVGV) {
            SV* referent = sv_rv(src);
            if (referent == dst) {
                mark_imported_all(gcb, sv_as<GV>(dst));
                gv_body(sv_as<GV>(dst))->gvflags |= GVf_MULTI;
                return;
            }
            assign_glob(gcb, dst, referent);
            return;
        }
        break;
    case SVt_PV:
    case SVt_PVFM:
        if (dtype < SVt_PV)
            sv_upgrade_body(gcb, dst, SVt_PV);
        break;
    case SVt_PVIV:
        if (dtype < SVt_PVIV)
            sv_upgrade_body(gcb, dst, SVt_PVIV);
        break;
    case SVt_PVNV:
        if (dtype < SVt_PVNV)
            sv_upgrade_body(gcb, dst, SVt_PVNV);
        break;
    case SVt_PVGV:
        if (dtype <= SVt_PVGV) {
            assign_glob(gcb, dst, src);
            return;
        }
        [[fallthrough]];
    case SVt_PVMG:
    case SVt_PVBM:
    case SVt_PVLV:
        if (src->flags & SVs_GMG) {
            mg_call_get(gcb, src);
            stype = sv_type(src);
            if (stype == SVt_PVGV && dtype <= SVt_PVGV) {
                assign_glob(gcb, dst, src);
                return;
            }
        }
        if (stype == SVt_PVLV) {
            if (sv_type(dst) < SVt_PVNV)
                sv_upgrade_body(gcb, dst, SVt_PVNV);
        } else if (sv_type(dst) < stype) {
            sv_upgrade_body(gcb, dst, stype);
        }
        break;
    default: {
        const char* name = current_op_name(gcb);
        if (name)
            fatal_error(gcb, "Bizarre copy of %s in %s", sv_type_word(stype, false), name);
        fatal_error(gcb, "Bizarre copy of %s", sv_type_word(stype, false));
    }
    }

    sflags = src->flags;
    if (sflags & SVf_ROK) {
        if (dtype == SVt_PVGV) {
            assign_ref_to_glob(gcb, dst, src);
            return;
        }
        if (dtype >= SVt_PV && sv_pv(dst)) {
            undo_offset(gcb, dst);
            if (sv_len(dst) != 0)
                pool_free(gcb, sv_pv(dst));
            sv_pv(dst) = nullptr;
            sv_cur(dst) = 0;
            sv_len(dst) = 0;
        }
        clear_value_flags(dst);
        undo_offset(gcb, dst);
        sv_rv(dst) = sv_refinc(sv_rv(src));
        dst->flags |= SVf_ROK;
        if (sflags & SVp_NOK) {
            dst->flags |= SVf_NOK | SVp_NOK;
            sv_nv(dst) = sv_nv(src);
        }
        if (sflags & SVp_IOK)
            copy_int_from(gcb, dst, sflags, src);
        if (sflags & SVf_OVERLOAD)
            dst->flags |= SVf_OVERLOAD;
    } else if (sflags & SVp_POK) {
        if ((sflags & SVs_TEMP) && src->refcnt == 1 && !(sflags & SVf_OOK)) {
            // A temporary about to go: take its buffer instead of copying.
            if (sv_pv(dst)) {
                if (dst->flags & SVf_OOK) {
                    dst->flags &= ~SVf_OOK;
                    pool_free(gcb, sv_pv(dst) - sv_iv(dst));
                    sv_iv(dst) = 0;
                } else if (sv_len(dst) != 0) {
                    pool_free(gcb, sv_pv(dst));
                }
            }
            clear_value_flags(dst);
            dst->flags |= SVf_POK | SVp_POK;
            sv_pv(dst) = sv_pv(src);
            sv_len(dst) = sv_len(src);
            sv_cur(dst) = sv_cur(src);
            dst->flags &= ~SVs_TEMP;
            clear_value_flags(src);
            sv_pv(src) = nullptr;
            sv_len(src) = 0;
            sv_cur(src) = 0;
            src->flags &= ~SVs_TEMP;
        } else {
            uint64_t len = sv_cur(src);
            if (sv_len(dst) < len + 1)
                sv_grow_buffer(gcb, dst, len + 1);
            xk_move(sv_pv(src), sv_pv(dst), static_cast<int32_t>(len));
            sv_pv(dst)[len] = 0;
            sv_cur(dst) = len;
            clear_value_flags(dst);
            dst->flags |= SVf_POK | SVp_POK;
        }
        if (sflags & SVf_UTF8)
            dst->flags |= SVf_UTF8;
        if (sflags & SVp_NOK) {
            dst->flags |= SVf_NOK | SVp_NOK;
            sv_nv(dst) = sv_nv(src);
        }
        if (sflags & SVp_IOK)
            copy_int_from(gcb, dst, sflags, src);
    } else if (sflags & SVp_NOK) {
        sv_nv(dst) = sv_nv(src);
        clear_value_flags(dst);
        undo_offset(gcb, dst);
        dst->flags |= SVf_NOK | SVp_NOK;
        if (sflags & SVf_IOK)
            copy_int_from(gcb, dst, sflags, src);
    } else if (sflags & SVp_IOK) {
        clear_value_flags(dst);
        copy_int_from(gcb, dst, sflags, src);
    } else {
        goto undefined;
    }
    goto taint;

undefined:
    if (dtype == SVt_PVGV) {
        if (warn_enabled(gcb, WARN_MISC))
            category_warning(gcb, WARN_MISC, "Undefined value assigned to typeglob");
    } else {
        clear_value_flags(dst);
        undo_offset(gcb, dst);
    }
taint:
    taint_from(gcb, dst, src);
}
